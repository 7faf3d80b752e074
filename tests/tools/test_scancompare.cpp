#include "testutil.h"

using namespace testutil;

namespace
{
const Point kEar = { 102.665, 99.1929, 50.9238 };

// A triangle whose centroid lies at the ear midpoint moved by (dx, dy, dz).
std::array<Point, 3> Around(double dx, double dy, double dz)
{
  const Point c = { kEar[0] + dx, kEar[1] + dy, kEar[2] + dz };
  return { Point{ c[0] - 1, c[1] - 1, c[2] }, Point{ c[0] + 2, c[1] - 1, c[2] }, Point{ c[0] - 1, c[1] + 2, c[2] } };
}

// A scan of one cell Around each offset.
std::vector<std::array<Point, 3>> Scan(const std::vector<Point>& offsets)
{
  std::vector<std::array<Point, 3>> cells;
  for (const Point& o : offsets)
  {
    cells.push_back(Around(o[0], o[1], o[2]));
  }
  return cells;
}

// Four mirror pairs (cell i and cell i + 4). First scan: pair 0 balanced,
// pair 1 with the partner nearer (-0.2), pair 2 with the partner at the
// midpoint (-1), pair 3 with the partner farther (0.2).
const std::vector<std::array<Point, 3>> kFirst = Scan({ { 0, 0, 100 }, { 0, 0, 100 }, { 1e7, 0, 0 }, { 0, 0, 40 },
  { 0, 0, 100 }, { 0, 0, 80 }, { 0, 0, 0 }, { 0, 0, 50 } });
// Final scan: pair 0 at -0.5, pair 1 balanced, pair 2 reversed (1), pair 3 at 0.1.
const std::vector<std::array<Point, 3>> kFinal = Scan({ { 0, 0, 100 }, { 0, 0, 100 }, { 0, 0, 0 }, { 0, 0, 45 },
  { 0, 0, 50 }, { 0, 0, 100 }, { 1e7, 0, 0 }, { 0, 0, 50 } });

const char* const kDifferenceRange = "-0.11 0.11";
const char* const kDifferenceMap = "rainbow_whitemid";
const char* const kRatioRange = "-0.25 0.25";
const char* const kRatioMap = "rainbow_symmetric_whitemid";
const std::vector<std::string> kOutputs = { "sub.clr", "first.clr", "final.clr" };

std::string DifferenceFile(const std::vector<std::string>& values)
{
  return ColorFile(kDifferenceRange, kDifferenceMap, values);
}

std::string RatioFile(const std::vector<std::string>& values)
{
  return ColorFile(kRatioRange, kRatioMap, values);
}

std::string Report(const std::string& first, const std::string& minRatio, const std::string& maxRatio,
  const std::string& minSub, const std::string& maxSub)
{
  return " Results for the " + first + "\nmin ratio :" + minRatio + "\nmax ratio :" + maxRatio +
    "\nmin sub :" + minSub + "\nmax sub :" + maxSub + "\n\n";
}

// A scratch folder holding F.vtk and L.vtk.
std::string ScansDir(
  const std::vector<std::array<Point, 3>>& first = kFirst, const std::vector<std::array<Point, 3>>& final = kFinal)
{
  const std::string dir = ScratchDir();
  WriteTriangles(dir + "/F.vtk", first);
  WriteTriangles(dir + "/L.vtk", final);
  return dir;
}

ToolRun RunScanCompare(const std::string& dir, const std::string& mask, const std::string& maskPath = "mask.clr",
  const std::string& first = "F.vtk", const std::string& final = "L.vtk")
{
  return RunTool("scancompare", { first, final, maskPath, kOutputs[0], kOutputs[1], kOutputs[2], mask }, dir);
}

// The three color files, with these values after their headers.
void ExpectOutputs(const std::string& dir, const std::vector<std::string>& sub, const std::vector<std::string>& first,
  const std::vector<std::string>& final)
{
  EXPECT_EQ(ReadText(dir + "/sub.clr"), DifferenceFile(sub));
  EXPECT_EQ(ReadText(dir + "/first.clr"), RatioFile(first));
  EXPECT_EQ(ReadText(dir + "/final.clr"), RatioFile(final));
}

void ExpectHeaderOnlyOutputs(const std::string& dir)
{
  ExpectOutputs(dir, {}, {}, {});
  EXPECT_FALSE(std::filesystem::exists(dir + "/Range_values.txt"));
}
}

TEST(ScanCompare, UsageOnSixOrEightArgumentsTouchesNoFile)
{
  const std::string usage =
    "Usage : Name_FirstScan.vtk Name_FinalScan.vtk template_topcol_clr.clr Name_substraction_clr.clr "
    "Name_RatioFirstScan_clr.clr Name_RatioLastScan_clr.clr mask\n"
    "Input : Name_FirstScan.vtk Name_FinalScan.vtk template_topcol_clr.clr mask(y/n)\n"
    "Output : Name_substraction_clr.clr Name_RatioFirstScan_clr.clr Name_RatioLastScan_clr.clr\n";
  const std::string dir = ScratchDir();
  for (const auto& args : { std::vector<std::string>{ "a", "b", "c", "d", "e", "f" },
         std::vector<std::string>{ "a", "b", "c", "d", "e", "f", "n", "extra" }, {} })
  {
    const ToolRun run = RunTool("scancompare", args, dir);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.output, usage);
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir));
}

TEST(ScanCompare, MaskAnswerOtherThanLowerCaseYOrNTouchesNoFile)
{
  const std::string dir = ScansDir();
  for (const std::string answer : { "Y", "N", "", "maybe", " y" })
  {
    const ToolRun run = RunScanCompare(dir, answer);
    EXPECT_EQ(run.status, 255) << answer;
    EXPECT_EQ(run.output, " Please answer by yes (y)  or no (n)\n") << answer;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 2);
}

TEST(ScanCompare, PairsAreComputedOnceAndShownFromBothSides)
{
  // "no" counts by its first character, and the missing template goes unnoticed.
  const std::string dir = ScansDir();
  const ToolRun run = RunScanCompare(dir, "no", "missing.clr");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "");
  // Balanced pairs give 0 on the first-half cell and -0 on its partner; a
  // partner at the midpoint gives -1, a cell at the midpoint 1.
  ExpectOutputs(dir, { "-0.5", "0.2", "0", "0.1", "-0.5", "0.2", "0", "0.1" },
    { "0", "-0.2", "-1", "0.2", "-0", "0.2", "1", "-0.2" }, { "-0.5", "0", "1", "0.1", "0.5", "-0", "-1", "-0.1" });
  EXPECT_EQ(ReadText(dir + "/Range_values.txt"), Report("F.vtk", "-1", "1", "-0.5", "0.2"));
}

TEST(ScanCompare, DistancesAreTakenFromFloatCentroidsAndTheDoubleEarMidpoint)
{
  // A pair a third of a millimetre from the midpoint, where the last bits
  // count: with x = 102.665 the ratio reads -0.000395182, with the midpoint
  // in single precision 0, with double centroids 0.000699814.
  const auto corner = [](double dx, double dy, double dz) {
    const Point c = { kEar[0] + dx, kEar[1] + dy, kEar[2] + dz };
    return std::array<Point, 3>{ c, Point{ c[0] + 1, c[1], c[2] }, Point{ c[0], c[1] + 1, c[2] } };
  };
  const std::vector<std::array<Point, 3>> scan = { corner(-0.33297, -0.334588, -2.8e-05),
    corner(-0.333699, -0.334588, -2.8e-05) };
  const std::string dir = ScansDir(scan, scan);
  ASSERT_EQ(RunScanCompare(dir, "n").status, 0);
  EXPECT_EQ(ReadText(dir + "/first.clr"), RatioFile({ "-0.000395183", "0.000395183" }));
  EXPECT_EQ(ReadText(dir + "/final.clr"), RatioFile({ "-0.000395183", "0.000395183" }));
}

TEST(ScanCompare, IdenticalScansGiveZeroDifferenceAndEqualRatioFiles)
{
  const std::string dir = ScansDir(kFirst, kFirst);
  ASSERT_EQ(RunScanCompare(dir, "n").status, 0);
  EXPECT_EQ(ReadText(dir + "/sub.clr"), DifferenceFile(std::vector<std::string>(8, "0")));
  EXPECT_EQ(ReadText(dir + "/first.clr"), ReadText(dir + "/final.clr"));
  EXPECT_EQ(ReadText(dir + "/Range_values.txt"), Report("F.vtk", "-1", "0.2", "0", "0"));
}

TEST(ScanCompare, TemplateMaskSelectsWholePairsByExactlyOne)
{
  const std::string dir = ScansDir();
  // Cell 1's line has CR LF and further words; 1.000001 is not 1, 0.99999999
  // is 1 in single precision. Cell 6 takes part but its partner 2 does not,
  // cell 5 does not while its partner 1 does.
  WriteText(dir + "/mask.clr",
    "# OSTRAVELIN SURFACE SCALAR COLOR FILE V1\r\n0 1\r\nrainbow\r\n"
    "1\n1 extra words\r\n0\n1.000001\n0.99999999\n0\n1\n1\n");
  const ToolRun run = RunScanCompare(dir, "yes");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "");
  ExpectOutputs(dir, { "-0.5", "0.2", "0.0", "0.0", "-0.5", "0.0", "0.0", "0.0" },
    { "0", "-0.2", "0.0", "0.0", "-0", "0.0", "0.0", "0.0" },
    { "-0.5", "0", "0.0", "0.0", "0.5", "0.0", "0.0", "0.0" });
  EXPECT_EQ(ReadText(dir + "/Range_values.txt"), Report("F.vtk", "-0.5", "0", "-0.5", "0.2"));
}

TEST(ScanCompare, NoParticipatingCellLeavesStartValuesAndRunsAppendBlocks)
{
  const std::string dir = ScansDir();
  WriteText(dir + "/mask.clr", ColorFile("0 1", "rainbow", std::vector<std::string>(8, "0")));
  ASSERT_EQ(RunScanCompare(dir, "y").status, 0);
  ExpectOutputs(
    dir, std::vector<std::string>(8, "0.0"), std::vector<std::string>(8, "0.0"), std::vector<std::string>(8, "0.0"));
  // A second run, the first scan named as typed, appends its own block.
  ASSERT_EQ(RunScanCompare(dir, "n", "mask.clr", "./F.vtk").status, 0);
  EXPECT_EQ(ReadText(dir + "/Range_values.txt"),
    Report("F.vtk", "2", "-2", "2", "-2") + Report("./F.vtk", "-1", "1", "-0.5", "0.2"));
}

TEST(ScanCompare, ScansWithoutCellsGiveHeaderOnlyFilesAndStartValues)
{
  const std::string dir = ScratchDir();
  WriteSurfaceFile(dir + "/F.vtk", { { 0, 0, 0 } }, {});
  WriteSurfaceFile(dir + "/L.vtk", {}, {});
  WriteText(dir + "/mask.clr", ColorFile("0 1", "rainbow", {}));
  ASSERT_EQ(RunScanCompare(dir, "y").status, 0);
  EXPECT_EQ(ReadText(dir + "/sub.clr"), DifferenceFile({}));
  EXPECT_EQ(ReadText(dir + "/first.clr"), RatioFile({}));
  EXPECT_EQ(ReadText(dir + "/Range_values.txt"), Report("F.vtk", "2", "-2", "2", "-2"));
}

TEST(ScanCompare, StopsAfterHeadingTheFilesWithoutAReportBlock)
{
  struct Case
  {
    std::vector<std::array<Point, 3>> first;
    std::vector<std::array<Point, 3>> final;
    std::string maskText; // no mask file when empty
    std::string answer;
    std::string output;
  };
  const std::string sevenValues = ColorFile("0 1", "rainbow", std::vector<std::string>(7, "1"));
  const std::string wordOnLine7 = ColorFile("0 1", "rainbow", { "1", "1", "1", "one", "1", "1", "1", "1" });
  const std::vector<Case> cases = {
    { kFirst, { kFinal[0], kFinal[1] }, "", "n",
      "Please select the correct first scan and end scan files\n"
      "Number of cells between the two files are not the same\n" },
    { { kFirst[0], kFirst[1], kFirst[2] }, { kFinal[0], kFinal[1], kFinal[2] }, "", "n",
      "First scan F.vtk has an odd number of cells (3), so its cells do not form mirror pairs\n" },
    { kFirst, kFinal, "", "y", "Unable to open file\n" }, // a whole line, as every refusal
    { kFirst, kFinal, sevenValues, "y",
      "Template mask mask.clr has fewer value lines than the 8 cells of the scans\n" },
    { kFirst, kFinal, wordOnLine7, "y", "Template mask mask.clr has no number on line 7\n" },
  };
  for (const Case& c : cases)
  {
    const std::string dir = ScansDir(c.first, c.final);
    if (!c.maskText.empty())
    {
      WriteText(dir + "/mask.clr", c.maskText);
    }
    const ToolRun run = RunScanCompare(dir, c.answer);
    EXPECT_EQ(run.status, 255) << c.output;
    EXPECT_EQ(run.output, c.output);
    ExpectHeaderOnlyOutputs(dir);
  }
}

TEST(ScanCompare, RefusesUnreadableScansBeforeCreatingAnyFile)
{
  const std::string dir = ScansDir();
  WriteText(dir + "/bad.vtk",
    "# vtk DataFile Version 4.2\nx\nASCII\nDATASET POLYDATA\nPOINTS 3 float\n0 0 0 1 0 0 0 1 0\nPOLYGONS 1 3\n2 0 1\n");
  const std::vector<std::pair<std::string, std::string>> pairs = { { "missing.vtk", "L.vtk" },
    { "F.vtk", "missing.vtk" }, { "F.vtk", "bad.vtk" } };
  for (const auto& [first, final] : pairs)
  {
    const ToolRun run = RunScanCompare(dir, "n", "mask.clr", first, final);
    EXPECT_EQ(run.status, 255) << first << ' ' << final;
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
    for (const std::string& name : kOutputs)
    {
      EXPECT_FALSE(std::filesystem::exists(dir + "/" + name)) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(dir + "/Range_values.txt"));
  }
}

TEST(ScanCompare, OutputThatCannotBeCreatedIsReportedAndTheRestIsWritten)
{
  const std::string dir = ScansDir(kFirst, kFirst);
  const ToolRun run =
    RunTool("scancompare", { "F.vtk", "L.vtk", "m.clr", "sub.clr", "no/first.clr", "final.clr", "n" }, dir);
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.output, "Cannot create output file no/first.clr\n");
  EXPECT_EQ(ReadText(dir + "/sub.clr"), DifferenceFile(std::vector<std::string>(8, "0")));
  EXPECT_EQ(ReadText(dir + "/Range_values.txt"), Report("F.vtk", "-1", "0.2", "0", "0"));
}
