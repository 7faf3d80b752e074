// A one-node Slurm cluster of a test's own, on localhost: munged with its
// own key and socket, slurmctld and slurmd with their own slurm.conf, state
// and spool folders, all in a folder of its own under /tmp (short: the
// sockets' paths are at most 108 bytes), on ports free when it starts. While the cluster lives, SLURM_CONF names its
// configuration, so that sbatch, squeue and scancel (and snakemake's jobs) use it. Problem() says why it could not
// start (empty when it runs); the daemons it started are stopped by their process ids when it goes, their jobs
// cancelled first, and its folder removed. Needs Debian's slurm-wlm and munge (scripts/setup.sh installs them) and
// root, as slurmd runs jobs as their users.
#pragma once

#include "testutil.h"

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

namespace slurmcluster
{
namespace fs = std::filesystem;

// A TCP port of localhost that is free now, 0 where none is found.
inline int FreePort()
{
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 0;
  if (s >= 0 && bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0)
  {
    port = ntohs(address.sin_port);
  }
  if (s >= 0)
  {
    close(s);
  }
  return port;
}

// The node's memory in MB, as slurmd counts it.
inline long MemoryMb()
{
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  long kb = 0;
  meminfo >> key >> kb;
  return kb / 1024 - 64;
}

class Cluster
{
public:
  // Starts the cluster with a node of 2 CPUs.
  Cluster()
  {
    char folder[] = "/tmp/surftools-slurm-XXXXXX";
    dir_ = mkdtemp(folder) ? folder : "";
    if (dir_.empty())
    {
      problem_ = "no folder for the cluster in /tmp";
      return;
    }
    for (const std::string daemon : { "munged", "slurmctld", "slurmd", "sbatch" })
    {
      if (testutil::RunShell("command -v " + daemon + " >/dev/null").status != 0)
      {
        problem_ = daemon + " is not installed (scripts/setup.sh installs slurm-wlm and munge)";
        return;
      }
    }
    if (geteuid() != 0)
    {
      problem_ = "slurmd runs jobs as their users and needs root";
      return;
    }
    Configure();
    setenv("SLURM_CONF", (dir_ + "/slurm.conf").c_str(), 1);
    const std::string log = " >>" + testutil::Quote(dir_ + "/daemons.log") + " 2>&1";
    Start("munged",
      "munged --key-file=" + dir_ + "/munge.key --socket=" + dir_ + "/munge/socket --pid-file=" + dir_ +
        "/munged.pid --log-file=" + dir_ + "/munged.log --seed-file=" + dir_ + "/munge.seed" + log,
      "munged.pid", "munged.log");
    Start("slurmctld", "slurmctld -i" + log, "slurmctld.pid", "slurmctld.log");
    Start("slurmd", "slurmd -N localhost" + log, "slurmd.pid", "slurmd.log");
    if (problem_.empty())
    {
      AwaitIdleNode();
    }
  }

  ~Cluster()
  {
    if (!pids_.empty())
    {
      testutil::RunShell("scancel --user=root >/dev/null 2>&1; sleep 1");
    }
    // The last started first: slurmd, slurmctld, then munged.
    for (auto pid = pids_.rbegin(); pid != pids_.rend(); ++pid)
    {
      kill(*pid, SIGTERM);
      for (int tries = 0; tries < 50 && kill(*pid, 0) == 0; ++tries)
      {
        usleep(100000);
      }
      if (kill(*pid, 0) == 0)
      {
        kill(*pid, SIGKILL);
      }
    }
    unsetenv("SLURM_CONF");
    if (!dir_.empty())
    {
      fs::remove_all(dir_);
    }
  }

  Cluster(const Cluster&) = delete;
  Cluster& operator=(const Cluster&) = delete;

  // Why the cluster does not run; empty when it does.
  const std::string& Problem() const { return problem_; }

private:
  // slurm.conf and munge's key: no cgroups (a container may have none), no
  // accounting storage; ended jobs known to scontrol for ten minutes.
  void Configure() const
  {
    fs::permissions(dir_, fs::perms(0755));
    fs::create_directories(dir_ + "/munge");
    fs::create_directories(dir_ + "/state");
    fs::create_directories(dir_ + "/spool");
    fs::permissions(dir_ + "/munge", fs::perms(0755));
    testutil::RunShell("head -c 1024 /dev/urandom >" + testutil::Quote(dir_ + "/munge.key"));
    fs::permissions(dir_ + "/munge.key", fs::perms(0600));
    testutil::WriteText(dir_ + "/slurm.conf",
      "ClusterName=surftoolstest\nSlurmctldHost=localhost(127.0.0.1)\nSlurmctldPort=" + std::to_string(FreePort()) +
        "\nSlurmdPort=" + std::to_string(FreePort()) +
        "\nAuthType=auth/munge\nCredType=cred/munge\nAuthInfo=socket=" + dir_ +
        "/munge/socket\nSlurmUser=root\nSlurmdUser=root\nStateSaveLocation=" + dir_ + "/state\nSlurmdSpoolDir=" + dir_ +
        "/spool\nSlurmctldPidFile=" + dir_ + "/slurmctld.pid\nSlurmdPidFile=" + dir_ +
        "/slurmd.pid\nSlurmctldLogFile=" + dir_ + "/slurmctld.log\nSlurmdLogFile=" + dir_ +
        "/slurmd.log\n"
        "ProctrackType=proctrack/linuxproc\nTaskPlugin=task/none\nJobAcctGatherType=jobacct_gather/none\n"
        "AccountingStorageType=accounting_storage/none\nJobCompType=jobcomp/none\nSelectType=select/cons_tres\n"
        "SelectTypeParameters=CR_CPU_Memory\nMinJobAge=600\nReturnToService=2\nMpiDefault=none\n"
        "NodeName=localhost NodeAddr=127.0.0.1 CPUs=2 RealMemory=" +
        std::to_string(MemoryMb()) + " State=UNKNOWN\nPartitionName=main Nodes=localhost Default=YES State=UP\n");
  }

  // Runs a daemon's command line (it forks into the background) and keeps
  // the process id it writes, waiting up to 30 seconds for it (slurmctld
  // writes it once its state is read, which took over 5 seconds on two
  // cores busy with the other tests); a daemon that does not start sets the
  // problem, with the end of its log.
  void Start(const std::string& name, const std::string& command, const std::string& pidFile, const std::string& log)
  {
    if (!problem_.empty())
    {
      return;
    }
    const testutil::ToolRun run = testutil::RunShell(command);
    for (int tries = 0; tries < 300 && run.status == 0 && !fs::exists(dir_ + '/' + pidFile); ++tries)
    {
      usleep(100000);
    }
    const std::vector<std::string> pid = testutil::ReadLines(dir_ + '/' + pidFile);
    if (run.status != 0 || pid.empty() || std::atoi(pid[0].c_str()) <= 0)
    {
      problem_ = name + " did not start: " + Tail(log) + Tail("daemons.log");
      return;
    }
    pids_.push_back(std::atoi(pid[0].c_str()));
  }

  // Waits up to half a minute for the node to take jobs.
  void AwaitIdleNode()
  {
    for (int tries = 0; tries < 60; ++tries)
    {
      if (testutil::RunShell("sinfo --noheader --format=%T 2>/dev/null").output == "idle\n")
      {
        return;
      }
      usleep(500000);
    }
    problem_ = "the node did not come up: " + Tail("slurmctld.log") + Tail("slurmd.log");
  }

  // The last lines of a file of the cluster's folder.
  std::string Tail(const std::string& name) const
  {
    return testutil::RunShell("tail -n 5 " + testutil::Quote(dir_ + '/' + name) + " 2>/dev/null").output;
  }

  std::string dir_;
  std::string problem_;
  std::vector<pid_t> pids_;
};
}
