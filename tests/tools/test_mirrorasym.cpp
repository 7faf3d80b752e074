#include "testutil.h"

using namespace testutil;

namespace
{
using Triangle = std::array<Point, 3>;

const Triangle kFlat = { Point{ 0, 0, 0 }, Point{ 3, 0, 0 }, Point{ 0, 3, 0 } }; // normal +z, centroid (1, 1, 0)
const std::string kKeyword = "rainbow_symmetric_whitemid";
const std::vector<std::string> kOutputs = { "asym.clr", "abs.clr", "x.clr", "y.clr", "z.clr" };

Triangle Moved(const Triangle& t, double dx, double dy, double dz)
{
  Triangle moved = t;
  for (Point& p : moved)
  {
    p = { p[0] + dx, p[1] + dy, p[2] + dz };
  }
  return moved;
}

// The mirror image across the plane x = plane, with B and C swapped so that
// the normal (B - A) x (C - A) is mirrored as well.
Triangle Mirrored(const Triangle& t, double plane)
{
  auto mirror = [plane](const Point& p) { return Point{ 2 * plane - p[0], p[1], p[2] }; };
  return { mirror(t[0]), mirror(t[2]), mirror(t[1]) };
}

// A template whose cell j + h is the mirror image of cell j.
std::vector<Triangle> MirrorTemplate(const std::vector<Triangle>& half, double plane)
{
  std::vector<Triangle> cells = half;
  for (const Triangle& t : half)
  {
    cells.push_back(Mirrored(t, plane));
  }
  return cells;
}

// Values of a color file as the tool writes them: the first half, then the
// same texts negated.
std::vector<std::string> Halves(const std::vector<std::string>& first)
{
  std::vector<std::string> values = first;
  for (const std::string& v : first)
  {
    values.push_back(v[0] == '-' ? v.substr(1) : "-" + v);
  }
  return values;
}

struct MirrorAsym
{
  std::string dir;
  ToolRun run;
  std::string File(const std::string& name) const { return ReadText(dir + "/" + name); }
};

std::vector<std::string> Arguments(
  const std::string& first = "-5", const std::string& second = "5", const std::string& meshSize = "1000")
{
  return { "s.vtk", "t.vtk", "asym.clr", "abs.clr", "x.clr", "y.clr", "z.clr", first, second, meshSize };
}

MirrorAsym RunMirrorAsym(const std::vector<Triangle>& surface, const std::vector<Triangle>& symmetric,
  const std::string& first = "-5", const std::string& second = "5", const std::string& meshSize = "1000")
{
  MirrorAsym result{ ScratchDir(), {} };
  WriteTriangles(result.dir + "/s.vtk", surface);
  WriteTriangles(result.dir + "/t.vtk", symmetric);
  result.run = RunTool("mirrorasym", Arguments(first, second, meshSize), result.dir);
  return result;
}

// Three flat cells side by side and their mirror images across x = 10.
std::vector<Triangle> SmallTemplate()
{
  return MirrorTemplate({ kFlat, Moved(kFlat, 0, 5, 0), Moved(kFlat, 0, 10, 0) }, 10);
}
}

TEST(MirrorAsym, UsageLineOnAnyOtherArgumentCount)
{
  const std::string dir = ScratchDir();
  WriteTriangles(dir + "/s.vtk", SmallTemplate());
  WriteTriangles(dir + "/t.vtk", SmallTemplate());
  std::vector<std::string> nine = Arguments();
  nine.pop_back();
  std::vector<std::string> eleven = Arguments();
  eleven.push_back("extra");
  for (const auto& args : { nine, eleven, std::vector<std::string>{} })
  {
    const ToolRun run = RunTool("mirrorasym", args, dir);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.output,
      "Usage : surface.vtk symmetric_template.vtk asymmetry.clr abs.clr x.clr y.clr z.clr "
      "float_mincol float_maxcol int_meshsize\n");
  }
  EXPECT_FALSE(std::filesystem::exists(dir + "/asym.clr"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/z.clr"));
}

TEST(MirrorAsym, SurfaceEqualToTemplateGivesZerosThenNegativeZeros)
{
  const auto result = RunMirrorAsym(SmallTemplate(), SmallTemplate(), "-0.50", "0.50");
  EXPECT_EQ(result.run.status, 1);
  EXPECT_EQ(result.run.output, "");
  for (const std::string& name : kOutputs)
  {
    EXPECT_EQ(result.File(name), ColorFile("-0.5 0.5", kKeyword, { "0", "0", "0", "-0", "-0", "-0" })) << name;
  }
}

TEST(MirrorAsym, MirrorSymmetricDepartureHasNoAsymmetry)
{
  const Triangle tilted = { Point{ 1, 0, 0 }, Point{ 4, 1, 2 }, Point{ 2, 5, -1 } };
  const auto symmetric = MirrorTemplate({ kFlat, tilted }, 0);
  // Cell j moved by d, its mirror cell by d mirrored in x.
  const auto surface = MirrorTemplate({ Moved(kFlat, 1.25, -2, 3), Moved(tilted, -0.5, 0.75, 7) }, 0);
  const auto result = RunMirrorAsym(surface, symmetric);
  EXPECT_EQ(result.run.status, 1);
  for (const std::string& name : kOutputs)
  {
    EXPECT_EQ(result.File(name), ColorFile("-5 5", kKeyword, { "0", "0", "-0", "-0" })) << name;
  }

  // The same move on both cells of a pair is not symmetric: x doubles.
  const auto shifted =
    RunMirrorAsym({ Moved(kFlat, 1, 0, 0), Moved(Mirrored(kFlat, 0), 1, 0, 0) }, MirrorTemplate({ kFlat }, 0));
  EXPECT_EQ(shifted.File("x.clr"), ColorFile("-5 5", kKeyword, { "2", "-2" }));
  EXPECT_EQ(shifted.File("asym.clr"), ColorFile("-5 5", kKeyword, { "-2", "2" })); // in the plane: negative
}

TEST(MirrorAsym, OneDepartingCellAlongTheNormal)
{
  auto surface = SmallTemplate();
  surface[1] = Moved(surface[1], 0, 0, 0.25);
  const auto result = RunMirrorAsym(surface, SmallTemplate());
  EXPECT_EQ(result.run.status, 1);
  EXPECT_EQ(result.File("asym.clr"), ColorFile("-5 5", kKeyword, Halves({ "0", "0.25", "0" })));
  EXPECT_EQ(result.File("abs.clr"), ColorFile("-5 5", kKeyword, Halves({ "0", "0.25", "0" })));
  EXPECT_EQ(result.File("x.clr"), ColorFile("-5 5", kKeyword, Halves({ "0", "0", "0" })));
  EXPECT_EQ(result.File("y.clr"), ColorFile("-5 5", kKeyword, Halves({ "0", "0", "0" })));
  EXPECT_EQ(result.File("z.clr"), ColorFile("-5 5", kKeyword, Halves({ "0", "0.25", "0" })));
}

TEST(MirrorAsym, SignFollowsTheSideOfTheTemplateNormalAndTheMirrorCellIsMirroredBack)
{
  std::vector<Triangle> half;
  for (int j = 0; j < 9; ++j)
  {
    half.push_back(Moved(kFlat, 0, 4 * j, 0));
  }
  const auto symmetric = MirrorTemplate(half, 10);
  auto surface = symmetric;
  const double moves[8][3] = {
    { 0, 0, 2 },        // along the normal
    { 0, 0, -2 },       // against it
    { 2, 0, 2 },        // 45 degrees
    { 2, 0, -2 },       // 135 degrees
    { 3, 4, 0 },        // in the plane: acos(0) exceeds the threshold
    { 100, 0, 1.5e-6 }, // just in front, but beyond the literal 1.5707963
    { 100, 0, 1e-5 },   // in front, within the threshold
    { 0, 0, 0 },        // not moved
  };
  for (int j = 0; j < 8; ++j)
  {
    surface[j] = Moved(surface[j], moves[j][0], moves[j][1], moves[j][2]);
  }
  surface[9 + 8] = Moved(surface[9 + 8], 1, 2, 3); // only the mirror cell of pair 8: v = (1, -2, -3)
  const auto result = RunMirrorAsym(surface, symmetric);
  EXPECT_EQ(result.run.status, 1);
  EXPECT_EQ(result.File("asym.clr"),
    ColorFile("-5 5", kKeyword, Halves({ "2", "-2", "2.82843", "-2.82843", "-5", "-100", "100", "0", "-3.74166" })));
  EXPECT_EQ(result.File("abs.clr"),
    ColorFile("-5 5", kKeyword, Halves({ "2", "2", "2.82843", "2.82843", "5", "100", "100", "0", "3.74166" })));
  EXPECT_EQ(
    result.File("x.clr"), ColorFile("-5 5", kKeyword, Halves({ "0", "0", "2", "2", "3", "100", "100", "0", "1" })));
  EXPECT_EQ(
    result.File("y.clr"), ColorFile("-5 5", kKeyword, Halves({ "0", "0", "0", "0", "4", "0", "0", "0", "-2" })));
  const auto z = ReadLines(result.dir + "/z.clr");
  ASSERT_EQ(z.size(), 3u + 18u);
  EXPECT_EQ(z[3], "2");
  EXPECT_EQ(z[4], "-2");
  EXPECT_EQ(z[3 + 8], "-3");
  EXPECT_EQ(z[3 + 9 + 8], "3");
}

TEST(MirrorAsym, OddCellCountLeavesTheLastCellOut)
{
  auto symmetric = SmallTemplate();
  symmetric.push_back(Moved(kFlat, 0, 20, 0));
  auto surface = symmetric;
  surface[6] = Moved(surface[6], 0, 0, 9);
  surface[2] = Moved(surface[2], 0, 0, -1);
  const auto result = RunMirrorAsym(surface, symmetric);
  EXPECT_EQ(result.run.status, 1);
  EXPECT_EQ(result.run.output, "");
  EXPECT_EQ(result.File("asym.clr"), ColorFile("-5 5", kKeyword, Halves({ "0", "0", "-1" })));
  EXPECT_EQ(ReadLines(result.dir + "/y.clr").size(), 3u + 6u);
}

TEST(MirrorAsym, DegenerateTemplateTriangleGivesPlusTheLength)
{
  const Triangle line = { Point{ 0, 0, 0 }, Point{ 1, 0, 0 }, Point{ 2, 0, 0 } };
  const auto symmetric = MirrorTemplate({ line }, 10);
  auto surface = symmetric;
  surface[0] = Moved(line, 0, 0, -3);
  const auto result = RunMirrorAsym(surface, symmetric);
  EXPECT_EQ(result.File("asym.clr"), ColorFile("-5 5", kKeyword, { "3", "-3" }));
  EXPECT_EQ(result.File("z.clr"), ColorFile("-5 5", kKeyword, { "-3", "3" }));
}

TEST(MirrorAsym, RangeArgumentsAreParsedAsFloatsAndWrittenAsValues)
{
  const std::vector<std::pair<std::pair<std::string, std::string>, std::string>> ranges = {
    { { "-0.50", "0.50" }, "-0.5 0.5" },
    { { "-5.000", "5.000" }, "-5 5" },
    { { "0.1", "123456789" }, "0.1 1.23457e+08" },
    { { "1e-5", "abc" }, "1e-05 0" },
    { { "-0", "2.5x" }, "-0 2.5" },
  };
  for (const auto& [args, line] : ranges)
  {
    const auto result = RunMirrorAsym({}, {}, args.first, args.second);
    EXPECT_EQ(result.run.status, 1);
    for (const std::string& name : kOutputs)
    {
      EXPECT_EQ(result.File(name), ColorFile(line, kKeyword, {})) << name;
    }
  }
}

TEST(MirrorAsym, MeshSizeArgumentIsAcceptedWhateverItHolds)
{
  auto surface = SmallTemplate();
  surface[0] = Moved(surface[0], 0.5, -1, 2);
  surface[4] = Moved(surface[4], 1, 1, 1);
  const auto reference = RunMirrorAsym(surface, SmallTemplate(), "-5", "5", "6");
  for (const char* meshSize : { "0", "1", "-7", "abc", "99999999999" })
  {
    const auto result = RunMirrorAsym(surface, SmallTemplate(), "-5", "5", meshSize);
    EXPECT_EQ(result.run.status, 1) << meshSize;
    EXPECT_EQ(result.run.output, "") << meshSize;
    for (const std::string& name : kOutputs)
    {
      EXPECT_EQ(result.File(name), reference.File(name)) << meshSize << ' ' << name;
    }
  }
}

TEST(MirrorAsym, UnequalCellCounts)
{
  const std::string error = "ERROR: number of cells in surface and template must be equal\n";
  // Fewer cells in the surface: the message, then the refusal; nothing written.
  auto fewer = SmallTemplate();
  fewer.pop_back();
  const auto refused = RunMirrorAsym(fewer, SmallTemplate());
  EXPECT_EQ(refused.run.status, 255);
  EXPECT_EQ(refused.run.output, error + "Surface s.vtk has fewer cells than template t.vtk\n");
  for (const std::string& name : kOutputs)
  {
    EXPECT_FALSE(std::filesystem::exists(refused.dir + "/" + name)) << name;
  }

  // More cells: the message, then a run over the template's cells.
  auto more = SmallTemplate();
  more[3] = Moved(more[3], 0, 0, 1);
  more.push_back(Moved(kFlat, 50, 50, 50));
  const auto run = RunMirrorAsym(more, SmallTemplate());
  EXPECT_EQ(run.run.status, 1);
  EXPECT_EQ(run.run.output, error);
  EXPECT_EQ(run.File("asym.clr"), ColorFile("-5 5", kKeyword, Halves({ "-1", "0", "0" })));
  EXPECT_EQ(run.File("z.clr"), ColorFile("-5 5", kKeyword, Halves({ "-1", "0", "0" })));
}

TEST(MirrorAsym, TemplateWithoutCellsGivesHeaderOnlyFiles)
{
  const std::string dir = ScratchDir();
  WriteSurfaceFile(dir + "/s.vtk", { { 0, 0, 0 } }, {});
  WriteSurfaceFile(dir + "/t.vtk", { { 0, 0, 0 } }, {});
  const ToolRun run = RunTool("mirrorasym", Arguments("-1", "1"), dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "");
  for (const std::string& name : kOutputs)
  {
    EXPECT_EQ(ReadText(dir + "/" + name), ColorFile("-1 1", kKeyword, {})) << name;
  }
}

TEST(MirrorAsym, RefusesUnreadableInputsBeforeAnyOutput)
{
  const std::string dir = ScratchDir();
  WriteTriangles(dir + "/good.vtk", SmallTemplate());
  WriteText(dir + "/badid.vtk",
    "# vtk DataFile Version 4.2\nx\nASCII\nDATASET POLYDATA\nPOINTS 3 float\n0 0 0 1 0 0 0 1 0\nPOLYGONS 1 4\n3 0 1 3\n");
  const std::vector<std::pair<std::string, std::string>> pairs = { { "missing.vtk", "good.vtk" },
    { "good.vtk", "missing.vtk" }, { "badid.vtk", "good.vtk" }, { "good.vtk", "badid.vtk" },
    { "first.vtk", "second.vtk" } };
  for (const auto& [surface, symmetric] : pairs)
  {
    const ToolRun run = RunTool(
      "mirrorasym", { surface, symmetric, "asym.clr", "abs.clr", "x.clr", "y.clr", "z.clr", "-5", "5", "6" }, dir);
    EXPECT_EQ(run.status, 255) << surface << ' ' << symmetric;
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
    EXPECT_EQ(run.output.find("ERROR"), std::string::npos) << run.output;
    EXPECT_FALSE(std::filesystem::exists(dir + "/asym.clr"));
  }
  // The surface is read first.
  const ToolRun both = RunTool(
    "mirrorasym", { "first.vtk", "second.vtk", "asym.clr", "abs.clr", "x.clr", "y.clr", "z.clr", "-5", "5", "6" }, dir);
  EXPECT_NE(both.output.find("first.vtk"), std::string::npos) << both.output;
}

TEST(MirrorAsym, OutputThatCannotBeWrittenIsReportedAndTheOthersAreWritten)
{
  const std::string dir = ScratchDir();
  auto surface = SmallTemplate();
  surface[0] = Moved(surface[0], 0, 0, 2);
  WriteTriangles(dir + "/s.vtk", surface);
  WriteTriangles(dir + "/t.vtk", SmallTemplate());
  const ToolRun run = RunTool(
    "mirrorasym", { "s.vtk", "t.vtk", "asym.clr", "no/abs.clr", "x.clr", "y.clr", "z.clr", "-5", "5", "6" }, dir);
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.output, "Cannot create output file no/abs.clr\n");
  EXPECT_EQ(ReadText(dir + "/asym.clr"), ColorFile("-5 5", kKeyword, Halves({ "2", "0", "0" })));
  EXPECT_EQ(ReadText(dir + "/x.clr"), ColorFile("-5 5", kKeyword, Halves({ "0", "0", "0" })));
  EXPECT_EQ(ReadText(dir + "/z.clr"), ColorFile("-5 5", kKeyword, Halves({ "2", "0", "0" })));
}
