#include "locate/locatorhit.h"
#include "testsurfaces.h"
#include "testutil.h"

#include <vtkCellArray.h>
#include <vtkCellLocator.h>
#include <vtkPoints.h>
#include <vtkSmartPointer.h>

#include <algorithm>
#include <cmath>
#include <random>

using namespace testsurfaces;

namespace
{
struct Tally
{
  int queries = 0;
  int hits = 0;
  int settled = 0;
};

// For one segment: a cell proved hit means the locator reports a hit, and
// the cell that the locator reports can itself be proved hit.
void CheckSegment(
  vtkCellLocator* locator, LocatorGrid& grid, const double a0[3], const double a1[3], double tol, Tally& tally)
{
  double t;
  double x[3];
  double pcoords[3];
  int subId;
  vtkIdType reported = -1;
  const int hit = locator->IntersectWithLine(a0, a1, tol, t, x, pcoords, subId, reported);
  ++tally.queries;
  tally.hits += hit;
  const vtkIdType cells = grid.dataSet->GetNumberOfCells();
  for (vtkIdType c = 0; c < cells; ++c)
  {
    if (LocatorSurelyHits(grid, a0, a1, tol, c))
    {
      ++tally.settled;
      ASSERT_EQ(hit, 1) << "cell " << c << " from " << a0[0] << ' ' << a0[1] << ' ' << a0[2] << " to " << a1[0] << ' '
                        << a1[1] << ' ' << a1[2] << " tol " << tol;
    }
  }
  if (hit)
  {
    ASSERT_TRUE(LocatorSurelyHits(grid, a0, a1, tol, reported))
      << "cell " << reported << " from " << a0[0] << ' ' << a0[1] << ' ' << a0[2] << " to " << a1[0] << ' ' << a1[1]
      << ' ' << a1[2] << " tol " << tol;
  }
}

vtkSmartPointer<vtkCellLocator> Locate(vtkPolyData* surface, LocatorGrid* grid)
{
  auto locator = vtkSmartPointer<vtkCellLocator>::New();
  locator->SetDataSet(surface);
  locator->BuildLocator();
  EXPECT_TRUE(ReadLocatorGrid(locator, grid));
  return locator;
}
}

TEST(LocatorHit, AgreesWithTheLocatorOnSegmentsAlongTheOctantGrid)
{
  // Segments between points on a half (or quarter) grid run through octant
  // faces, edges and corners, where the locator's walk takes its special
  // steps; many start at the centre, a corner of eight octants.
  std::mt19937 random(7);
  for (int n : { 8, 16 })
  {
    vtkPolyData* box = GridBox(n);
    LocatorGrid grid;
    vtkSmartPointer<vtkCellLocator> locator = Locate(box, &grid);
    EXPECT_EQ(locator->GetLevel(), n == 8 ? 2 : 3);
    std::uniform_int_distribution<int> half(-n, 3 * n);
    std::uniform_real_distribution<double> any(-2, n + 2);
    Tally tally;
    for (int i = 0; i < 600 && !HasFatalFailure(); ++i)
    {
      double a0[3];
      double a1[3];
      for (int k = 0; k < 3; ++k)
      {
        switch (i % 3)
        {
          case 0:
            a0[k] = half(random) * 0.5;
            a1[k] = half(random) * 0.5;
            break;
          case 1:
            a0[k] = half(random) * 0.25;
            a1[k] = a0[k] + (half(random) % 5) * 0.25 * n;
            break;
          default:
            a0[k] = any(random);
            a1[k] = any(random);
        }
        if (i % 2 == 0)
        {
          a0[k] = n / 2;
        }
      }
      for (double tol : { 0.001, 0.0, 0.1 })
      {
        CheckSegment(locator, grid, a0, a1, tol, tally);
      }
    }
    if (n == 16)
    {
      // Segments from octant corners on which the walk's first steps are
      // the special ones.
      const double known[][6] = { { 8, 8, 8, -4, -4, 20 }, { 8, 8, 8, 13, 12, -4 }, { 8, 8, 8, 0.5, 17, 10.5 },
        { 9, 9, 8.5, 1, 17, -3.5 }, { 8, 8, 8, -1, 14, -2 }, { 11, 4, 9, -1, 12, 6.5 }, { 8, 8, 8, -3.5, 18.5, 11.5 },
        { 8, 8, 8, 11.5, 18.5, -7.75 } };
      for (const auto& segment : known)
      {
        for (double tol : { 0.001, 0.0, 0.1 })
        {
          CheckSegment(locator, grid, segment, segment + 3, tol, tally);
        }
      }
    }
    EXPECT_GT(tally.hits, tally.queries / 3);
    EXPECT_GT(tally.settled, tally.hits);
  }
}

TEST(LocatorHit, AgreesWithTheLocatorOnDegenerateAndSliverTriangles)
{
  std::mt19937 random(11);
  std::uniform_real_distribution<double> coordinate(0, 10);
  std::uniform_real_distribution<double> unit(0, 1);
  Tally tally;
  for (int round = 0; round < 6 && !HasFatalFailure(); ++round)
  {
    std::vector<double> xyz;
    std::vector<vtkIdType> ids;
    const int triangles = 60 + 40 * round;
    // The last rounds far from the origin, where rounding is coarser.
    const double far = round >= 4 ? 4096.3 : 0.0;
    for (int i = 0; i < triangles; ++i)
    {
      const double c[3] = { far + coordinate(random), far + coordinate(random), far + coordinate(random) };
      const double size = i % 5 == 0 ? 0.0 : 1.0; // every fifth collapses to a point
      for (int v = 0; v < 3; ++v)
      {
        const double z = i % 3 == 0 ? c[2] : c[2] + size * (coordinate(random) - 5) * 0.3; // some lie flat
        xyz.insert(
          xyz.end(), { c[0] + size * (coordinate(random) - 5) * 0.3, c[1] + size * (coordinate(random) - 5) * 0.3, z });
        ids.push_back(static_cast<vtkIdType>(xyz.size() / 3 - 1));
      }
      if (i % 11 == 0)
      {
        ids[ids.size() - 1] = ids[ids.size() - 2]; // two corners alike: a segment
      }
    }
    vtkPolyData* soup = MakeSurface(xyz, ids);
    LocatorGrid grid;
    vtkSmartPointer<vtkCellLocator> locator = Locate(soup, &grid);
    for (int i = 0; i < 400 && !HasFatalFailure(); ++i)
    {
      double a0[3];
      double a1[3];
      for (int k = 0; k < 3; ++k)
      {
        a0[k] = far + coordinate(random) * 1.4 - 2;
        a1[k] = far + coordinate(random) * 1.4 - 2;
      }
      if (i % 3 == 0)
      {
        // Aimed at a point of an edge, where the tolerance decides.
        const size_t c = static_cast<size_t>(random() % triangles);
        const double w = unit(random);
        for (int k = 0; k < 3; ++k)
        {
          const double target = xyz[3 * ids[3 * c] + k] * w + xyz[3 * ids[3 * c + 1] + k] * (1 - w);
          a1[k] = a0[k] + 2 * (target - a0[k]);
        }
      }
      for (double tol : { 0.001, 0.05 })
      {
        CheckSegment(locator, grid, a0, a1, tol, tally);
      }
    }
  }
  EXPECT_GT(tally.hits, tally.queries / 5);
}

TEST(LocatorHit, AgreesWithTheLocatorOnAFlatSurface)
{
  // All points in one plane: the locator widens its box across the plane.
  vtkPolyData* plane = FlatGrid(12);
  LocatorGrid grid;
  vtkSmartPointer<vtkCellLocator> locator = Locate(plane, &grid);
  std::mt19937 random(5);
  std::uniform_int_distribution<int> quarter(-4, 28);
  Tally tally;
  for (int i = 0; i < 400 && !HasFatalFailure(); ++i)
  {
    double a0[3] = { quarter(random) * 0.25, quarter(random) * 0.25, 0.3 + (quarter(random) - 12) * 0.1 };
    double a1[3] = { quarter(random) * 0.25, quarter(random) * 0.25, 0.3 - (quarter(random) - 10) * 0.1 };
    if (i % 5 == 0)
    {
      a1[2] = 0.3; // ending in the plane
    }
    for (double tol : { 0.001, 0.0 })
    {
      CheckSegment(locator, grid, a0, a1, tol, tally);
    }
  }
  EXPECT_GT(tally.hits, tally.queries / 4);
}

namespace
{
// A closed sphere of radius 50 around `centre` as `rings` rings of
// `segments` points (poles repeated), and the same cells on a copy turned by
// 0.07 radians about z with radius 49: `xyz`, `turned` and the cells' ids.
void TurnedSpheres(const double centre[3], int rings, int segments, std::vector<double>& xyz,
  std::vector<double>& turned, std::vector<vtkIdType>& ids)
{
  for (int r = 0; r <= rings; ++r)
  {
    const double theta = 3.141592653589793 * r / rings;
    for (int s = 0; s < segments; ++s)
    {
      const double phi = 2 * 3.141592653589793 * s / segments;
      const double p[3] = { std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi), std::cos(theta) };
      xyz.insert(xyz.end(), { centre[0] + 50 * p[0], centre[1] + 50 * p[1], centre[2] + 50 * p[2] });
      const double q[3] = { std::sin(theta) * std::cos(phi + 0.07), std::sin(theta) * std::sin(phi + 0.07),
        std::cos(theta) };
      turned.insert(turned.end(), { centre[0] + 49 * q[0], centre[1] + 49 * q[1], centre[2] + 49 * q[2] });
    }
  }
  for (int r = 0; r < rings; ++r)
  {
    for (int s = 0; s < segments; ++s)
    {
      const vtkIdType a = r * segments + s;
      const vtkIdType b = r * segments + (s + 1) % segments;
      ids.insert(ids.end(), { a, a + segments, b, b, a + segments, b + segments });
    }
  }
}

// The point 5 times as far from `centre` as cell c's centroid on `probes`.
void ProbeEnd(vtkPolyData* probes, vtkIdType c, const double centre[3], double a1[3])
{
  vtkIdType size;
  const vtkIdType* corner;
  probes->GetCellPoints(c, size, corner);
  a1[0] = a1[1] = a1[2] = 0;
  for (int v = 0; v < 3; ++v)
  {
    double p[3];
    probes->GetPoint(corner[v], p);
    for (int k = 0; k < 3; ++k)
    {
      a1[k] += p[k] / 3;
    }
  }
  for (int k = 0; k < 3; ++k)
  {
    a1[k] = centre[k] + 5 * (a1[k] - centre[k]);
  }
}
}

TEST(LocatorHit, WalkFromANearbyCellSettlesProbesOutOfAClosedSurface)
{
  // A closed sphere of radius 50 around the centre; each probe runs from the
  // centre through a cell centroid of a turned copy of the sphere, so it
  // leaves the sphere near, but mostly not through, the cell of the same id.
  const double centre[3] = { 10, 20, 30 };
  const int rings = 30;
  const int segments = 60;
  std::vector<double> xyz, turned;
  std::vector<vtkIdType> ids;
  TurnedSpheres(centre, rings, segments, xyz, turned, ids);
  vtkPolyData* sphere = MakeSurface(xyz, ids);
  vtkPolyData* probes = MakeSurface(turned, ids);
  LocatorGrid grid;
  vtkSmartPointer<vtkCellLocator> locator = Locate(sphere, &grid);
  int settled = 0;
  int settledOwn = 0;
  // Also with each search starting where the one before passed: what is
  // proved holds as well, and as much is proved.
  int settledHinted = 0;
  vtkIdType hint = -1;
  const vtkIdType cells = sphere->GetNumberOfCells();
  for (vtkIdType c = 0; c < cells; ++c)
  {
    double a1[3];
    ProbeEnd(probes, c, centre, a1);
    double t;
    double x[3];
    double pcoords[3];
    int subId;
    const int hit = locator->IntersectWithLine(centre, a1, 0.001, t, x, pcoords, subId);
    settledOwn += LocatorSurelyHits(grid, centre, a1, 0.001, c);
    if (LocatorSurelyHitsNear(grid, centre, a1, 0.001, c, &hint))
    {
      ++settledHinted;
      ASSERT_EQ(hit, 1) << c;
    }
    if (LocatorSurelyHitsNear(grid, centre, a1, 0.001, c))
    {
      ++settled;
      ASSERT_EQ(hit, 1) << c;
    }
    else
    {
      // Around the poles, fans of cells with a collapsed edge and unshared
      // pole points leave the probes to the locator.
      const vtkIdType ring = c / (2 * segments);
      EXPECT_TRUE(ring == 0 || ring == rings - 1) << c;
    }
  }
  EXPECT_GT(settled, cells * 9 / 10);
  EXPECT_LT(settledOwn, cells * 3 / 4);

  EXPECT_GE(settledHinted, settled - cells / 100);
}

TEST(LocatorHit, SearchAroundAHoleSettlesWhatTheWalkCannotReach)
{
  // A flat grid of 30 by 30 squares (two triangles each) at z = 0.3 with a
  // hole across it: the walk from a cell on one side toward a line on the
  // other ends at the hole's edge, and only the search around the hole
  // reaches the cell the line crosses. Lines through the hole miss.
  const auto inHole = [](int a, int b) { return a >= 12 && a <= 13 && b >= 6 && b <= 23; };
  LocatorGrid grid;
  vtkSmartPointer<vtkCellLocator> locator = Locate(FlatGrid(30, inHole), &grid);
  // The start: a cell of the square from (4.5, 7.5) to (5, 8).
  const double inStart[3] = { 4.75, 7.6, 0.3 };
  double closest[3];
  vtkIdType startCell = -1;
  int subId;
  double distance2;
  locator->FindClosestPoint(inStart, closest, startCell, subId, distance2);
  ASSERT_GE(startCell, 0);
  int hits = 0;
  int settled = 0;
  // Vertical lines through square centres and through corners and edges
  // (ties between cells), from the hole's far side up to the hole itself.
  for (int step = 0; step < 40; ++step)
  {
    const double x = 6.0 + 0.125 * step;
    for (const double y : { 7.75, 7.5, 7.6 })
    {
      const double a0[3] = { x, y, -1.0 };
      const double a1[3] = { x, y, 1.6 };
      double t;
      double hitPoint[3];
      double pcoords[3];
      const int hit = locator->IntersectWithLine(a0, a1, 0.001, t, hitPoint, pcoords, subId);
      hits += hit;
      if (LocatorSurelyHitsNear(grid, a0, a1, 0.001, startCell))
      {
        ++settled;
        ASSERT_EQ(hit, 1) << x << ' ' << y;
      }
      const bool throughHole = x > 6.0 + 0.001 && x < 7.0 - 0.001;
      EXPECT_EQ(hit, throughHole ? 0 : 1) << x << ' ' << y;
    }
  }
  EXPECT_GT(hits, 60);
  EXPECT_GE(settled, hits * 9 / 10);
}

TEST(LocatorHit, PlannedGridIsTheOneTheLocatorBuilds)
{
  // Cell counts on either side of the counts where the locator's level
  // grows (25 cells a leaf, 8 leaves a level), on a flat strip and a box.
  for (vtkIdType count : { 24, 25, 26, 199, 200, 201, 1599, 1600, 1601, 12799, 12800, 12801, 102400, 102401 })
  {
    std::vector<double> xyz;
    std::vector<vtkIdType> ids;
    for (vtkIdType c = 0; c < count; ++c)
    {
      const double x = static_cast<double>(c);
      xyz.insert(xyz.end(), { x, 0, 0, x + 1, 0, 0.5 * (c % 7), x, 1, 0.25 });
      ids.insert(ids.end(), { 3 * c, 3 * c + 1, 3 * c + 2 });
    }
    vtkPolyData* strip = MakeSurface(xyz, ids);
    auto locator = vtkSmartPointer<vtkCellLocator>::New();
    locator->SetDataSet(strip);
    LocatorGrid planned;
    const bool plannable = PlanLocatorGrid(locator, &planned);
    EXPECT_EQ(plannable, count > 25) << count;
    locator->BuildLocator();
    if (plannable)
    {
      EXPECT_TRUE(LocatorBuiltAsPlanned(locator, planned)) << count;
    }
    strip->Delete();
  }
}

TEST(LocatorHit, NothingIsSettledWithoutAGrid)
{
  vtkPolyData* empty = MakeSurface({ 0, 0, 0 }, {});
  auto locator = vtkSmartPointer<vtkCellLocator>::New();
  locator->SetDataSet(empty);
  LocatorGrid grid;
  EXPECT_FALSE(ReadLocatorGrid(locator, &grid));
  const double a0[3] = { -1, -1, -1 };
  const double a1[3] = { 1, 1, 1 };
  EXPECT_FALSE(LocatorSurelyHits(grid, a0, a1, 0.001, 0));
  EXPECT_FALSE(LocatorSurelyHitsNear(grid, a0, a1, 0.001, 0));
}

TEST(LocatorHit, LineCheckNeverClaimsAnOctantTheWalkMisses)
{
  // Random grids, segments and boxes of octants around a point of the
  // segment: where the check says the walk reaches the box, the walk itself
  // must. Half the segments run between points of a quarter-octant lattice,
  // through octant edges and corners, where the check must give way.
  std::mt19937 random(23);
  std::uniform_real_distribution<double> unit(0, 1);
  std::uniform_int_distribution<int> level(1, 8);
  std::uniform_int_distribution<int> spread(0, 2);
  long claimed = 0;
  long reached = 0;
  long generic = 0;
  long genericClaimed = 0;
  for (int i = 0; i < 200000; ++i)
  {
    LocatorGridShape shape;
    shape.divisions = 1 << level(random);
    for (int k = 0; k < 3; ++k)
    {
      shape.bounds[2 * k] = -50 + 100 * unit(random);
      shape.bounds[2 * k + 1] = shape.bounds[2 * k] + 1 + 200 * unit(random);
      shape.width[k] = (shape.bounds[2 * k + 1] - shape.bounds[2 * k]) / shape.divisions;
    }
    const bool lattice = i % 2 == 1;
    double a0[3];
    double a1[3];
    double along = unit(random);
    int first[3];
    int last[3];
    for (int k = 0; k < 3; ++k)
    {
      const double low = shape.bounds[2 * k];
      const double size = shape.bounds[2 * k + 1] - low;
      if (lattice)
      {
        std::uniform_int_distribution<int> quarter(0, 4 * shape.divisions);
        a0[k] = low + quarter(random) * shape.width[k] / 4;
        a1[k] = low + (quarter(random) * 3 - 4 * shape.divisions) * shape.width[k] / 4;
        along = 0.25 * (i % 5);
      }
      else
      {
        a0[k] = low + size * unit(random);
        a1[k] = low + size * (3 * unit(random) - 1);
      }
      const double there = a0[k] + along * (a1[k] - a0[k]);
      const int octant =
        std::clamp(static_cast<int>(std::floor((there - low) / shape.width[k])), 0, shape.divisions - 1);
      first[k] = std::max(0, octant - spread(random));
      last[k] = std::min(shape.divisions - 1, octant + spread(random));
    }
    const bool sure = LocatorWalkSurelyEnters(shape, a0, a1, first, last);
    const bool walked = WalkLocatorOctants(shape, a0, a1, [&](int x, int y, int z) {
      return first[0] <= x && x <= last[0] && first[1] <= y && y <= last[1] && first[2] <= z && z <= last[2];
    });
    claimed += sure;
    reached += walked;
    if (!lattice && walked)
    {
      ++generic;
      genericClaimed += sure;
    }
    ASSERT_TRUE(!sure || walked) << "segment " << a0[0] << ' ' << a0[1] << ' ' << a0[2] << " to " << a1[0] << ' '
                                 << a1[1] << ' ' << a1[2] << " divisions " << shape.divisions;
  }
  // Off the lattice, nearly every reach is told from the line.
  EXPECT_GT(genericClaimed, generic * 99 / 100);
  EXPECT_LT(claimed, reached);
}
