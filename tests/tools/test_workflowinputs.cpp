// The cohort workflow on the inputs clinics have, started in a folder whose
// path holds a space: the template and scans on it saved by VTK 9's own
// writers (legacy 5.1 ASCII and binary, XML .vtp, upper-case extensions),
// subject and visit names with dots, dashes and a space, visits.tsv with a
// byte-order mark, CR LF line ends and further columns, a child with one
// visit; each scan measured and compared as the sample's own 4.2 file, a
// scan whose cells differ refused; and a cohort of one child, whose
// statistics are left out with a line each.
#include "growth/headcircumference.h"
#include "surfacefiles.h"
#include "surftools/listfile.h"
#include "tools/browserpage.h"
#include "tools/workflowrun.h"

#include <algorithm>

#include <vtkCellArray.h>
#include <vtkDataArray.h>

using namespace testutil;
using namespace workflowrun;
using surfacefiles::Layout;

namespace
{
// The scan `from` with the second and third corner of its cell 0 swapped,
// as legacy 5.1 binary.
void SaveTurned(const std::string& from, const std::string& to)
{
  auto reader = vtkSmartPointer<vtkPolyDataReader>::New();
  reader->SetFileName(from.c_str());
  reader->Update();
  vtkDataArray* ids = reader->GetOutput()->GetPolys()->GetConnectivityArray();
  const double b = ids->GetTuple1(1);
  ids->SetTuple1(1, ids->GetTuple1(2));
  ids->SetTuple1(2, b);
  EXPECT_TRUE(surfacefiles::Save(reader->GetOutput(), to, Layout::Binary51));
}

// The small sample's cohort in ROOT/cohort, its scans saved again as a
// clinic's software saves them (the originals kept in ROOT/original), and
// its visits.tsv as a spreadsheet saves it: a.b-01 (s01 as 5.1 ASCII and
// 5.1 binary), "c d-02" (s02 as .vtp and its own 4.2), e-03 (s03's first
// visit alone, as .VTP), x-04, whose second scan has one cell turned, and
// y-05, whose visits give two sexes.
void ClinicCohort(const std::string& root)
{
  ASSERT_TRUE(InstallTools(root));
  ASSERT_EQ(RunShell(Quote(std::string(TOOLS_DIR) + "/../sample/makesample") + ' ' + Quote(root) + " 8 60").status, 0);
  const std::string cohort = root + "/cohort/", subjects = cohort + "subjects/";
  fs::create_directories(root + "/original");
  fs::copy_file(cohort + "template.vtk", root + "/original/template.vtk");
  ASSERT_TRUE(surfacefiles::Resave(root + "/original/template.vtk", cohort + "template.vtk", Layout::Binary51));
  ASSERT_TRUE(surfacefiles::Resave(subjects + "s01/first.vtk", subjects + "s01/first 5.1.vtk", Layout::Ascii51));
  ASSERT_TRUE(surfacefiles::Resave(subjects + "s01/final.vtk", subjects + "s01/final.VTK", Layout::Binary51));
  ASSERT_TRUE(surfacefiles::Resave(subjects + "s02/first.vtk", subjects + "s02/first.vtp", Layout::Xml));
  ASSERT_TRUE(surfacefiles::Resave(subjects + "s03/first.vtk", subjects + "s03/first.VTP", Layout::Xml));
  SaveTurned(subjects + "s01/first.vtk", subjects + "turned.vtk");
  const std::vector<std::string> rows = { "subject\tvisit\tage_days\tscan\tlandmarks\tsex\tnotes",
    "a.b-01\tv.1-a\t124\tsubjects/s01/first 5.1.vtk\t\tmale\tfirst consultation", // 5.1 ASCII
    "a.b-01\tv.2-b\t306\tsubjects/s01/final.VTK\t\tmale\t",                       // 5.1 binary
    "c d-02\t1st\t137\tsubjects/s02/first.vtp\t\tfemale",                         // no notes field
    "c d-02\t2nd\t329\tsubjects/s02/final.vtk\t\tfemale\thelmet since 5 months",
    "e-03\tonly\t109\tsubjects/s03/first.VTP\t\t\t", "x-04\tv1\t100\tsubjects/s01/first.vtk\t\t\t",
    "x-04\tv2\t200\tsubjects/turned.vtk\t\t\t", "y-05\tv1\t100\tsubjects/s01/first.vtk\t\tmale\t",
    "y-05\tv2\t200\tsubjects/s01/final.vtk\t\tfemale\t" };
  std::string table = "\xEF\xBB\xBF";
  for (const std::string& row : rows)
  {
    table += row + "\r\n";
  }
  WriteText(cohort + "visits.tsv", table);
}

// The table's row of headshape's measures of one scan, after `file`.
std::vector<std::string> Measured(const std::string& root, const std::string& scan)
{
  const ToolRun run = RunShell(Quote(root + "/prefix/bin/headshape") + ' ' + Quote(scan));
  EXPECT_EQ(run.status, 0) << run.output;
  const std::string row = run.output.substr(run.output.find('\n') + 1);
  const std::vector<std::string> fields = TabFields(row.substr(0, row.find('\n')));
  return std::vector<std::string>(fields.begin() + 1, fields.end());
}

// Every visit measured as headshape measures the sample's own 4.2 file.
void ExpectMeasuresOfTheOriginals(const std::string& root)
{
  const std::vector<std::string> table = ReadLines(root + "/out/cohort_measures.tsv");
  const std::vector<std::pair<std::string, std::string>> visits = { { "a.b-01\tv.1-a", "s01/first" },
    { "a.b-01\tv.2-b", "s01/final" }, { "c d-02\t1st", "s02/first" }, { "c d-02\t2nd", "s02/final" },
    { "e-03\tonly", "s03/first" } };
  ASSERT_EQ(table.size(), visits.size() + 1);
  const std::vector<std::string> header = TabFields(table[0]);
  ASSERT_EQ(header.size(), 28u) << "the further columns of visits.tsv but sex are not the measures'";
  EXPECT_EQ(std::vector<std::string>(header.end() - 3, header.end()),
    std::vector<std::string>({ "sex", "hc_z", "hc_percentile" }));
  const size_t circumference = std::find(header.begin(), header.end(), "circumference") - header.begin();
  for (size_t v = 0; v < visits.size(); ++v)
  {
    const std::vector<std::string> measured = Measured(root, root + "/cohort/subjects/" + visits[v].second + ".vtk");
    const std::vector<std::string> row = TabFields(table[v + 1]);
    EXPECT_EQ(row[0] + '\t' + row[1], visits[v].first);
    EXPECT_EQ(std::vector<std::string>(row.begin() + 4, row.begin() + 4 + measured.size()), measured)
      << visits[v].first;
    // The circumference against the WHO standard for the sex given, none
    // without one.
    ASSERT_EQ(row.size(), 28u);
    Sex sex;
    ASSERT_TRUE(SexOf(row[25], sex)) << row[25];
    GrowthLms lms;
    if (!HeadCircumferenceLms(sex, std::stod(row[2]), lms))
    {
      EXPECT_EQ(row[25] + row[26] + row[27], "") << visits[v].first;
      continue;
    }
    const double z = GrowthZ(lms, std::stod(row[circumference]));
    EXPECT_NEAR(std::stod(row[26]), z, 1e-5) << visits[v].first;
    EXPECT_NEAR(std::stod(row[27]), GrowthPercentile(z), 1e-4) << visits[v].first;
  }
  EXPECT_EQ(TabFields(table[1])[25], "male");
  EXPECT_EQ(TabFields(table[3])[25], "female");
}

// The tools' results on the 5.1 template and the scans as saved are those on
// the originals: e-03's asymmetry and a.b-01's distance by hand.
void ExpectResultsOfTheOriginals(const std::string& root)
{
  const std::string bin = root + "/prefix/bin/", out = root + "/out/", scans = root + "/cohort/subjects/";
  const std::string hand = root + "/hand/";
  fs::create_directories(hand);
  EXPECT_EQ(RunShell("cd " + Quote(hand) + " && " + Quote(bin + "mirrorasym") + ' ' + Quote(scans + "s03/first.vtk") +
              ' ' + Quote(root + "/original/template.vtk") + " a.clr b.clr x.clr y.clr z.clr -5 5 0")
              .status,
    1);
  EXPECT_EQ(ReadText(out + "e-03/asymmetry_first.clr"), ReadText(hand + "a.clr"));
  EXPECT_EQ(RunShell("cd " + Quote(hand) + " && " + Quote(bin + "celldist") + ' ' + Quote(scans + "s01/final.vtk") +
              ' ' + Quote(scans + "s01/first.vtk") + " d.clr 5 -5 x.clr y.clr z.clr")
              .status,
    1);
  EXPECT_EQ(ReadText(out + "a.b-01/distance.clr"), ReadText(hand + "d.clr"));
}

// e-03's one visit: its asymmetry and page, no comparison; its page shows
// one visit and one picture, and fits an A4 page.
void ExpectAChildOfOneVisit(const std::string& root)
{
  const std::string out = root + "/out/";
  for (const std::string name : { "asymmetry_first.clr", "asymmetry_first_z.clr", "statistics.tsv", "report.html" })
  {
    EXPECT_TRUE(fs::is_regular_file(out + "e-03/" + name)) << name;
  }
  for (const std::string name : { "distance.clr", "asymmetry_final.clr", "Range_values.txt", "headshape.tsv" })
  {
    EXPECT_FALSE(fs::exists(out + "e-03/" + name)) << name;
  }
  EXPECT_EQ(ReadLines(out + "e-03/statistics.tsv").size(), 6u);
  const std::string page = ReadText(out + "e-03/report.html");
  EXPECT_NE(page.find("<h2>Head-shape measures of the scan</h2>"), std::string::npos);
  size_t rows = 0;
  for (size_t at = page.find("<tr data-visit="); at != std::string::npos; at = page.find("<tr data-visit=", at + 1))
  {
    ++rows;
  }
  EXPECT_EQ(rows, 1u);
  EXPECT_EQ(page.find("<svg"), std::string::npos) << "a chart of one visit";
  browserpage::ExpectSelfContained(out + "e-03/report.html", 1, root + "/e-03.png");
}
}

TEST(Workflow, ClinicsFilesNamesAndTablesGoThroughAndAChildOfOneVisitGetsItsPage)
{
  const std::string root = ScratchDir() + "/clinic scans";
  ClinicCohort(root);
  const ToolRun run = Snakemake(root, "out");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("visits.tsv line 8 (subject x-04, visit v2): the scan subjects/turned.vtk has no "
                            "landmarks, but its cells differ from the template's; subject x-04 left out"),
    std::string::npos)
    << run.output;
  EXPECT_FALSE(fs::exists(root + "/out/x-04"));
  EXPECT_NE(run.output.find("visits.tsv (subject y-05): its visits give the sexes female and male; subject y-05 left "
                            "out"),
    std::string::npos)
    << run.output;
  EXPECT_FALSE(fs::exists(root + "/out/y-05"));
  EXPECT_NE(run.output.find("scores against the others are left out"), std::string::npos);
  EXPECT_EQ(run.output.find("change from the first to the latest visit is left out"), std::string::npos);
  ExpectMeasuresOfTheOriginals(root);
  ExpectResultsOfTheOriginals(root);
  ExpectAChildOfOneVisit(root);
  // The change over the two children compared, the modes over all three.
  const std::string out = root + "/out/";
  EXPECT_EQ(ReadLines(out + "cohort/paired_first_visits.txt").size(), 2u);
  EXPECT_EQ(ReadLines(out + "cohort/first_visits.txt").size(), 3u);
  EXPECT_TRUE(fs::is_regular_file(out + "cohort/change/change_mean.png"));
  EXPECT_TRUE(fs::is_regular_file(out + "cohort/modes/mode2.png"));
  const std::string index = ReadText(out + "cohort/index.html");
  EXPECT_NE(index.find("<a href=\"../c%20d-02/report.html\">c d-02</a>"), std::string::npos);
}

TEST(Workflow, ACohortOfOneChildGetsItsPageAndEachStatisticLeftOutWithALine)
{
  const std::string root = ScratchDir() + "/one child";
  ASSERT_TRUE(InstallTools(root));
  ASSERT_EQ(RunShell(Quote(std::string(TOOLS_DIR) + "/../sample/makesample") + ' ' + Quote(root) + " 8 60").status, 0);
  WriteText(
    root + "/cohort/visits.tsv", "subject\tvisit\tage_days\tscan\tlandmarks\nk9\tv1\t109\tsubjects/s03/first.vtk\t\n");
  const ToolRun run = Snakemake(root, "out");
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string out = root + "/out/";
  const std::string index = ReadText(out + "cohort/index.html");
  for (const std::string line :
    { "The cohort's change from the first to the latest visit is left out: it needs at least 2 subjects with two "
      "usable visits, and the cohort has 0 (nor is average_final.vtk made)",
      "The modes of the cohort's first visits are left out: they need at least 2 subjects, and the cohort has 1",
      "The subjects' scores against the others are left out: without a reference list they need at least 4 "
      "subjects, and the cohort has 1" })
  {
    EXPECT_EQ(run.output.find(line), run.output.rfind(line)) << line;
    EXPECT_NE(run.output.find(line + '\n'), std::string::npos) << run.output;
  }
  EXPECT_NE(index.find("is left out: it needs at least 2 subjects with two usable visits"), std::string::npos);
  EXPECT_NE(index.find("<a href=\"../k9/report.html\">k9</a>"), std::string::npos);
  EXPECT_EQ(ReadLines(out + "k9/measures.tsv").size(), 2u);
  EXPECT_TRUE(fs::is_regular_file(out + "k9/report.html"));
  EXPECT_TRUE(fs::is_regular_file(out + "average_first.vtk"));
  for (const std::string name : { "average_final.vtk", "cohort/change", "cohort/modes", "k9/distance.clr" })
  {
    EXPECT_FALSE(fs::exists(out + name)) << name;
  }
}
