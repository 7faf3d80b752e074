#include "testutil.h"

using namespace testutil;

namespace
{
using Landmarks = SquareRun;

Landmarks RunLines(const std::string& lines)
{
  return RunOnSquare("lineintersect", "lines.crv", lines, "out.log");
}

const char* const kUsage =
  "Usage:  target.vtk lines.crv out.log\n"
  "Inputs: target.vtk (surface to intersect); lines.crv (lines for intersection)\n"
  "Output: out.log (log file with coordinates of intersections, one intersect per line. If no intersection, then "
  "landmark is unset. \n"
  "Performs: for each line, intersect with surface, and return coord of intersection point, write landmark file.\n";

const char* const kUnset = "0 0 0 NoName 0 -1\n";
}

TEST(LineIntersect, UsageOnAnyOtherArgumentCount)
{
  for (const std::vector<std::string>& args :
    { std::vector<std::string>{}, { "a.vtk", "b.crv" }, { "a.vtk", "b.crv", "c.log", "d" } })
  {
    const std::string dir = ScratchDir();
    const ToolRun run = RunTool("lineintersect", args, dir);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.output, kUsage);
    EXPECT_TRUE(std::filesystem::is_empty(dir));
  }
}

TEST(LineIntersect, CrossingSegmentsAreSetAndOthersUnset)
{
  const Landmarks result = RunLines("2 1 -5\n2 1 5\n"     // crosses cell 0
                                    "10 9 5\n10 9 -5\n"   // crosses cell 1, from above
                                    "0 0 -2\n4 2 2\n"     // oblique, crosses half way
                                    "2 1 -5\n2 1 -1\n"    // stops short of the surface
                                    "30 30 -1\n30 30 1\n" // crosses the plane beside the square
                                    "0.1 0.2 3\n0.1 0.2 -3\n");
  EXPECT_EQ(result.run.status, 0);
  EXPECT_EQ(result.run.output, "npoints: 13\n");
  EXPECT_EQ(result.Output(),
    std::string("2 1 0 NoName 1 0\n10 9 0 NoName 1 1\n2 1 0 NoName 1 0\n") + kUnset + kUnset +
      "0.1 0.2 0 NoName 1 0\n");
}

TEST(LineIntersect, RowCountsFollowTheFinalLineFeed)
{
  const std::string two = "2 1 -5\n2 1 5\n10 9 5\n10 9 -5";
  const std::string hits = "2 1 0 NoName 1 0\n10 9 0 NoName 1 1\n";
  // 2L rows with a line feed: M = 2L + 1, the repeated point starts nothing.
  Landmarks result = RunLines(two + "\n");
  EXPECT_EQ(result.run.output, "npoints: 5\n");
  EXPECT_EQ(result.Output(), hits);
  // 2L rows without it: M = 2L.
  result = RunLines(two);
  EXPECT_EQ(result.run.output, "npoints: 4\n");
  EXPECT_EQ(result.Output(), hits);
  // 2L + 1 rows with a line feed: a last segment of length zero.
  result = RunLines(two + "\n2 1 -5\n");
  EXPECT_EQ(result.run.output, "npoints: 6\n");
  EXPECT_EQ(result.Output(), hits + kUnset);
  // 2L + 1 rows without it: the last row starts nothing.
  result = RunLines(two + "\n2 1 -5");
  EXPECT_EQ(result.run.output, "npoints: 5\n");
  EXPECT_EQ(result.Output(), hits);
  // An empty file: one point, no segment, an empty log.
  result = RunLines("");
  EXPECT_EQ(result.run.status, 0);
  EXPECT_EQ(result.run.output, "npoints: 1\n");
  EXPECT_TRUE(std::filesystem::exists(result.dir + "/out.log"));
  EXPECT_EQ(result.Output(), "");
}

TEST(LineIntersect, BlankLineShiftsThePairing)
{
  const Landmarks result = RunLines("2 1 -5\n2 1 5\n\n10 9 5\n10 9 -5\n");
  EXPECT_EQ(result.run.output, "npoints: 6\n");
  // (2 1 -5, 2 1 5), (2 1 5, 10 9 5) above the surface, (10 9 -5, 10 9 -5).
  EXPECT_EQ(result.Output(), std::string("2 1 0 NoName 1 0\n") + kUnset + kUnset);
}

TEST(LineIntersect, RowsOfOtherShapesAndOverlongLines)
{
  // Six- and seven-column rows, a CR LF row, and an overlong row whose rest
  // (numbers included) is skipped.
  const Landmarks result =
    RunLines("2 1 -5 0 0 0\n2 1 5 0.0 0.0 1.0 7\r\n10 9 5" + std::string(600, ' ') + "1 1 1\n10 9 -5\n");
  EXPECT_EQ(result.run.output, "npoints: 5\n");
  EXPECT_EQ(result.Output(), "2 1 0 NoName 1 0\n10 9 0 NoName 1 1\n");
  // The log's rows are curve rows: snapped onto the surface they stay put.
  const ToolRun snap = RunTool("curvesnap", { "target.vtk", "out.log", "snapped.sln" }, result.dir);
  EXPECT_EQ(snap.output, "npoints: 2\n");
  EXPECT_EQ(ReadText(result.dir + "/snapped.sln"), "2 1 0 0.0 0.0 1.0 0\n10 9 0 0.0 0.0 1.0 1\n");
}

TEST(LineIntersect, CoordinatesAreWrittenInSinglePrecisionWithSixDigits)
{
  const Landmarks high = RunOnSquare("lineintersect", "lines.crv",
    "0.1 0.2 0\n0.1 0.2 2000\n15.5 -3.25e-6 2000\n15.5 -3.25e-6 0\n", "out.log", 1234.5678);
  EXPECT_EQ(high.run.status, 0);
  EXPECT_EQ(high.Output(), "0.1 0.2 1234.57 NoName 1 0\n15.5 -3.25e-06 1234.57 NoName 1 1\n");
}

TEST(LineIntersect, MissingSegmentFileIsNamed)
{
  const std::string dir = ScratchDir();
  WriteSquare(dir + "/target.vtk");
  const ToolRun run = RunTool("lineintersect", { "target.vtk", "no lines.crv", "out.log" }, dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "Error opening file no lines.crv\n");
  EXPECT_FALSE(std::filesystem::exists(dir + "/out.log"));
}

TEST(LineIntersect, TargetWithoutCellsLeavesEveryLandmarkUnset)
{
  const std::string dir = ScratchDir();
  WriteSurfaceFile(dir + "/nocells.vtk", { { 2, 1, 0 }, { 10, 9, 0 } }, {});
  WriteText(dir + "/lines.crv", "2 1 -5\n2 1 5\n10 9 5\n10 9 -5\n");
  const ToolRun run = RunTool("lineintersect", { "nocells.vtk", "lines.crv", "out.log" }, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "npoints: 5\n");
  EXPECT_EQ(ReadText(dir + "/out.log"), std::string(kUnset) + kUnset);
}

TEST(LineIntersect, SegmentsWithEndsThatAreNotFiniteAreUnset)
{
  const Landmarks result = RunLines("nan 1 -5\n2 1 5\n2 1 -5\ninf 1 5\n2 1 -5\n2 1 1e39\n2 1 -5\n2 1 5\n");
  EXPECT_EQ(result.run.status, 0);
  EXPECT_EQ(result.Output(), std::string(kUnset) + kUnset + kUnset + "2 1 0 NoName 1 0\n");
}

TEST(LineIntersect, RefusesUnreadableTargetsAndReportsUnwritableLogs)
{
  const std::string dir = ScratchDir();
  WriteText(dir + "/bad.vtk", "# vtk DataFile Version 4.2\nx\nASCII\nDATASET STRUCTURED_POINTS\n");
  WriteText(dir + "/lines.crv", "2 1 -5\n2 1 5\n");
  for (const char* target : { "bad.vtk", "missing.vtk" })
  {
    const ToolRun run = RunTool("lineintersect", { target, "lines.crv", "out.log" }, dir);
    EXPECT_EQ(run.status, 255) << target;
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
    EXPECT_NE(run.output.find(target), std::string::npos) << run.output;
    EXPECT_FALSE(std::filesystem::exists(dir + "/out.log"));
  }
  WriteSquare(dir + "/target.vtk");
  const ToolRun run = RunTool("lineintersect", { "target.vtk", "lines.crv", "no/out.log" }, dir);
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.output, "npoints: 3\nCannot create output file no/out.log\n");
}
