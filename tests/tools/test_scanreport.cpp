// scanreport end to end on a small sample: every number and picture on the
// page equals what headshape, celldist, mirrorasym, scancompare, colorsnap
// and colorstats write when run by hand; the page opened in headless
// Chromium shows every picture and the measures of both scans and fetches
// nothing; and the refusals.
#include "testutil.h"

#include <regex>

using namespace testutil;

namespace
{
// The small sample (1800 cells) in a fresh folder.
std::string SampleDir()
{
  const std::string dir = ScratchDir();
  const ToolRun made = RunShell(Quote(std::string(TOOLS_DIR) + "/../sample/makesample") + ' ' + Quote(dir) + " 8 60");
  EXPECT_EQ(made.status, 0) << made.output;
  return dir;
}

std::vector<std::string> Fields(const std::string& line, char separator = '\t')
{
  std::vector<std::string> fields;
  std::istringstream in(line);
  for (std::string field; std::getline(in, field, separator);)
  {
    fields.push_back(field);
  }
  return fields;
}

// Every text between `open` and the next `close` in `text`, in order.
std::vector<std::string> Between(const std::string& text, const std::string& open, const std::string& close)
{
  std::vector<std::string> found;
  for (size_t at = text.find(open); at != std::string::npos; at = text.find(open, at))
  {
    at += open.size();
    const size_t end = text.find(close, at);
    found.push_back(text.substr(at, end - at));
  }
  return found;
}

// Every match of the first group of `pattern` in `text` (short, for
// std::regex recurses along a match), in order.
std::vector<std::string> Matches(const std::string& text, const std::string& pattern)
{
  std::vector<std::string> found;
  const std::regex re(pattern);
  for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it)
  {
    found.push_back((*it)[1]);
  }
  return found;
}

// The bytes of base64 text (RFC 4648, with padding); "?" where the text is
// not such.
std::string FromBase64(const std::string& text)
{
  const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (text.size() % 4 != 0)
  {
    return "?";
  }
  std::string bytes;
  for (size_t i = 0; i < text.size(); i += 4)
  {
    unsigned long group = 0;
    int padding = 0;
    for (size_t k = 0; k < 4; ++k)
    {
      size_t digit = digits.find(text[i + k]);
      if (text[i + k] == '=' && k >= 2 && i + 4 == text.size())
      {
        ++padding;
        digit = 0;
      }
      else if (digit == std::string::npos || padding > 0)
      {
        return "?";
      }
      group = group << 6 | digit;
    }
    for (int k = 0; k < 3 - padding; ++k)
    {
      bytes += static_cast<char>(group >> (16 - 8 * k) & 255);
    }
  }
  return bytes;
}

const std::vector<std::string> kArguments = { "firstscan.vtk", "finalscan.vtk", "template.vtk", "template_mask.clr",
  "report.html" };
}

TEST(ScanReport, PageShowsExactlyWhatTheToolsWriteAndOpensInABrowser)
{
  const std::string dir = SampleDir();
  std::filesystem::create_directory(dir + "/scratch");
  const ToolRun run =
    RunToolWith("env TMPDIR=" + Quote(dir + "/scratch") + ' ' + DisplayPrefix(), "scanreport", kArguments, dir);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "");
  EXPECT_TRUE(std::filesystem::is_empty(dir + "/scratch")); // the scratch folder is gone
  const std::string page = ReadText(dir + "/report.html");
  // Its tools run one at a time: the same page.
  ASSERT_EQ(RunToolWith("env SURFTOOLS_THREADS=1 " + DisplayPrefix(), "scanreport",
              { "firstscan.vtk", "finalscan.vtk", "template.vtk", "template_mask.clr", "one.html" }, dir)
              .status,
    0);
  EXPECT_EQ(ReadText(dir + "/one.html"), page);

  // The same results by hand, in a folder of their own (for Range_values.txt),
  // under the report's names (a picture shows its file's name).
  const std::string hand = dir + "/hand";
  std::filesystem::create_directory(hand);
  const std::vector<std::pair<std::string, std::vector<std::string>>> runs = {
    { "celldist", { "../finalscan.vtk", "../firstscan.vtk", "distance.clr", "5", "-5", "x.clr", "y.clr", "z.clr" } },
    { "mirrorasym",
      { "../firstscan.vtk", "../template.vtk", "asymmetry_first.clr", "a.clr", "x.clr", "y.clr", "z.clr", "-5", "5",
        "900" } },
    { "mirrorasym",
      { "../finalscan.vtk", "../template.vtk", "asymmetry_final.clr", "a.clr", "x.clr", "y.clr", "z.clr", "-5", "5",
        "900" } },
    { "scancompare",
      { "../firstscan.vtk", "../finalscan.vtk", "../template_mask.clr", "ratio_change.clr", "r1.clr", "r2.clr", "y" } },
  };
  for (const auto& [tool, args] : runs)
  {
    EXPECT_LE(RunTool(tool, args, hand).status, 1) << tool;
  }
  const std::vector<std::pair<std::string, std::string>> pictures = { { "../firstscan.vtk", "distance" },
    { "../firstscan.vtk", "asymmetry_first" }, { "../finalscan.vtk", "asymmetry_final" },
    { "../template.vtk", "ratio_change" } };
  std::vector<std::string> images;
  for (const auto& [surface, name] : pictures)
  {
    EXPECT_EQ(RunToolWith(DisplayPrefix(), "colorsnap", { surface, name + ".clr", name + ".png" }, hand).status, 0);
    images.push_back(ReadText(hand + "/" + name + ".png"));
  }
  const std::vector<std::string> embedded = Between(page, "src=\"data:image/png;base64,", "\"");
  ASSERT_EQ(embedded.size(), images.size());
  for (size_t i = 0; i < images.size(); ++i)
  {
    EXPECT_FALSE(images[i].empty()) << pictures[i].second;
    EXPECT_TRUE(FromBase64(embedded[i]) == images[i]) << pictures[i].second;
  }
  // Nothing refers to another file or address.
  for (const char* attribute : { "src=\"", "href=\"" })
  {
    for (const std::string& value : Between(page, attribute, "\""))
    {
      EXPECT_EQ(value.substr(0, 5), "data:");
    }
  }
  EXPECT_EQ(page.find("url("), std::string::npos);
  EXPECT_EQ(page.find("http"), std::string::npos);
  const std::string measuresPart = page.substr(0, page.find("<h2>Maps</h2>"));
  const std::string statsPart = page.substr(page.find("id=\"extremes\""));

  // The measures: headshape's own rows, and their difference.
  const std::vector<std::string> table =
    Fields(RunTool("headshape", { "firstscan.vtk", "finalscan.vtk" }, dir).output, '\n');
  ASSERT_EQ(table.size(), 3u);
  const std::vector<std::string> names = Fields(table[0]), first = Fields(table[1]), final = Fields(table[2]);
  const std::vector<std::string> rows = Matches(measuresPart, "<tr><th>([a-z_]+</th>(?:<td[^>]*>[^<]*</td>){4})");
  ASSERT_EQ(rows.size(), names.size() - 1);
  for (size_t c = 1; c < names.size(); ++c)
  {
    const std::vector<std::string> cells = Matches(rows[c - 1], "<td[^>]*>([^<]*)</td>");
    EXPECT_EQ(rows[c - 1].substr(0, names[c].size()), names[c]);
    EXPECT_EQ(cells[1], first[c]) << names[c];
    EXPECT_EQ(cells[2], final[c]) << names[c];
    if (names[c] == "posterior_flat_side")
    {
      EXPECT_EQ(cells[3], "");
      continue;
    }
    EXPECT_NEAR(
      std::stod(cells[3]), std::stod(final[c]) - std::stod(first[c]), 1e-5 * (1 + std::abs(std::stod(final[c]))));
  }

  // The statistics rows of colorstats and the extremes of scancompare.
  const std::vector<std::string> stats = Fields(
    RunTool("colorstats", { "distance.clr", "asymmetry_first.clr", "asymmetry_final.clr", "ratio_change.clr" }, hand)
      .output,
    '\n');
  const std::vector<std::string> statsRows =
    Matches(statsPart, "<tr><th>[A-Z][^<]*</th>((?:<td class=\"n\">[^<]*</td>){10})</tr>");
  ASSERT_EQ(statsRows.size(), 4u);
  for (size_t p = 0; p < 4; ++p)
  {
    std::string expected;
    for (size_t f = 1; f < Fields(stats[p + 1]).size(); ++f)
    {
      expected += "<td class=\"n\">" + Fields(stats[p + 1])[f] + "</td>";
    }
    EXPECT_EQ(statsRows[p], expected);
  }
  const std::vector<std::string> report = Fields(ReadText(hand + "/Range_values.txt"), '\n');
  std::vector<std::string> extremes;
  for (size_t line = 1; line <= 4; ++line)
  {
    extremes.push_back(report[line].substr(report[line].find(':') + 1));
  }
  EXPECT_EQ(Matches(statsPart.substr(0, statsPart.find("</table>")), "<td class=\"n\">([^<]*)</td>"), extremes);

  // In a real browser: every picture decoded, the measures of both scans,
  // nothing fetched, no script, and no page wider than a phone.
  const std::string screenshot = std::string(TOOLS_DIR) + "/../scanreport-screenshot.png";
  const ToolRun browser = RunShell("NODE_PATH=" + Quote(std::string(BROWSER_DIR) + "/node_modules") +
    " timeout 120 node " + Quote(std::string(SOURCE_DIR) + "/tests/browser/check_report.cjs") + ' ' +
    Quote(dir + "/report.html") + ' ' + Quote(screenshot));
  ASSERT_EQ(browser.status, 0) << browser.output;
  std::vector<std::string> seenImages;
  size_t measures = 0;
  for (const std::string& line : Fields(browser.output, '\n'))
  {
    const std::vector<std::string> f = Fields(line);
    if (f[0] == "image")
    {
      seenImages.push_back(f[2] + "x" + f[3]);
    }
    else if (f[0] == "measure")
    {
      // (the side's change is empty, the last field of its line)
      ASSERT_EQ(f.size(), f[1] == "posterior_flat_side" ? 5u : 6u) << line;
      EXPECT_EQ(f[3], first[++measures]) << line;
      EXPECT_EQ(f[4], final[measures]) << line;
    }
    else
    {
      EXPECT_TRUE(line == "scripts\t0" || line == "phone-overflow\t0") << line;
    }
  }
  EXPECT_EQ(seenImages, std::vector<std::string>(4, "1200x800"));
  EXPECT_EQ(measures, names.size() - 1);
  EXPECT_TRUE(std::filesystem::file_size(screenshot) > 0);
}

TEST(ScanReport, RefusesWithOneLineAndWritesNothing)
{
  const std::string dir = SampleDir();
  WriteSurfaceFile(dir + "/small.vtk", { { 0, 0, 0 }, { 1, 0, 0 }, { 0, 1, 0 } }, { { 0, 1, 2 } });
  WriteText(dir + "/short.clr", ColorFile("0 1", "rainbow", { "1", "1" }));
  auto with = [](size_t index, const std::string& value) {
    std::vector<std::string> args = kArguments;
    args[index] = value;
    return args;
  };
  const std::vector<std::tuple<std::string, std::vector<std::string>, std::string>> cases = {
    { "", with(1, "small.vtk"),
      "Scans firstscan.vtk and small.vtk do not lie on the mesh of template template.vtk: they have 1800, 1 and 1800 cells\n" },
    { "", with(3, "short.clr"), "Template mask short.clr has fewer value lines than the 1800 cells of the scans\n" },
    { "", with(4, "missing/report.html"), "Cannot create output file missing/report.html\n" },
    { DisplayPrefix() + " env TMPDIR=" + Quote(dir + "/missing"), kArguments,
      "Cannot create a scratch folder in " + dir + "/missing (TMPDIR)\n" },
    { "env -u DISPLAY", kArguments,
      "Cannot open the X display \"\" to render report.html (without a display, run: xvfb-run -a scanreport ...)\n" },
  };
  for (const auto& [prefix, args, message] : cases)
  {
    const ToolRun run = RunToolWith(prefix.empty() ? DisplayPrefix() : prefix, "scanreport", args, dir);
    EXPECT_EQ(run.status, 255) << message;
    EXPECT_EQ(run.output, message);
    EXPECT_FALSE(std::filesystem::exists(dir + "/report.html")) << message;
  }
  const ToolRun usage = RunTool("scanreport", { "a", "b", "c", "d" }, dir);
  EXPECT_EQ(usage.status, 255);
  EXPECT_EQ(usage.output.substr(0, 19), "Usage: scanreport f");
}
