#include "testutil.h"
#include "tools/celldist/usage.h"

using namespace testutil;

namespace
{
const std::array<Point, 3> kFlat = { Point{ 0, 0, 0 }, Point{ 3, 0, 0 },
  Point{ 0, 3, 0 } }; // normal +z, centroid (1, 1, 0)

std::array<Point, 3> Moved(const std::array<Point, 3>& t, double dx, double dy, double dz)
{
  std::array<Point, 3> moved = t;
  for (Point& p : moved)
  {
    p = { p[0] + dx, p[1] + dy, p[2] + dz };
  }
  return moved;
}

using CellDist = ColorRun;

CellDist RunCellDist(const std::vector<std::array<Point, 3>>& source, const std::vector<std::array<Point, 3>>& target,
  const std::string& first = "5", const std::string& second = "-5")
{
  CellDist result{ ScratchDir(), {} };
  WriteTriangles(result.dir + "/source.vtk", source);
  WriteTriangles(result.dir + "/target.vtk", target);
  result.run =
    RunTool("celldist", { "target.vtk", "source.vtk", "d.clr", first, second, "x.clr", "y.clr", "z.clr" }, result.dir);
  return result;
}
}

TEST(CellDist, UsageOnFewerThanEightArguments)
{
  const std::string dir = ScratchDir();
  const ToolRun run = RunTool("celldist", { "a", "b", "c", "d", "e", "f", "g" }, dir);
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.output, kCellDistUsage);
  EXPECT_TRUE(std::filesystem::is_empty(dir));
}

TEST(CellDist, SignFollowsTheSideOfTheSourceTriangle)
{
  const auto result = RunCellDist({ kFlat, kFlat, kFlat, kFlat, kFlat, kFlat, kFlat, kFlat },
    {
      Moved(kFlat, 0, 0, 2),        // in front: along the normal
      Moved(kFlat, 0, 0, -2),       // behind
      Moved(kFlat, 2, 0, 2),        // 45 degrees
      Moved(kFlat, 2, 0, -2),       // 135 degrees
      Moved(kFlat, 3, 4, 0),        // in the plane: acos(0) exceeds the threshold
      Moved(kFlat, 100, 0, 1.5e-6), // just in front, but beyond the literal 1.5707963
      Moved(kFlat, 100, 0, 1e-5),   // in front, within the threshold
      kFlat,                        // not moved
    });
  EXPECT_EQ(result.run.status, 1);
  EXPECT_EQ(result.run.output, "5 -5\n");
  EXPECT_EQ(
    result.Values("d.clr"), (std::vector<std::string>{ "-2", "2", "-2.82843", "2.82843", "5", "100", "-100", "-0" }));
  EXPECT_EQ(result.Values("x.clr"), (std::vector<std::string>{ "0", "0", "2", "2", "3", "100", "100", "0" }));
  EXPECT_EQ(result.Values("y.clr"), (std::vector<std::string>{ "0", "0", "0", "0", "4", "0", "0", "0" }));
  EXPECT_EQ(result.Values("z.clr")[0], "2");
  EXPECT_EQ(result.Values("z.clr")[1], "-2");
}

TEST(CellDist, DegenerateSourceTriangleGivesMinusTheDistance)
{
  const std::array<Point, 3> line = { Point{ 0, 0, 0 }, Point{ 1, 0, 0 }, Point{ 2, 0, 0 } };
  const auto result = RunCellDist({ line }, { Moved(line, 0, 0, -3) });
  EXPECT_EQ(result.Values("d.clr"), (std::vector<std::string>{ "-3" }));
}

TEST(CellDist, FilesHoldHeaderRangeAsTypedAndValueText)
{
  const std::array<Point, 3> around = { Point{ -1, -1, 0 }, Point{ 2, -1, 0 }, Point{ -1, 2, 0 } }; // centroid 0
  const auto result = RunCellDist({ around }, { Moved(around, 2.5e6, 0, 0.00001234) }, "10.0", "-10.0");
  EXPECT_EQ(result.run.output, "10.0 -10.0\n");
  EXPECT_EQ(ReadText(result.dir + "/d.clr"), ColorFile("10.0 -10.0", "rainbow", { "2.5e+06" }));
  EXPECT_EQ(ReadText(result.dir + "/x.clr"), ColorFile("10.0 -10.0", "rainbow", { "2.5e+06" }));
  EXPECT_EQ(ReadText(result.dir + "/y.clr"), ColorFile("10.0 -10.0", "rainbow", { "0" }));
  EXPECT_EQ(ReadText(result.dir + "/z.clr"), ColorFile("10.0 -10.0", "rainbow", { "1.234e-05" }));
}

TEST(CellDist, SourceWithoutCellsGivesHeaderOnlyFilesAndExtraArgumentsAreIgnored)
{
  const std::string dir = ScratchDir();
  WriteSurfaceFile(dir + "/source.vtk", { { 0, 0, 0 } }, {});
  WriteTriangles(dir + "/target.vtk", { kFlat });
  const ToolRun run =
    RunTool("celldist", { "target.vtk", "source.vtk", "d.clr", "a", "b", "x.clr", "y.clr", "z.clr", "extra" }, dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "a b\n");
  for (const char* name : { "d.clr", "x.clr", "y.clr", "z.clr" })
  {
    EXPECT_EQ(ReadText(dir + "/" + name), ColorFile("a b", "rainbow", {})) << name;
  }
}

TEST(CellDist, RefusesBadInputsWithOneLineAndNoFiles)
{
  const std::string dir = ScratchDir();
  WriteTriangles(dir + "/one.vtk", { kFlat });
  WriteTriangles(dir + "/two.vtk", { kFlat, kFlat });
  WriteText(dir + "/badid.vtk",
    "# vtk DataFile Version 4.2\nx\nASCII\nDATASET POLYDATA\nPOINTS 3 float\n0 0 0 1 0 0 0 1 0\nPOLYGONS 1 4\n3 0 1 3\n");
  const std::vector<std::pair<std::string, std::string>> pairs = { { "missing.vtk", "two.vtk" },
    { "two.vtk", "missing.vtk" }, { "one.vtk", "two.vtk" }, { "two.vtk", "badid.vtk" } };
  for (const auto& [target, source] : pairs)
  {
    const ToolRun run = RunTool("celldist", { target, source, "d.clr", "5", "-5", "x.clr", "y.clr", "z.clr" }, dir);
    EXPECT_EQ(run.status, 255) << target << ' ' << source;
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
    EXPECT_EQ(run.output.find("5 -5"), std::string::npos) << run.output;
    EXPECT_FALSE(std::filesystem::exists(dir + "/d.clr"));
  }
}

TEST(CellDist, OutputThatCannotBeWrittenIsReportedAndTheOthersAreWritten)
{
  const std::string dir = ScratchDir();
  WriteTriangles(dir + "/s.vtk", { kFlat });
  const ToolRun run = RunTool("celldist", { "s.vtk", "s.vtk", "d.clr", "1", "2", "no/x.clr", "y.clr", "z.clr" }, dir);
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.output, "1 2\nCannot create output file no/x.clr\n");
  EXPECT_EQ(ReadText(dir + "/d.clr"), ColorFile("1 2", "rainbow", { "-0" }));
  EXPECT_EQ(ReadText(dir + "/z.clr"), ColorFile("1 2", "rainbow", { "0" }));
}
