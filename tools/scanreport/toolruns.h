// The runs of the tools beside scanreport (celldist, colorsnap, ...) as child
// processes in a scratch folder, as many at once as the process may use
// cores, each one's standard output kept in a file there. Nothing is printed;
// a run that fails is reported as text.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// A run of one of the tools: its arguments (names in the scratch folder) and
// the exit status with which a completed run ends.
struct Job
{
  std::string tool;
  std::vector<std::string> arguments;
  int expectedStatus;
};

// The tool beside this program: in the same folder (installed), or in the
// build tree's tools/<name>/<name>. Empty when there is none.
std::string ToolPath(const std::string& tool);

// Runs the jobs (they are independent) in `scratch`, as many at once as the
// process has cores (WorkThreads), and waits for all. Returns an empty text
// when each ended with its expected status, else a line about the first one
// that did not ("TOOL ended with exit status N: its first line", "TOOL did
// not end normally"); `outputs` gets what each printed.
std::string RunJobs(std::vector<Job>& jobs, const std::filesystem::path& scratch, std::vector<std::string>& outputs);

// The bytes of a file; empty when it cannot be read.
std::string ReadWhole(const std::filesystem::path& path);
