// The cohort workflow on a cohort of three small subjects: the tools
// installed with cmake --install, every output made and equal to the tools
// run by hand, a re-run that does nothing, a changed scan that re-runs only
// its subject and the cohort files, and a refused subject that fails alone.
#include "tools/workflowrun.h"

using namespace testutil;
using namespace workflowrun;

namespace
{
// The small sample's cohort in the folder layout, without visits.tsv: the
// three subjects with subjects/<id>/first.vtk and final.vtk.
void FolderCohort(const std::string& dir, const std::string& size)
{
  ASSERT_EQ(
    RunShell(Quote(std::string(TOOLS_DIR) + "/../sample/makesample") + ' ' + Quote(dir) + ' ' + size).status, 0);
  for (const std::string made : { "visits.tsv", "subjects/r01", "subjects/t01" })
  {
    fs::remove_all(dir + "/cohort/" + made);
  }
}

const std::vector<std::string> kSubjectFiles = { "Range_values.txt", "asymmetry_final.clr", "asymmetry_final_abs.clr",
  "asymmetry_final_x.clr", "asymmetry_final_y.clr", "asymmetry_final_z.clr", "asymmetry_first.clr",
  "asymmetry_first_abs.clr", "asymmetry_first_x.clr", "asymmetry_first_y.clr", "asymmetry_first_z.clr", "distance.clr",
  "distance_x.clr", "distance_y.clr", "distance_z.clr", "headshape.tsv", "helmet_radial.clr", "helmet_x.clr",
  "helmet_y.clr", "helmet_z.clr", "ratio_change.clr", "ratio_final.clr", "ratio_first.clr", "report.html",
  "measures.tsv", "scaled_final.vtk", "statistics.tsv" };

// Runs a command line in a folder.
ToolRun RunIn(const std::string& folder, const std::string& line)
{
  return RunShell("cd " + Quote(folder) + " && " + line);
}

// The tools, and nothing else, are what cmake --install put into the prefix.
void ExpectOnlyTheToolsInstalled(const std::string& dir)
{
  std::vector<std::string> installed, tools;
  for (const auto& entry : fs::recursive_directory_iterator(dir + "/prefix"))
  {
    if (!entry.is_directory())
    {
      installed.push_back(fs::relative(entry.path(), dir + "/prefix").string());
    }
  }
  for (const auto& entry : fs::directory_iterator(std::string(SOURCE_DIR) + "/tools"))
  {
    if (fs::exists(entry.path() / "CMakeLists.txt"))
    {
      tools.push_back("bin/" + entry.path().filename().string());
    }
  }
  std::sort(installed.begin(), installed.end());
  std::sort(tools.begin(), tools.end());
  EXPECT_EQ(installed, tools);
}

// Subject s02's results made by hand into `hand`, with the same arguments
// as the workflow's rules, and compared with the workflow's.
void ExpectSubjectAsByHand(const std::string& dir, const std::string& hand)
{
  const std::string bin = dir + "/prefix/bin/";
  const std::string scans = dir + "/cohort/subjects/s02/";
  const std::string out = dir + "/out";
  fs::create_directory(hand);
  const std::string first_ = Quote(scans + "first.vtk"), final_ = Quote(scans + "final.vtk");
  const std::string cohort = dir + "/cohort/";
  EXPECT_EQ(
    RunIn(hand,
      bin + "celldist " + final_ + ' ' + first_ + " distance.clr 5 -5 distance_x.clr distance_y.clr distance_z.clr")
      .status,
    1);
  for (const std::string scan : { "first", "final" })
  {
    const std::string b = "asymmetry_" + scan;
    EXPECT_EQ(RunIn(hand,
                bin + "mirrorasym " + Quote(scans + scan + ".vtk") + ' ' + Quote(cohort + "template.vtk") + ' ' + b +
                  ".clr " + b + "_abs.clr " + b + "_x.clr " + b + "_y.clr " + b + "_z.clr -5 5 0")
                .status,
      1);
  }
  EXPECT_EQ(RunIn(hand,
              bin + "scancompare " + first_ + ' ' + final_ + ' ' + Quote(cohort + "template_mask.clr") +
                " ratio_change.clr ratio_first.clr ratio_final.clr y")
              .status,
    0);
  EXPECT_EQ(RunIn(hand,
              bin + "helmetdiff " + first_ + ' ' + final_ +
                " helmet_x.clr -5 5 helmet_y.clr -5 5 helmet_z.clr -5 5 "
                "helmet_radial.clr -5 5 " +
                Quote(cohort + "helmet_mask.clr") + " scaled_final.vtk y")
              .status,
    0);
  EXPECT_EQ(RunIn(scans, bin + "headshape first.vtk final.vtk > " + Quote(hand + "/headshape.tsv")).status, 0);
  // The measures table: the visits without ages, headshape's columns after
  // its file, no fit's figures.
  const std::vector<std::string> shape = ReadLines(hand + "/headshape.tsv");
  auto columns = [](const std::string& row) { return row.substr(row.find('\t')); };
  WriteText(hand + "/shapes.tsv",
    "subject\tvisit\tage_days\tscan" + columns(shape[0]) +
      "\tfit_landmark_rms\tfit_landmark_largest\tfit_distance_mean\tfit_unmatched_percent\tcheck\tsex\n"
      "s02\tfirst\t\tsubjects/s02/first.vtk" +
      columns(shape[1]) +
      "\t\t\t\t\t\t\n"
      "s02\tfinal\t\tsubjects/s02/final.vtk" +
      columns(shape[2]) + "\t\t\t\t\t\t\n");
  EXPECT_EQ(RunIn(hand, bin + "hcstandard shapes.tsv > measures.tsv").status, 0);
  // The page from the results' folder, as the workflow makes it: it shows
  // the paths it was given.
  EXPECT_EQ(RunIn(out,
              Quote(std::string(SOURCE_DIR) + "/scripts/with_display.sh") + ' ' + bin +
                "scanreport ../cohort/subjects/s02/first.vtk ../cohort/subjects/s02/final.vtk ../cohort/template.vtk "
                "../cohort/template_mask.clr " +
                Quote(hand + "/report.html") + " s02/measures.tsv")
              .status,
    0);
  std::string colorFiles;
  for (const std::string& name : kSubjectFiles)
  {
    colorFiles += name.size() > 4 && name.substr(name.size() - 4) == ".clr" ? name + ' ' : "";
  }
  EXPECT_EQ(RunIn(hand, bin + "colorstats " + colorFiles + "> statistics.tsv").status, 0);
  for (const std::string& name : kSubjectFiles)
  {
    const std::string made = ReadText(out + "/s02/" + name), byHand = ReadText(hand + "/" + name);
    EXPECT_FALSE(made.empty()) << name;
    EXPECT_TRUE(name == "report.html" ? Undated(made) == Undated(byHand) : made == byHand) << name;
  }
}

// The cohort files: every subject's measures and colour statistics, the
// cohort's statistics, and the averages, against s02's by hand.
void ExpectCohortFiles(const std::string& dir, const std::string& hand)
{
  const std::string bin = dir + "/prefix/bin/";
  const std::string out = dir + "/out";
  const std::string cohort = dir + "/cohort/";
  const std::vector<std::string> measures = ReadLines(out + "/cohort_measures.tsv");
  const std::vector<std::string> s02 = ReadLines(hand + "/measures.tsv");
  ASSERT_EQ(measures.size(), 7u);
  EXPECT_EQ(std::vector<std::string>(measures.begin() + 3, measures.begin() + 5),
    std::vector<std::string>(s02.begin() + 1, s02.end()));
  EXPECT_EQ(measures[0], s02[0]);
  EXPECT_EQ(measures[6].substr(0, 10), "s03\tfinal\t");
  EXPECT_EQ(ReadText(out + "/cohort_statistics.tsv"),
    RunIn(hand, bin + "cohortstats " + Quote(out + "/cohort_measures.tsv")).output);
  const std::vector<std::string> statistics = ReadLines(out + "/cohort_colorstats.tsv");
  ASSERT_EQ(statistics.size(), 1 + 3 * (ReadLines(hand + "/statistics.tsv").size() - 1));
  EXPECT_EQ(statistics[0], "subject\t" + ReadLines(hand + "/statistics.tsv")[0]);
  EXPECT_EQ(statistics[22], "s02\t" + ReadLines(hand + "/statistics.tsv")[1]);
  for (const std::string scan : { "first", "final" })
  {
    WriteText(hand + "/list.txt",
      cohort + "subjects/s01/" + scan + ".vtk\n" + cohort + "subjects/s02/" + scan + ".vtk\n" + cohort +
        "subjects/s03/" + scan + ".vtk\n");
    EXPECT_EQ(RunIn(hand, bin + "meshmean list.txt average.vtk").status, 0);
    EXPECT_EQ(ReadText(out + "/average_" + scan + ".vtk"), ReadText(hand + "/average.vtk")) << scan;
  }
}

// A run again with nothing changed runs nothing; after s02's first scan is
// touched, its jobs and the cohort files run, nothing else.
void ExpectRerunsOnlyWhatChanged(const std::string& dir)
{
  const std::string out = dir + "/out";
  const std::string scans = dir + "/cohort/subjects/s02/";
  // Again with nothing changed: nothing runs.
  const auto before = Times(out);
  const ToolRun again = Snakemake(dir, "out");
  EXPECT_EQ(again.status, 0);
  EXPECT_NE(again.output.find("Nothing to be done"), std::string::npos) << again.output;
  EXPECT_EQ(Times(out), before);

  // s02's first scan is touched: its jobs and the cohort files run, nothing
  // else; of the cohort's statistics all but the list of the latest visits
  // (three subjects are too few to score each against the others). (Snakemake compares files under 100 kB by their
  // content: the cohort's scans are larger, as real ones are.)
  ASSERT_GT(fs::file_size(scans + "first.vtk"), 100000u);
  fs::last_write_time(scans + "first.vtk", fs::file_time_type::clock::now());
  const ToolRun changed = Snakemake(dir, "out");
  EXPECT_EQ(changed.status, 0) << changed.output;
  const auto after = Times(out);
  for (const auto& [path, time] : after)
  {
    const bool s02 = path.rfind("s02/", 0) == 0;
    const bool fromFinalScanAlone = path.find("asymmetry_final") != std::string::npos ||
      path.rfind("s02/final/", 0) == 0 || path == "s02/logs/mirrorasym_final.log" ||
      path == "s02/logs/headshape_final.log";
    const bool cohortFile = path.find('/') == std::string::npos && path.find("average_final") == std::string::npos;
    const bool cohortLog = path == "logs/meshmean_first.log" || path == "logs/cohortstats.log";
    const bool statistics = (path.rfind("cohort/", 0) == 0 && path != "cohort/final_visits.txt") ||
      (path.rfind("logs/", 0) == 0 && path.find("final") == std::string::npos);
    EXPECT_EQ(time != before.at(path), (s02 && !fromFinalScanAlone) || cohortFile || cohortLog || statistics) << path;
  }
}
}

TEST(Workflow, CohortRunsOnceMatchesTheToolsAndRerunsOnlyWhatChanged)
{
  const std::string dir = ScratchDir();
  ASSERT_TRUE(InstallTools(dir));
  ExpectOnlyTheToolsInstalled(dir);
  FolderCohort(dir, "10 110");
  const ToolRun first = Snakemake(dir, "out");
  ASSERT_EQ(first.status, 0) << first.output;
  for (const std::string subject : { "s01", "s02", "s03" })
  {
    for (const std::string& name : kSubjectFiles)
    {
      EXPECT_TRUE(fs::is_regular_file(dir + "/out/" + subject + "/" + name)) << subject << '/' << name;
    }
  }
  ExpectSubjectAsByHand(dir, dir + "/hand");
  ExpectCohortFiles(dir, dir + "/hand");
  ExpectRerunsOnlyWhatChanged(dir);
}

TEST(Workflow, ARefusedSubjectFailsAloneAndASubjectWithoutBothScansIsLeftOut)
{
  const std::string dir = ScratchDir();
  ASSERT_TRUE(InstallTools(dir));
  FolderCohort(dir, "8 60");
  const std::string subjects = dir + "/cohort/subjects/";
  fs::create_directories(subjects + "s04");
  fs::create_directories(subjects + "s05");
  fs::copy_file(subjects + "s01/first.vtk", subjects + "s04/first.vtk");
  fs::copy_file(std::string(HOSTILE_DIR) + "/missing-point.vtk", subjects + "s04/final.vtk");
  fs::copy_file(subjects + "s01/first.vtk", subjects + "s05/first.vtk");

  const ToolRun run = Snakemake(dir, "out", "--keep-going");
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.output.find("Subject s05 has no final.vtk: left out"), std::string::npos) << run.output;
  const std::string message = "Surface " + subjects + "s04/final.vtk has a cell that names a point that does not exist";
  EXPECT_NE(run.output.find("celldist ended with exit status 255 (done is 1):\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find(message), std::string::npos) << run.output;
  EXPECT_NE(ReadText(dir + "/out/s04/logs/celldist.log").find(message), std::string::npos);
  EXPECT_FALSE(fs::exists(dir + "/out/s04/distance.clr"));
  EXPECT_FALSE(fs::exists(dir + "/out/s05"));
  for (const std::string subject : { "s01", "s02", "s03" })
  {
    for (const std::string& name : kSubjectFiles)
    {
      EXPECT_TRUE(fs::is_regular_file(dir + "/out/" + subject + "/" + name)) << subject << '/' << name;
    }
  }
}
