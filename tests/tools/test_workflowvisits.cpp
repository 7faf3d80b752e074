// The cohort workflow on a cohort of visits (visits.tsv): raw scans fitted
// and on-template scans side by side, a row refused before any job starts,
// a fit that fails alone, every table equal to the tools run by hand, and a
// re-run after a middle visit's scan changed that re-runs only that visit,
// its subject's table and page, and the cohort's tables.
#include "surftools/listfile.h"
#include "tools/browserpage.h"
#include "tools/workflowrun.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <regex>
#include <set>

using namespace testutil;
using namespace workflowrun;

namespace
{
// The index of the column `name` in a table's header row.
size_t Column(const std::string& header, const std::string& name)
{
  const std::vector<std::string> names = TabFields(header);
  return std::find(names.begin(), names.end(), name) - names.begin();
}

// A binary STL cut to the triangles above the median height of their
// centres: a scan of the top half of the head.
std::string UpperHalf(const std::string& stl)
{
  uint32_t count = 0;
  std::memcpy(&count, stl.data() + 80, 4);
  auto height = [&](uint32_t t) {
    float z[9];
    std::memcpy(z, stl.data() + 84 + 50 * t + 12, sizeof z);
    return z[2] + z[5] + z[8];
  };
  std::vector<float> heights;
  for (uint32_t t = 0; t < count; ++t)
  {
    heights.push_back(height(t));
  }
  std::nth_element(heights.begin(), heights.begin() + count / 2, heights.end());
  std::string kept;
  for (uint32_t t = 0; t < count; ++t)
  {
    kept += height(t) > heights[count / 2] ? stl.substr(84 + 50 * t, 50) : "";
  }
  const uint32_t left = static_cast<uint32_t>(kept.size() / 50);
  return stl.substr(0, 80) + std::string(reinterpret_cast<const char*>(&left), 4) + kept;
}

// The small sample's cohort as makesample writes it (s01, s02, s03 with a
// first and a final scan; r01 with three raw visits; t01 with three on the
// template), with s03's final age not a number, x01 added, whose second
// scan has the template's counts but not its cells, c01 added, whose second
// visit is a raw scan of the top half of the head (a fit to check), and f01
// added: its first
// visit on the template, its second r01's first raw scan with the tragi
// swapped in its landmarks, which fittemplate refuses.
std::string VisitsCohort()
{
  const std::string dir = ScratchDir();
  EXPECT_TRUE(InstallTools(dir));
  EXPECT_EQ(RunShell(Quote(std::string(TOOLS_DIR) + "/../sample/makesample") + ' ' + Quote(dir) + " 12 100").status, 0);
  const std::string cohort = dir + "/cohort/";
  std::vector<std::string> rows = ReadLines(cohort + "subjects/r01/v1_landmarks.crv");
  std::swap(rows[1], rows[2]);
  std::string table;
  for (const std::string& row : rows)
  {
    table += row + '\n';
  }
  WriteText(cohort + "swapped.crv", table);
  table.clear();
  for (const std::string& row : ReadLines(cohort + "visits.tsv"))
  {
    table += (row.rfind("s03\tfinal\t", 0) == 0 ? "s03\tfinal\tten months\tsubjects/s03/final.vtk\t" : row) + '\n';
  }
  WriteText(cohort + "half.stl", UpperHalf(ReadText(cohort + "subjects/r01/v1.stl")));
  // s01's first scan with two corners of its first cell swapped: the counts
  // of the template, not its cells.
  std::string turned = ReadText(cohort + "subjects/s01/first.vtk");
  const size_t cell = turned.find('\n', turned.find("\nPOLYGONS ") + 1) + 1;
  std::istringstream first(turned.substr(cell, turned.find('\n', cell) - cell));
  std::string n, a, b, c;
  first >> n >> a >> b >> c;
  turned.replace(cell, n.size() + a.size() + b.size() + c.size() + 3, n + ' ' + a + ' ' + c + ' ' + b);
  WriteText(cohort + "turned.vtk", turned);
  WriteText(cohort + "visits.tsv",
    table + "x01\tv1\t95\tsubjects/s01/first.vtk\t\nx01\tv2\t180\tturned.vtk\t\n" +
      "c01\tv1\t95\tsubjects/s01/first.vtk\t\nc01\tv2\t180\thalf.stl\tsubjects/r01/v1_landmarks.crv\n" +
      "f01\tv1\t90\tsubjects/s02/first.vtk\t\nf01\tv2\t190\tsubjects/r01/v1.stl\tswapped.crv\n");
  return dir;
}

// The first run: s03's row refused before any job, f01's fit refused for
// its swapped tragi and failing alone, the others' pages made.
void ExpectRefusedRowAndFailedFit(const std::string& dir, const ToolRun& run)
{
  const std::string out = dir + "/out/";
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.output.find("visits.tsv line 7 (subject s03, visit final): the age 'ten months' is not a whole "
                            "number of days; subject s03 left out"),
    std::string::npos)
    << run.output;
  EXPECT_FALSE(fs::exists(out + "s03"));
  EXPECT_NE(run.output.find("visits.tsv line 15 (subject x01, visit v2): the scan turned.vtk has no landmarks, but "
                            "its cells differ from the template's; subject x01 left out"),
    std::string::npos)
    << run.output;
  EXPECT_FALSE(fs::exists(out + "x01"));
  EXPECT_NE(
    ReadText(out + "f01/logs/fit_v2.log").find("the patient's right and left tragus swapped"), std::string::npos);
  EXPECT_NE(run.output.find("fittemplate ended with exit status 255"), std::string::npos) << run.output;
  EXPECT_TRUE(fs::exists(out + "f01/v1/headshape.tsv"));
  EXPECT_FALSE(fs::exists(out + "f01/report.html"));
  EXPECT_TRUE(fs::exists(out + "r01/report.html"));
  EXPECT_TRUE(fs::exists(out + "s01/report.html"));
  // c01's second fit holds but is marked, in the table and on the page.
  const std::vector<std::string> c01 = ReadLines(out + "c01/measures.tsv");
  ASSERT_EQ(c01.size(), 3u);
  const size_t check = Column(c01[0], "check");
  EXPECT_TRUE(std::regex_match(
    TabFields(c01[2])[check], std::regex("fit: [0-9]+\\.[0-9]% of the template unmatched \\(over 40%\\)")))
    << c01[2];
  EXPECT_EQ(TabFields(c01[1])[check], "");
  EXPECT_NE(ReadText(out + "c01/report.html").find("check: " + TabFields(c01[2])[check]), std::string::npos);
}

// r01's first raw visit by hand: the same fit, the same measures in its
// table, the same comparison with its latest visit.
void ExpectRawVisitAsByHand(const std::string& dir)
{
  const std::string cohort = dir + "/cohort/", out = dir + "/out/", bin = dir + "/prefix/bin/";
  const std::string hand = dir + "/hand/";
  fs::create_directories(hand);
  const ToolRun fit = RunShell("cd " + Quote(hand) + " && " + bin + "fittemplate " + Quote(cohort + "template.vtk") +
    ' ' + Quote(cohort + "subjects/r01/v1.stl") + ' ' + Quote(cohort + "template_landmarks.crv") + ' ' +
    Quote(cohort + "subjects/r01/v1_landmarks.crv") + " fitted.vtk");
  ASSERT_EQ(fit.status, 0) << fit.output;
  EXPECT_EQ(ReadText(out + "r01/v1/fitted.vtk"), ReadText(hand + "fitted.vtk"));
  EXPECT_EQ(ReadText(out + "r01/v1/fit.txt"), fit.output);
  ASSERT_EQ(RunShell("cd " + Quote(hand) + " && " + bin + "headshape fitted.vtk > shape.tsv").status, 0);
  const std::vector<std::string> measures = ReadLines(out + "r01/measures.tsv");
  ASSERT_EQ(measures.size(), 4u);
  const std::vector<std::string> header = TabFields(measures[0]);
  EXPECT_EQ(header.front() + header[1] + header[2] + header[3], "subjectvisitage_daysscan");
  EXPECT_EQ(std::vector<std::string>(header.end() - 4, header.end()),
    (std::vector<std::string>{ "check", "sex", "hc_z", "hc_percentile" }));
  const size_t rmsColumn = Column(measures[0], "fit_landmark_rms");
  const std::vector<std::string> v1 = TabFields(measures[1]);
  const std::vector<std::string> byHand = TabFields(ReadLines(hand + "shape.tsv")[1]);
  ASSERT_EQ(v1.size(), header.size());
  EXPECT_EQ(std::vector<std::string>(v1.begin(), v1.begin() + 4),
    (std::vector<std::string>{ "r01", "v1", "124", "subjects/r01/v1.stl" }));
  EXPECT_EQ(std::vector<std::string>(v1.begin() + 4, v1.begin() + 4 + byHand.size() - 1),
    std::vector<std::string>(byHand.begin() + 1, byHand.end()));
  const std::string rms = fit.output.substr(fit.output.find("(rms ", fit.output.find("after the fit")) + 5);
  EXPECT_EQ(v1[rmsColumn], rms.substr(0, rms.find(')')));
  EXPECT_EQ(TabFields(measures[3])[1], "v3");
  // A visit on the template has no fit's figures.
  const std::vector<std::string> t01 = ReadLines(out + "t01/measures.tsv");
  ASSERT_EQ(t01.size(), 4u);
  EXPECT_EQ(TabFields(t01[1])[rmsColumn], "");
  const ToolRun distance = RunShell("cd " + Quote(hand) + " && " + bin + "celldist " +
    Quote(out + "r01/v3/fitted.vtk") + " fitted.vtk d.clr 5 -5 x.clr y.clr z.clr");
  EXPECT_EQ(distance.status, 1) << distance.output;
  EXPECT_EQ(ReadText(out + "r01/distance.clr"), ReadText(hand + "d.clr"));
}

// r01's page in the browser: its name and no machine path, every picture
// decoded, nothing fetched, and each chart's points at the visits' ages in
// months and their measures in r01's table.
void ExpectCourseChartsAsTheTableSays(const std::string& dir)
{
  const std::string out = dir + "/out/";
  const std::string page = ReadText(out + "r01/report.html");
  EXPECT_NE(page.find("r01"), std::string::npos);
  EXPECT_EQ(page.find(dir), std::string::npos) << "a machine path on the page";
  browserpage::SeenLines seen = browserpage::OpenPage(out + "r01/report.html", dir + "/r01.png");
  EXPECT_EQ(seen.count("request"), 0u);
  for (const std::vector<std::string>& image : seen["image"])
  {
    EXPECT_NE(image[2], "0") << image[1];
  }
  const std::vector<std::string> measures = ReadLines(out + "r01/measures.tsv");
  const std::vector<std::string> header = TabFields(measures[0]);
  std::map<std::pair<std::string, std::string>, std::pair<double, double>> planted;
  for (size_t row = 1; row < measures.size(); ++row)
  {
    const std::vector<std::string> visit = TabFields(measures[row]);
    for (const std::string measure : { "ci", "cvai", "circumference" })
    {
      const size_t column = std::find(header.begin(), header.end(), measure) - header.begin();
      planted[{ measure, visit[1] }] = { std::stod(visit[2]) / 30.4375, std::stod(visit.at(column)) };
    }
  }
  ASSERT_EQ(seen["point"].size(), planted.size());
  for (const std::vector<std::string>& point : seen["point"])
  {
    const auto [age, value] = planted.at({ point[1], point[2] });
    EXPECT_NEAR(std::stod(point[3]), age, 0.01) << point[1] << ' ' << point[2];
    EXPECT_NEAR(std::stod(point[4]), value, 0.01 * std::max(1.0, std::abs(value) / 100)) << point[1] << ' ' << point[2];
  }
}

// f01's rows taken out: the run finishes, and the cohort's tables hold every
// visit of the five other subjects.
void ExpectCohortTablesOnceTheFailedRowsAreOut(const std::string& dir)
{
  const std::string cohort = dir + "/cohort/", out = dir + "/out/";
  std::vector<std::string> visits = ReadLines(cohort + "visits.tsv");
  visits.resize(visits.size() - 2);
  std::string kept;
  for (const std::string& row : visits)
  {
    kept += row + '\n';
  }
  WriteText(cohort + "visits.tsv", kept);
  const ToolRun finished = Snakemake(dir, "out");
  ASSERT_EQ(finished.status, 0) << finished.output;
  const std::vector<std::string> cohortMeasures = ReadLines(out + "cohort_measures.tsv");
  const std::vector<std::string> r01 = ReadLines(out + "r01/measures.tsv");
  ASSERT_EQ(cohortMeasures.size(), 13u);
  EXPECT_EQ(cohortMeasures[0], r01[0]);
  EXPECT_EQ(cohortMeasures[3], r01[1]);
  const ToolRun statistics = RunShell(dir + "/prefix/bin/cohortstats " + Quote(out + "cohort_measures.tsv"));
  EXPECT_EQ(ReadText(out + "cohort_statistics.tsv"), statistics.output);
}

// Nothing changed: nothing runs. r01's middle visit changed (one coordinate
// of its scan, a float's last bit): its fit and measures, r01's table and
// page and the cohort's tables run again, nothing else.
void ExpectAMiddleVisitReRunsOnlyWhatNeedsIt(const std::string& dir)
{
  const std::string cohort = dir + "/cohort/", out = dir + "/out/";
  const auto before = Times(out);
  const ToolRun again = Snakemake(dir, "out");
  EXPECT_NE(again.output.find("Nothing to be done"), std::string::npos) << again.output;
  std::string stl = ReadText(cohort + "subjects/r01/v2.stl");
  stl[84 + 12] ^= 1;
  WriteText(cohort + "subjects/r01/v2.stl", stl);
  const ToolRun changed = Snakemake(dir, "out");
  ASSERT_EQ(changed.status, 0) << changed.output;
  const std::set<std::string> rerun = { "r01/v2/fitted.vtk", "r01/v2/fit.txt", "r01/v2/headshape.tsv",
    "r01/logs/fit_v2.log", "r01/logs/headshape_v2.log", "r01/measures.tsv", "r01/report.html",
    "r01/logs/hcstandard.log", "r01/logs/scanreport.log", "cohort_measures.tsv", "cohort_statistics.tsv",
    "logs/cohortstats.log" };
  for (const auto& [path, time] : Times(out))
  {
    EXPECT_EQ(before.count(path) == 0 || time != before.at(path), rerun.count(path) == 1) << path;
  }
}
}

TEST(Workflow, VisitsRawAndOnTheTemplateGoThroughAndAFailedFitStopsOnlyWhatNeedsIt)
{
  const std::string dir = VisitsCohort();
  ExpectRefusedRowAndFailedFit(dir, Snakemake(dir, "out", "--keep-going"));
  ExpectRawVisitAsByHand(dir);
  ExpectCourseChartsAsTheTableSays(dir);
  ExpectCohortTablesOnceTheFailedRowsAreOut(dir);
  ExpectAMiddleVisitReRunsOnlyWhatNeedsIt(dir);
}
