// The line query of SurfaceLocator, tried three ways in turn:
// - With only the flag wanted and a cell near which the segment should
//   cross, the proof of a hit from there (locatorhit.h): on the grid the
//   locator plans, walking across the surface to the cell the segment
//   crosses; no index is needed.
// - Settled with the index: the locator walks its octants along the segment
//   and stops at the first octant in which a cell is met at a point inside
//   the octant (within the tolerance); there it prefers the least parametric
//   distance, then the least t, among hits whose t is below the best so far
//   plus the tolerance, by increasing id. Every cell the segment meets is
//   found here with VTK's own cell test (a plane test first rules out clear
//   misses), the octant of each hit is found on the repeated walk, and the
//   choice in the first such octant is repeated.
// - Asked of the locator itself (a surface of other cells than triangles,
//   ends too far for its integer octant indices, a choice left open).
#include "locate/surfacelocator.h"

#include "geometry/triangleclosest.h"
#include "geometry/vector.h"
#include "locate/boxtests.h"

#include <vtkBox.h>

#include <algorithm>
#include <cmath>

namespace
{
// Whether the segment from a0 along d surely misses the triangle as VTK's
// line test with tolerance `tol` sees it: it stays on one side of the
// triangle's plane, or crosses the plane farther than the tolerance from the
// triangle, by more than the margin that covers the rounding of both tests.
// For triangles with reliable figures only.
bool SurelyMissed(const double* corner, const double a0[3], const double d[3], double tol, double margin)
{
  const double* a = corner;
  double u[3];
  double w[3];
  double n[3];
  double toStart[3];
  Subtract(corner + 3, a, u);
  Subtract(corner + 6, a, w);
  Cross(u, w, n);
  Subtract(a0, a, toStart);
  const double length = Norm(n);
  const double s0 = Dot(n, toStart) / length;
  const double travel = Dot(n, d) / length;
  const double s1 = s0 + travel;
  if ((s0 > margin && s1 > margin) || (s0 < -margin && s1 < -margin))
  {
    return true;
  }
  const double segment = Norm(d);
  if (!(std::fabs(travel) > 1.0e-3 * segment))
  {
    // Nearly along the plane: where it crosses is too uncertain here.
    return false;
  }
  const double t = s0 / (s0 - s1);
  const double x[3] = { a0[0] + t * d[0], a0[1] + t * d[1], a0[2] + t * d[2] };
  const double reach = tol + margin * 1.0e3;
  return PointTriangleDistance2(x, corner, corner + 3, corner + 6) > reach * reach;
}
}

// Every cell that the segment meets as the locator tests it (its box is
// met, without tolerance, then the cell itself), into Hits.
void SurfaceLocator::GatherHits(const double a0[3], const double a1[3], double tol)
{
  double direction[3];
  Subtract(a1, a0, direction);
  const double reach = std::max({ this->Index.Reach, std::fabs(a0[0]), std::fabs(a0[1]), std::fabs(a0[2]),
    std::fabs(a1[0]), std::fabs(a1[1]), std::fabs(a1[2]) });
  const double slack = 1.0e-9 * reach + 1.0e-12;
  const double margin = 1.0e-9 * (reach + 1.0);
  // The boxes are measured in single precision; and a cell is met where the
  // segment passes within the tolerance of it, outside its box (and outside
  // the boxes around it, which hold it more tightly than its bounds, across
  // which the locator's own box test is made).
  const double wideSlack = slack + 1.0e-6 * reach + tol;
  this->Hits.clear();
  std::vector<SurfaceIndex::Entry>& stack = this->Stack;
  stack.clear();
  stack.push_back({ 0, 0.0 });
  while (!stack.empty())
  {
    const int code = stack.back().node;
    stack.pop_back();
    if (code < 0)
    {
      this->TestLeafCells((~code) >> 4, (~code) & 15, a0, a1, direction, tol, margin);
      continue;
    }
    const SurfaceIndex::Wide& wide = this->Index.Wides[code];
    const int meets = SegmentMeetsWide(a0, direction, wide, wideSlack);
    for (int c = 0; c < 4; ++c)
    {
      if (meets & (1 << c))
      {
        stack.push_back({ wide.child[c], 0.0 });
        PrefetchBox(this->Index, wide.child[c]);
      }
    }
  }
}

void SurfaceLocator::TestLeafCells(
  int start, int count, const double a0[3], const double a1[3], const double direction[3], double tol, double margin)
{
  for (int k = start; k < start + count; ++k)
  {
    const SurfaceIndex::LeafCell& leafCell = this->Index.Cells[static_cast<size_t>(k)];
    const vtkIdType cell = leafCell.cell;
    double corner[9];
    this->Index.Corners(cell, corner);
    if (leafCell.kind == SurfaceIndex::Good && SurelyMissed(corner, a0, direction, tol, margin))
    {
      continue;
    }
    double bounds[6];
    TriangleBounds(corner, bounds);
    double boxPoint[3];
    double boxT;
    if (!vtkBox::IntersectBox(bounds, a0, direction, boxPoint, boxT))
    {
      continue;
    }
    this->LoadTriangle(cell);
    Hit hit;
    hit.cellId = cell;
    if (this->Triangle->IntersectWithLine(a0, a1, tol, hit.t, hit.x, hit.pcoords, hit.subId))
    {
      // As the locator measures it on its generic cell, which does not
      // pass this on to the triangle: vtkCell's own measure, not
      // vtkTriangle's.
      hit.pDistance = this->Triangle->vtkCell::GetParametricDistance(hit.pcoords);
      this->Hits.push_back(hit);
    }
  }
}

// The walk: the hits in the first octant in which a hit lies (within the
// tolerance) on a cell that the octant lists, into Taken.
void SurfaceLocator::FirstOctantHits(const double a0[3], const double a1[3], double tol)
{
  const LocatorGridShape& shape = this->Index.Shape;
  const std::vector<Hit>& hits = this->Hits;
  std::vector<size_t>& taken = this->Taken;
  taken.clear();
  WalkLocatorOctants(shape, a0, a1, [&](int i, int j, int k) {
    const double low[3] = { shape.bounds[0] + i * shape.width[0], shape.bounds[2] + j * shape.width[1],
      shape.bounds[4] + k * shape.width[2] };
    const double high[3] = { low[0] + shape.width[0], low[1] + shape.width[1], low[2] + shape.width[2] };
    for (size_t h = 0; h < hits.size(); ++h)
    {
      const double* p = hits[h].x;
      if (this->Index.Listed(hits[h].cellId, i, j, k) && low[0] - tol <= p[0] && p[0] <= high[0] + tol &&
        low[1] - tol <= p[1] && p[1] <= high[1] + tol && low[2] - tol <= p[2] && p[2] <= high[2] + tol)
      {
        taken.push_back(h);
      }
    }
    return !taken.empty();
  });
}

// The locator's choice among the hits taken in one octant, by increasing
// id; null when it takes none.
const SurfaceLocator::Hit* SurfaceLocator::LocatorsChoice(double tol)
{
  const LocatorGridShape& shape = this->Index.Shape;
  const std::vector<Hit>& hits = this->Hits;
  std::vector<size_t>& taken = this->Taken;
  std::sort(taken.begin(), taken.end(), [&](size_t p, size_t q) { return hits[p].cellId < hits[q].cellId; });
  double maxLength = 0.0;
  for (int i = 0; i < 3; ++i)
  {
    maxLength = std::max(maxLength, shape.bounds[2 * i + 1] - shape.bounds[2 * i]);
  }
  const double deltaT = tol / maxLength;
  double tMax = SurfaceIndex::kHuge;
  double minPDistance = 1.0e38;
  const Hit* best = nullptr;
  for (size_t h : taken)
  {
    if (hits[h].t < (tMax + deltaT))
    {
      const double pDistance = hits[h].pDistance;
      if (pDistance < minPDistance || (pDistance == minPDistance && hits[h].t < tMax))
      {
        tMax = hits[h].t;
        minPDistance = pDistance;
        best = &hits[h];
      }
    }
  }
  return best;
}

// The line query settled with the index: false when it is not (*result
// then holds nothing).
bool SurfaceLocator::SettleLine(const double a0[3], const double a1[3], double tol, LineHit& hit, int& result)
{
  if (!this->IndexReady() || !WithinIndexReach(this->Index.Shape, a0) || !WithinIndexReach(this->Index.Shape, a1) ||
    !(tol >= 0.0) || !std::isfinite(tol))
  {
    return false;
  }
  result = 0;
  this->GatherHits(a0, a1, tol);
  if (this->Hits.empty())
  {
    return true;
  }
  this->FirstOctantHits(a0, a1, tol);
  if (this->Taken.empty())
  {
    return true;
  }
  const Hit* chosen = this->LocatorsChoice(tol);
  if (!chosen)
  {
    return false;
  }
  hit = *chosen;
  result = 1;
  return true;
}

bool SurfaceLocator::ProveLine(const double a0[3], const double a1[3], double tol, vtkIdType nearCell)
{
  LocatorGrid* grid = this->ProofGrid();
  return grid && LocatorSurelyHitsNear(*grid, a0, a1, tol, nearCell, &this->LineSeed);
}

int SurfaceLocator::IntersectWithLine(
  const double a0[3], const double a1[3], double tol, LineHit* hit, vtkIdType nearCell)
{
  if (!hit && nearCell >= 0 && this->ProveLine(a0, a1, tol, nearCell))
  {
    ++this->ProvedLine;
    return 1;
  }
  LineHit flagOnly;
  LineHit& out = hit ? *hit : flagOnly;
  int result = 0;
  if (this->SettleLine(a0, a1, tol, out, result))
  {
    return result;
  }
  ++this->AskedLine;
  return this->BuiltLocator()->IntersectWithLine(a0, a1, tol, out.t, out.x, out.pcoords, out.subId, out.cellId);
}
