#include "testutil.h"

using namespace testutil;

namespace
{
using Snap = SquareRun;

Snap RunSnap(const std::string& curve)
{
  return RunOnSquare("curvesnap", "curve.crv", curve, "out.sln");
}

const char* const kUsage =
  "Usage: curvesnap target.vtk source.sln modified.sln\n"
  "Inputs: target.vtk, source.sln\n"
  " Extension for source.sln does not have to be .sln (could be e.g. .crv or .txt)\n"
  "Output: modified.sln file with with modified curve \n"
  "Note: output contains 7th column with cell ids for the new locations.\n"
  "Performs: For each point on curve, compute compute closest point on surface, return modified curve.\n";
}

TEST(CurveSnap, UsageOnAnyOtherArgumentCount)
{
  for (const std::vector<std::string>& args :
    { std::vector<std::string>{}, { "a.vtk", "b.sln" }, { "a.vtk", "b.sln", "c.sln", "d" } })
  {
    const std::string dir = ScratchDir();
    const ToolRun run = RunTool("curvesnap", args, dir);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.output, kUsage);
    EXPECT_TRUE(std::filesystem::is_empty(dir));
  }
}

TEST(CurveSnap, EveryRowIsMovedOntoTheSurfaceWithItsCellId)
{
  const Snap snap = RunSnap("2 1 5\n10 9 -3\n20 5 1\n3.5 7.25 0\n0.1 0.2 7\n40 30 2\n");
  EXPECT_EQ(snap.run.status, 0);
  EXPECT_EQ(snap.run.output, "npoints: 6\n");
  EXPECT_EQ(snap.Output(),
    "2 1 0 0.0 0.0 1.0 0\n"      // above cell 0
    "10 9 0 0.0 0.0 1.0 1\n"     // below cell 1
    "16 5 0 0.0 0.0 1.0 1\n"     // beside the edge of cell 1
    "3.5 7.25 0 0.0 0.0 1.0 0\n" // on the surface: the point itself
    "0.1 0.2 0 0.0 0.0 1.0 0\n"
    "16 16 0 0.0 0.0 1.0 1\n"); // beyond a corner
}

TEST(CurveSnap, RowCountFollowsTheFinalLineFeed)
{
  const Snap withFeed = RunSnap("2 1 5\n10 9 -3\n");
  EXPECT_EQ(withFeed.run.output, "npoints: 2\n");
  EXPECT_EQ(withFeed.Output(), "2 1 0 0.0 0.0 1.0 0\n10 9 0 0.0 0.0 1.0 1\n");
  // Without it the last row is not processed.
  const Snap withoutFeed = RunSnap("2 1 5\n10 9 -3");
  EXPECT_EQ(withoutFeed.run.status, 0);
  EXPECT_EQ(withoutFeed.run.output, "npoints: 1\n");
  EXPECT_EQ(withoutFeed.Output(), "2 1 0 0.0 0.0 1.0 0\n");
  // An empty file: no row, an empty output.
  const Snap empty = RunSnap("");
  EXPECT_EQ(empty.run.status, 0);
  EXPECT_EQ(empty.run.output, "npoints: 0\n");
  EXPECT_TRUE(std::filesystem::exists(empty.dir + "/out.sln"));
  EXPECT_EQ(empty.Output(), "");
}

TEST(CurveSnap, RowsThatDoNotParseRepeatOrKeepCoordinates)
{
  // A header-like first line is the point (0, 0, 0); a blank line repeats
  // the previous row; two numbers keep z; a comma row changes x only.
  const Snap snap = RunSnap("points 4\n2 1 5\n\n10 9\n1,2,3\n");
  EXPECT_EQ(snap.run.output, "npoints: 5\n");
  EXPECT_EQ(snap.Output(),
    "0 0 0 0.0 0.0 1.0 0\n"
    "2 1 0 0.0 0.0 1.0 0\n"
    "2 1 0 0.0 0.0 1.0 0\n"
    "10 9 0 0.0 0.0 1.0 1\n"
    "1 9 0 0.0 0.0 1.0 0\n");
}

TEST(CurveSnap, SixAndSevenColumnRowsAndItsOwnOutputReadBack)
{
  const Snap snap = RunSnap("2 1 5 9 9 9\n10 9 -3 0.0 0.0 1.0 0\r\n0.1 0.2 7 NoName 1 5\n");
  EXPECT_EQ(snap.run.output, "npoints: 3\n");
  const std::string first = snap.Output();
  EXPECT_EQ(first, "2 1 0 0.0 0.0 1.0 0\n10 9 0 0.0 0.0 1.0 1\n0.1 0.2 0 0.0 0.0 1.0 0\n");
  // Snapped points snap onto themselves.
  const ToolRun again = RunTool("curvesnap", { "target.vtk", "out.sln", "again.sln" }, snap.dir);
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.output, "npoints: 3\n");
  EXPECT_EQ(ReadText(snap.dir + "/again.sln"), first);
}

TEST(CurveSnap, CoordinatesAreWrittenInSinglePrecisionWithSixDigits)
{
  const Snap high = RunOnSquare("curvesnap", "c.crv", "0.1 0.2 0\n123456 7.25e-6 5\n", "out.sln", 1234.5678);
  EXPECT_EQ(high.run.status, 0);
  EXPECT_EQ(high.Output(), "0.1 0.2 1234.57 0.0 0.0 1.0 0\n16 7.25e-06 1234.57 0.0 0.0 1.0 1\n");
}

TEST(CurveSnap, MissingCurveFileEndsWithTheBareMessage)
{
  const std::string dir = ScratchDir();
  WriteSquare(dir + "/target.vtk");
  const ToolRun run = RunTool("curvesnap", { "target.vtk", "missing.crv", "out.sln" }, dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "Error opening file");
  EXPECT_FALSE(std::filesystem::exists(dir + "/out.sln"));
}

TEST(CurveSnap, RefusesUnreadableTargetsAndTargetsWithoutCells)
{
  const std::string dir = ScratchDir();
  WriteSurfaceFile(dir + "/nocells.vtk", { { 0, 0, 0 }, { 1, 0, 0 } }, {});
  WriteText(dir + "/bad.vtk", "not a surface\n");
  WriteText(dir + "/c.crv", "1 2 3\n");
  // The target is refused before the curve is read: a missing curve is not
  // reported.
  ToolRun run = RunTool("curvesnap", { "nocells.vtk", "missing.crv", "out.sln" }, dir);
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.output, "Target surface nocells.vtk has no cells\n");
  for (const char* target : { "bad.vtk", "missing.vtk" })
  {
    run = RunTool("curvesnap", { target, "c.crv", "out.sln" }, dir);
    EXPECT_EQ(run.status, 255) << target;
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
    EXPECT_NE(run.output.find(target), std::string::npos) << run.output;
  }
  EXPECT_FALSE(std::filesystem::exists(dir + "/out.sln"));
}

TEST(CurveSnap, OutputThatCannotBeCreatedIsReported)
{
  const std::string dir = ScratchDir();
  WriteSquare(dir + "/target.vtk");
  WriteText(dir + "/c.crv", "1 2 3\n");
  const ToolRun run = RunTool("curvesnap", { "target.vtk", "c.crv", "no/out.sln" }, dir);
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.output, "npoints: 1\nCannot create output file no/out.sln\n");
}

TEST(CurveSnap, PointsWithoutAClosestPointGetCellMinusOne)
{
  const std::string dir = ScratchDir();
  // Every cell degenerate: no cell yields a closest point.
  WriteSurfaceFile(dir + "/flat.vtk", { { 0, 0, 0 }, { 1, 0, 0 }, { 2, 0, 0 } }, { { 0, 1, 2 } });
  WriteSurfaceFile(dir + "/dot.vtk", { { 1, 1, 1 }, { 1, 1, 1 }, { 1, 1, 1 } }, { { 0, 1, 2 } });
  WriteText(dir + "/c.crv", "1 1 1\n0.5 0 0\n");
  for (const char* target : { "flat.vtk", "dot.vtk" })
  {
    const ToolRun run = RunTool("curvesnap", { target, "c.crv", "out.sln" }, dir);
    EXPECT_EQ(run.status, 0) << target;
    EXPECT_EQ(ReadText(dir + "/out.sln"), "0 0 0 0.0 0.0 1.0 -1\n0 0 0 0.0 0.0 1.0 -1\n") << target;
  }
  // Coordinates that are not finite are not queried.
  WriteSquare(dir + "/target.vtk");
  WriteText(dir + "/c.crv", "nan 1 1\n2 1 5\ninf 0 0\n1 -inf 0\n1e39 0 0\n");
  const ToolRun run = RunTool("curvesnap", { "target.vtk", "c.crv", "out.sln" }, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "npoints: 5\n");
  EXPECT_EQ(ReadText(dir + "/out.sln"),
    "0 0 0 0.0 0.0 1.0 -1\n2 1 0 0.0 0.0 1.0 0\n0 0 0 0.0 0.0 1.0 -1\n0 0 0 0.0 0.0 1.0 -1\n"
    "0 0 0 0.0 0.0 1.0 -1\n");
}
