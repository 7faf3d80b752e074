// Fuzzes the tools themselves, in this process: each tool's main is built in
// under another name and run on files cut from the input.
//
// The input is a selector byte, then up to three parts separated by lines
// "==": A and B (surfaces) and C (a curve, a mask or a list file), written
// to a.vtk, b.vtk and c.txt in the fuzzing folder, which is the working
// folder. The selector picks the tool (selector % 7), the flag of scancompare
// and helmetdiff (bit 0 of selector / 7), and where the outputs go (bits 1
// and 2: plain files, files in a missing folder, or existing folders).
//
// The tools keep their VTK objects until the process ends, so each run
// leaves them behind: run this harness in libFuzzer's fork mode, whose
// short-lived jobs return that memory (scripts/fuzz.sh does).
#include "fuzzfiles.h"

#include <vtkLogger.h>
#include <vtkOutputWindow.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

int CelldistMain(int argc, char* argv[]);
int MirrorasymMain(int argc, char* argv[]);
int ScancompareMain(int argc, char* argv[]);
int MeshmeanMain(int argc, char* argv[]);
int CurvesnapMain(int argc, char* argv[]);
int LineintersectMain(int argc, char* argv[]);
int HelmetdiffMain(int argc, char* argv[]);

namespace
{
// The open file descriptors, less the one that lists them.
std::set<int> OpenDescriptors()
{
  std::set<int> descriptors;
  DIR* folder = opendir("/proc/self/fd");
  if (!folder)
  {
    std::abort();
  }
  while (const dirent* entry = readdir(folder))
  {
    if (entry->d_name[0] != '.' && std::atoi(entry->d_name) != dirfd(folder))
    {
      descriptors.insert(std::atoi(entry->d_name));
    }
  }
  closedir(folder);
  return descriptors;
}

// Runs a tool's main. VTK's reader keeps a file open when it stops at an
// unknown file type, until the reader is deleted, and the tools never delete
// it: harmless in a tool's own short process, but here the descriptors would
// run out. Those that the run leaves open are closed.
int Run(int (*tool)(int, char*[]), std::vector<std::string> args)
{
  std::vector<char*> argv;
  for (std::string& a : args)
  {
    argv.push_back(a.data());
  }
  argv.push_back(nullptr);
  const std::set<int> before = OpenDescriptors();
  const int status = tool(static_cast<int>(args.size()), argv.data());
  for (int descriptor : OpenDescriptors())
  {
    if (before.count(descriptor) == 0)
    {
      close(descriptor);
    }
  }
  return status;
}

// The next part of [at, end): up to the separator line or the end.
std::string NextPart(const char*& at, const char* end)
{
  static const char kSeparator[] = "\n==\n";
  const char* stop = std::search(at, end, kSeparator, kSeparator + 4);
  std::string part(at, stop);
  at = stop == end ? end : stop + 4;
  return part;
}
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  vtkOutputWindow::GetInstance()->SetDisplayModeToNever();
  vtkLogger::SetStderrVerbosity(vtkLogger::VERBOSITY_OFF);
  if (chdir(fuzzfiles::Folder().c_str()) != 0)
  {
    std::abort();
  }
  std::filesystem::create_directory("folder");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size == 0)
  {
    return 0;
  }
  const int tool = data[0] % 7;
  const int variant = data[0] / 7;
  const char* flag = variant & 1 ? "n" : "y";
  const int place = (variant >> 1) % 3;
  const char* at = reinterpret_cast<const char*>(data) + 1;
  const char* end = reinterpret_cast<const char*>(data) + size;
  const std::string a = NextPart(at, end);
  const std::string b = NextPart(at, end);
  const std::string c = NextPart(at, end);
  fuzzfiles::Write("a.vtk", a.data(), a.size());
  fuzzfiles::Write("b.vtk", b.data(), b.size());
  fuzzfiles::Write("c.txt", c.data(), c.size());
  auto out = [place](const char* name) {
    return place == 0 ? std::string(name) : place == 1 ? "missing/" + std::string(name) : std::string("folder");
  };

  switch (tool)
  {
    case 0:
      Run(CelldistMain,
        { "celldist", "a.vtk", "b.vtk", out("d.clr"), "5", "-5", out("x.clr"), out("y.clr"), out("z.clr") });
      break;
    case 1:
      Run(MirrorasymMain,
        { "mirrorasym", "a.vtk", "b.vtk", out("s.clr"), out("m.clr"), out("x.clr"), out("y.clr"), out("z.clr"), "-5",
          "5", "0" });
      break;
    case 2:
      Run(
        ScancompareMain, { "scancompare", "a.vtk", "b.vtk", "c.txt", out("d.clr"), out("f.clr"), out("l.clr"), flag });
      std::remove("Range_values.txt");
      break;
    case 3:
      Run(MeshmeanMain, { "meshmean", "c.txt", out("mean.vtk") });
      break;
    case 4:
      Run(CurvesnapMain, { "curvesnap", "a.vtk", "c.txt", out("snapped.crv") });
      break;
    case 5:
      Run(LineintersectMain, { "lineintersect", "a.vtk", "c.txt", out("marks.log") });
      break;
    case 6:
      Run(HelmetdiffMain,
        { "helmetdiff", "a.vtk", "b.vtk", out("x.clr"), "-5", "5", out("y.clr"), "-5", "5", out("z.clr"), "-5", "5",
          out("r.clr"), "-5", "5", "c.txt", out("scaled.vtk"), flag });
      break;
  }
  return 0;
}
