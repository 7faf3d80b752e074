#include "surftools/surface.h"
#include "testutil.h"
#include "tools/helmetdiff/usage.h"

#include <vtkPointData.h>

#include <cmath>

using namespace testutil;

namespace
{
using Triangle = std::array<Point, 3>;

// The ear midpoint as the tool holds it, in single precision.
const double kEar[3] = { 102.665f, 99.1929f, 50.9238f };

const char* const kUsage = kHelmetDiffUsage;

const char* const kKeyword = "rainbow_symmetric_whitemid";
const char* const kColorNames[4] = { "vx.clr", "vy.clr", "vz.clr", "vxyz.clr" };

// A triangle of size about 3 around the point (dx, dy, dz) away from the ear
// midpoint, across the ray from the ear midpoint through that point: it lies
// in the plane normal to the axis of the largest offset.
Triangle Around(double dx, double dy, double dz)
{
  const double offset[3] = { dx, dy, dz };
  int axis = 0;
  for (int k = 1; k < 3; ++k)
  {
    if (std::fabs(offset[k]) > std::fabs(offset[axis]))
    {
      axis = k;
    }
  }
  const int u = (axis + 1) % 3;
  const int v = (axis + 2) % 3;
  Triangle t;
  for (Point& p : t)
  {
    p = { kEar[0] + dx, kEar[1] + dy, kEar[2] + dz };
  }
  t[0][u] -= 1;
  t[0][v] -= 1;
  t[1][u] += 2;
  t[1][v] -= 1;
  t[2][u] -= 1;
  t[2][v] += 2;
  return t;
}

Triangle Moved(Triangle t, double dx, double dy, double dz)
{
  for (Point& p : t)
  {
    p = { p[0] + dx, p[1] + dy, p[2] + dz };
  }
  return t;
}

// The centroid of a triangle as written to a file (single-precision corners).
std::array<double, 3> Centroid(const Triangle& t)
{
  std::array<double, 3> c;
  for (int k = 0; k < 3; ++k)
  {
    c[k] =
      ((static_cast<double>(static_cast<float>(t[2][k])) + static_cast<float>(t[1][k])) + static_cast<float>(t[0][k])) *
      0.3333333333333333;
  }
  return c;
}

double Radius(const std::array<double, 3>& c)
{
  const double v[3] = { c[0] - kEar[0], c[1] - kEar[1], c[2] - kEar[2] };
  return std::sqrt((v[2] * v[2] + v[1] * v[1]) + v[0] * v[0]);
}

std::string Text(double value)
{
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

using HelmetDiff = ColorRun;

std::vector<std::string> Arguments(const std::string& flag, const std::vector<std::string>& ranges = {})
{
  std::vector<std::string> r = ranges;
  if (r.empty())
  {
    r = { "-5", "5", "-5", "5", "-5", "5", "-5", "5" };
  }
  return { "source.vtk", "target.vtk", "vx.clr", r[0], r[1], "vy.clr", r[2], r[3], "vz.clr", r[4], r[5], "vxyz.clr",
    r[6], r[7], "mask.clr", "scaled.vtk", flag };
}

HelmetDiff RunHelmetDiff(const std::vector<Triangle>& source, const std::vector<Triangle>& target,
  const std::string& flag, const std::vector<std::string>& ranges = {})
{
  HelmetDiff result{ ScratchDir(), {} };
  WriteTriangles(result.dir + "/source.vtk", source);
  WriteTriangles(result.dir + "/target.vtk", target);
  result.run = RunTool("helmetdiff", Arguments(flag, ranges), result.dir);
  return result;
}

// The points of a surface file, read back with VTK.
std::vector<std::array<float, 3>> SurfacePoints(const std::string& path)
{
  std::vector<std::array<float, 3>> points;
  vtkSmartPointer<vtkPolyData> surface = ReadSurface(path.c_str());
  if (surface && surface->GetPoints())
  {
    for (vtkIdType i = 0; i < surface->GetNumberOfPoints(); ++i)
    {
      double p[3];
      surface->GetPoints()->GetPoint(i, p);
      points.push_back({ static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2]) });
    }
  }
  return points;
}

// The text of a surface file written by the shared writer from the points of
// `path` moved by `move`, with its polygons.
template <typename Move>
std::string WrittenSurface(const std::string& path, Move move)
{
  vtkSmartPointer<vtkPolyData> surface = ReadSurface(path.c_str());
  if (!surface)
  {
    return "";
  }
  vtkPoints* points = surface->GetPoints();
  for (vtkIdType j = 0; j < points->GetNumberOfPoints(); ++j)
  {
    double p[3];
    points->GetPoint(j, p);
    for (int k = 0; k < 3; ++k)
    {
      p[k] = move(p[k], k);
    }
    points->SetPoint(j, p);
  }
  const std::string written = path + ".expected";
  WriteSurface(BuildSurface(points, surface), written.c_str());
  return ReadText(written);
}

// Three cells whose probes from the ear midpoint go along -y, +x and +y:
// the first and the last target cells are lifted off their probes (misses),
// the middle one is where its source is (a hit).
const std::vector<Triangle> kMissSource = { Around(0, -20, 0), Around(10, 0, 0), Around(0, 20, 0) };
const std::vector<Triangle> kMissTarget = { Moved(kMissSource[0], 0, 0, 30), kMissSource[1],
  Moved(kMissSource[2], 0, 0, 30) };
}

TEST(HelmetDiff, UsageOnAnyCountButSeventeen)
{
  for (size_t count : { 0, 16, 18 })
  {
    const std::string dir = ScratchDir();
    std::vector<std::string> args = Arguments("y");
    args.resize(count, "x");
    const ToolRun run = RunTool("helmetdiff", args, dir);
    EXPECT_EQ(run.status, 255) << count;
    EXPECT_EQ(run.output, kUsage) << count;
    EXPECT_TRUE(std::filesystem::is_empty(dir)) << count;
  }
}

TEST(HelmetDiff, IdenticalSurfacesWithY)
{
  const std::vector<Triangle> cells = { Around(10, 0, 0), Around(0, -20, 0), Around(0, 0, 30), Around(-40, 5, 3) };
  const auto result = RunHelmetDiff(cells, cells, "y");
  EXPECT_EQ(result.run.status, 0);
  EXPECT_EQ(result.run.output, "y\nCreating scaled target\n4\nAverage s: 1\n");
  std::vector<std::string> radial;
  for (const Triangle& t : cells)
  {
    // Every probe meets the cell itself: the difference is the rounding of
    // the radius to single precision.
    const double r = Radius(Centroid(t));
    radial.push_back(Text(static_cast<double>(static_cast<float>(r)) - r));
  }
  EXPECT_EQ(result.Values("vxyz.clr"), radial);
  for (const char* name : { "vx.clr", "vy.clr", "vz.clr" })
  {
    EXPECT_EQ(ReadText(result.dir + "/" + name), ColorFile("-5 5", kKeyword, { "0", "0", "0", "0" })) << name;
  }
  // Scaled by 1: the target's own coordinates, and its triangles.
  EXPECT_EQ(
    ReadText(result.dir + "/scaled.vtk"), WrittenSurface(result.dir + "/target.vtk", [](double p, int) { return p; }));
  vtkSmartPointer<vtkPolyData> scaled = ReadSurface((result.dir + "/scaled.vtk").c_str());
  ASSERT_NE(scaled, nullptr);
  EXPECT_EQ(scaled->GetNumberOfPolys(), 4);
  EXPECT_EQ(scaled->GetNumberOfCells(), 4);
  EXPECT_EQ(scaled->GetPointData()->GetNumberOfArrays(), 0);
  EXPECT_EQ(ReadLines(result.dir + "/scaled.vtk")[0], "# vtk DataFile Version 4.2");
  EXPECT_EQ(ReadLines(result.dir + "/scaled.vtk")[2], "ASCII");
}

TEST(HelmetDiff, OnlyALowerCaseYAsFirstCharacterAsksForTheScaledTarget)
{
  const std::vector<Triangle> source = { Around(10, 0, 0), Around(0, 0, 20) };
  const std::vector<Triangle> target = { Moved(source[0], 1, 0.5, 0), Moved(source[1], 0, 0, -2) };
  const auto yes = RunHelmetDiff(source, target, "yes");
  EXPECT_EQ(yes.run.status, 0);
  EXPECT_EQ(yes.run.output.substr(0, 25), "y\nCreating scaled target\n");
  EXPECT_TRUE(yes.Exists("scaled.vtk"));
  for (const std::string& flag : std::vector<std::string>{ "Y", "n", "no", "" })
  {
    const auto no = RunHelmetDiff(source, target, flag);
    EXPECT_EQ(no.run.status, 0) << flag;
    // The flag line holds the first character; an empty flag has only its
    // terminating null there.
    EXPECT_EQ(no.run.output, (flag.empty() ? std::string(1, '\0') : flag.substr(0, 1)) + "\n") << flag;
    EXPECT_FALSE(no.Exists("scaled.vtk")) << flag;
    for (const char* name : kColorNames)
    {
      EXPECT_EQ(ReadText(no.dir + "/" + name), ReadText(yes.dir + "/" + name)) << flag << ' ' << name;
    }
  }
  EXPECT_EQ(yes.Values("vx.clr"), (std::vector<std::string>{ "1", "0" }));
  EXPECT_EQ(yes.Values("vy.clr"), (std::vector<std::string>{ "0.5", "0" }));
  EXPECT_EQ(yes.Values("vz.clr"), (std::vector<std::string>{ "0", "-2" }));
}

TEST(HelmetDiff, ProbeThatMissesCarriesTheLastTargetRadius)
{
  const auto result = RunHelmetDiff(kMissSource, kMissTarget, "n");
  EXPECT_EQ(result.run.status, 0);
  EXPECT_EQ(result.run.output, "n\n");
  std::vector<double> sourceRadius;
  std::vector<float> targetRadius;
  for (size_t i = 0; i < 3; ++i)
  {
    sourceRadius.push_back(Radius(Centroid(kMissSource[i])));
    targetRadius.push_back(static_cast<float>(Radius(Centroid(kMissTarget[i]))));
  }
  EXPECT_EQ(result.Values("vxyz.clr"),
    (std::vector<std::string>{ // Before any probe met the target: the cell's own target radius.
      Text(static_cast<double>(targetRadius[0]) - sourceRadius[0]),
      Text(static_cast<double>(targetRadius[1]) - sourceRadius[1]),
      // A miss: the target radius of the last cell whose probe met the target.
      Text(static_cast<double>(targetRadius[1]) - sourceRadius[2]) }));
  EXPECT_EQ(result.Values("vxyz.clr")[0], "16.0555");
  EXPECT_EQ(result.Values("vxyz.clr")[2], "-10");
  EXPECT_EQ(result.Values("vz.clr"), (std::vector<std::string>{ "30", "0", "30" }));
}

TEST(HelmetDiff, ScaledTargetIsTheTargetScaledAboutTheEarMidpointByTheAverageRatio)
{
  const auto result = RunHelmetDiff(kMissSource, kMissTarget, "y");
  double sum = 0;
  for (size_t i = 0; i < 3; ++i)
  {
    const std::array<double, 3> s = Centroid(kMissSource[i]);
    const std::array<double, 3> t = Centroid(kMissTarget[i]);
    const double d[3] = { t[0] - s[0], t[1] - s[1], t[2] - s[2] };
    const double r = Radius(s);
    sum += r / (r + std::sqrt((d[2] * d[2] + d[1] * d[1]) + d[0] * d[0]));
  }
  const double average = sum / 3.0;
  EXPECT_EQ(result.run.output, "y\nCreating scaled target\n" + Text(sum) + "\nAverage s: " + Text(average) + "\n");
  // The lifted cells have r_s = 20 and D = 30, the other one is in place.
  EXPECT_EQ(result.run.output, "y\nCreating scaled target\n1.8\nAverage s: 0.6\n");
  EXPECT_EQ(
    ReadText(result.dir + "/scaled.vtk"), WrittenSurface(result.dir + "/target.vtk", [average](double p, int k) {
      return static_cast<double>(static_cast<float>((p - kEar[k]) * average + kEar[k]));
    }));
}

TEST(HelmetDiff, RangesAreCopiedAsTypedIntoTheirOwnFiles)
{
  const std::vector<Triangle> cells = { Around(10, 0, 0) };
  const auto result = RunHelmetDiff(cells, cells, "n", { "-5.0", "5", "010", "1e1", "low", "high", "-0.50", "+.5" });
  EXPECT_EQ(result.run.output, "n\n");
  EXPECT_EQ(ReadLines(result.dir + "/vx.clr")[1], "-5.0 5");
  EXPECT_EQ(ReadLines(result.dir + "/vy.clr")[1], "010 1e1");
  EXPECT_EQ(ReadLines(result.dir + "/vz.clr")[1], "low high");
  EXPECT_EQ(ReadLines(result.dir + "/vxyz.clr")[1], "-0.50 +.5");
  for (const char* name : kColorNames)
  {
    EXPECT_EQ(ReadLines(result.dir + "/" + name)[0], "# OSTRAVELIN SURFACE SCALAR COLOR FILE V1") << name;
    EXPECT_EQ(ReadLines(result.dir + "/" + name)[2], kKeyword) << name;
    EXPECT_EQ(ReadLines(result.dir + "/" + name).size(), 4u) << name;
  }
}

TEST(HelmetDiff, ZeroOverZeroRatiosCountAsOne)
{
  // No cells: no ratio counted, the average is 1 and the target keeps its points.
  const std::string dir = ScratchDir();
  WriteSurfaceFile(dir + "/source.vtk", { { 1, 2, 3 } }, {});
  WriteSurfaceFile(dir + "/target.vtk", { { 1, 2, 3 } }, {});
  const ToolRun run = RunTool("helmetdiff", Arguments("y"), dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "y\nCreating scaled target\n0\nAverage s: 1\n");
  for (const char* name : kColorNames)
  {
    EXPECT_EQ(ReadText(dir + "/" + name), ColorFile("-5 5", kKeyword, {})) << name;
  }
  EXPECT_EQ(SurfacePoints(dir + "/scaled.vtk"), (std::vector<std::array<float, 3>>{ { 1, 2, 3 } }));

  // A source cell whose centroid is the ear midpoint and does not move: its
  // ratio r_s / (r_s + D) is 0 / 0, counted as 1.
  const Triangle atEar = { Point{ kEar[0], kEar[1], kEar[2] }, Point{ kEar[0], kEar[1], kEar[2] },
    Point{ kEar[0], kEar[1], kEar[2] } };
  const auto result = RunHelmetDiff({ atEar, Around(10, 0, 0) }, { atEar, Around(10, 0, 0) }, "y");
  EXPECT_EQ(result.run.output, "y\nCreating scaled target\n2\nAverage s: 1\n");
  EXPECT_EQ(result.Values("vx.clr"), (std::vector<std::string>{ "0", "0" }));
  EXPECT_EQ(result.Values("vxyz.clr")[0], "0");
}

TEST(HelmetDiff, HelmetMaskDoesNotRestrictAnyResult)
{
  const std::vector<Triangle> source = { Around(10, 0, 0), Around(0, 0, 20), Around(0, -15, 0) };
  const std::vector<Triangle> target = { Moved(source[0], 1, 0, 0), Moved(source[1], 0, 0, 2),
    Moved(source[2], 0, -3, 0) };
  const auto missing = RunHelmetDiff(source, target, "y");
  for (const std::string& mask : { ColorFile("0 1", "rainbow", { "0", "1", "0" }), std::string("not a mask\n"),
         ColorFile("0 1", "rainbow", { "1" }) })
  {
    const std::string dir = ScratchDir();
    WriteTriangles(dir + "/source.vtk", source);
    WriteTriangles(dir + "/target.vtk", target);
    WriteText(dir + "/mask.clr", mask);
    const ToolRun run = RunTool("helmetdiff", Arguments("y"), dir);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, missing.run.output);
    for (const char* name : { "vx.clr", "vy.clr", "vz.clr", "vxyz.clr", "scaled.vtk" })
    {
      EXPECT_EQ(ReadText(dir + "/" + name), ReadText(missing.dir + "/" + name)) << name;
    }
  }
}

TEST(HelmetDiff, RefusesUnequalCellCountsAndUnreadableInputsBeforeAnyFile)
{
  const std::string dir = ScratchDir();
  WriteTriangles(dir + "/one.vtk", { Around(10, 0, 0) });
  WriteTriangles(dir + "/two.vtk", { Around(10, 0, 0), Around(0, 10, 0) });
  WriteText(dir + "/vx.clr", "kept\n");
  WriteText(dir + "/badid.vtk",
    "# vtk DataFile Version 4.2\nx\nASCII\nDATASET POLYDATA\nPOINTS 3 float\n0 0 0 1 0 0 0 1 0\nPOLYGONS 1 4\n3 0 1 3\n");
  struct Case
  {
    std::string source, target, output;
  };
  const std::vector<Case> cases = {
    { "one.vtk", "two.vtk", "y\nERROR: Number of cells in the two inputs is not the same!\n" },
    { "two.vtk", "one.vtk", "y\nERROR: Number of cells in the two inputs is not the same!\n" },
    // The target is read first.
    { "missing.vtk", "also-missing.vtk", "y\nCannot read surface also-missing.vtk\n" },
    { "missing.vtk", "one.vtk", "y\nCannot read surface missing.vtk\n" },
    { "one.vtk", "badid.vtk", "y\nSurface badid.vtk has a cell that names a point that does not exist\n" },
  };
  for (const Case& c : cases)
  {
    std::vector<std::string> args = Arguments("y");
    args[0] = c.source;
    args[1] = c.target;
    const ToolRun run = RunTool("helmetdiff", args, dir);
    EXPECT_EQ(run.status, 255) << c.source << ' ' << c.target;
    EXPECT_EQ(run.output, c.output);
    EXPECT_EQ(ReadText(dir + "/vx.clr"), "kept\n");
    for (const char* name : { "vy.clr", "vz.clr", "vxyz.clr", "scaled.vtk" })
    {
      EXPECT_FALSE(std::filesystem::exists(dir + "/" + name)) << name;
    }
  }
}

TEST(HelmetDiff, OutputsThatCannotBeWrittenAreReportedAndTheOthersAreWritten)
{
  const std::string dir = ScratchDir();
  const std::vector<Triangle> cells = { Around(10, 0, 0) };
  WriteTriangles(dir + "/source.vtk", cells);
  WriteTriangles(dir + "/target.vtk", cells);
  std::vector<std::string> args = Arguments("y");
  args[5] = "no/vy.clr";
  args[15] = "no/scaled.vtk";
  const ToolRun run = RunTool("helmetdiff", args, dir);
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.output,
    "y\nCannot create output file no/vy.clr\nCreating scaled target\n1\nAverage s: 1\n"
    "Cannot write surface no/scaled.vtk\n");
  EXPECT_EQ(ReadText(dir + "/vx.clr"), ColorFile("-5 5", kKeyword, { "0" }));
  EXPECT_EQ(ReadText(dir + "/vz.clr"), ColorFile("-5 5", kKeyword, { "0" }));
  EXPECT_EQ(ReadLines(dir + "/vxyz.clr").size(), 4u);
}
