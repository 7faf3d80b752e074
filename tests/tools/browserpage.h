// What a reader sees of a page in headless Chromium: the lines that
// tests/browser/check_report.cjs prints of it (one fact a line), each split
// at its tabs and grouped by its first field ("image", "measure", "visit",
// "point", "width", "overflow", "request", "scripts"); its screenshot goes to
// `screenshot`. A browser that does not run fails the calling test.
#pragma once

#include "surftools/listfile.h"
#include "testutil.h"

#include <map>

namespace browserpage
{
using SeenLines = std::map<std::string, std::vector<std::vector<std::string>>>;

inline SeenLines OpenPage(const std::string& page, const std::string& screenshot)
{
  const testutil::ToolRun browser =
    testutil::RunShell("NODE_PATH=" + testutil::Quote(std::string(BROWSER_DIR) + "/node_modules") +
      " timeout 120 node " + testutil::Quote(std::string(SOURCE_DIR) + "/tests/browser/check_report.cjs") + ' ' +
      testutil::Quote(page) + ' ' + testutil::Quote(screenshot));
  EXPECT_EQ(browser.status, 0) << browser.output;
  SeenLines seen;
  std::istringstream in(browser.output);
  for (std::string line; std::getline(in, line);)
  {
    const std::vector<std::string> cells = TabFields(line);
    seen[cells[0]].push_back(cells);
  }
  return seen;
}
}
