// The cohort workflow on a cohort of three small subjects: the tools
// installed with cmake --install, every output made and equal to the tools
// run by hand, a re-run that does nothing, a changed scan that re-runs only
// its subject and the cohort files, and a refused subject that fails alone.
#include "testutil.h"

#include <map>

using namespace testutil;

namespace fs = std::filesystem;

namespace
{
// Runs the workflow on the cohort into `out` with the installed tools.
ToolRun Snakemake(const std::string& dir, const std::string& out, const std::string& extra = "")
{
  return RunShell("(cd " + Quote(dir) + " && snakemake --snakefile " +
    Quote(std::string(SOURCE_DIR) + "/workflow/Snakefile") + " --cores 2 --directory " + Quote(out) +
    " --config cohort=cohort bin=prefix/bin " + extra + " 2>&1)");
}

// The modification time of every file of a folder (the workflow's own
// bookkeeping in .snakemake aside), by path within it.
std::map<std::string, fs::file_time_type> Times(const std::string& folder)
{
  std::map<std::string, fs::file_time_type> times;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
  {
    const std::string path = fs::relative(entry.path(), folder).string();
    if (entry.is_regular_file() && path.rfind(".snakemake", 0) != 0)
    {
      times[path] = entry.last_write_time();
    }
  }
  return times;
}

// A report without the date it was made.
std::string Undated(std::string page)
{
  const size_t at = page.find("Made on ");
  return at == std::string::npos ? page : page.erase(at, 18);
}

const std::vector<std::string> kSubjectFiles = { "Range_values.txt", "asymmetry_final.clr", "asymmetry_final_abs.clr",
  "asymmetry_final_x.clr", "asymmetry_final_y.clr", "asymmetry_final_z.clr", "asymmetry_first.clr",
  "asymmetry_first_abs.clr", "asymmetry_first_x.clr", "asymmetry_first_y.clr", "asymmetry_first_z.clr", "distance.clr",
  "distance_x.clr", "distance_y.clr", "distance_z.clr", "headshape.tsv", "helmet_radial.clr", "helmet_x.clr",
  "helmet_y.clr", "helmet_z.clr", "ratio_change.clr", "ratio_final.clr", "ratio_first.clr", "report.html",
  "scaled_final.vtk", "statistics.tsv" };
}

TEST(Workflow, CohortRunsOnceMatchesTheToolsAndRerunsOnlyWhatChanged)
{
  const std::string dir = ScratchDir();
  // The tools, and nothing else, installed into a prefix.
  ASSERT_EQ(
    RunShell("cmake --install " + Quote(BUILD_DIR) + " --prefix " + Quote(dir + "/prefix") + " >/dev/null").status, 0);
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
  ASSERT_EQ(RunShell(Quote(std::string(TOOLS_DIR) + "/../sample/makesample") + ' ' + Quote(dir) + " 10 110").status, 0);

  const ToolRun first = Snakemake(dir, "out");
  ASSERT_EQ(first.status, 0) << first.output;
  const std::string out = dir + "/out";
  for (const std::string subject : { "s01", "s02", "s03" })
  {
    for (const std::string& name : kSubjectFiles)
    {
      EXPECT_TRUE(fs::is_regular_file(out + "/" + subject + "/" + name)) << subject << '/' << name;
    }
  }

  // Subject s02 by hand, with the same arguments, in a folder of its own.
  const std::string bin = dir + "/prefix/bin/";
  const std::string scans = dir + "/cohort/subjects/s02/";
  const std::string hand = dir + "/hand";
  fs::create_directory(hand);
  auto run = [&](const std::string& folder, const std::string& line) {
    return RunShell("cd " + Quote(folder) + " && " + line);
  };
  const std::string first_ = Quote(scans + "first.vtk"), final_ = Quote(scans + "final.vtk");
  const std::string cohort = dir + "/cohort/";
  EXPECT_EQ(
    run(hand,
      bin + "celldist " + final_ + ' ' + first_ + " distance.clr 5 -5 distance_x.clr distance_y.clr distance_z.clr")
      .status,
    1);
  for (const std::string scan : { "first", "final" })
  {
    const std::string b = "asymmetry_" + scan;
    EXPECT_EQ(run(hand,
                bin + "mirrorasym " + Quote(scans + scan + ".vtk") + ' ' + Quote(cohort + "template.vtk") + ' ' + b +
                  ".clr " + b + "_abs.clr " + b + "_x.clr " + b + "_y.clr " + b + "_z.clr -5 5 0")
                .status,
      1);
  }
  EXPECT_EQ(run(hand,
              bin + "scancompare " + first_ + ' ' + final_ + ' ' + Quote(cohort + "template_mask.clr") +
                " ratio_change.clr ratio_first.clr ratio_final.clr y")
              .status,
    0);
  EXPECT_EQ(run(hand,
              bin + "helmetdiff " + first_ + ' ' + final_ +
                " helmet_x.clr -5 5 helmet_y.clr -5 5 helmet_z.clr -5 5 "
                "helmet_radial.clr -5 5 " +
                Quote(cohort + "helmet_mask.clr") + " scaled_final.vtk y")
              .status,
    0);
  EXPECT_EQ(run(scans, bin + "headshape first.vtk final.vtk > " + Quote(hand + "/headshape.tsv")).status, 0);
  EXPECT_EQ(
    run(scans,
      Quote(std::string(SOURCE_DIR) + "/scripts/with_display.sh") + ' ' + bin +
        "scanreport first.vtk final.vtk ../../template.vtk ../../template_mask.clr " + Quote(hand + "/report.html"))
      .status,
    0);
  std::string colorFiles;
  for (const std::string& name : kSubjectFiles)
  {
    colorFiles += name.size() > 4 && name.substr(name.size() - 4) == ".clr" ? name + ' ' : "";
  }
  EXPECT_EQ(run(hand, bin + "colorstats " + colorFiles + "> statistics.tsv").status, 0);
  for (const std::string& name : kSubjectFiles)
  {
    const std::string made = ReadText(out + "/s02/" + name), byHand = ReadText(hand + "/" + name);
    EXPECT_FALSE(made.empty()) << name;
    EXPECT_TRUE(name == "report.html" ? Undated(made) == Undated(byHand) : made == byHand) << name;
  }

  // The cohort files: the measures and statistics of every subject, and the averages.
  const std::vector<std::string> measures = ReadLines(out + "/cohort_measures.tsv");
  ASSERT_EQ(measures.size(), 7u);
  EXPECT_EQ(measures[0], "subject\tscan\t" + ReadLines(hand + "/headshape.tsv")[0]);
  EXPECT_EQ(measures[3], "s02\tfirst\t" + ReadLines(hand + "/headshape.tsv")[1]);
  EXPECT_EQ(measures[4], "s02\tfinal\t" + ReadLines(hand + "/headshape.tsv")[2]);
  EXPECT_EQ(measures[6].substr(0, 10), "s03\tfinal\t");
  const std::vector<std::string> statistics = ReadLines(out + "/cohort_statistics.tsv");
  ASSERT_EQ(statistics.size(), 1 + 3 * (ReadLines(hand + "/statistics.tsv").size() - 1));
  EXPECT_EQ(statistics[0], "subject\t" + ReadLines(hand + "/statistics.tsv")[0]);
  EXPECT_EQ(statistics[22], "s02\t" + ReadLines(hand + "/statistics.tsv")[1]);
  for (const std::string scan : { "first", "final" })
  {
    WriteText(hand + "/list.txt",
      cohort + "subjects/s01/" + scan + ".vtk\n" + cohort + "subjects/s02/" + scan + ".vtk\n" + cohort +
        "subjects/s03/" + scan + ".vtk\n");
    EXPECT_EQ(run(hand, bin + "meshmean list.txt average.vtk").status, 0);
    EXPECT_EQ(ReadText(out + "/average_" + scan + ".vtk"), ReadText(hand + "/average.vtk")) << scan;
  }

  // Again with nothing changed: nothing runs.
  const auto before = Times(out);
  const ToolRun again = Snakemake(dir, "out");
  EXPECT_EQ(again.status, 0);
  EXPECT_NE(again.output.find("Nothing to be done"), std::string::npos) << again.output;
  EXPECT_EQ(Times(out), before);

  // s02's first scan is touched: its jobs and the cohort files run, nothing
  // else. (Snakemake compares files under 100 kB by their content: the
  // cohort's scans are larger, as real ones are.)
  ASSERT_GT(fs::file_size(scans + "first.vtk"), 100000u);
  fs::last_write_time(scans + "first.vtk", fs::file_time_type::clock::now());
  const ToolRun changed = Snakemake(dir, "out");
  EXPECT_EQ(changed.status, 0) << changed.output;
  const auto after = Times(out);
  for (const auto& [path, time] : after)
  {
    const bool s02 = path.rfind("s02/", 0) == 0;
    const bool fromFirstScan =
      s02 && path.find("asymmetry_final") == std::string::npos && path != "s02/logs/mirrorasym_final.log";
    const bool cohortFile = path.find('/') == std::string::npos && path.find("average_final") == std::string::npos;
    EXPECT_EQ(time != before.at(path), fromFirstScan || cohortFile || path == "logs/meshmean_first.log") << path;
  }
}

TEST(Workflow, ARefusedSubjectFailsAloneAndASubjectWithoutBothScansIsLeftOut)
{
  const std::string dir = ScratchDir();
  ASSERT_EQ(
    RunShell("cmake --install " + Quote(BUILD_DIR) + " --prefix " + Quote(dir + "/prefix") + " >/dev/null").status, 0);
  ASSERT_EQ(RunShell(Quote(std::string(TOOLS_DIR) + "/../sample/makesample") + ' ' + Quote(dir) + " 8 60").status, 0);
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
