// The proofs of hits of a vtkCellLocator's line query.
//
// The locator answers a segment query by walking the leaf octants of its
// uniform grid along the segment, from the start point on, and testing the
// cells listed in each octant it visits; it reports a hit at the first octant
// in which some cell is met at a point that lies in that octant (within the
// tolerance). So the query surely reports a hit when one given cell is met by
// the segment, exactly as the locator's own cell test meets it, at a point
// that lies in an octant which the walk visits and which lists that cell.
// LocatorSurelyHits checks exactly that: it makes the locator's cell test with
// VTK's own code (or, for a triangle that the segment crosses well inside, well
// between its ends and not at a grazing angle, tells its outcome from the
// triangle's plane, with the hit point to within a bound far above the rounding
// of both), then follows the walk (told from the segment's line, or repeated
// with the locator's arithmetic step for step) and looks the cell up in the
// locator's own octant lists. The walk repeated is that of VTK 9.1's locator;
// built with another VTK, nothing is settled until it is checked against that
// VTK's walk.
//
// LocatorSurelyHitsNear first finds the cell to try: from a cell near which
// the segment is expected to leave the surface, it walks across shared edges
// toward the segment's line (with a table of each point's cells, built once).
#include "locate/locatorhit.h"

#include "geometry/vector.h"

#include <vtkBox.h>
#include <vtkCellArray.h>
#include <vtkCellType.h>
#include <vtkFloatArray.h>
#include <vtkIdList.h>
#include <vtkVersionMacros.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <queue>
#include <unordered_set>
#include <utility>

namespace
{
// Takes the grid of `level` that `locator` has or will have over its data set.
bool TakeGrid(vtkCellLocator* locator, int level, LocatorGrid* grid)
{
  grid->locator = nullptr;
#if VTK_MAJOR_VERSION != 9 || VTK_MINOR_VERSION != 1
  // The walk repeated below is VTK 9.1's.
  return false;
#endif
  vtkDataSet* dataSet = locator->GetDataSet();
  if (!dataSet || dataSet->GetNumberOfCells() < 1 || locator->GetLazyEvaluation() || level < 0 || level > 8)
  {
    return false;
  }
  grid->shape = LocatorShape(dataSet, level);
  if (grid->surface != dataSet)
  {
    grid->links.reset();
  }
  grid->dataSet = dataSet;
  grid->surface = vtkPolyData::SafeDownCast(dataSet);
  if (!grid->cell)
  {
    grid->cell = vtkSmartPointer<vtkGenericCell>::New();
  }
  grid->locator = locator;
  return true;
}
}

bool ReadLocatorGrid(vtkCellLocator* locator, LocatorGrid* grid)
{
  const int level = LocatorBuiltLevel(locator);
  grid->locator = nullptr;
  return level >= 0 && TakeGrid(locator, level, grid);
}

bool PlanLocatorGrid(vtkCellLocator* locator, LocatorGrid* grid)
{
  return TakeGrid(locator, LocatorPlannedLevel(locator), grid);
}

bool LocatorBuiltAsPlanned(vtkCellLocator* locator, const LocatorGrid& grid)
{
  const int level = LocatorBuiltLevel(locator);
  return grid.locator == locator && level >= 0 && (1 << level) == grid.shape.divisions;
}

namespace
{
// Whether the leaf octant with index `index` along `axis` holds the
// coordinates from `from` to `to` within the tolerance, with the locator's
// own arithmetic.
bool OctantHolds(const LocatorGrid& grid, int axis, int index, double from, double to, double tol)
{
  const double low = grid.shape.bounds[2 * axis] + index * grid.shape.width[axis];
  const double high = low + grid.shape.width[axis];
  return low - tol <= from && to <= high + tol;
}

// The indices along `axis` of the octants that hold the coordinates from
// `from` to `to` (a short span) within the tolerance: an interval, since the
// octant bounds grow with the index. Looks only near the octant of the span
// (enough unless the tolerance exceeds an octant); false when none of those
// holds it.
bool OctantsHolding(const LocatorGrid& grid, int axis, double from, double to, double tol, int* first, int* last)
{
  const double place = (0.5 * (from + to) - grid.shape.bounds[2 * axis]) / grid.shape.width[axis];
  if (!(place >= -1.0 && place < grid.shape.divisions + 1.0))
  {
    return false;
  }
  const int near = static_cast<int>(place + 1.0) - 1; // rounded down
  int found = -1;
  for (int index = std::max(near - 1, 0); index <= std::min(near + 1, grid.shape.divisions - 1) && found < 0; ++index)
  {
    if (OctantHolds(grid, axis, index, from, to, tol))
    {
      found = index;
    }
  }
  if (found < 0)
  {
    return false;
  }
  *first = found;
  while (*first > 0 && OctantHolds(grid, axis, *first - 1, from, to, tol))
  {
    --*first;
  }
  *last = found;
  while (*last < grid.shape.divisions - 1 && OctantHolds(grid, axis, *last + 1, from, to, tol))
  {
    ++*last;
  }
  return true;
}
}

namespace
{
// The octants in one of which the walk must arrive for a proof: per axis an
// interval of octant indices.
struct OctantBox
{
  int first[3];
  int last[3];

  bool Holds(int i, int j, int k) const
  {
    return first[0] <= i && i <= last[0] && first[1] <= j && j <= last[1] && first[2] <= k && k <= last[2];
  }
};

// Whether the locator's test of a triangle with these corners (its box,
// then VTK's triangle test) surely meets the segment, told from the
// triangle's plane: the segment crosses it well inside the triangle, well
// inside the triangle's bounds and well between its ends, the triangle is
// no sliver and the segment does not graze its plane. Then x is where VTK's
// test meets it, within *error. False means "not settled": make the test.
bool SurelyMetInside(
  const double c[3][3], const double a0[3], const double a1[3], double tol, double x[3], double* error)
{
  double edges[3][3];
  double longest = 0.0;
  double scale = 0.0;
  for (int k = 0; k < 3; ++k)
  {
    for (int i = 0; i < 3; ++i)
    {
      edges[k][i] = c[(k + 1) % 3][i] - c[k][i];
      scale = std::max({ scale, std::fabs(c[k][i]), std::fabs(a0[i]), std::fabs(a1[i]) });
    }
    longest = std::max(longest, Dot(edges[k], edges[k]));
  }
  double n[3];
  Cross(edges[0], edges[1], n);
  const double area2 = std::sqrt(Dot(n, n)); // twice the area
  if (!(area2 >= 1e-3 * longest))
  {
    return false; // a sliver, whose figures VTK finds less exactly
  }
  const double d[3] = { a1[0] - a0[0], a1[1] - a0[1], a1[2] - a0[2] };
  const double length = std::sqrt(Dot(d, d));
  const double across = Dot(n, d);
  if (!(std::fabs(across) >= 1e-3 * area2 * length))
  {
    return false; // along the plane
  }
  const double toCorner[3] = { c[0][0] - a0[0], c[0][1] - a0[1], c[0][2] - a0[2] };
  const double t = Dot(n, toCorner) / across;
  for (int i = 0; i < 3; ++i)
  {
    x[i] = a0[i] + t * d[i];
  }
  // Both tests round to a few units in the last place of the largest
  // figure; with the bounds on the shape and the angle above their points
  // stay far within `reach` of each other.
  const double reach = 1e-8 * (scale + length);
  *error = reach;
  if (!(tol >= reach) || !(t * length >= 10 * reach) || !((1.0 - t) * length >= 10 * reach))
  {
    return false;
  }
  // Well inside each edge (VTK finds the parametric place on a plane of two
  // coordinates, which magnifies the error by up to the triangle's shape).
  const double inside = 10 * reach * (1.0 + longest / area2);
  for (int k = 0; k < 3; ++k)
  {
    const double toX[3] = { x[0] - c[k][0], x[1] - c[k][1], x[2] - c[k][2] };
    double side[3];
    Cross(edges[k], toX, side);
    if (!(Dot(side, n) >= inside * area2 * std::sqrt(Dot(edges[k], edges[k]))))
    {
      return false;
    }
  }
  // Well inside the triangle's bounds, where the locator's box test is made.
  for (int i = 0; i < 3; ++i)
  {
    const double low = std::min({ c[0][i], c[1][i], c[2][i] });
    const double high = std::max({ c[0][i], c[1][i], c[2][i] });
    if (!(x[i] - 10 * reach >= low && x[i] + 10 * reach <= high))
    {
      return false;
    }
  }
  return true;
}

// The corners of a triangle of the surface, as the locator's cell test
// gets them; false when the cell is not a triangle.
bool TriangleCorners(const LocatorGrid& grid, vtkIdType cellId, double corners[3][3])
{
  if (!grid.surface || grid.surface->GetCellType(cellId) != VTK_TRIANGLE)
  {
    return false;
  }
  const LocatorGrid::PointLinks* links = grid.links.get();
  if (links && links->arrays.Usable())
  {
    links->arrays.Corners(cellId, corners);
    return true;
  }
  CellCorners(grid.surface, cellId, corners);
  return true;
}

// The octants, per axis an interval, that hold the span from low[i] to
// high[i] within the tolerance and list a cell with these bounds; false when
// there are none.
bool HoldingListedOctants(const LocatorGrid& grid, const double cellBounds[6], const double low[3],
  const double high[3], double tol, OctantBox* box)
{
  int listedFirst[3];
  int listedLast[3];
  LocatorCellOctants(grid.shape, cellBounds, listedFirst, listedLast);
  for (int i = 0; i < 3; ++i)
  {
    if (!OctantsHolding(grid, i, low[i], high[i], tol, &box->first[i], &box->last[i]))
    {
      return false;
    }
    box->first[i] = std::max(box->first[i], listedFirst[i]);
    box->last[i] = std::min(box->last[i], listedLast[i]);
    if (box->first[i] > box->last[i])
    {
      return false;
    }
  }
  return true;
}

// The octants of a hit told from the triangle's plane: those that hold every
// point within the error of the hit and list the cell. False where the plane
// does not tell (or the hit lies near an octant's side): make the cell test.
bool PlaneHitBox(
  const LocatorGrid& grid, const double a0[3], const double a1[3], double tol, vtkIdType cellId, OctantBox* box)
{
  double corners[3][3];
  double near[3];
  double error;
  if (!TriangleCorners(grid, cellId, corners) || !SurelyMetInside(corners, a0, a1, tol, near, &error))
  {
    return false;
  }
  double cellBounds[6];
  TriangleBounds(&corners[0][0], cellBounds);
  double low[3];
  double high[3];
  for (int i = 0; i < 3; ++i)
  {
    low[i] = near[i] - error;
    high[i] = near[i] + error;
  }
  return HoldingListedOctants(grid, cellBounds, low, high, tol, box);
}

// The octants of a hit found by the query's own cell test (the segment meets
// the cell's bounding box, then the cell itself): those whose bounds, widened
// by the tolerance, hold the hit point, as the query's own bound test finds
// them, and list the cell. False when the cell is not met, or its hit would
// not be taken.
bool CellTestHitBox(
  LocatorGrid& grid, const double a0[3], const double a1[3], double tol, vtkIdType cellId, OctantBox* box)
{
  double direction1[3];
  for (int i = 0; i < 3; ++i)
  {
    direction1[i] = a1[i] - a0[i];
  }
  double cellBounds[6];
  double boxPoint[3];
  double boxT;
  grid.dataSet->GetCellBounds(cellId, cellBounds);
  if (!vtkBox::IntersectBox(cellBounds, a0, direction1, boxPoint, boxT))
  {
    return false;
  }
  grid.dataSet->GetCell(cellId, grid.cell);
  double t;
  double x[3];
  double pcoords[3];
  int subId;
  if (!grid.cell->IntersectWithLine(a0, a1, tol, t, x, pcoords, subId))
  {
    return false;
  }

  // The hit is taken in an octant when no cell before it in the query was:
  // its parameter and parametric distance pass the query's first comparison.
  double maxLength = 0.0;
  for (int i = 0; i < 3; ++i)
  {
    maxLength = std::max(maxLength, grid.shape.bounds[2 * i + 1] - grid.shape.bounds[2 * i]);
  }
  const double deltaT = tol / maxLength;
  if (!(t < (VTK_DOUBLE_MAX + deltaT)))
  {
    return false;
  }
  const double pDistance = grid.cell->GetParametricDistance(pcoords);
  if (!(pDistance < 1.0e38 || (pDistance == 1.0e38 && t < VTK_DOUBLE_MAX)))
  {
    return false;
  }
  return HoldingListedOctants(grid, cellBounds, x, x, tol, box);
}

// The proof of LocatorSurelyHits up to the walk: false when it fails before;
// otherwise the octants that the walk must visit for it to hold.
bool HitBox(LocatorGrid& grid, const double a0[3], const double a1[3], double tol, vtkIdType cellId, OctantBox* box)
{
  return grid.locator &&
    (PlaneHitBox(grid, a0, a1, tol, cellId, box) || CellTestHitBox(grid, a0, a1, tol, cellId, box));
}
}

namespace
{
// Whether the query's walk visits one of the box's octants: told from the
// line where it can be, else by walking.
bool WalkReaches(const LocatorGridShape& shape, const double a0[3], const double a1[3], const OctantBox& box)
{
  return LocatorWalkSurelyEnters(shape, a0, a1, box.first, box.last) ||
    WalkLocatorOctants(shape, a0, a1, [&box](int i, int j, int k) { return box.Holds(i, j, k); });
}
}

bool LocatorSurelyHits(LocatorGrid& grid, const double a0[3], const double a1[3], double tol, vtkIdType cellId)
{
  OctantBox box;
  // The walk visits one of the octants.
  return HitBox(grid, a0, a1, tol, cellId, &box) && WalkReaches(grid.shape, a0, a1, box);
}

namespace
{
// How far the walk toward a segment may go before it gives up.
const int kMaxWalk = 256;

// The cells of each point of the surface, in increasing id.
std::shared_ptr<const LocatorGrid::PointLinks> LinkPoints(vtkPolyData* surface)
{
  auto links = std::make_shared<LocatorGrid::PointLinks>(surface);
  std::vector<vtkIdType>& pointStart = links->start;
  std::vector<vtkIdType>& pointCells = links->cells;
  const vtkIdType points = surface->GetNumberOfPoints();
  const vtkIdType cells = surface->GetNumberOfCells();
  pointStart.assign(static_cast<size_t>(points) + 1, 0);
  for (vtkIdType c = 0; c < cells; ++c)
  {
    vtkIdType size;
    const vtkIdType* ids;
    surface->GetCellPoints(c, size, ids);
    for (vtkIdType k = 0; k < size; ++k)
    {
      ++pointStart[static_cast<size_t>(ids[k]) + 1];
    }
  }
  for (vtkIdType p = 0; p < points; ++p)
  {
    pointStart[p + 1] += pointStart[p];
  }
  pointCells.resize(static_cast<size_t>(pointStart[points]));
  std::vector<vtkIdType> fill(pointStart.begin(), pointStart.end() - 1);
  for (vtkIdType c = 0; c < cells; ++c)
  {
    vtkIdType size;
    const vtkIdType* ids;
    surface->GetCellPoints(c, size, ids);
    for (vtkIdType k = 0; k < size; ++k)
    {
      pointCells[static_cast<size_t>(fill[ids[k]]++)] = c;
    }
  }
  return links;
}

// The point ids of a cell, from the surface's arrays where they are read in
// place.
void CellPoints(const LocatorGrid& grid, vtkIdType cell, vtkIdType& size, const vtkIdType*& ids)
{
  const LocatorGrid::PointLinks* links = grid.links.get();
  if (links && links->arrays.Usable())
  {
    links->arrays.CellPoints(cell, size, ids);
    return;
  }
  grid.surface->GetCellPoints(cell, size, ids);
}

// A cell other than `cell` that has the edge from p to q, or -1: among the
// cells of the end with fewer, one that also has the other end.
vtkIdType EdgeNeighbor(const LocatorGrid& grid, vtkIdType cell, vtkIdType p, vtkIdType q)
{
  const std::vector<vtkIdType>& start = grid.links->start;
  if (start[p + 1] - start[p] > start[q + 1] - start[q])
  {
    std::swap(p, q);
  }
  for (vtkIdType a = start[p]; a < start[p + 1]; ++a)
  {
    const vtkIdType candidate = grid.links->cells[a];
    if (candidate == cell)
    {
      continue;
    }
    vtkIdType size;
    const vtkIdType* ids;
    CellPoints(grid, candidate, size, ids);
    for (vtkIdType k = 0; k < size; ++k)
    {
      if (ids[k] == q)
      {
        return candidate;
      }
    }
  }
  return -1;
}
}

void LinkLocatorGrid(LocatorGrid* grid)
{
  if (grid->surface && !grid->links)
  {
    grid->links = LinkPoints(grid->surface);
  }
}

namespace
{
// Point p of the surface, from its arrays where they are read in place.
void PointOf(const SurfaceArrays& arrays, vtkPoints* points, vtkIdType p, double x[3])
{
  if (arrays.Usable())
  {
    arrays.Point(p, x);
    return;
  }
  points->GetPoint(p, x);
}

// The edge of a triangle (corner c to corner c + 1) across which the
// segment's line passes by it, the one it passes farthest outside; -1 when
// the line passes through the triangle. For each edge, on which side of the
// plane through a0 and the edge the line runs: the line passes through the
// triangle when it runs on the triangle's side of all three.
int EdgeTowardLine(
  const SurfaceArrays& arrays, vtkPoints* points, const vtkIdType* ids, const double a0[3], const double u[3])
{
  double corner[3][3];
  for (int c = 0; c < 3; ++c)
  {
    PointOf(arrays, points, ids[c], corner[c]);
    for (int k = 0; k < 3; ++k)
    {
      corner[c][k] -= a0[k];
    }
  }
  double side[3];
  for (int c = 0; c < 3; ++c)
  {
    double n[3];
    Cross(corner[c], corner[(c + 1) % 3], n);
    side[c] = Dot(u, n);
  }
  const double orientation = side[0] + side[1] + side[2];
  int across = -1;
  double worst = 0.0;
  for (int c = 0; c < 3; ++c)
  {
    const double outside = orientation > 0 ? -side[c] : side[c];
    if (outside > worst)
    {
      worst = outside;
      across = c;
    }
  }
  return across;
}

// The cell of the surface that the segment's line passes through, found by
// walking from `startCell` across shared edges toward the line, in at most
// `maxSteps` steps; -1 when none was found.
vtkIdType CrossedCell(LocatorGrid& grid, const double a0[3], const double a1[3], vtkIdType startCell, int maxSteps)
{
  vtkPoints* points = grid.surface->GetPoints();
  const SurfaceArrays& arrays = grid.links->arrays;
  const double u[3] = { a1[0] - a0[0], a1[1] - a0[1], a1[2] - a0[2] };
  vtkIdType cellId = startCell;
  vtkIdType previous = -1;
  for (int step = 0; step <= maxSteps; ++step)
  {
    vtkIdType size;
    const vtkIdType* ids;
    CellPoints(grid, cellId, size, ids);
    if (size < 3)
    {
      return -1;
    }
    const int across = EdgeTowardLine(arrays, points, ids, a0, u);
    if (across < 0)
    {
      return cellId;
    }
    if (step == maxSteps)
    {
      return -1;
    }
    const vtkIdType next = EdgeNeighbor(grid, cellId, ids[across], ids[(across + 1) % 3]);
    if (next < 0 || next == previous)
    {
      return -1;
    }
    previous = cellId;
    cellId = next;
  }
  return -1;
}

// How far a walk from a hint goes before the walk from the start cell is
// tried instead.
const int kHintWalk = 8;

// How many cells around the start cell are tried where the walk did not
// lead to a proof.
const size_t kSearchCells = 1024;

// The squared distance of a cell's centroid from the line through a0 along
// u (uu: the squared length of u).
double LineDistance2(const LocatorGrid& grid, const vtkIdType* ids, const double a0[3], const double u[3], double uu)
{
  double c[3] = { 0, 0, 0 };
  for (int v = 0; v < 3; ++v)
  {
    double p[3];
    PointOf(grid.links->arrays, grid.surface->GetPoints(), ids[v], p);
    for (int k = 0; k < 3; ++k)
    {
      c[k] += p[k] - a0[k];
    }
  }
  const double along = Dot(c, u);
  return (Dot(c, c) - along * along / uu) / 9.0;
}

// The search where the walk fails (it goes round in circles where the
// surface folds back near the line, or the line passes through an edge or a
// corner of the cells it reaches): the cells around startCell over shared
// points, the one nearest the line first, each that the line passes through
// tried in turn, up to kSearchCells of them. *hint becomes the cell proved
// (-1 when none is).
bool SearchedHitBox(LocatorGrid& grid, const double a0[3], const double a1[3], double tol, vtkIdType startCell,
  vtkIdType* hint, OctantBox* box)
{
  const LocatorGrid::PointLinks& links = *grid.links;
  const double u[3] = { a1[0] - a0[0], a1[1] - a0[1], a1[2] - a0[2] };
  const double uu = Dot(u, u);
  using Place = std::pair<double, vtkIdType>; // a cell's distance from the line, the cell
  std::priority_queue<Place, std::vector<Place>, std::greater<Place>> nearest;
  std::unordered_set<vtkIdType> seen{ startCell };
  nearest.push({ 0.0, startCell });
  for (size_t searched = 0; !nearest.empty() && searched < kSearchCells; ++searched)
  {
    const vtkIdType cell = nearest.top().second;
    nearest.pop();
    vtkIdType size;
    const vtkIdType* ids;
    CellPoints(grid, cell, size, ids);
    if (size != 3)
    {
      continue;
    }
    if (EdgeTowardLine(links.arrays, grid.surface->GetPoints(), ids, a0, u) < 0 && HitBox(grid, a0, a1, tol, cell, box))
    {
      *hint = cell;
      return true;
    }
    for (int k = 0; k < 3; ++k)
    {
      for (vtkIdType a = links.start[ids[k]]; a < links.start[ids[k] + 1]; ++a)
      {
        const vtkIdType neighbor = links.cells[a];
        vtkIdType neighborSize;
        const vtkIdType* neighborIds;
        CellPoints(grid, neighbor, neighborSize, neighborIds);
        if (neighborSize == 3 && seen.insert(neighbor).second)
        {
          nearest.push({ LineDistance2(grid, neighborIds, a0, u, uu), neighbor });
        }
      }
    }
  }
  *hint = -1;
  return false;
}

// The proof of LocatorSurelyHitsNear up to the walk, as HitBox. The walk
// across the surface starts from *hint when that is a cell (a segment
// before it passed there), else from startCell; *hint becomes the cell found.
// Where that cell gives no proof, the cells around startCell are searched.
bool NearHitBox(LocatorGrid& grid, const double a0[3], const double a1[3], double tol, vtkIdType startCell,
  vtkIdType* hint, OctantBox* box)
{
  if (!grid.locator || !grid.surface)
  {
    return grid.locator && HitBox(grid, a0, a1, tol, startCell, box);
  }
  LinkLocatorGrid(&grid);
  vtkIdType crossed = *hint >= 0 ? CrossedCell(grid, a0, a1, *hint, kHintWalk) : -1;
  if (crossed < 0)
  {
    crossed = CrossedCell(grid, a0, a1, startCell, kMaxWalk);
  }
  *hint = crossed;
  return (crossed >= 0 && HitBox(grid, a0, a1, tol, crossed, box)) ||
    SearchedHitBox(grid, a0, a1, tol, startCell, hint, box);
}
}

bool LocatorSurelyHitsNear(
  LocatorGrid& grid, const double a0[3], const double a1[3], double tol, vtkIdType startCell, vtkIdType* hint)
{
  OctantBox box;
  vtkIdType none = -1;
  return NearHitBox(grid, a0, a1, tol, startCell, hint ? hint : &none, &box) && WalkReaches(grid.shape, a0, a1, box);
}
