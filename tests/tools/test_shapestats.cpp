// shapestats end to end on cohorts made from the small sample template with
// a truth planted in them: a change of known size and place, modes of known
// direction and share, a head at a known number of standard deviations;
// and the refusals.
#include "testutil.h"

#include "surftools/surface.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>

using namespace testutil;

namespace
{
// The small sample template (4,600 cells) with its unit point normals.
struct Mesh
{
  std::vector<Point> points, normals;
  std::vector<Cell> cells;
};

Mesh SampleTemplate(const std::string& dir)
{
  const std::string command = Quote(std::string(BUILD_DIR) + "/sample/makesample") + " " + Quote(dir) + " 12 100 >/dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0);
  vtkSmartPointer<vtkPolyData> surface = ReadSurface((dir + "/template.vtk").c_str());
  Mesh mesh;
  mesh.points.resize(static_cast<size_t>(surface->GetNumberOfPoints()));
  mesh.normals.assign(mesh.points.size(), Point{ 0, 0, 0 });
  for (size_t i = 0; i < mesh.points.size(); ++i)
  {
    surface->GetPoint(static_cast<vtkIdType>(i), mesh.points[i].data());
  }
  for (vtkIdType c = 0; c < surface->GetNumberOfCells(); ++c)
  {
    double corners[3][3], normal[3];
    CellCorners(surface, c, corners);
    CellNormal(corners, normal);
    vtkIdType size;
    const vtkIdType* ids;
    surface->GetCellPoints(c, size, ids);
    mesh.cells.push_back({ ids[0], ids[1], ids[2] });
    for (int k = 0; k < 3; ++k)
    {
      for (int a = 0; a < 3; ++a)
      {
        mesh.normals[ids[k]][a] += normal[a];
      }
    }
  }
  for (Point& n : mesh.normals)
  {
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    n = { n[0] / length, n[1] / length, n[2] / length };
  }
  return mesh;
}

// A field of one number per point along the point normals, as 3-vectors.
std::vector<Point> AlongNormals(const Mesh& mesh, const std::vector<double>& size)
{
  std::vector<Point> field(size.size());
  for (size_t i = 0; i < size.size(); ++i)
  {
    field[i] = { size[i] * mesh.normals[i][0], size[i] * mesh.normals[i][1], size[i] * mesh.normals[i][2] };
  }
  return field;
}

// The template moved by `scale` times the fields, plus independent normal
// noise of deviation `noise` in every coordinate.
std::vector<Point> Moved(const Mesh& mesh, const std::vector<std::vector<Point>>& fields,
  const std::vector<double>& scale, double noise, std::mt19937& random)
{
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<Point> points = mesh.points;
  for (size_t i = 0; i < points.size(); ++i)
  {
    for (int a = 0; a < 3; ++a)
    {
      for (size_t f = 0; f < fields.size(); ++f)
      {
        points[i][a] += scale[f] * fields[f][i][a];
      }
      points[i][a] += noise * normal(random);
    }
  }
  return points;
}

// Writes the surfaces as NAME<j>.vtk and their list NAME.txt; returns the list's name.
std::string WriteCohort(const std::string& dir, const std::string& name, const Mesh& mesh,
  const std::vector<std::vector<Point>>& surfaces)
{
  std::string list;
  for (size_t j = 0; j < surfaces.size(); ++j)
  {
    const std::string file = name + std::to_string(j) + ".vtk";
    WriteSurfaceFile(dir + "/" + file, surfaces[j], mesh.cells);
    list += file + "\n";
  }
  WriteText(dir + "/" + name + ".txt", list);
  return name + ".txt";
}

// The values of a color file, or the numbers of a table's row.
std::vector<double> Numbers(const std::vector<std::string>& lines, size_t from)
{
  std::vector<double> values;
  for (size_t i = from; i < lines.size(); ++i)
  {
    values.push_back(std::stod(lines[i]));
  }
  return values;
}

std::vector<double> Fields(const std::string& row)
{
  std::vector<std::string> fields(1);
  for (char c : row)
  {
    if (c == '\t')
    {
      fields.emplace_back();
    }
    else
    {
      fields.back().push_back(c);
    }
  }
  return Numbers(std::vector<std::string>(fields.begin() + 1, fields.end()), 0);
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

std::vector<double> Flat(const std::vector<Point>& points)
{
  std::vector<double> flat;
  for (const Point& p : points)
  {
    flat.insert(flat.end(), p.begin(), p.end());
  }
  return flat;
}

std::vector<double> SurfaceCoordinates(const std::string& path)
{
  vtkSmartPointer<vtkPolyData> surface = ReadSurface(path.c_str());
  std::vector<double> flat(3 * static_cast<size_t>(surface->GetNumberOfPoints()));
  for (vtkIdType i = 0; i < surface->GetNumberOfPoints(); ++i)
  {
    surface->GetPoint(i, &flat[3 * static_cast<size_t>(i)]);
  }
  return flat;
}
}

TEST(ShapeStats, ChangeFindsThePlantedRegionAndNothingInNoise)
{
  const std::string dir = ScratchDir();
  const Mesh mesh = SampleTemplate(dir);
  // 1.5 mm outward within 40 mm of the back of the head; noise of 0.5 mm in
  // both visits of 20 subjects.
  const Point back = *std::max_element(mesh.points.begin(), mesh.points.end(),
    [](const Point& a, const Point& b) { return a[1] < b[1]; });
  std::vector<double> inside(mesh.points.size());
  for (size_t i = 0; i < inside.size(); ++i)
  {
    const double d[3] = { mesh.points[i][0] - back[0], mesh.points[i][1] - back[1], mesh.points[i][2] - back[2] };
    inside[i] = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]) < 40.0 ? 1.0 : 0.0;
  }
  const std::vector<Point> planted = AlongNormals(mesh, inside);
  std::mt19937 random(7);
  std::vector<std::vector<Point>> first, latest, noiseFirst, noiseLatest;
  for (int s = 0; s < 20; ++s)
  {
    first.push_back(Moved(mesh, {}, {}, 0.5, random));
    latest.push_back(Moved(mesh, { planted }, { 1.5 }, 0.5, random));
    noiseFirst.push_back(Moved(mesh, {}, {}, 0.5, random));
    noiseLatest.push_back(Moved(mesh, {}, {}, 0.5, random));
  }
  const ToolRun run = RunTool("shapestats", { "change", WriteCohort(dir, "first", mesh, first),
    WriteCohort(dir, "latest", mesh, latest), "out" }, dir);
  ASSERT_EQ(run.status, 0) << run.output;
  // A cell changed where any of its corners moved.
  const std::vector<double> significant = Numbers(ReadLines(dir + "/out/change_significant.clr"), 3);
  const std::vector<double> mean = Numbers(ReadLines(dir + "/out/change_mean.clr"), 3);
  ASSERT_EQ(significant.size(), mesh.cells.size());
  double truePositive = 0, found = 0, changed = 0, movedWhole = 0, meanWhole = 0;
  for (size_t c = 0; c < mesh.cells.size(); ++c)
  {
    const Cell& cell = mesh.cells[c];
    const double corners = inside[cell[0]] + inside[cell[1]] + inside[cell[2]];
    changed += corners > 0 ? 1 : 0;
    found += significant[c];
    truePositive += corners > 0 ? significant[c] : 0.0;
    movedWhole += corners == 3 ? 1 : 0;
    meanWhole += corners == 3 ? mean[c] : 0.0;
  }
  const double precision = truePositive / found, recall = truePositive / changed;
  std::cout << "planted change: precision " << precision << ", recall " << recall << " (" << changed << " cells)\n";
  EXPECT_GE(precision, 0.9);
  EXPECT_GE(recall, 0.9);
  EXPECT_NEAR(meanWhole / movedWhole, 1.5, 0.05);
  const std::vector<std::string> summary = ReadLines(dir + "/out/summary.tsv");
  ASSERT_EQ(summary.size(), 2u);
  EXPECT_EQ(summary[0], "subjects\tcells\tsignificant\tarea_share\tlargest_change\tlargest_change_cell\tunvarying");
  EXPECT_EQ(Fields(summary[1])[1], found);

  // Noise alone: at most the false discoveries that a 5% rate allows.
  const ToolRun noise = RunTool("shapestats", { "change", WriteCohort(dir, "noise_first", mesh, noiseFirst),
    WriteCohort(dir, "noise_latest", mesh, noiseLatest), "noise" }, dir);
  ASSERT_EQ(noise.status, 0) << noise.output;
  const std::vector<double> none = Numbers(ReadLines(dir + "/noise/change_significant.clr"), 3);
  const double falseFound = std::accumulate(none.begin(), none.end(), 0.0);
  std::cout << "noise alone: " << falseFound << " significant cells\n";
  EXPECT_LE(falseFound, 0.05 * static_cast<double>(none.size()));
}

TEST(ShapeStats, ModesRecoverPlantedDirectionsAndShares)
{
  const std::string dir = ScratchDir();
  const Mesh mesh = SampleTemplate(dir);
  // Mode 1 moves the top and bottom along the normals, mode 2 widens the
  // head; both unit vectors, mode 2 made orthogonal to mode 1.
  std::vector<double> height(mesh.points.size());
  std::vector<Point> widening(mesh.points.size());
  for (size_t i = 0; i < mesh.points.size(); ++i)
  {
    height[i] = (mesh.points[i][2] - 50.0) / 50.0;
    widening[i] = { (mesh.points[i][0] - 102.665) / 50.0, 0, 0 };
  }
  std::vector<double> u1 = Flat(AlongNormals(mesh, height)), u2 = Flat(widening);
  const double along = Cosine(u1, u2) * std::sqrt(std::inner_product(u2.begin(), u2.end(), u2.begin(), 0.0) /
    std::inner_product(u1.begin(), u1.end(), u1.begin(), 0.0));
  std::transform(u2.begin(), u2.end(), u1.begin(), u2.begin(), [&](double b, double a) { return b - along * a; });
  for (std::vector<double>* u : { &u1, &u2 })
  {
    const double length = std::sqrt(std::inner_product(u->begin(), u->end(), u->begin(), 0.0));
    std::transform(u->begin(), u->end(), u->begin(), [&](double x) { return x / length; });
  }
  std::vector<Point> field1(mesh.points.size()), field2(mesh.points.size());
  for (size_t i = 0; i < field1.size(); ++i)
  {
    field1[i] = { u1[3 * i], u1[3 * i + 1], u1[3 * i + 2] };
    field2[i] = { u2[3 * i], u2[3 * i + 1], u2[3 * i + 2] };
  }
  // 30 surfaces; scores of deviation 20 and 10, centred and uncorrelated;
  // noise of 0.02 mm in each coordinate.
  std::mt19937 random(11);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<double> a(30), b(30);
  std::generate(a.begin(), a.end(), [&] { return normal(random); });
  std::generate(b.begin(), b.end(), [&] { return normal(random); });
  for (std::vector<double>* s : { &a, &b })
  {
    const double m = std::accumulate(s->begin(), s->end(), 0.0) / 30.0;
    std::transform(s->begin(), s->end(), s->begin(), [&](double x) { return x - m; });
  }
  const double ab = std::inner_product(a.begin(), a.end(), b.begin(), 0.0) / std::inner_product(a.begin(), a.end(), a.begin(), 0.0);
  std::transform(b.begin(), b.end(), a.begin(), b.begin(), [&](double y, double x) { return y - ab * x; });
  const double sdA = std::sqrt(std::inner_product(a.begin(), a.end(), a.begin(), 0.0) / 29.0);
  const double sdB = std::sqrt(std::inner_product(b.begin(), b.end(), b.begin(), 0.0) / 29.0);
  std::vector<std::vector<Point>> surfaces;
  for (int j = 0; j < 30; ++j)
  {
    surfaces.push_back(Moved(mesh, { field1, field2 }, { 20.0 * a[j] / sdA, 10.0 * b[j] / sdB }, 0.02, random));
  }
  const ToolRun run = RunTool("shapestats", { "modes", WriteCohort(dir, "cohort", mesh, surfaces), "out", "2" }, dir);
  ASSERT_EQ(run.status, 0) << run.output;

  const std::vector<std::string> table = ReadLines(dir + "/out/modes.tsv");
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table[0], "mode\tvariance\tshare");
  const double noiseVariance = 3.0 * static_cast<double>(mesh.points.size()) * 0.02 * 0.02;
  const double total = 400.0 + 100.0 + noiseVariance;
  const std::vector<double> mean = SurfaceCoordinates(dir + "/out/mean.vtk");
  const std::vector<double> scores = Fields(ReadLines(dir + "/out/scores.tsv")[1]);
  for (int k = 0; k < 2; ++k)
  {
    const std::string name = dir + "/out/mode" + std::to_string(k + 1);
    std::vector<double> direction = SurfaceCoordinates(name + "_plus2sd.vtk");
    std::transform(direction.begin(), direction.end(), mean.begin(), direction.begin(), std::minus<double>());
    const double cosine = std::abs(Cosine(direction, k == 0 ? u1 : u2));
    const double share = Fields(table[1 + k])[1];
    std::cout << "mode " << k + 1 << ": cosine " << cosine << ", share " << share << "\n";
    EXPECT_GE(cosine, 0.95);
    EXPECT_NEAR(share, (k == 0 ? 400.0 : 100.0) / total, 0.02);
    // The first surface's score in standard deviations, up to the mode's sign.
    EXPECT_NEAR(std::abs(scores[k]), std::abs((k == 0 ? a[0] / sdA : b[0] / sdB)), 0.02);
  }
  EXPECT_EQ(Numbers(ReadLines(dir + "/out/mode1.clr"), 3).size(), mesh.cells.size());
  EXPECT_TRUE(std::filesystem::exists(dir + "/out/mode2_minus2sd.vtk"));
}

TEST(ShapeStats, ScoreOfAHeadAtThreeDeviations)
{
  const std::string dir = ScratchDir();
  const Mesh mesh = SampleTemplate(dir);
  // A bump of 2 mm on the crown, in 20 members at deviations spread evenly
  // (mean 0, standard deviation 1), and in the head at +3.
  std::vector<double> bump(mesh.points.size());
  for (size_t i = 0; i < bump.size(); ++i)
  {
    bump[i] = std::max(0.0, 2.0 * (mesh.points[i][2] - 100.0) / 50.0);
  }
  const std::vector<Point> field = AlongNormals(mesh, bump);
  std::mt19937 random(3);
  std::vector<std::vector<Point>> members;
  double squares = 0;
  for (int j = 0; j < 20; ++j)
  {
    squares += std::pow(-1.0 + j / 9.5, 2);
  }
  for (int j = 0; j < 20; ++j)
  {
    members.push_back(Moved(mesh, { field }, { (-1.0 + j / 9.5) / std::sqrt(squares / 19.0) }, 0.0, random));
  }
  WriteSurfaceFile(dir + "/head.vtk", Moved(mesh, { field }, { 3.0 }, 0.0, random), mesh.cells);
  const ToolRun run = RunTool("shapestats", { "score", WriteCohort(dir, "group", mesh, members), "head.vtk", "out" }, dir);
  ASSERT_EQ(run.status, 0) << run.output;
  const std::vector<double> z = Numbers(ReadLines(dir + "/out/zscore.clr"), 3);
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
  EXPECT_NEAR(Fields(table[1])[0], 3.0, 0.01);
  EXPECT_EQ(Fields(table[1])[1], 100.0);
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
    { { "change", "ab.txt", "aab.txt", "out" }, "List files ab.txt and aab.txt name different numbers of surfaces: 2 and 3" },
    { { "change", "a.txt", "a.txt", "out" }, "List file a.txt names 1 surface; a change needs at least 2" },
    { { "modes", "a.txt", "out" }, "List file a.txt names 1 surface; a decomposition into modes needs at least 2" },
    { { "score", "ab.txt", "a.vtk", "out" }, "List file ab.txt names 2 surfaces; a reference group needs at least 3" },
    { { "modes", "apoints.txt", "out" }, "Surface points.vtk has 3 points, not 4 as the first surface" },
    { { "change", "ab.txt", "acells.txt", "out" }, "Surface cells.vtk has 1 cells, not 2 as the first surface" },
    { { "score", "aab.txt", "missing.vtk", "out" }, "Cannot read surface missing.vtk" },
    { { "score", "aab.txt", "a.vtk", "out" }, "The surfaces of reference list aab.txt are all alike: " },
    { { "modes", "amissing.txt", "out" }, "Cannot read surface missing.vtk" },
    { { "modes", "nolist.txt", "out" }, "Cannot open list file nolist.txt" },
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
  EXPECT_EQ(usage.output.rfind("Usage: shapestats change first_list.txt latest_list.txt outdir\n"
                               "       shapestats modes list.txt outdir [modes]\n"
                               "       shapestats score reference_list.txt surface.vtk outdir\n", 0), 0u);
  for (const std::vector<std::string>& wrong : { std::vector<std::string>{ "change", "ab.txt", "ab.txt" },
         { "modes", "ab.txt" }, { "modes", "ab.txt", "out", "2", "more" }, { "score", "ab.txt", "a.vtk" }, { "other", "ab.txt", "out" } })
  {
    const ToolRun run = RunTool("shapestats", wrong, dir);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.output, usage.output);
  }
  EXPECT_FALSE(std::filesystem::exists(dir + "/out"));
}
