// The seven surface tools run on the calling thread alone: each is run with
// the thread probe, which ends a program at the first thread it starts.
#include "testutil.h"

using namespace testutil;

TEST(Threads, TheSevenToolsStartNoThreadOnTheirRegularInputs)
{
  const std::string dir = ScratchDir();
  ASSERT_EQ(RunShell(Quote(std::string(TOOLS_DIR) + "/../sample/makesample") + ' ' + Quote(dir) + " 12 100").status, 0);
  // A surface of squares: its queries are all left to VTK's locator, which
  // is then built.
  WriteSurfaceFile(dir + "/squares.vtk",
    { { 0, 0, 0 }, { 10, 0, 0 }, { 10, 10, 0 }, { 0, 10, 0 }, { 20, 0, 0 }, { 20, 10, 0 } },
    { { 0, 1, 2, 3 }, { 1, 4, 5, 2 } });
  WriteText(dir + "/across.crv", "5 5 -1\n5 5 1\n15 5 3\n15 5 -3\n");
  WriteText(dir + "/list.txt", "template.vtk\nfirstscan.vtk\nfinalscan.vtk");
  const std::string report = dir + "/threads.txt";
  const std::string probe =
    "env ASAN_OPTIONS=verify_asan_link_order=0 THREADPROBE_FORBID=1 THREADPROBE_REPORT=" + Quote(report) +
    " LD_PRELOAD=" + Quote(std::string(BUILD_DIR) + "/bench/libthreadprobe.so");
  const std::vector<std::tuple<std::string, std::vector<std::string>, int>> runs = {
    { "celldist", { "finalscan.vtk", "firstscan.vtk", "d.clr", "5", "-5", "x.clr", "y.clr", "z.clr" }, 1 },
    { "mirrorasym", { "firstscan.vtk", "template.vtk", "a.clr", "m.clr", "x.clr", "y.clr", "z.clr", "-5", "5", "0" },
      1 },
    { "scancompare", { "firstscan.vtk", "finalscan.vtk", "template_mask.clr", "s.clr", "f.clr", "l.clr", "y" }, 0 },
    { "helmetdiff",
      { "firstscan.vtk", "finalscan.vtk", "x.clr", "-5", "5", "y.clr", "-5", "5", "z.clr", "-5", "5", "r.clr", "-5",
        "5", "helmet_mask.clr", "scaled.vtk", "y" },
      0 },
    { "meshmean", { "list.txt", "mean.vtk" }, 0 },
    { "curvesnap", { "finalscan.vtk", "headring.crv", "ring.sln" }, 0 },
    { "lineintersect", { "finalscan.vtk", "segments.crv", "marks.log" }, 0 },
    { "curvesnap", { "squares.vtk", "across.crv", "squares.sln" }, 0 },
    { "lineintersect", { "squares.vtk", "across.crv", "squares.log" }, 0 },
  };
  for (const auto& [tool, args, status] : runs)
  {
    EXPECT_EQ(RunToolWith(probe, tool, args, dir).status, status) << tool << ' ' << args[0];
  }
  // The probe was there: every run reports one thread.
  std::vector<std::string> expected;
  for (const auto& run : runs)
  {
    expected.push_back(std::get<0>(run) + " 1");
  }
  std::vector<std::string> reported;
  for (const std::string& line : ReadLines(report))
  {
    if (line.rfind("timeout ", 0) != 0)
    {
      reported.push_back(line);
    }
  }
  EXPECT_EQ(reported, expected);
  // The squares were answered by the locator.
  EXPECT_EQ(ReadText(dir + "/squares.log"), "5 5 0 NoName 1 0\n15 5 0 NoName 1 1\n");
}
