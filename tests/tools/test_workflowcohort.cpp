// The cohort workflow's statistics on the sample cohort of visits: the change
// maps (as they are and beyond growth, with each subject's growth) and the
// modes equal shapestats run by hand on the lists the workflow
// wrote, a subject's score equals shapestats score against the other
// subjects' first visits, the cohort page and a subject's page show every
// picture in a browser and fetch nothing, and a run again does nothing.
#include "tools/browserpage.h"
#include "tools/workflowrun.h"

using namespace testutil;
using namespace workflowrun;

namespace
{
// Runs shapestats by hand in DIR/`cwd` (its arguments, the folder DIR/hand,
// then `after`) and expects each of `files` in `folder` of the workflow's output,
// and what it printed, to equal those of the hand run.
void ExpectAsByHand(const std::string& dir, const std::string& arguments, const std::string& folder,
  const std::vector<std::string>& files, const std::string& after = "", const std::string& cwd = ".")
{
  const ToolRun hand = RunShell("cd " + Quote(dir + '/' + cwd) + " && " + Quote(dir + "/prefix/bin/shapestats") + ' ' +
    arguments + ' ' + Quote(dir + "/hand") + after);
  ASSERT_EQ(hand.status, 0) << hand.output;
  for (const std::string& file : files)
  {
    EXPECT_EQ(ReadText(dir + "/out/" + folder + '/' + file), ReadText(dir + "/hand/" + file)) << file;
  }
  EXPECT_EQ(ReadText(dir + "/out/" + folder + "/summary.txt"), hand.output);
  fs::remove_all(dir + "/hand");
}
}

TEST(Workflow, CohortStatisticsAreShapestatsByHandOnPagesOfTheirOwn)
{
  const std::string dir = ScratchDir();
  ASSERT_TRUE(InstallTools(dir));
  ASSERT_EQ(RunShell(Quote(std::string(TOOLS_DIR) + "/../sample/makesample") + ' ' + Quote(dir) + " 12 100").status, 0);
  const ToolRun run = Snakemake(dir, "out");
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string out = dir + "/out/";

  // Five subjects (r01, s01, s02, s03, t01), their visits in subject order.
  const std::vector<std::string> first = ReadLines(out + "cohort/first_visits.txt");
  ASSERT_EQ(first.size(), 5u);
  EXPECT_EQ(first[0], out + "r01/v1/fitted.vtk");
  EXPECT_EQ(first[1], dir + "/cohort/subjects/s01/first.vtk");
  const std::string lists = Quote(out + "cohort/first_visits.txt") + ' ' + Quote(out + "cohort/final_visits.txt");
  ExpectAsByHand(dir, "change " + lists, "cohort/change",
    { "change_mean.clr", "change_t.clr", "change_q.clr", "change_significant.clr", "summary.tsv" });
  // Beyond growth, and each subject's growth from it: the sample's heads
  // grow to the growth standard's median between their visits.
  ExpectAsByHand(dir, "change " + lists, "cohort/change_beyond_growth",
    { "change_mean.clr", "change_t.clr", "change_q.clr", "change_significant.clr", "summary.tsv", "growth.tsv" },
    " size");
  const std::vector<std::string> growth = ReadLines(out + "cohort_growth.tsv");
  ASSERT_EQ(growth.size(), 6u);
  EXPECT_EQ(growth[0], "subject\tfirst_age_days\tlatest_age_days\tgrowth_factor\tgrowth_percent_per_month");
  for (size_t s = 1; s < growth.size(); ++s)
  {
    const std::vector<std::string> row = TabFields(growth[s]);
    ASSERT_EQ(row.size(), 5u) << growth[s];
    const double factor = std::stod(row[3]), months = (std::stod(row[2]) - std::stod(row[1])) / 30.4375;
    EXPECT_GT(factor, 1.03) << growth[s];
    EXPECT_LT(factor, 1.2) << growth[s];
    EXPECT_NEAR(std::stod(row[4]), 100 * (factor - 1) / months, 1e-4) << growth[s];
  }
  EXPECT_EQ(TabFields(growth[1])[0], "r01");
  // As many modes as subjects less one.
  ExpectAsByHand(dir, "modes " + Quote(out + "cohort/first_visits.txt"), "cohort/modes",
    { "modes.tsv", "scores.tsv", "mean.vtk", "mode1.clr", "mode4.clr", "mode4_plus2sd.vtk" }, " 4");
  EXPECT_EQ(ReadLines(out + "cohort/modes/modes.tsv").size(), 5u);

  // s01 against the four others' first visits.
  std::string others;
  for (size_t s = 0; s < first.size(); ++s)
  {
    others += s == 1 ? "" : first[s] + '\n';
  }
  WriteText(dir + "/others.txt", others);
  ExpectAsByHand(
    dir, "score " + Quote(dir + "/others.txt") + ' ' + Quote(first[1]), "s01/score", { "zscore.clr", "score.tsv" });

  // The pages: the cohort's (two change maps as they are, two beyond growth,
  // four modes) and s01's (five maps and the z-scores).
  const std::string index = ReadText(out + "cohort/index.html");
  EXPECT_NE(index.find("<h1>Cohort statistics: 5 subjects</h1>"), std::string::npos);
  EXPECT_NE(index.find("<li>Subjects: 5, cells: 4600</li>"), std::string::npos);
  EXPECT_NE(index.find("<h2>Change beyond growth</h2>"), std::string::npos);
  EXPECT_NE(index.find("<li>Growth factors (latest against first): mean "), std::string::npos);
  EXPECT_EQ(index.find(dir), std::string::npos) << "a machine path on the page";
  browserpage::ExpectSelfContained(out + "cohort/index.html", 8, dir + "/index.png");
  browserpage::ExpectSelfContained(out + "s01/report.html", 6, dir + "/report.png");

  // Nothing changed: nothing runs.
  const auto before = Times(out);
  const ToolRun again = Snakemake(dir, "out");
  EXPECT_NE(again.output.find("Nothing to be done"), std::string::npos) << again.output;
  EXPECT_EQ(Times(out), before);

  // With a reference list of relative names, taken from the list's folder:
  // the scores run again against it, the leave-one-out lists do not.
  fs::create_directories(dir + "/refs");
  WriteText(dir + "/refs/list.txt",
    "../cohort/subjects/s02/first.vtk\n../cohort/subjects/s03/first.vtk\n../cohort/subjects/t01/v1.vtk\n");
  const ToolRun referenced = Snakemake(dir, "out", "reference=refs/list.txt");
  ASSERT_EQ(referenced.status, 0) << referenced.output;
  ExpectAsByHand(dir, "score list.txt " + Quote(first[1]), "s01/score", { "zscore.clr", "score.tsv" }, "", "refs");
  EXPECT_EQ(Times(out).at("s01/score/reference.txt"), before.at("s01/score/reference.txt"));
}
