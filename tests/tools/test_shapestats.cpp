// shapestats end to end on cohorts made from the small sample template with
// a truth planted in them: a change of known size and place, modes of known
// direction and share, a head at a known number of standard deviations;
// and the refusals.
#include "testutil.h"

#include "geometry/vector.h"
#include "surftools/surface.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>

using namespace testutil;

namespace
{
// Coordinates of a surface's points, x, y, z of each in turn.
std::vector<double> Coordinates(vtkPolyData* surface)
{
  std::vector<double> coordinates(3 * static_cast<size_t>(surface->GetNumberOfPoints()));
  for (vtkIdType i = 0; i < surface->GetNumberOfPoints(); ++i)
  {
    surface->GetPoint(i, &coordinates[3 * static_cast<size_t>(i)]);
  }
  return coordinates;
}

// The small sample template (4,600 cells) with its unit point normals.
struct Mesh
{
  std::vector<double> points, normals;
  std::vector<Cell> cells;
};

Mesh SampleTemplate(const std::string& dir)
{
  const std::string command =
    Quote(std::string(BUILD_DIR) + "/sample/makesample") + " " + Quote(dir) + " 12 100 >/dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0);
  vtkSmartPointer<vtkPolyData> surface = ReadSurface((dir + "/template.vtk").c_str());
  Mesh mesh{ Coordinates(surface), std::vector<double>(3 * static_cast<size_t>(surface->GetNumberOfPoints())), {} };
  for (vtkIdType c = 0; c < surface->GetNumberOfCells(); ++c)
  {
    double corners[3][3], normal[3];
    CellCorners(surface, c, corners);
    CellNormal(corners, normal);
    vtkIdType size;
    const vtkIdType* ids;
    surface->GetCellPoints(c, size, ids);
    mesh.cells.push_back({ ids[0], ids[1], ids[2] });
    for (int k = 0; k < 9; ++k)
    {
      mesh.normals[3 * ids[k / 3] + k % 3] += normal[k % 3];
    }
  }
  for (size_t i = 0; i < mesh.normals.size(); i += 3)
  {
    const double length = Norm(&mesh.normals[i]);
    std::transform(&mesh.normals[i], &mesh.normals[i + 3], &mesh.normals[i], [&](double x) { return x / length; });
  }
  return mesh;
}

// A field of one number per point along the point normals.
std::vector<double> AlongNormals(const Mesh& mesh, const std::vector<double>& size)
{
  std::vector<double> field(mesh.normals.size());
  for (size_t x = 0; x < field.size(); ++x)
  {
    field[x] = size[x / 3] * mesh.normals[x];
  }
  return field;
}

// The template moved by `scale` times the fields, plus independent normal
// noise of deviation `noise` in every coordinate.
std::vector<double> Moved(const Mesh& mesh, const std::vector<std::vector<double>>& fields,
  const std::vector<double>& scale, double noise, std::mt19937& random)
{
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<double> points = mesh.points;
  for (size_t x = 0; x < points.size(); ++x)
  {
    for (size_t f = 0; f < fields.size(); ++f)
    {
      points[x] += scale[f] * fields[f][x];
    }
    points[x] += noise * normal(random);
  }
  return points;
}

void WriteMoved(const std::string& path, const Mesh& mesh, const std::vector<double>& coordinates)
{
  std::vector<Point> points(coordinates.size() / 3);
  for (size_t i = 0; i < points.size(); ++i)
  {
    points[i] = { coordinates[3 * i], coordinates[3 * i + 1], coordinates[3 * i + 2] };
  }
  WriteSurfaceFile(path, points, mesh.cells);
}

// Writes the surfaces as NAME<j>.vtk and their list NAME.txt; returns the list's name.
std::string WriteCohort(
  const std::string& dir, const std::string& name, const Mesh& mesh, const std::vector<std::vector<double>>& surfaces)
{
  std::string list;
  for (size_t j = 0; j < surfaces.size(); ++j)
  {
    const std::string file = name + std::to_string(j) + ".vtk";
    WriteMoved(dir + "/" + file, mesh, surfaces[j]);
    list += file + "\n";
  }
  WriteText(dir + "/" + name + ".txt", list);
  return name + ".txt";
}

// The values of a color file.
std::vector<double> ColorValues(const std::string& path)
{
  const std::vector<std::string> lines = ReadLines(path);
  std::vector<double> values;
  std::transform(lines.begin() + 3, lines.end(), std::back_inserter(values),
    [](const std::string& line) { return std::stod(line); });
  return values;
}

// The numbers of a table's row after its first field.
std::vector<double> RowNumbers(const std::string& row)
{
  std::istringstream fields(row.substr(row.find('\t') + 1));
  std::vector<double> numbers;
  for (double x; fields >> x;)
  {
    numbers.push_back(x);
  }
  return numbers;
}

double Cosine(const std::vector<double>& a, const std::vector<double>& b)
{
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = 0; i < a.size(); ++i)
  {
    ab += a[i] * b[i];
    aa += a[i] * a[i];
    bb += b[i] * b[i];
  }
  return ab / std::sqrt(aa * bb);
}

// How a change map of OUTDIR finds a planted region (`inside`: 1 at the
// points moved): a cell changed where any of its corners moved.
struct Detection
{
  double precision = 0, recall = 0;
  double found = 0;         // cells significant
  double share = 0;         // of all cells
  double meanInside = 0;    // mean change over the cells whose corners all moved
  double largestChange = 0; // the largest mean change anywhere
};

Detection Detected(const Mesh& mesh, const std::vector<double>& inside, const std::string& outDir)
{
  const std::vector<double> significant = ColorValues(outDir + "/change_significant.clr");
  const std::vector<double> mean = ColorValues(outDir + "/change_mean.clr");
  EXPECT_EQ(significant.size(), mesh.cells.size());
  Detection detection;
  double truePositive = 0, changed = 0, movedWhole = 0;
  for (size_t c = 0; c < mesh.cells.size() && c < significant.size(); ++c)
  {
    const Cell& cell = mesh.cells[c];
    const double corners = inside[cell[0]] + inside[cell[1]] + inside[cell[2]];
    changed += corners > 0 ? 1 : 0;
    detection.found += significant[c];
    truePositive += corners > 0 ? significant[c] : 0.0;
    movedWhole += corners == 3 ? 1 : 0;
    detection.meanInside += corners == 3 ? mean[c] : 0.0;
    detection.largestChange = std::max(detection.largestChange, mean[c]);
  }
  detection.precision = truePositive / detection.found;
  detection.recall = truePositive / changed;
  detection.share = detection.found / static_cast<double>(mesh.cells.size());
  detection.meanInside /= movedWhole;
  std::cout << outDir << ": precision " << detection.precision << ", recall " << detection.recall << " (" << changed
            << " cells changed), " << detection.found << " significant\n";
  return detection;
}

// The change map of OUTDIR finds the planted region with precision and
// recall 0.9 or better.
Detection ExpectPlantedFound(const Mesh& mesh, const std::vector<double>& inside, const std::string& outDir)
{
  const Detection detection = Detected(mesh, inside, outDir);
  EXPECT_GE(detection.precision, 0.9) << outDir;
  EXPECT_GE(detection.recall, 0.9) << outDir;
  return detection;
}

// 1 at the points within `radius` of the back of the head, else 0.
std::vector<double> BackOfTheHead(const Mesh& mesh, double radius)
{
  size_t back = 0;
  std::vector<double> inside(mesh.points.size() / 3);
  for (size_t i = 0; i < inside.size(); ++i)
  {
    back = mesh.points[3 * i + 1] > mesh.points[3 * back + 1] ? i : back;
  }
  for (size_t i = 0; i < inside.size(); ++i)
  {
    inside[i] = Distance(&mesh.points[3 * i], &mesh.points[3 * back]) < radius ? 1.0 : 0.0;
  }
  return inside;
}
}

TEST(ShapeStats, ChangeFindsThePlantedRegionAndNothingInNoise)
{
  const std::string dir = ScratchDir();
  const Mesh mesh = SampleTemplate(dir);
  // 1.5 mm outward within 40 mm of the back of the head; noise of 0.5 mm in
  // both visits of 20 subjects.
  const std::vector<double> inside = BackOfTheHead(mesh, 40.0);
  const std::vector<double> planted = AlongNormals(mesh, inside);
  std::mt19937 random(7);
  std::vector<std::vector<double>> first, latest, noiseFirst, noiseLatest;
  for (int s = 0; s < 20; ++s)
  {
    first.push_back(Moved(mesh, {}, {}, 0.5, random));
    latest.push_back(Moved(mesh, { planted }, { 1.5 }, 0.5, random));
    noiseFirst.push_back(Moved(mesh, {}, {}, 0.5, random));
    noiseLatest.push_back(Moved(mesh, {}, {}, 0.5, random));
  }
  const ToolRun run = RunTool("shapestats",
    { "change", WriteCohort(dir, "first", mesh, first), WriteCohort(dir, "latest", mesh, latest), "out" }, dir);
  ASSERT_EQ(run.status, 0) << run.output;
  const Detection detection = ExpectPlantedFound(mesh, inside, dir + "/out");
  EXPECT_NEAR(detection.meanInside, 1.5, 0.05);
  const std::vector<std::string> summary = ReadLines(dir + "/out/summary.tsv");
  ASSERT_EQ(summary.size(), 2u);
  EXPECT_EQ(summary[0], "subjects\tcells\tsignificant\tarea_share\tlargest_change\tlargest_change_cell\tunvarying");
  EXPECT_EQ(RowNumbers(summary[1])[1], detection.found);

  // Noise alone: at most the false discoveries that a 5% rate allows.
  const ToolRun noise = RunTool("shapestats",
    { "change", WriteCohort(dir, "noise_first", mesh, noiseFirst), WriteCohort(dir, "noise_latest", mesh, noiseLatest),
      "noise" },
    dir);
  ASSERT_EQ(noise.status, 0) << noise.output;
  const std::vector<double> none = ColorValues(dir + "/noise/change_significant.clr");
  const double falseFound = std::accumulate(none.begin(), none.end(), 0.0);
  std::cout << "noise alone: " << falseFound << " significant cells\n";
  EXPECT_LE(falseFound, 0.05 * static_cast<double>(none.size()));
}

TEST(ShapeStats, ChangeBeyondGrowthFindsThePlantedRegionAndEachHeadsGrowth)
{
  const std::string dir = ScratchDir();
  const Mesh mesh = SampleTemplate(dir);
  // 20 children whose heads grow by their own factor of 3 to 8% about a
  // point of their own, plus 3 mm outward over a tenth of the head at the
  // back, and 0.3 mm of noise in every coordinate of both visits.
  const std::vector<double> inside = BackOfTheHead(mesh, 52.0);
  const double share = std::accumulate(inside.begin(), inside.end(), 0.0) / static_cast<double>(inside.size());
  ASSERT_GT(share, 0.08);
  ASSERT_LT(share, 0.13);
  const std::vector<double> bump = AlongNormals(mesh, inside);
  std::mt19937 random(11);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  std::vector<std::vector<double>> first, latest;
  std::vector<double> planted;
  for (int s = 0; s < 20; ++s)
  {
    planted.push_back(1.03 + 0.05 * uniform(random));
    const double centre[3] = { 100 + 10 * uniform(random), 100 + 10 * uniform(random), 40 + 10 * uniform(random) };
    std::vector<double> growth(mesh.points.size());
    for (size_t x = 0; x < growth.size(); ++x)
    {
      growth[x] = mesh.points[x] - centre[x % 3];
    }
    first.push_back(Moved(mesh, {}, {}, 0.3, random));
    latest.push_back(Moved(mesh, { growth, bump }, { planted.back() - 1, 3.0 }, 0.3, random));
  }
  const std::string firstList = WriteCohort(dir, "first", mesh, first);
  const std::string latestList = WriteCohort(dir, "latest", mesh, latest);
  // The plain change: every head grew, so nearly every cell changed.
  const ToolRun plain = RunTool("shapestats", { "change", firstList, latestList, "plain" }, dir);
  ASSERT_EQ(plain.status, 0) << plain.output;
  EXPECT_GE(Detected(mesh, inside, dir + "/plain").share, 0.95);
  // Beyond growth: the planted region, its 3 mm (3 / g mm at the first
  // visit's size), and each child's growth.
  const ToolRun beyond = RunTool("shapestats", { "change", firstList, latestList, "beyond", "size" }, dir);
  ASSERT_EQ(beyond.status, 0) << beyond.output;
  const Detection detection = ExpectPlantedFound(mesh, inside, dir + "/beyond");
  EXPECT_NEAR(detection.largestChange, 3.0, 0.45);
  const std::vector<std::string> growth = ReadLines(dir + "/beyond/growth.tsv");
  ASSERT_EQ(growth.size(), planted.size() + 1);
  EXPECT_EQ(growth[0], "subject\tgrowth_factor");
  double mean = 0, largestError = 0;
  for (size_t s = 0; s < planted.size(); ++s)
  {
    EXPECT_EQ(growth[s + 1].substr(0, growth[s + 1].find('\t')), "latest" + std::to_string(s) + ".vtk");
    EXPECT_NEAR(RowNumbers(growth[s + 1])[0] / planted[s], 1.0, 0.002) << s;
    largestError = std::max(largestError, std::abs(RowNumbers(growth[s + 1])[0] / planted[s] - 1));
    mean += planted[s] / static_cast<double>(planted.size());
  }
  std::cout << "growth factors: largest error " << 100 * largestError << "%, peak change " << detection.largestChange
            << " mm\n";
  const std::string line = "Growth factors (latest against first): mean ";
  ASSERT_NE(beyond.output.find(line), std::string::npos) << beyond.output;
  EXPECT_NEAR(std::stod(beyond.output.substr(beyond.output.find(line) + line.size())), mean, 0.002);
}

TEST(ShapeStats, ModesRecoverPlantedDirectionsAndShares)
{
  const std::string dir = ScratchDir();
  const Mesh mesh = SampleTemplate(dir);
  // Mode 1 widens the head (x only), mode 2 makes it taller (z only): unit
  // vectors, orthogonal. Their scores over 30 surfaces are a cosine and a sine
  // over one period (centred, uncorrelated), of deviation 20 and 10; noise
  // of 0.02 mm in each coordinate.
  std::vector<double> widening(mesh.points.size()), taller(mesh.points.size());
  for (size_t i = 0; i < mesh.points.size(); i += 3)
  {
    widening[i] = mesh.points[i] - 102.665;
    taller[i + 2] = mesh.points[i + 2] - 50.0;
  }
  const std::vector<std::vector<double>> u = { widening, taller };
  double lengths[2];
  for (int k = 0; k < 2; ++k)
  {
    lengths[k] = std::sqrt(std::inner_product(u[k].begin(), u[k].end(), u[k].begin(), 0.0));
  }
  std::mt19937 random(11);
  std::vector<std::vector<double>> surfaces;
  for (int j = 0; j < 30; ++j)
  {
    const double angle = 2.0 * M_PI * j / 30.0, unit = std::sqrt(58.0 / 30.0);
    surfaces.push_back(Moved(mesh, { widening, taller },
      { 20.0 * unit * std::cos(angle) / lengths[0], 10.0 * unit * std::sin(angle) / lengths[1] }, 0.02, random));
  }
  const ToolRun run = RunTool("shapestats", { "modes", WriteCohort(dir, "cohort", mesh, surfaces), "out", "2" }, dir);
  ASSERT_EQ(run.status, 0) << run.output;

  const std::vector<std::string> table = ReadLines(dir + "/out/modes.tsv");
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table[0], "mode\tvariance\tshare");
  const double total = 400.0 + 100.0 + static_cast<double>(mesh.points.size()) * 0.02 * 0.02;
  const std::vector<double> mean = Coordinates(ReadSurface((dir + "/out/mean.vtk").c_str()));
  const std::vector<double> scores = RowNumbers(ReadLines(dir + "/out/scores.tsv")[2]);
  for (int k = 0; k < 2; ++k)
  {
    const std::string name = dir + "/out/mode" + std::to_string(k + 1);
    std::vector<double> direction = Coordinates(ReadSurface((name + "_plus2sd.vtk").c_str()));
    std::transform(direction.begin(), direction.end(), mean.begin(), direction.begin(), std::minus<double>());
    const double cosine = std::abs(Cosine(direction, u[k]));
    const double share = RowNumbers(table[1 + k])[1];
    std::cout << "mode " << k + 1 << ": cosine " << cosine << ", share " << share << "\n";
    EXPECT_GE(cosine, 0.95);
    EXPECT_NEAR(share, (k == 0 ? 400.0 : 100.0) / total, 0.02);
    // Surface 1's score in standard deviations, up to the mode's sign.
    const double angle = 2.0 * M_PI / 30.0;
    EXPECT_NEAR(
      std::abs(scores[k]), std::sqrt(58.0 / 30.0) * std::abs(k == 0 ? std::cos(angle) : std::sin(angle)), 0.02);
  }
  EXPECT_EQ(ColorValues(dir + "/out/mode1.clr").size(), mesh.cells.size());
  EXPECT_TRUE(std::filesystem::exists(dir + "/out/mode2_minus2sd.vtk"));
}

TEST(ShapeStats, ScoreOfAHeadAtThreeDeviations)
{
  const std::string dir = ScratchDir();
  const Mesh mesh = SampleTemplate(dir);
  // A bump of 2 mm on the crown, in 20 members at deviations along a cosine
  // over one period (mean 0, standard deviation 1), and in the head at +3.
  std::vector<double> bump(mesh.points.size() / 3);
  for (size_t i = 0; i < bump.size(); ++i)
  {
    bump[i] = std::max(0.0, 2.0 * (mesh.points[3 * i + 2] - 100.0) / 50.0);
  }
  const std::vector<double> field = AlongNormals(mesh, bump);
  std::mt19937 random(3);
  std::vector<std::vector<double>> members;
  for (int j = 0; j < 20; ++j)
  {
    members.push_back(
      Moved(mesh, { field }, { std::sqrt(38.0 / 20.0) * std::cos(2.0 * M_PI * j / 20.0) }, 0.0, random));
  }
  WriteMoved(dir + "/head.vtk", mesh, Moved(mesh, { field }, { 3.0 }, 0.0, random));
  const ToolRun run =
    RunTool("shapestats", { "score", WriteCohort(dir, "group", mesh, members), "head.vtk", "out" }, dir);
  ASSERT_EQ(run.status, 0) << run.output;
  const std::vector<double> z = ColorValues(dir + "/out/zscore.clr");
  ASSERT_EQ(z.size(), mesh.cells.size());
  size_t checked = 0;
  for (size_t c = 0; c < z.size(); ++c)
  {
    const double least = std::min({ bump[mesh.cells[c][0]], bump[mesh.cells[c][1]], bump[mesh.cells[c][2]] });
    const double most = std::max({ bump[mesh.cells[c][0]], bump[mesh.cells[c][1]], bump[mesh.cells[c][2]] });
    if (least > 0.2)
    {
      EXPECT_NEAR(z[c], 3.0, 0.01) << c;
      ++checked;
    }
    else if (most == 0.0)
    {
      EXPECT_EQ(z[c], 0.0) << c; // no deviation in the group: written as 0
    }
  }
  EXPECT_GT(checked, 100u);
  const std::vector<std::string> table = ReadLines(dir + "/out/score.tsv");
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(table[0], "file\tdistance\tpercentile");
  EXPECT_EQ(table[1].rfind("head.vtk\t", 0), 0u);
  EXPECT_NEAR(RowNumbers(table[1])[0], 3.0, 0.01);
  EXPECT_EQ(RowNumbers(table[1])[1], 100.0);
}

TEST(ShapeStats, UsageAndRefusalsWriteNothing)
{
  const std::string dir = ScratchDir();
  const std::vector<Point> square = { { 0, 0, 0 }, { 1, 0, 0 }, { 1, 1, 0 }, { 0, 1, 0 } };
  WriteSurfaceFile(dir + "/a.vtk", square, { { 0, 1, 2 }, { 0, 2, 3 } });
  WriteSurfaceFile(dir + "/b.vtk", square, { { 0, 1, 2 }, { 0, 2, 3 } });
  WriteSurfaceFile(dir + "/points.vtk", { { 0, 0, 0 }, { 1, 0, 0 }, { 1, 1, 0 } }, { { 0, 1, 2 } });
  WriteSurfaceFile(dir + "/cells.vtk", square, { { 0, 1, 2 } });
  const std::vector<std::pair<std::string, std::string>> lists = { { "ab", "a.vtk\nb.vtk\n" },
    { "aab", "a.vtk\na.vtk\nb.vtk\n" }, { "a", "a.vtk\n" }, { "apoints", "a.vtk\npoints.vtk\n" },
    { "acells", "a.vtk\ncells.vtk\n" }, { "amissing", "a.vtk\nmissing.vtk\n" } };
  for (const auto& [name, text] : lists)
  {
    WriteText(dir + "/" + name + ".txt", text);
  }
  WriteText(dir + "/file", "");
  const std::vector<std::pair<std::vector<std::string>, std::string>> refusals = {
    { { "change", "ab.txt", "aab.txt", "out" },
      "List files ab.txt and aab.txt name different numbers of surfaces: 2 and 3" },
    { { "change", "a.txt", "a.txt", "out" }, "List file a.txt names 1 surface; a change needs at least 2" },
    { { "modes", "a.txt", "out" }, "List file a.txt names 1 surface; a decomposition into modes needs at least 2" },
    { { "score", "ab.txt", "a.vtk", "out" }, "List file ab.txt names 2 surfaces; a reference group needs at least 3" },
    { { "modes", "apoints.txt", "out" }, "Surface points.vtk has 3 points, not 4 as the first surface" },
    { { "change", "ab.txt", "acells.txt", "out" }, "Surface cells.vtk has 1 cells, not 2 as the first surface" },
    { { "score", "aab.txt", "missing.vtk", "out" }, "Cannot read surface missing.vtk" },
    { { "score", "aab.txt", "a.vtk", "out" }, "The surfaces of reference list aab.txt are all alike: " },
    { { "modes", "amissing.txt", "out" }, "Cannot read surface missing.vtk" },
    { { "modes", "nolist.txt", "out" }, "Cannot open list file nolist.txt" },
    { { "change", "ab.txt", "ab.txt", "out", "scale" },
      "The change's fourth argument is size (the change beyond growth), not scale" },
    { { "modes", "ab.txt", "out", "0" }, "Mode count 0 is not a whole number of at least 1" },
    { { "modes", "ab.txt", "file/out" }, "Cannot create output folder file/out: " },
  };
  for (const auto& [arguments, line] : refusals)
  {
    const ToolRun run = RunTool("shapestats", arguments, dir);
    EXPECT_EQ(run.status, 255) << line;
    EXPECT_EQ(run.output.rfind(line, 0), 0u) << run.output;
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
    EXPECT_FALSE(std::filesystem::exists(dir + "/out")) << line;
  }
  const ToolRun usage = RunTool("shapestats", {}, dir);
  EXPECT_EQ(usage.status, 255);
  EXPECT_EQ(usage.output.rfind("Usage: shapestats change first_list.txt latest_list.txt outdir [size]\n"
                               "       shapestats modes list.txt outdir [modes]\n"
                               "       shapestats score reference_list.txt surface.vtk outdir\n",
              0),
    0u);
  for (const std::vector<std::string>& wrong :
    { std::vector<std::string>{ "change", "ab.txt", "ab.txt" }, { "modes", "ab.txt" },
      { "modes", "ab.txt", "out", "2", "more" }, { "score", "ab.txt", "a.vtk" }, { "other", "ab.txt", "out" } })
  {
    const ToolRun run = RunTool("shapestats", wrong, dir);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.output, usage.output);
  }
  EXPECT_FALSE(std::filesystem::exists(dir + "/out"));
}
