// The cohort workflow on Slurm: the sample cohort through the Slurm profile
// on a one-node cluster of the test's own (2 CPUs), its tables and a page
// equal to a local run's and no job asking for more than the node has; a
// run with a job cancelled while it runs and a job that can never start
// fails, naming both, instead of hanging; and the status command's answer
// to each state of a job, against stand-ins of Slurm's commands.
#include "tools/slurmcluster.h"
#include "tools/workflowrun.h"

#include <chrono>
#include <future>
#include <iostream>

using namespace testutil;
using namespace workflowrun;

namespace
{
// The Slurm profile, on more cores than the helper's 2: as in a cluster run
// without --cores, only the profile's cap keeps the jobs' threads in bounds.
const std::string kProfile = "--cores 64 --profile " + Quote(std::string(SOURCE_DIR) + "/workflow/profiles/slurm");

// Seconds since `start`.
double Since(std::chrono::steady_clock::time_point start)
{
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The sample cohort, small, of three children (r01 of raw scans, s01 and
// s02: a cluster job costs seconds of Snakemake's start), with the tools
// installed; Snakemake asks for each cluster job's state every second (as
// on CI) rather than every ten.
void SampleCohort(const std::string& dir)
{
  setenv("CI", "true", 0);
  ASSERT_TRUE(InstallTools(dir));
  ASSERT_EQ(RunShell(Quote(std::string(TOOLS_DIR) + "/../sample/makesample") + ' ' + Quote(dir) + " 8 60").status, 0);
  std::string visits;
  for (const std::string& row : ReadLines(dir + "/cohort/visits.tsv"))
  {
    visits += row.rfind("s03", 0) == 0 || row.rfind("t01", 0) == 0 ? "" : row + '\n';
  }
  WriteText(dir + "/cohort/visits.tsv", visits);
}

// A one-node Slurm cluster and the sample cohort for a test; the test is
// skipped, saying why on its output too, where the cluster cannot start.
class WorkflowOnSlurm : public ::testing::Test
{
protected:
  void SetUp() override
  {
    if (!cluster.Problem().empty())
    {
      std::cout << "No Slurm cluster: " << cluster.Problem() << std::endl;
      GTEST_SKIP() << "No Slurm cluster: " << cluster.Problem();
    }
    SampleCohort(dir);
  }

  const std::string dir = ScratchDir();
  slurmcluster::Cluster cluster;
};

// The status command's answer (its one line) and what it said on its error
// output, with stand-ins of scontrol and sacct that answer as given, and of
// scancel that notes the job it cancels in DIR/cancelled.
std::pair<std::string, std::string> Status(
  const std::string& dir, const std::string& scontrol, const std::string& sacct)
{
  fs::create_directories(dir + "/bin");
  WriteText(dir + "/bin/scontrol", "#!/bin/sh\n" + scontrol + "\n");
  WriteText(dir + "/bin/sacct", "#!/bin/sh\n" + sacct + "\n");
  WriteText(dir + "/bin/scancel", "#!/bin/sh\necho \"$1\" >" + Quote(dir + "/cancelled") + "\n");
  RunShell("chmod +x " + Quote(dir) + "/bin/*");
  const ToolRun run = RunShell("(PATH=" + Quote(dir + "/bin") + ":\"$PATH\" " +
    Quote(std::string(SOURCE_DIR) + "/workflow/scripts/slurm_status.py") + " '7;cluster' 2>" + Quote(dir + "/said") +
    ")");
  EXPECT_EQ(run.status, 0);
  return { run.output, ReadText(dir + "/said") };
}
}

TEST_F(WorkflowOnSlurm, TheSampleCohortRunsAsLocallyInJobsThatFitTheNode)
{
  auto start = std::chrono::steady_clock::now();
  const ToolRun local = Snakemake(dir, "local", "--printshellcmds cohort_statistics.tsv s01/report.html");
  ASSERT_EQ(local.status, 0) << local.output;
  std::cout << "Local run of the tables and s01's page: " << Since(start) << " s" << std::endl;
  start = std::chrono::steady_clock::now();
  const ToolRun slurm = Snakemake(dir, "cluster", kProfile, "timeout 600");
  ASSERT_EQ(slurm.status, 0) << slurm.output;
  std::cout << "The whole cohort on Slurm: " << Since(start) << " s" << std::endl;

  for (const std::string table : { "cohort_measures.tsv", "cohort_statistics.tsv" })
  {
    EXPECT_FALSE(ReadText(dir + "/cluster/" + table).empty()) << table;
    EXPECT_EQ(ReadText(dir + "/cluster/" + table), ReadText(dir + "/local/" + table)) << table;
  }
  EXPECT_EQ(Undated(ReadText(dir + "/cluster/s01/report.html")), Undated(ReadText(dir + "/local/s01/report.html")));
  // Every job ran on Slurm, wrote its output to slurm/<rule>-<id>.out and
  // ended COMPLETED, none on more CPUs than the node's 2 (scanreport's
  // four capped), the fits and the pages on 2.
  std::istringstream jobs(RunShell("squeue --noheader --states=all --format='%T %C %j'").output);
  std::map<std::string, int> count;
  std::string state, cpus, name;
  while (jobs >> state >> cpus >> name)
  {
    ++count[name];
    EXPECT_EQ(state, "COMPLETED") << name;
    EXPECT_EQ(cpus, name == "surftools-fit" || name == "surftools-scanreport" ? "2" : "1") << name;
  }
  EXPECT_EQ(count["surftools-scanreport"], 3);
  size_t all = 0;
  for (const auto& [rule, n] : count)
  {
    all += n;
  }
  EXPECT_EQ(all, static_cast<size_t>(std::distance(fs::directory_iterator(dir + "/cluster/slurm"), {})));
}

TEST_F(WorkflowOnSlurm, ACancelledJobAndAJobThatCanNeverStartFailTheRunByName)
{
  // The tools, but a celldist that never ends.
  fs::create_directories(dir + "/stuck");
  for (const auto& tool : fs::directory_iterator(dir + "/prefix/bin"))
  {
    fs::create_symlink(tool.path(), dir + "/stuck/" + tool.path().filename().string());
  }
  fs::remove(dir + "/stuck/celldist");
  WriteText(dir + "/stuck/celldist", "#!/bin/sh\nexec sleep 600\n");
  fs::permissions(dir + "/stuck/celldist", fs::perms(0755));

  // s01's celldist, cancelled once it runs; r01's first fit on 3 threads,
  // more than the node's CPUs; s02's measures, which need neither.
  const auto start = std::chrono::steady_clock::now();
  auto running = std::async(std::launch::async, [&] {
    return Snakemake(dir, "out",
      "bin=stuck --max-threads 3 --set-threads fit=3 " + kProfile +
        " s01/distance.clr r01/v1/fitted.vtk s02/measures.tsv",
      "timeout 300");
  });
  std::string job;
  for (int tries = 0; tries < 240 && job.empty(); ++tries)
  {
    job = RunShell("squeue --noheader --states=RUNNING --name=surftools-celldist --format=%i").output;
    usleep(job.empty() ? 500000 : 0);
  }
  ASSERT_FALSE(job.empty()) << "celldist's job never ran";
  job.pop_back();
  EXPECT_EQ(RunShell("scancel " + job).status, 0);
  const ToolRun run = running.get();
  std::cout << "The run failed " << Since(start) << " s after it started" << std::endl;

  EXPECT_NE(run.status, 0) << run.output;
  EXPECT_NE(run.status, 124) << "the run hung:\n" << run.output;
  EXPECT_NE(run.output.find("Slurm job " + job + " (surftools-celldist) ended CANCELLED"), std::string::npos)
    << run.output;
  EXPECT_NE(run.output.find("Error in rule celldist:"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("log: s01/logs/celldist.log"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("(surftools-fit) can never start (PartitionConfig: it asks for 3 CPUs"), std::string::npos)
    << run.output;
  EXPECT_NE(run.output.find("Error in rule fit:"), std::string::npos) << run.output;
  EXPECT_FALSE(fs::exists(dir + "/out/s01/distance.clr"));
  EXPECT_TRUE(fs::is_regular_file(dir + "/out/s02/measures.tsv"));
  // Nothing of the run waits in Slurm's queue.
  EXPECT_EQ(RunShell("squeue --noheader").output, "");
}

TEST(Workflow, TheSlurmStatusCommandFailsEveryEndButCompletedAndAJobThatCanNeverStart)
{
  const std::string dir = ScratchDir();
  const std::string line = "echo 'JobId=7 JobName=surftools-fit StdOut=/out/slurm/fit-7.out JobState=";
  const std::string unknown = "echo 'slurm_load_jobs error: Invalid job id specified' >&2; exit 1";
  EXPECT_EQ(Status(dir, line + "RUNNING Reason=None'", "exit 1").first, "running\n");
  EXPECT_EQ(Status(dir, line + "PENDING Reason=Priority'", "exit 1").first, "running\n");
  EXPECT_EQ(Status(dir, line + "PENDING Reason=ReqNodeNotAvail'", "exit 1").first, "running\n");
  EXPECT_EQ(Status(dir, line + "COMPLETING Reason=None'", "exit 1").first, "running\n");
  EXPECT_EQ(
    Status(dir, line + "COMPLETED Reason=None'", "exit 1"), std::make_pair(std::string("success\n"), std::string()));
  EXPECT_FALSE(fs::exists(dir + "/cancelled"));
  for (const std::string end :
    { "TIMEOUT Reason=TimeLimit", "OUT_OF_MEMORY Reason=OutOfMemory", "CANCELLED Reason=None",
      "NODE_FAIL Reason=NodeDown", "PREEMPTED Reason=None", "FAILED Reason=NonZeroExitCode" })
  {
    EXPECT_EQ(Status(dir, line + end + "'", "exit 1"),
      std::make_pair(std::string("failed\n"),
        "Slurm job 7 (surftools-fit) ended " + end.substr(0, end.find(' ')) + " (reason " +
          end.substr(end.find('=') + 1) + "); its output: /out/slurm/fit-7.out\n"));
  }
  // A job no node of its partition can take is cancelled.
  const auto never =
    Status(dir, line + "PENDING Reason=PartitionConfig CPUs/Task=4 MinMemoryNode=1000M TimeLimit=00:15:00'", "exit 1");
  EXPECT_EQ(never.first, "failed\n");
  EXPECT_EQ(never.second,
    "Slurm job 7 (surftools-fit) can never start (PartitionConfig: it asks for 4 CPUs per task, memory 1000M, time "
    "00:15:00, more than the partition's nodes or limits allow); cancelled\n");
  EXPECT_EQ(ReadText(dir + "/cancelled"), "7\n");
  // Past MinJobAge, from accounting where the cluster keeps it, else failed.
  EXPECT_EQ(Status(dir, unknown, "echo 'COMPLETED|None|surftools-fit'").first, "success\n");
  EXPECT_EQ(Status(dir, unknown, "echo 'CANCELLED by 0|None|surftools-fit'").first, "failed\n");
  EXPECT_EQ(Status(dir, unknown, "echo 'Slurm accounting storage is disabled' >&2; exit 1").first, "failed\n");
  // A controller that does not answer: asked again.
  EXPECT_EQ(Status(dir, "echo 'slurm_load_jobs error: Unable to contact slurm controller' >&2; exit 1", "exit 1").first,
    "running\n");
}
