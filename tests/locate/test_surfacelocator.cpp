// SurfaceLocator against vtkCellLocator: every answer alike to the last bit,
// on surfaces where several cells are equally near (grid-aligned cubes, flat
// grids), on a smooth closed surface, on degenerate and sliver cells, with
// points far outside, and with points of double precision.
#include "locate/surfacelocator.h"
#include "testsurfaces.h"

#include <gtest/gtest.h>

#include <vtkCellArray.h>
#include <vtkCellLocator.h>
#include <vtkDoubleArray.h>
#include <vtkIdList.h>
#include <vtkSmartPointer.h>

#include <cmath>
#include <cstring>
#include <random>

using namespace testsurfaces;

namespace
{
bool SameBits(const double* a, const double* b, int count)
{
  return std::memcmp(a, b, sizeof(double) * count) == 0;
}

struct Pair
{
  vtkSmartPointer<vtkCellLocator> plain;
  SurfaceLocator fast;
  int closestQueries = 0;
  int lineQueries = 0;
  explicit Pair(vtkPolyData* surface)
    : plain(vtkSmartPointer<vtkCellLocator>::New())
    , fast(surface)
  {
    plain->SetDataSet(surface);
    plain->BuildLocator();
  }

  void Closest(const double x[3])
  {
    ++closestQueries;
    double expected[4] = { 0, 0, 0, 0 };
    double found[4] = { 0, 0, 0, 0 };
    vtkIdType expectedCell = -1;
    vtkIdType foundCell = -1;
    int expectedSub = -1;
    int foundSub = -1;
    plain->FindClosestPoint(x, expected, expectedCell, expectedSub, expected[3]);
    fast.FindClosestPoint(x, found, foundCell, foundSub, found[3]);
    EXPECT_TRUE(expectedCell == foundCell && expectedSub == foundSub && SameBits(expected, found, 4))
      << "closest point to " << x[0] << ' ' << x[1] << ' ' << x[2] << ": cell " << expectedCell << " / " << foundCell;
  }

  void Line(const double a0[3], const double a1[3], double tol)
  {
    ++lineQueries;
    double expected[7] = { 0, 0, 0, 0, 0, 0, 0 };
    vtkIdType expectedCell = -1;
    int expectedSub = -1;
    const int expectedHit =
      plain->IntersectWithLine(a0, a1, tol, expected[6], expected, expected + 3, expectedSub, expectedCell);
    SurfaceLocator::LineHit at = {};
    const int foundHit = fast.IntersectWithLine(a0, a1, tol, &at);
    double found[7] = { at.x[0], at.x[1], at.x[2], at.pcoords[0], at.pcoords[1], at.pcoords[2], at.t };
    const vtkIdType foundCell = at.cellId;
    const int foundSub = at.subId;
    EXPECT_EQ(expectedHit, foundHit) << "segment " << a0[0] << ' ' << a0[1] << ' ' << a0[2] << " to " << a1[0] << ' '
                                     << a1[1] << ' ' << a1[2];
    if (expectedHit && foundHit)
    {
      EXPECT_TRUE(expectedCell == foundCell && expectedSub == foundSub && SameBits(expected, found, 7))
        << "segment " << a0[0] << ' ' << a0[1] << ' ' << a0[2] << " to " << a1[0] << ' ' << a1[1] << ' ' << a1[2]
        << ": cell " << expectedCell << " / " << foundCell;
    }
  }

  // The flag alone, asked with a cell near which the segment should cross
  // (or none, -1).
  void Flag(const double a0[3], const double a1[3], double tol, vtkIdType nearCell)
  {
    ++lineQueries;
    double t;
    double x[3];
    double pcoords[3];
    int subId;
    const int expectedHit = plain->IntersectWithLine(a0, a1, tol, t, x, pcoords, subId);
    EXPECT_EQ(expectedHit, fast.IntersectWithLine(a0, a1, tol, nullptr, nearCell))
      << "segment " << a0[0] << ' ' << a0[1] << ' ' << a0[2] << " to " << a1[0] << ' ' << a1[1] << ' ' << a1[2]
      << " near cell " << nearCell;
  }
};

// A closed sphere of radius 50 about (10, 20, 30), of rings x segments
// quadrilaterals split in two (fans at the poles).
vtkPolyData* Sphere(int rings, int segments, bool doublePoints = false)
{
  std::vector<double> xyz;
  std::vector<vtkIdType> ids;
  xyz.insert(xyz.end(), { 10, 20, 80 });
  for (int r = 1; r < rings; ++r)
  {
    const double theta = 3.141592653589793 * r / rings;
    for (int s = 0; s < segments; ++s)
    {
      const double phi = 2 * 3.141592653589793 * s / segments;
      xyz.insert(xyz.end(),
        { 10 + 50 * std::sin(theta) * std::cos(phi), 20 + 50 * std::sin(theta) * std::sin(phi),
          30 + 50 * std::cos(theta) });
    }
  }
  xyz.insert(xyz.end(), { 10, 20, -20 });
  const vtkIdType south = static_cast<vtkIdType>(xyz.size() / 3 - 1);
  auto at = [segments](int r, int s) { return static_cast<vtkIdType>(1 + (r - 1) * segments + s % segments); };
  for (int s = 0; s < segments; ++s)
  {
    ids.insert(ids.end(), { 0, at(1, s), at(1, s + 1) });
    for (int r = 1; r + 1 < rings; ++r)
    {
      ids.insert(ids.end(), { at(r, s), at(r + 1, s), at(r + 1, s + 1), at(r, s), at(r + 1, s + 1), at(r, s + 1) });
    }
    ids.insert(ids.end(), { at(rings - 1, s), south, at(rings - 1, s + 1) });
  }
  vtkPolyData* surface = MakeSurface(xyz, ids);
  if (doublePoints)
  {
    vtkPoints* points = vtkPoints::New(VTK_DOUBLE);
    for (size_t i = 0; i < xyz.size(); i += 3)
    {
      points->InsertNextPoint(xyz[i], xyz[i + 1], xyz[i + 2]);
    }
    surface->SetPoints(points);
    points->Delete();
  }
  return surface;
}

// Probes from `centre` past each cell of a closed surface, as helmetdiff
// makes them: through the cell's centroid turned by `turn` radians about the
// z axis, to `reach` times its distance; each asked with its cell as the
// near cell.
void ProbeEveryCell(Pair& pair, vtkPolyData* surface, const double centre[3], double turn, double reach)
{
  const vtkIdType cells = surface->GetNumberOfCells();
  for (vtkIdType c = 0; c < cells && !::testing::Test::HasFailure(); ++c)
  {
    vtkIdType size;
    const vtkIdType* ids;
    surface->GetCellPoints(c, size, ids);
    double p[3] = { 0, 0, 0 };
    for (vtkIdType v = 0; v < size; ++v)
    {
      double corner[3];
      surface->GetPoint(ids[v], corner);
      for (int k = 0; k < 3; ++k)
      {
        p[k] += (corner[k] - centre[k]) / static_cast<double>(size);
      }
    }
    const double a1[3] = { static_cast<float>(centre[0] + reach * (std::cos(turn) * p[0] - std::sin(turn) * p[1])),
      static_cast<float>(centre[1] + reach * (std::sin(turn) * p[0] + std::cos(turn) * p[1])),
      static_cast<float>(centre[2] + reach * p[2]) };
    pair.Flag(centre, a1, 0.001, c);
  }
}

// Query points about a surface: its corners, points of its edges, points off
// random places of its cells along their normals (up to `reach`), and points
// far away; single-precision numbers as curve files give them.
std::vector<std::array<double, 3>> QueryPoints(vtkPolyData* surface, int count, double reach, unsigned seed)
{
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(0, 1);
  std::vector<std::array<double, 3>> points;
  const vtkIdType cells = surface->GetNumberOfCells();
  for (int i = 0; i < count; ++i)
  {
    vtkIdType size;
    const vtkIdType* ids;
    surface->GetCellPoints(static_cast<vtkIdType>(random() % cells), size, ids);
    double c[3][3];
    for (int v = 0; v < 3; ++v)
    {
      surface->GetPoint(ids[v], c[v]);
    }
    double a = unit(random);
    double b = unit(random);
    if (a + b > 1)
    {
      a = 1 - a;
      b = 1 - b;
    }
    const int kind = i % 8;
    if (kind == 0)
    {
      a = b = 0; // a corner
    }
    else if (kind == 1)
    {
      b = 0; // an edge
    }
    else if (kind == 2)
    {
      b = 1 - a; // the edge across
    }
    const double u[3] = { c[1][0] - c[0][0], c[1][1] - c[0][1], c[1][2] - c[0][2] };
    const double w[3] = { c[2][0] - c[0][0], c[2][1] - c[0][1], c[2][2] - c[0][2] };
    double n[3] = { u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0] };
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    double off = kind < 4 && i % 16 < 8 ? 0.0 : (2 * unit(random) - 1) * reach;
    if (kind == 7 && i % 32 == 7)
    {
      off = (2 * unit(random) - 1) * 40 * reach; // far away
    }
    std::array<double, 3> p;
    for (int k = 0; k < 3; ++k)
    {
      p[k] = static_cast<float>(c[0][k] + a * u[k] + b * w[k] + (length > 0 ? off * n[k] / length : 0));
    }
    points.push_back(p);
  }
  return points;
}

// Each query point as a closest-point query, and segments between them: to
// the next point, and from it in a random direction.
void CompareAll(Pair& pair, const std::vector<std::array<double, 3>>& points, unsigned seed)
{
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(-1, 1);
  for (size_t i = 0; i < points.size() && !::testing::Test::HasFailure(); ++i)
  {
    pair.Closest(points[i].data());
    const double* a0 = points[i].data();
    double a1[3];
    for (int k = 0; k < 3; ++k)
    {
      a1[k] = i % 2 ? points[(i + 1) % points.size()][k] : static_cast<float>(a0[k] + 6 * unit(random));
    }
    pair.Line(a0, a1, i % 3 ? 0.001 : 0.0);
  }
}
}

TEST(SurfaceLocator, OctantListsAreTheLocators)
{
  // Every cell an octant lists lies in the octants found for it, and there
  // are as many listings as octants found: the same lists.
  for (vtkPolyData* surface : { GridBox(12), Sphere(40, 80) })
  {
    auto locator = vtkSmartPointer<vtkCellLocator>::New();
    locator->SetDataSet(surface);
    locator->BuildLocator();
    const LocatorGridShape shape = LocatorShape(surface, locator->GetLevel());
    const int n = shape.divisions;
    const int leafStart = locator->GetNumberOfBuckets() - n * n * n;
    std::vector<std::array<int, 6>> octants(static_cast<size_t>(surface->GetNumberOfCells()));
    long long found = 0;
    for (vtkIdType c = 0; c < surface->GetNumberOfCells(); ++c)
    {
      double bounds[6];
      surface->GetCellBounds(c, bounds);
      std::array<int, 6>& o = octants[static_cast<size_t>(c)];
      LocatorCellOctants(shape, bounds, o.data(), o.data() + 3);
      found += static_cast<long long>(o[3] - o[0] + 1) * (o[4] - o[1] + 1) * (o[5] - o[2] + 1);
    }
    long long listed = 0;
    for (int k = 0; k < n; ++k)
    {
      for (int j = 0; j < n; ++j)
      {
        for (int i = 0; i < n; ++i)
        {
          vtkIdList* cells = locator->GetCells(leafStart + i + j * n + k * n * n);
          for (vtkIdType l = 0; cells && l < cells->GetNumberOfIds(); ++l)
          {
            const std::array<int, 6>& o = octants[static_cast<size_t>(cells->GetId(l))];
            ASSERT_TRUE(o[0] <= i && i <= o[3] && o[1] <= j && j <= o[4] && o[2] <= k && k <= o[5]);
            ++listed;
          }
        }
      }
    }
    EXPECT_EQ(listed, found);
    EXPECT_GE(n, 8);
  }
}

TEST(SurfaceLocator, AgreesWithTheLocatorOnASmoothClosedSurface)
{
  vtkPolyData* surface = Sphere(40, 80);
  Pair pair(surface);
  CompareAll(pair, QueryPoints(surface, 1600, 5.0, 3), 4);
  // Most answers are settled without the locator.
  EXPECT_LT(pair.fast.AskedClosest, pair.closestQueries / 10);
  EXPECT_LT(pair.fast.AskedLine, pair.lineQueries / 10);
}

TEST(SurfaceLocator, AgreesWithTheLocatorWherePointsAreDoubles)
{
  vtkPolyData* surface = Sphere(30, 50, true);
  Pair pair(surface);
  CompareAll(pair, QueryPoints(surface, 600, 3.0, 5), 6);
  EXPECT_LT(pair.fast.AskedClosest, pair.closestQueries / 10);
}

TEST(SurfaceLocator, AgreesWithTheLocatorWhereTheArraysCannotBeReadInPlace)
{
  // The index reads the cells' corners from the surface's own arrays: in
  // place for 64-bit ids on single-precision points, through the surface
  // otherwise (32-bit ids here, on single- and on double-precision points);
  // built before the first query, as the tools build it.
  for (const bool doublePoints : { false, true })
  {
    vtkPolyData* surface = Sphere(30, 50, doublePoints);
    ASSERT_TRUE(surface->GetPolys()->ConvertTo32BitStorage());
    ASSERT_FALSE(SurfaceArrays(surface).Usable());
    Pair pair(surface);
    pair.fast.BuildIndex();
    CompareAll(pair, QueryPoints(surface, 600, 3.0, 7), 6);
    EXPECT_LT(pair.fast.AskedClosest, pair.closestQueries / 10);
    EXPECT_LT(pair.fast.AskedLine, pair.lineQueries / 10);
  }
}

TEST(SurfaceLocator, AgreesWithTheLocatorOnAGridAlignedCube)
{
  // Every corner, edge and face lies on the locator's octant grid, and many
  // points are equally near several cells.
  vtkPolyData* surface = GridBox(4);
  Pair pair(surface);
  std::mt19937 random(7);
  std::uniform_int_distribution<int> quarter(-8, 24);
  std::vector<std::array<double, 3>> points;
  for (int i = 0; i < 1200; ++i)
  {
    points.push_back({ quarter(random) * 0.25, quarter(random) * 0.25, quarter(random) * 0.25 });
  }
  CompareAll(pair, points, 8);
  CompareAll(pair, QueryPoints(surface, 400, 1.0, 9), 10);
}

TEST(SurfaceLocator, AgreesWithTheLocatorOnAFlatGrid)
{
  vtkPolyData* surface = FlatGrid(16);
  Pair pair(surface);
  std::mt19937 random(11);
  std::uniform_int_distribution<int> step(-4, 36);
  std::vector<std::array<double, 3>> points;
  for (int i = 0; i < 1000; ++i)
  {
    points.push_back({ step(random) * 0.25, step(random) * 0.25, 0.3 + (i % 3 ? (step(random) - 16) * 0.1 : 0.0) });
  }
  CompareAll(pair, points, 12);
}

TEST(SurfaceLocator, AgreesWithTheLocatorOnDegenerateAndSliverCells)
{
  std::mt19937 random(13);
  std::uniform_real_distribution<double> coordinate(0, 10);
  std::vector<double> xyz;
  std::vector<vtkIdType> ids;
  for (int i = 0; i < 300; ++i)
  {
    const double c[3] = { coordinate(random), coordinate(random), coordinate(random) };
    // Every fifth collapses to a point, every seventh to a needle, every
    // third lies in a plane of constant z.
    const double size = i % 5 == 0 ? 0.0 : 1.0;
    for (int v = 0; v < 3; ++v)
    {
      const double spread = i % 7 == 0 ? 1.0e-4 * v : (coordinate(random) - 5) * 0.3;
      xyz.insert(xyz.end(),
        { c[0] + size * (i % 7 == 0 ? v : spread), c[1] + size * spread,
          i % 3 == 0 ? c[2] : c[2] + size * (coordinate(random) - 5) * 0.3 });
      ids.push_back(static_cast<vtkIdType>(xyz.size() / 3 - 1));
    }
    if (i % 11 == 0)
    {
      ids[ids.size() - 1] = ids[ids.size() - 2]; // two corners alike
    }
  }
  vtkPolyData* surface = MakeSurface(xyz, ids);
  Pair pair(surface);
  CompareAll(pair, QueryPoints(surface, 1200, 2.0, 14), 15);
}

TEST(SurfaceLocator, AgreesWithTheLocatorOnSegmentsFromJustBeyondABorder)
{
  // A tilted plane, whose cells' bounds are wider than the boxes that hold
  // them tightly. Segments start in the plane just beyond its border, up to
  // twice the tolerance off, and run steeply through it inward: the locator
  // meets a border cell wherever the start lies within the tolerance of it.
  const int n = 8;
  std::vector<double> xyz;
  std::vector<vtkIdType> ids;
  for (int j = 0; j <= n; ++j)
  {
    for (int i = 0; i <= n; ++i)
    {
      xyz.insert(xyz.end(), { 1.0 * i, 1.0 * j, 0.5 * i + 0.3 * j });
    }
  }
  for (int j = 0; j < n; ++j)
  {
    for (int i = 0; i < n; ++i)
    {
      const vtkIdType a = j * (n + 1) + i;
      ids.insert(ids.end(), { a, a + 1, a + n + 2, a, a + n + 2, a + n + 1 });
    }
  }
  vtkPolyData* surface = MakeSurface(xyz, ids);
  Pair pair(surface);
  const double length = std::sqrt(0.25 + 0.09 + 1.0);
  const double normal[3] = { -0.5 / length, -0.3 / length, 1.0 / length };
  std::mt19937 random(17);
  std::uniform_real_distribution<double> along(0, n);
  std::uniform_real_distribution<double> off(0, 0.002);
  for (int q = 0; q < 800 && !HasFailure(); ++q)
  {
    // Beyond the side x = 0, x = n, y = 0 or y = n, in the plane.
    const int side = q % 4;
    const double beyond = off(random);
    const double s = along(random);
    double x = side == 0 ? -beyond : side == 1 ? n + beyond : s;
    double y = side == 2 ? -beyond : side == 3 ? n + beyond : s;
    const double a0[3] = { x, y, 0.5 * x + 0.3 * y };
    const double inward[2] = { side == 0 ? 1.0 : side == 1 ? -1.0 : 0.0, side == 2 ? 1.0 : side == 3 ? -1.0 : 0.0 };
    const double sign = q % 8 < 4 ? 1.0 : -1.0;
    double a1[3];
    for (int k = 0; k < 3; ++k)
    {
      a1[k] = a0[k] - 5.0 * sign * normal[k] + (k < 2 ? inward[k] : 0.5 * inward[0] + 0.3 * inward[1]);
    }
    pair.Line(a0, a1, 0.001);
  }
}

TEST(SurfaceLocator, ProbesAskedWithANearCellAgreeWithTheLocator)
{
  // Probes out of a closed sphere near, but mostly not through, their cell:
  // nearly all proved from there. Probes that stop short inside the sphere
  // are not proved and are settled otherwise.
  vtkPolyData* surface = Sphere(40, 80);
  Pair pair(surface);
  const double centre[3] = { 10, 20, 30 };
  ProbeEveryCell(pair, surface, centre, 0.03, 5.0);
  const vtkIdType cells = surface->GetNumberOfCells();
  EXPECT_GT(pair.fast.ProvedLine, cells * 9 / 10);
  const long long proved = pair.fast.ProvedLine;
  ProbeEveryCell(pair, surface, centre, 0.03, 0.5);
  EXPECT_EQ(pair.fast.ProvedLine, proved);
  // Without a near cell: the flag of the settled query.
  CompareAll(pair, QueryPoints(surface, 400, 5.0, 21), 22);
  std::mt19937 random(23);
  std::uniform_real_distribution<double> unit(-60, 60);
  for (int i = 0; i < 400 && !HasFailure(); ++i)
  {
    const double a1[3] = { centre[0] + unit(random), centre[1] + unit(random), centre[2] + unit(random) };
    pair.Flag(centre, a1, 0.001, -1);
  }
  EXPECT_EQ(pair.fast.ProvedLine, proved);
  EXPECT_LT(pair.fast.AskedLine, pair.lineQueries / 10);
}

TEST(SurfaceLocator, AgreesWithTheLocatorOnQuadrilaterals)
{
  // A closed box of unit squares as cells of four points (each pair of
  // triangles of the grid box made one): nothing for the index, which takes
  // triangles only; the proofs from a near cell still hold, and the rest is
  // asked of the locator.
  const int n = 6;
  vtkPolyData* box = GridBox(n);
  std::vector<double> xyz;
  for (vtkIdType p = 0; p < box->GetNumberOfPoints(); ++p)
  {
    double point[3];
    box->GetPoint(p, point);
    xyz.insert(xyz.end(), { point[0], point[1], point[2] });
  }
  std::vector<vtkIdType> ids;
  for (vtkIdType c = 0; c + 1 < box->GetNumberOfCells(); c += 2)
  {
    vtkIdType size;
    const vtkIdType* corners;
    box->GetCellPoints(c, size, corners);
    ids.insert(ids.end(), { corners[0], corners[1], corners[2] });
    box->GetCellPoints(c + 1, size, corners);
    ids.push_back(corners[2]);
  }
  vtkPolyData* surface = MakeSurface(xyz, ids, 4);
  Pair pair(surface);
  const double centre[3] = { 2.9, 3.1, 3.05 };
  ProbeEveryCell(pair, surface, centre, 0.05, 3.0);
  // The walk across the surface takes three corners of a cell: it finds
  // some of the cells crossed, and the locator answers for the others.
  EXPECT_GT(pair.fast.ProvedLine, 0);
  EXPECT_GT(pair.fast.AskedLine, 0);
  CompareAll(pair, QueryPoints(surface, 300, 1.0, 25), 26);
  EXPECT_EQ(pair.fast.AskedClosest, pair.closestQueries);
}
