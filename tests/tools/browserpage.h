// What a reader sees of a page in headless Chromium: the lines that
// tests/browser/check_report.cjs prints of it (one fact a line), each split
// at its tabs and grouped by its first field ("image", "measure", "visit",
// "point", "width", "overflow", "request", "scripts"); its screenshot goes to
// `screenshot`. A browser that does not run fails the calling test. And the
// expectations of a self-contained page of pictures (ExpectSelfContained).
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

// Every picture of the page decoded at 1200 x 800 (`pictures` of them),
// nothing fetched, no script, and no table wider than an A4 page.
inline void ExpectSelfContained(const std::string& page, size_t pictures, const std::string& screenshot)
{
  SeenLines seen = OpenPage(page, screenshot);
  EXPECT_EQ(seen.count("request"), 0u) << page;
  EXPECT_EQ(seen["image"].size(), pictures) << page;
  for (const std::vector<std::string>& image : seen["image"])
  {
    EXPECT_EQ(std::vector<std::string>(image.end() - 2, image.end()), (std::vector<std::string>{ "1200", "800" }))
      << page << ": " << image[1];
  }
  for (const std::vector<std::string>& width : seen["width"])
  {
    EXPECT_TRUE(width[1] != "print-a4" || std::stod(width[3]) <= std::stod(width[4]) + 0.5) << page << ": " << width[2];
  }
  for (const std::string kind : { "scripts", "overflow" })
  {
    for (const std::vector<std::string>& line : seen[kind])
    {
      EXPECT_EQ(line.back(), "0") << page << ": " << kind;
    }
  }
}
}
