#include "tools/scanreport/toolruns.h"

#include "parallel/parallel.h"

#include <cerrno>
#include <fstream>
#include <iostream>
#include <sstream>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace
{
// Starts job j in the scratch folder, its standard output into a file there;
// returns its process id (-1 when it could not be started).
pid_t StartJob(Job& job, size_t j, const fs::path& scratch)
{
  const std::string path = ToolPath(job.tool);
  const std::string outputPath = (scratch / (job.tool + '.' + std::to_string(j) + ".out")).string();
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (std::string& argument : job.arguments)
  {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  std::cout.flush();
  const pid_t pid = fork();
  if (pid == 0)
  {
    const int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = open("/dev/null", O_RDONLY);
    if (out < 0 || in < 0 || dup2(out, 1) < 0 || dup2(in, 0) < 0 || chdir(scratch.c_str()) != 0)
    {
      _exit(127);
    }
    execv(path.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}
}

std::string ReadWhole(const fs::path& path)
{
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string ToolPath(const std::string& tool)
{
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  for (const fs::path& candidate : { self.parent_path() / tool, self.parent_path().parent_path() / tool / tool })
  {
    if (!error && access(candidate.c_str(), X_OK) == 0 && !fs::is_directory(candidate))
    {
      return candidate.string();
    }
  }
  return "";
}

std::string RunJobs(std::vector<Job>& jobs, const fs::path& scratch, std::vector<std::string>& outputs)
{
  std::vector<pid_t> pids(jobs.size(), -1);
  outputs.assign(jobs.size(), "");
  const size_t width = WorkThreads();
  for (size_t j = 0; j < jobs.size() && j < width; ++j)
  {
    pids[j] = StartJob(jobs[j], j, scratch);
  }
  std::string problem;
  for (size_t j = 0; j < jobs.size(); ++j)
  {
    const Job& job = jobs[j];
    int status = -1;
    if (pids[j] > 0)
    {
      while (waitpid(pids[j], &status, 0) < 0 && errno == EINTR)
      {
      }
    }
    if (j + width < jobs.size())
    {
      pids[j + width] = StartJob(jobs[j + width], j + width, scratch);
    }
    outputs[j] = ReadWhole(scratch / (job.tool + '.' + std::to_string(j) + ".out"));
    const int exitStatus = pids[j] > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (problem.empty() && exitStatus != (job.expectedStatus & 255))
    {
      const std::string line = outputs[j].substr(0, outputs[j].find('\n'));
      problem = job.tool +
        (exitStatus < 0 ? std::string(" did not end normally")
                        : " ended with exit status " + std::to_string(exitStatus)) +
        (line.empty() ? "" : ": " + line);
    }
  }
  return problem;
}
