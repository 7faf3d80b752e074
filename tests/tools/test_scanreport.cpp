// scanreport end to end on a small sample: every number and picture on the
// page is what headshape, celldist, mirrorasym, scancompare, colorsnap and
// colorstats write when run by hand, rounded for reading; with a measures
// table of planted visits, the summary sentence, the visits' table, the
// charts' points where the measures say and the visits to check marked; the
// page opened in headless Chromium shows every picture, fetches nothing and
// has no table wider than an A4 page or a phone; with a score folder, the
// subject's distance, percentile and z-score picture, the page otherwise
// unchanged; and the refusals.
#include "growth/headcircumference.h"
#include "stats/sizefit.h"
#include "surftools/outputfile.h"
#include "surftools/surface.h"
#include "testutil.h"
#include "tools/browserpage.h"

#include <algorithm>
#include <cmath>
#include <map>
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

// A value as the page shows it to a tenth.
std::string Tenth(double value)
{
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// A value shown for reading: `decimals` places, within half the last place
// of the exact value, and no sign on a zero.
void ExpectShownAs(const std::string& shown, double exact, int decimals, const std::string& what)
{
  const std::string pattern = decimals == 0 ? "-?[0-9]+" : "-?[0-9]+\\.[0-9]{" + std::to_string(decimals) + "}";
  ASSERT_TRUE(std::regex_match(shown, std::regex(pattern))) << what << ": " << shown;
  EXPECT_LE(std::abs(std::stod(shown) - exact), 0.5 * std::pow(10.0, -decimals) + 1e-9) << what << ": " << shown;
  EXPECT_FALSE(shown[0] == '-' && std::stod(shown) == 0) << what;
}

// The value of attribute `name` in an element's text.
std::string Attribute(const std::string& element, const std::string& name)
{
  const std::vector<std::string> found = Between(element, ' ' + name + "=\"", "\"");
  return found.empty() ? "" : found[0];
}

using BrowserLines = browserpage::SeenLines;

// What check_report.cjs sees of a page, its lines split at tabs by their
// first field ("image", "measure", "visit", "point", ...), after checking what
// holds for every page: nothing fetched, no script, and no table or chart
// wider than its container, nor the page wider than its window, when printed
// on A4 and on a 390-pixel phone.
BrowserLines OpenInBrowser(const std::string& page, const std::string& screenshot)
{
  BrowserLines seen = browserpage::OpenPage(page, screenshot);
  EXPECT_EQ(seen.count("request"), 0u);
  EXPECT_EQ(seen["scripts"], std::vector<std::vector<std::string>>({ { "scripts", "0" } }));
  std::map<std::string, size_t> widths;
  for (const std::vector<std::string>& w : seen["width"])
  {
    ++widths[w[1]];
    EXPECT_LE(std::stod(w[3]), std::stod(w[4]) + 0.5) << w[2] << " is wider than its container on " << w[1];
  }
  const size_t tables = Between(ReadText(page), "<table", ">").size() + Between(ReadText(page), "<svg", ">").size();
  EXPECT_EQ(widths, (std::map<std::string, size_t>{ { "phone-390", tables }, { "print-a4", tables } }));
  EXPECT_EQ(seen["overflow"],
    std::vector<std::vector<std::string>>({ { "overflow", "print-a4", "0" }, { "overflow", "phone-390", "0" } }));
  EXPECT_TRUE(std::filesystem::file_size(screenshot) > 0);
  return seen;
}

// The rows of a page's table, by the attribute that names them
// ("data-measure", "data-statistic"): the name and the texts of its <td>s.
std::vector<std::vector<std::string>> TableRows(const std::string& page, const std::string& attribute)
{
  std::vector<std::vector<std::string>> rows;
  for (const std::string& row : Between(page, "<tr " + attribute + "=\"", "</tr>"))
  {
    rows.push_back({ row.substr(0, row.find('"')) });
    for (const std::string& cell : Matches(row, "<td[^>]*>([^<]*)</td>"))
    {
      rows.back().push_back(cell);
    }
  }
  return rows;
}

// The header row of a measures table, as the cohort workflow writes it.
const std::string kMeasuresHeader = "subject\tvisit\tage_days\tscan\tlevel\tlength\twidth\tci\tcircumference\t"
                                    "diagonal_a\tdiagonal_b\tcva\tcvai\tplagiocephaly_level\tvolume\tasr\tpsr\tosr\t"
                                    "measured_from\tposterior_flat_side\tfit_landmark_rms\tfit_landmark_largest\t"
                                    "fit_distance_mean\tfit_unmatched_percent\tcheck";

// A planted visit: the measures the page shows of it (the others plausible),
// the fit's four figures tab-separated or "", and the check text.
struct PlantedVisit
{
  std::string visit, age, ci, cvai, level, circumference, psr, side, fit, check;
};

std::string MeasuresRow(const std::string& subject, const PlantedVisit& v)
{
  return subject + '\t' + v.visit + '\t' + v.age + "\tsubjects/" + subject + '/' + v.visit + ".vtk\t12.5\t150\t118\t" +
    v.ci + '\t' + v.circumference + "\t131\t122\t9\t" + v.cvai + '\t' + v.level + "\t840\t98\t" + v.psr + "\t95\t0\t" +
    v.side + '\t' + (v.fit.empty() ? "\t\t\t" : v.fit) + '\t' + v.check;
}

// Three visits of S017 at 120, 210 and 330 days, the CVAI falling from 7.1
// (moderate) to 2.6 (normal) and the PSR rising; the second a raw scan whose
// fit left 45.2% of the template unmatched, marked for checking.
const std::vector<PlantedVisit> kCourse = {
  { "V1", "120", "78.76", "7.1", "3", "442.14", "90.2", "right", "", "" },
  { "V2", "210", "78.2", "4.9", "2", "470.36", "93.1", "right", "1.2\t3.4\t0.62\t45.2",
    "fit: 45.2% of the template unmatched (over 40%)" },
  { "V3", "330", "77.79", "2.6", "1", "493.6", "96.7", "right", "", "" },
};

std::string CourseTable(const std::vector<PlantedVisit>& visits, const std::string& subject = "S017")
{
  std::string table = kMeasuresHeader + '\n';
  for (const PlantedVisit& v : visits)
  {
    table += MeasuresRow(subject, v) + '\n';
  }
  return table;
}

// The final scan brought to the first's size and place by hand, fitted on
// the cells' centroids, as final_beyond_growth.vtk in `hand`; its growth
// factor.
double WriteBeyondGrowthByHand(const std::string& dir, const std::string& hand)
{
  vtkSmartPointer<vtkPolyData> first = ReadSurface((dir + "/firstscan.vtk").c_str());
  vtkSmartPointer<vtkPolyData> final = ReadSurface((dir + "/finalscan.vtk").c_str());
  std::vector<double> before(3 * static_cast<size_t>(first->GetNumberOfCells())), after(before.size());
  for (vtkIdType c = 0; c < first->GetNumberOfCells(); ++c)
  {
    CellCentroid(first, c, &before[3 * static_cast<size_t>(c)]);
    CellCentroid(final, c, &after[3 * static_cast<size_t>(c)]);
  }
  const SizeFit fit = FitSize(before.data(), after.data(), before.size() / 3);
  for (vtkIdType i = 0; i < final->GetNumberOfPoints(); ++i)
  {
    double point[3];
    final->GetPoint(i, point);
    ApplySize(fit, point, 1);
    final->GetPoints()->SetPoint(i, point);
  }
  EXPECT_TRUE(WriteSurface(final, (hand + "/final_beyond_growth.vtk").c_str()));
  return fit.growth;
}

// The tools that make the page's pictures run by hand in `hand`, under the
// report's names (a picture shows its file's name): the page embeds their
// very PNG files.
void ExpectPicturesAsMadeByHand(const std::string& page, const std::string& hand)
{
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
    { "celldist",
      { "final_beyond_growth.vtk", "../firstscan.vtk", "distance_beyond_growth.clr", "5", "-5", "x.clr", "y.clr",
        "z.clr" } },
  };
  for (const auto& [tool, args] : runs)
  {
    EXPECT_LE(RunTool(tool, args, hand).status, 1) << tool;
  }
  const std::vector<std::pair<std::string, std::string>> pictures = { { "../firstscan.vtk", "distance" },
    { "../firstscan.vtk", "distance_beyond_growth" }, { "../firstscan.vtk", "asymmetry_first" },
    { "../finalscan.vtk", "asymmetry_final" }, { "../template.vtk", "ratio_change" } };
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
}

// colorstats' statistics of the pictures made by hand in `hand`, a column
// per picture, millimetres to a tenth and ratios to a thousandth, and the
// extremes that scancompare reported there.
void ExpectStatisticsAsByHand(const std::string& page, const std::string& hand)
{
  const std::vector<std::string> stats = Fields(RunTool("colorstats",
                                                  { "distance.clr", "distance_beyond_growth.clr", "asymmetry_first.clr",
                                                    "asymmetry_final.clr", "ratio_change.clr" },
                                                  hand)
                                                  .output,
    '\n');
  const std::vector<std::string> statNames = Fields(stats[0]);
  const std::vector<std::vector<std::string>> statRows = TableRows(page, "data-statistic");
  ASSERT_EQ(statRows.size(), statNames.size() - 1);
  for (size_t f = 1; f < statNames.size(); ++f)
  {
    ASSERT_EQ(statRows[f - 1].size(), 6u);
    EXPECT_EQ(statRows[f - 1][0], statNames[f]);
    for (size_t p = 0; p < 5; ++p)
    {
      const std::string exact = Fields(stats[p + 1])[f];
      if (statNames[f] == "values" || statNames[f] == "masked" || statNames[f] == "nonfinite")
      {
        EXPECT_EQ(statRows[f - 1][p + 1], exact);
      }
      else
      {
        ExpectShownAs(statRows[f - 1][p + 1], std::stod(exact), p < 4 ? 1 : 3, statNames[f]);
      }
    }
  }
  const std::vector<std::string> report = Fields(ReadText(hand + "/Range_values.txt"), '\n');
  const std::string extremesTable = Between(page, "<table id=\"extremes\">", "</table>")[0];
  const std::vector<std::string> extremes = Matches(extremesTable, "<td class=\"n\">([^<]*)</td>");
  ASSERT_EQ(extremes.size(), 4u);
  for (size_t line = 1; line <= 4; ++line)
  {
    ExpectShownAs(extremes[line - 1], std::stod(report[line].substr(report[line].find(':') + 1)), 3, report[line]);
  }
  EXPECT_TRUE(std::regex_search(extremesTable, std::regex("<th>Smallest ratio</th>")));
}

const std::vector<std::string> kArguments = { "firstscan.vtk", "finalscan.vtk", "template.vtk", "template_mask.clr",
  "report.html" };

// What scanreport of the sample's scans with DIR/measures.tsv prints, run
// without a display: refused (exit status 255, no page) before anything
// renders.
std::string RefusedWithTable(const std::string& dir, const std::string& why)
{
  std::vector<std::string> args = kArguments;
  args.push_back("measures.tsv");
  const ToolRun run = RunToolWith("env -u DISPLAY", "scanreport", args, dir);
  EXPECT_EQ(run.status, 255) << why;
  EXPECT_FALSE(std::filesystem::exists(dir + "/report.html")) << why;
  return run.output;
}
}

TEST(ScanReport, PageShowsWhatTheToolsWriteRoundedForReadingAndOpensInABrowser)
{
  const std::string dir = SampleDir();
  std::filesystem::create_directory(dir + "/scratch");
  // The scans named by their full paths: the page names them by file name.
  std::vector<std::string> arguments = kArguments;
  arguments[0] = dir + "/firstscan.vtk";
  arguments[1] = dir + "/finalscan.vtk";
  const ToolRun run =
    RunToolWith("env TMPDIR=" + Quote(dir + "/scratch") + ' ' + DisplayPrefix(), "scanreport", arguments, dir);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "");
  EXPECT_TRUE(std::filesystem::is_empty(dir + "/scratch")); // the scratch folder is gone
  const std::string page = ReadText(dir + "/report.html");
  // Its tools run one at a time: the same page.
  arguments[4] = "one.html";
  ASSERT_EQ(RunToolWith("env SURFTOOLS_THREADS=1 " + DisplayPrefix(), "scanreport", arguments, dir).status, 0);
  EXPECT_EQ(ReadText(dir + "/one.html"), page);
  EXPECT_EQ(Between(page, "<title>", "</title>"),
    std::vector<std::string>{ "Head-scan report: firstscan.vtk and finalscan.vtk" });
  EXPECT_EQ(page.substr(0, page.find("</header>")).find(dir), std::string::npos);
  EXPECT_NE(page.find("<code>celldist " + dir + "/finalscan.vtk " + dir + "/firstscan.vtk "), std::string::npos);

  // The same pictures by hand, in a folder of their own (for Range_values.txt).
  const std::string hand = dir + "/hand";
  std::filesystem::create_directory(hand);
  const double growth = WriteBeyondGrowthByHand(dir, hand);
  EXPECT_GT(growth, 1.05);
  EXPECT_NE(page.find("the head grew by a factor of " + NumberText(growth) + " between the scans"), std::string::npos);
  ExpectPicturesAsMadeByHand(page, hand);
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

  // The measures: headshape's own values rounded to a tenth, the change the
  // difference of the values shown, the level and the side in words.
  const std::vector<std::string> table =
    Fields(RunTool("headshape", { "firstscan.vtk", "finalscan.vtk" }, dir).output, '\n');
  ASSERT_EQ(table.size(), 3u);
  const std::vector<std::string> names = Fields(table[0]), first = Fields(table[1]), final = Fields(table[2]);
  const std::vector<std::vector<std::string>> rows = TableRows(page, "data-measure");
  ASSERT_EQ(rows.size(), names.size() - 1);
  for (size_t c = 1; c < names.size(); ++c)
  {
    const std::vector<std::string>& row = rows[c - 1];
    ASSERT_EQ(row.size(), 4u) << names[c];
    EXPECT_EQ(row[0], names[c]);
    if (names[c] == "plagiocephaly_level" || names[c] == "posterior_flat_side")
    {
      continue;
    }
    ExpectShownAs(row[1], std::stod(first[c]), 1, names[c]);
    ExpectShownAs(row[2], std::stod(final[c]), 1, names[c]);
    EXPECT_NEAR(std::stod(row[3]), std::stod(row[2]) - std::stod(row[1]), 1e-9) << names[c];
    EXPECT_EQ(row[3][0] == '+', std::stod(row[3]) > 0) << names[c];
  }
  EXPECT_EQ(rows[9], std::vector<std::string>({ "plagiocephaly_level", "2 mild", "1 normal", "-1" }));
  EXPECT_EQ(rows[15], std::vector<std::string>({ "posterior_flat_side", "right", "right", "" }));
  EXPECT_NE(page.find("<th scope=\"row\">Cranial vault asymmetry index (CVAI)<span"), std::string::npos);
  ExpectStatisticsAsByHand(page, hand);

  // In a real browser: every picture decoded, the measures as the page
  // holds them, and no table wider than an A4 page or a phone.
  BrowserLines seen = OpenInBrowser(dir + "/report.html", std::string(TOOLS_DIR) + "/../scanreport-screenshot.png");
  std::vector<std::string> seenImages;
  for (const std::vector<std::string>& image : seen["image"])
  {
    seenImages.push_back(image[2] + "x" + image[3]);
  }
  EXPECT_EQ(seenImages, std::vector<std::string>(5, "1200x800"));
  ASSERT_EQ(seen["measure"].size(), rows.size());
  for (size_t r = 0; r < rows.size(); ++r)
  {
    EXPECT_EQ(std::vector<std::string>(seen["measure"][r].begin() + 1, seen["measure"][r].end()), rows[r]);
  }
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
  for (const std::vector<std::string>& args : { std::vector<std::string>{ "a", "b", "c", "d" },
         std::vector<std::string>{ "a", "b", "c", "d", "e", "f", "g", "h" } })
  {
    const ToolRun usage = RunTool("scanreport", args, dir);
    EXPECT_EQ(usage.status, 255);
    EXPECT_EQ(usage.output.substr(0, usage.output.find('\n')),
      "Usage: scanreport first.vtk final.vtk template.vtk template_mask.clr report.html [measures.tsv]");
  }
}

TEST(ScanReport, RefusesABadMeasuresTableBeforeAnyToolRuns)
{
  const std::string dir = SampleDir();
  const std::string good = CourseTable(kCourse);
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  auto withVisit = [&](size_t v, std::string PlantedVisit::*field, const std::string& value) {
    std::vector<PlantedVisit> visits = kCourse;
    visits[v].*field = value;
    return CourseTable(visits);
  };
  const std::vector<std::pair<std::string, std::string>> cases = {
    { "", "it is empty" },
    { replaced("\tlevel\t", "\tlvl\t"), "its header's column 5 is \"lvl\", not \"level\"" },
    { replaced("\tcheck\n", "\n"), "its header has 24 columns, not 28" },
    { replaced("\t93.1\t", "\t93.1\t\t"), "line 3 has 26 fields, not 25" },
    { kMeasuresHeader + '\n' + MeasuresRow("S017", kCourse[0]) + '\n',
      "it holds 1 visit, and a course needs at least two" },
    { good + MeasuresRow("S018", { "V4", "400", "78", "2", "1", "500", "97", "none", "", "" }) + '\n',
      "line 5 names the subject \"S018\", line 2 \"S017\"" },
    { withVisit(1, &PlantedVisit::visit, "V1"), "line 3 repeats the visit \"V1\" of line 2" },
    { withVisit(1, &PlantedVisit::visit, ""), "line 3 has no visit name" },
    { withVisit(1, &PlantedVisit::ci, "78,2"), "line 3: ci \"78,2\" is not a number" },
    { withVisit(2, &PlantedVisit::circumference, "nan"), "line 4: circumference \"nan\" is not a number" },
    { withVisit(0, &PlantedVisit::level, "2"), "line 2: plagiocephaly_level 2 is not the level of the CVAI 7.1 (3)" },
    { withVisit(0, &PlantedVisit::level, "6"), "line 2: plagiocephaly_level 6 is not a level from 1 to 5" },
    { withVisit(2, &PlantedVisit::side, "up"), "line 4: posterior_flat_side \"up\" is not right, left or none" },
    { withVisit(1, &PlantedVisit::fit, "1.2\t\t0.62\t45.2"), "line 3 has some of the fit's figures and not all four" },
    { withVisit(1, &PlantedVisit::age, "210.5"), "line 3: age_days \"210.5\" is not a whole number of days" },
    { withVisit(1, &PlantedVisit::age, ""),
      "ages are given on some lines and not on others: line 2 has one, line 3 none" },
    { withVisit(2, &PlantedVisit::age, "210"),
      "the ages do not increase: line 4 (210 days) follows line 3 (210 days)" },
  };
  for (const auto& [table, reason] : cases)
  {
    WriteText(dir + "/measures.tsv", table);
    EXPECT_EQ(RefusedWithTable(dir, reason), "Cannot read the measures table measures.tsv: " + reason + '\n');
  }
  std::vector<std::string> args = kArguments;
  args.push_back("missing.tsv");
  EXPECT_EQ(
    RunTool("scanreport", args, dir).output, "Cannot read the measures table missing.tsv: it cannot be opened\n");
}

TEST(ScanReport, RefusesLandmarksFoundThatItCannotShowBeforeAnyToolRuns)
{
  // V2's fit.txt beside the table lists landmarks found on its scan.
  const std::string dir = SampleDir();
  WriteText(dir + "/measures.tsv", CourseTable(kCourse));
  std::filesystem::create_directories(dir + "/V2");
  const std::string rows = "Landmarks found on the scan (x y z name certainty):\n1 2 3 nasion 0.6\n"
                           "4 5 6 vertex 0.6\n7 8 9 opisthocranion 0.6\nFound by: mirror plane 1 mm\n";
  const std::string transform = "Rigid transform, scan to template:\n1 0 0 0\n0 1 0 0\n0 0 1 0\n0 0 0 1\n";
  const std::pair<std::string, std::string> cases[] = {
    { rows.substr(0, rows.find("4 5 6")) + "1 2 3 glabella 0.6\n" + rows.substr(rows.find("4 5 6")) + transform,
      "Cannot read the landmarks found on a visit's scan: V2/fit.txt lists the landmark \"1 2 3 glabella 0.6\", "
      "not x y z, one of fittemplate's names and a certainty" },
    { rows,
      "Cannot read the landmarks found on a visit's scan: V2/fit.txt has no rigid transform, scan to "
      "template, of three rows of four numbers" },
    { rows + transform, "Cannot read surface V2/fitted.vtk" },
  };
  for (const auto& [fit, line] : cases)
  {
    WriteText(dir + "/V2/fit.txt", fit);
    const std::string output = RefusedWithTable(dir, line);
    EXPECT_EQ(output.rfind(line, 0), 0u) << output;
  }
}

TEST(ScanReport, PageOfOneScanTakesATableOfOneVisitAndAScanOnTheMesh)
{
  const std::string dir = SampleDir();
  WriteText(dir + "/measures.tsv", CourseTable(kCourse));
  WriteSurfaceFile(dir + "/small.vtk", { { 0, 0, 0 }, { 1, 0, 0 }, { 0, 1, 0 } }, { { 0, 1, 2 } });
  const std::vector<std::string> one = { "firstscan.vtk", "-", "template.vtk", "template_mask.clr", "report.html" };
  std::vector<std::string> tabled = one;
  tabled.push_back("measures.tsv");
  std::vector<std::string> small = one;
  small[0] = "small.vtk";
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
         { tabled,
           "Cannot read the measures table measures.tsv: it holds 3 visits, and the page of one scan takes one\n" },
         { small,
           "Scan small.vtk does not lie on the mesh of template template.vtk: it has 1 cells, the template 1800\n" },
       })
  {
    // No display: both are refused before anything renders.
    const ToolRun run = RunToolWith("env -u DISPLAY", "scanreport", args, dir);
    EXPECT_EQ(run.status, 255) << message;
    EXPECT_EQ(run.output, message);
    EXPECT_FALSE(std::filesystem::exists(dir + "/report.html"));
  }
}

TEST(ScanReport, CourseOfPlantedVisitsInSentenceTableAndCharts)
{
  const std::string dir = SampleDir();
  WriteText(dir + "/measures.tsv", CourseTable(kCourse));
  std::vector<std::string> args = kArguments;
  args.push_back("measures.tsv");
  const ToolRun run = RunToolWith(DisplayPrefix(), "scanreport", args, dir);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "");
  const std::string page = ReadText(dir + "/report.html");
  EXPECT_EQ(Between(page.substr(0, page.find("</head>")), "<title>", "</title>"),
    std::vector<std::string>{ "Head-scan report: S017" });
  EXPECT_EQ(Between(page, "<p id=\"summary\" class=\"summary\">", "</p>"),
    std::vector<std::string>{ "CVAI 7.1% (moderate) at 4 months, 2.6% (normal) at 11 months; posterior flattening "
                              "on the patient&#39;s right, lessened; visit V2 is marked for checking." });
  // The sample's scans are not the planted visits: the page says so, with
  // the first scan's CVAI as headshape measures it, to a tenth.
  const std::vector<std::string> first =
    Fields(Fields(RunTool("headshape", { "firstscan.vtk" }, dir).output, '\n').at(1));
  EXPECT_NE(page.find("The first scan's measures are not those of visit V1 in the measures table (CVAI " +
              Tenth(std::stod(first.at(9))) + " here, 7.1 there)"),
    std::string::npos);
  // The fits' table: V2 alone, its unmatched share beyond the limit, and the
  // limits in words.
  const std::string fits = Between(page, "<table id=\"fits\"", "</table>")[0];
  EXPECT_EQ(Matches(fits, "<tr data-visit=\"([^\"]*)\" class=\"marked\">"), std::vector<std::string>{ "V2" });
  EXPECT_EQ(Matches(fits, "<td class=\"n over\"[^>]*>([^<]*)</td>"), std::vector<std::string>{ "45.2" });
  EXPECT_NE(page.find("more than 40% of the template found no match on the scan or a landmark lies more than 5 mm off "
                      "after the fit"),
    std::string::npos);

  // The visits' table as shown, and every chart's point where the planted
  // value and age put it (ages in months of 30.4375 days).
  BrowserLines seen =
    OpenInBrowser(dir + "/report.html", std::string(TOOLS_DIR) + "/../scanreport-course-screenshot.png");
  const std::string check = "check: fit: 45.2% of the template unmatched (over 40%)";
  EXPECT_EQ(seen["visit"],
    std::vector<std::vector<std::string>>(
      { { "visit", "V1", "3.9", "78.8", "7.1", "442.1", "" }, { "visit", "V2", "6.9", "78.2", "4.9", "470.4", check },
        { "visit", "V3", "10.8", "77.8", "2.6", "493.6", "" } }));
  const std::map<std::string, size_t> column = { { "ci", 3 }, { "cvai", 4 }, { "circumference", 5 } };
  ASSERT_EQ(seen["point"].size(), 9u);
  for (const std::vector<std::string>& point : seen["point"])
  {
    const size_t v = point[2] == "V1" ? 0 : point[2] == "V2" ? 1 : 2;
    const PlantedVisit& planted = kCourse[v];
    const std::string value = point[1] == "ci" ? planted.ci : point[1] == "cvai" ? planted.cvai : planted.circumference;
    EXPECT_NEAR(std::stod(point[3]), std::stod(planted.age) / 30.4375, 0.01) << point[1] << ' ' << point[2];
    EXPECT_NEAR(std::stod(point[4]), std::stod(value), 0.01) << point[1] << ' ' << point[2];
    EXPECT_NEAR(std::stod(point[4]), std::stod(seen["visit"][v][column.at(point[1])]), 0.06) << point[1];
    EXPECT_EQ(point[5], v == 1 ? "1" : "0") << point[1] << ' ' << point[2];
  }
  // The CVAI's chart shades the five levels.
  EXPECT_EQ(Matches(page, "<rect class=\"band level[1-5]\" data-level=\"([1-5])\""),
    std::vector<std::string>({ "1", "2", "3", "4", "5" }));
}

namespace
{
// The planted course of S017 as a table of the child's sex, its head
// circumference's z-score and percentile added by hcstandard.
std::string GrowthTable(const std::string& dir, const std::vector<PlantedVisit>& visits, const std::string& sex)
{
  std::string table = kMeasuresHeader + "\tsex\n";
  for (const PlantedVisit& v : visits)
  {
    table += MeasuresRow("S017", v) + '\t' + sex + '\n';
  }
  WriteText(dir + "/shapes.tsv", table);
  const ToolRun run = RunTool("hcstandard", { "shapes.tsv" }, dir);
  EXPECT_EQ(run.status, 0) << run.output;
  return run.output;
}
}

TEST(ScanReport, CircumferenceOverTheGrowthStandardsCentilesWithItsPercentiles)
{
  // S017 as a boy whose head lies below the 3rd centile at 4 months, on
  // the median at 7 and above the 50th at 11.
  std::vector<PlantedVisit> course = kCourse;
  course[0].circumference = "385";
  course[1].circumference = "439.1";
  course[2].circumference = "462";
  const std::string dir = SampleDir();
  WriteText(dir + "/measures.tsv", GrowthTable(dir, course, "male"));
  std::vector<std::string> args = kArguments;
  args.push_back("measures.tsv");
  ASSERT_EQ(RunToolWith(DisplayPrefix(), "scanreport", args, dir).status, 0);
  const std::string page = ReadText(dir + "/report.html");
  EXPECT_NE(page.find("; head circumference below the 3rd percentile at 4 months;"), std::string::npos);
  EXPECT_NE(page.find("for boys of the WHO Child Growth Standards (World Health Organization, 2006), whose 3rd, "
                      "15th, 50th, 85th and 97th centiles the circumference chart draws."),
    std::string::npos);
  EXPECT_NE(page.find("the occipitofrontal circumference a tape measure takes"), std::string::npos);

  // In a browser: each visit's percentile as the standard gives it, the five
  // curves labelled, and the median's curve ending at the median of the last
  // month shown.
  BrowserLines seen =
    OpenInBrowser(dir + "/report.html", std::string(TOOLS_DIR) + "/../scanreport-growth-screenshot.png");
  ASSERT_EQ(seen["percentile"].size(), 3u);
  for (size_t v = 0; v < 3; ++v)
  {
    GrowthLms lms;
    ASSERT_TRUE(HeadCircumferenceLms(Sex::Male, std::stod(course[v].age), lms));
    const std::string want = PercentileText(GrowthPercentile(GrowthZ(lms, std::stod(course[v].circumference))));
    EXPECT_EQ(seen["percentile"][v], (std::vector<std::string>{ "percentile", course[v].visit, want }));
  }
  EXPECT_EQ(seen["percentile"][1][2], "50th");
  const std::vector<std::string> labels = { "3rd", "15th", "50th", "85th", "97th" };
  ASSERT_EQ(seen["centile"].size(), 5u);
  for (size_t c = 0; c < 5; ++c)
  {
    const std::vector<std::string>& curve = seen["centile"][c];
    ASSERT_EQ(curve.size(), 8u);
    EXPECT_EQ(curve[1], "circumference");
    EXPECT_EQ(curve[3], labels[c]);
    GrowthLms lms;
    ASSERT_TRUE(HeadCircumferenceLms(Sex::Male, std::stod(curve[6]) * kDaysPerMonth, lms));
    EXPECT_NEAR(std::stod(curve[7]), CentileCircumference(lms, kChartCentiles[c]), 0.05) << labels[c];
  }

  // Without the child's sex: the chart as before and why no percentile shows.
  WriteText(dir + "/measures.tsv", GrowthTable(dir, course, ""));
  ASSERT_EQ(RunToolWith(DisplayPrefix(), "scanreport", args, dir).status, 0);
  const std::string unsexed = ReadText(dir + "/report.html");
  EXPECT_EQ(unsexed.find("class=\"centile"), std::string::npos);
  EXPECT_NE(unsexed.find("No percentile is shown: the child's sex is not given"), std::string::npos);
  EXPECT_EQ(unsexed.find("head circumference below"), std::string::npos);
}

TEST(ScanReport, CourseWithoutAgesOfTheScansThemselves)
{
  // The first and the last visit are the sample's scans as headshape
  // measures them; ages unknown; the middle visit a raw scan fitted well.
  const std::string dir = SampleDir();
  const std::vector<std::string> shapes =
    Fields(RunTool("headshape", { "firstscan.vtk", "finalscan.vtk" }, dir).output, '\n');
  ASSERT_EQ(shapes.size(), 3u);
  auto row = [&](const std::string& visit, const std::string& shape, const std::string& fit) {
    return "S2\t" + visit + "\t\t" + shape + '\t' + fit + "\t\n";
  };
  WriteText(dir + "/measures.tsv",
    kMeasuresHeader + '\n' + row("A", shapes[1], "\t\t\t") + row("B", shapes[2], "0.8\t2.1\t0.4\t12.5") +
      row("C", shapes[2], "\t\t\t"));
  std::vector<std::string> args = kArguments;
  args.push_back("measures.tsv");
  ASSERT_EQ(RunToolWith(DisplayPrefix(), "scanreport", args, dir).status, 0);
  const std::string page = ReadText(dir + "/report.html");
  EXPECT_EQ(Between(page, "<p id=\"summary\" class=\"summary\">", "</p>"),
    std::vector<std::string>{ "CVAI " + Tenth(std::stod(Fields(shapes[1])[9])) + "% (mild) at the first visit, " +
      Tenth(std::stod(Fields(shapes[2])[9])) +
      "% (normal) at the latest visit; posterior flattening on the patient&#39;s right, lessened." });
  EXPECT_EQ(page.find("class=\"marked\""), std::string::npos);
  EXPECT_EQ(page.find("are not those of visit"), std::string::npos);
  EXPECT_NE(page.find("<td data-label=\"Verdict\">within the limits</td>"), std::string::npos);

  // Each chart's point, mapped back through its plot and axes, lies at its
  // visit's number and value.
  const std::vector<std::string> charts = Between(page, "<svg class=\"chart\"", "</svg>");
  ASSERT_EQ(charts.size(), 3u);
  for (const std::string& chart : charts)
  {
    const std::string plot = Between(chart, "<rect class=\"plot\"", "/>")[0];
    const double left = std::stod(Attribute(plot, "x")), width = std::stod(Attribute(plot, "width"));
    const double bottom = std::stod(Attribute(plot, "y")) + std::stod(Attribute(plot, "height"));
    const double x0 = std::stod(Attribute(chart, "data-x-from")), x1 = std::stod(Attribute(chart, "data-x-to"));
    const double y0 = std::stod(Attribute(chart, "data-y-from")), y1 = std::stod(Attribute(chart, "data-y-to"));
    const std::vector<std::string> points = Between(chart, "<circle class=\"point", "</circle>");
    ASSERT_EQ(points.size(), 3u);
    const int shapeColumn = Attribute(chart, "data-measure") == "ci" ? 4
      : Attribute(chart, "data-measure") == "cvai"                   ? 9
                                                                     : 5;
    for (size_t v = 0; v < 3; ++v)
    {
      const double x = x0 + (std::stod(Attribute(points[v], "cx")) - left) / width * (x1 - x0);
      const double y =
        y0 + (bottom - std::stod(Attribute(points[v], "cy"))) / (bottom - std::stod(Attribute(plot, "y"))) * (y1 - y0);
      const std::string exact = Fields(shapes[v == 0 ? 1 : 2])[static_cast<size_t>(shapeColumn)];
      EXPECT_EQ(Attribute(points[v], "data-visit"), std::string(1, static_cast<char>('A' + v)));
      EXPECT_EQ(Attribute(points[v], "data-value"), exact);
      EXPECT_NEAR(x, v + 1.0, 0.01);
      EXPECT_NEAR(y, std::stod(exact), 0.01 * (y1 - y0) / 100);
    }
  }
}

namespace
{
// shapestats score of the sample's first scan against four of the sample
// cohort's scans, into dir/score.
void ScoreFirstScan(const std::string& dir)
{
  WriteText(dir + "/reference.txt",
    "cohort/subjects/s02/first.vtk\ncohort/subjects/s03/first.vtk\ncohort/subjects/t01/v1.vtk\n"
    "cohort/subjects/s02/final.vtk\n");
  const ToolRun scored = RunTool("shapestats", { "score", "reference.txt", "firstscan.vtk", "score" }, dir);
  ASSERT_EQ(scored.status, 0) << scored.output;
}

// The page without the score's section and its line among the commands,
// and without the day it was made.
std::string WithoutScore(std::string page)
{
  const size_t section = page.find("<section>\n<h2>Against the reference group</h2>");
  if (section != std::string::npos)
  {
    page.erase(section, page.find("</section>\n", section) + 11 - section);
  }
  const size_t item = page.find("<li>Z-scores against the reference group");
  if (item != std::string::npos)
  {
    page.erase(item, page.find("</li>\n", item) + 6 - item);
  }
  const size_t made = page.find("Made on ");
  return made == std::string::npos ? page : page.erase(made, 18);
}
}

TEST(ScanReport, ScoreFolderShowsDistancePercentileAndZScoresAndNothingElseChanges)
{
  const std::string dir = SampleDir();
  ScoreFirstScan(dir);
  WriteText(dir + "/measures.tsv", CourseTable(kCourse));
  std::vector<std::string> args = kArguments;
  args.push_back("measures.tsv");
  ASSERT_EQ(RunToolWith(DisplayPrefix(), "scanreport", args, dir).status, 0);
  const std::string plain = ReadText(dir + "/report.html");
  args.push_back("score");
  const ToolRun run = RunToolWith(DisplayPrefix(), "scanreport", args, dir);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "");
  const std::string page = ReadText(dir + "/report.html");
  EXPECT_EQ(WithoutScore(page), WithoutScore(plain));
  EXPECT_NE(WithoutScore(page), page);

  // The distance to a tenth and the percentile whole, as score.tsv holds them.
  const std::vector<std::string> score = Fields(ReadLines(dir + "/score/score.tsv").at(1));
  const std::vector<std::string> shown =
    Matches(Between(page, "<table id=\"score\">", "</table>").at(0), "<td class=\"n\">([^<]*)</td>");
  ASSERT_EQ(shown.size(), 2u);
  ExpectShownAs(shown[0], std::stod(score[1]), 1, "distance");
  ExpectShownAs(shown[1], std::stod(score[2]), 0, "percentile");
  // The z-scores painted on the first scan, as colorsnap paints them by hand.
  ASSERT_EQ(RunToolWith(DisplayPrefix(), "colorsnap", { "firstscan.vtk", "score/zscore.clr", "z.png" }, dir).status, 0);
  const std::vector<std::string> embedded = Between(page, "src=\"data:image/png;base64,", "\"");
  ASSERT_EQ(embedded.size(), 6u);
  EXPECT_TRUE(FromBase64(embedded[5]) == ReadText(dir + "/z.png"));
  EXPECT_NE(page.find("<code>colorsnap firstscan.vtk score/zscore.clr zscore.png</code>"), std::string::npos);

  BrowserLines seen =
    OpenInBrowser(dir + "/report.html", std::string(TOOLS_DIR) + "/../scanreport-score-screenshot.png");
  ASSERT_EQ(seen["image"].size(), 6u);
  EXPECT_EQ(
    seen["image"][5], (std::vector<std::string>{ "image", "Z-scores against the reference group", "1200", "800" }));
}

TEST(ScanReport, RefusesABadScoreFolderBeforeAnyToolRuns)
{
  const std::string dir = SampleDir();
  ScoreFirstScan(dir);
  WriteText(dir + "/measures.tsv", CourseTable(kCourse));
  std::filesystem::create_directories(dir + "/bad");
  const std::string zscores = ReadText(dir + "/score/zscore.clr");
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
    { "", "", "has no score.tsv" },
    { "file\tdistance\n", "", "score.tsv's first line is not the header \"file\\tdistance\\tpercentile\"" },
    { "file\tdistance\tpercentile\na\t1\t50\nb\t2\t60\n", "", "score.tsv does not hold one row of three fields" },
    { "file\tdistance\tpercentile\na\tfar\t50\n", "", "score.tsv's distance \"far\" is not a number of at least 0" },
    { "file\tdistance\tpercentile\na\t1\t101\n", "", "score.tsv's percentile \"101\" is not a number from 0 to 100" },
    { "file\tdistance\tpercentile\na\t1\t50\n", "", "zscore.clr cannot be opened" },
    { "file\tdistance\tpercentile\na\tinf\t100\n", zscores.substr(0, zscores.rfind('\n', zscores.size() - 2) + 1),
      "zscore.clr has 1799 value lines, not one for each of the 1800 cells of the scans" },
  };
  for (const auto& [table, values, reason] : cases)
  {
    std::filesystem::remove_all(dir + "/bad");
    std::filesystem::create_directories(dir + "/bad");
    if (!table.empty())
    {
      WriteText(dir + "/bad/score.tsv", table);
    }
    if (!values.empty())
    {
      WriteText(dir + "/bad/zscore.clr", values);
    }
    std::vector<std::string> args = kArguments;
    args.push_back("measures.tsv");
    args.push_back("bad");
    const ToolRun run = RunToolWith("env -u DISPLAY", "scanreport", args, dir);
    EXPECT_EQ(run.status, 255) << reason;
    EXPECT_EQ(run.output, "Cannot read the score folder bad: " + reason + '\n');
    EXPECT_FALSE(std::filesystem::exists(dir + "/report.html")) << reason;
  }
}
