// The octant grid of a vtkCellLocator as its queries see it, and the walk of
// its line query through the grid, repeated with the locator's own
// arithmetic step for step (VTK 9.1's vtkCellLocator).
//
// In: a data set and the locator's level (as built, or as its settings plan
// it); a segment.
// Out: the grid's shape, the leaf octants that list a cell, the octants the
// line query walks through in its order.
// Fails: a level is -1 where the locator holds no grid of its own or the plan
// is not certain; LocatorWalkSurelyEnters answers false where it cannot tell.
#pragma once

#include <vtkDataSet.h>

class vtkCellLocator;

#include <algorithm>
#include <cmath>

struct LocatorGridShape
{
  double bounds[6] = { 0, 0, 0, 0, 0, 0 };
  double width[3] = { 0, 0, 0 }; // leaf octant size per axis
  int divisions = 0;             // leaf octants per axis
};

// The shape the locator gives its grid for `dataSet` at `level` (the
// locator's level after building).
LocatorGridShape LocatorShape(vtkDataSet* dataSet, int level);

// The level of the grid that `locator` has built (0 to 8), or -1 when it
// holds no grid of its own (none built, built lazily, or deeper than 8).
int LocatorBuiltLevel(vtkCellLocator* locator);

// The level that BuildLocator gives `locator` over its data set (set, not
// yet built), as its settings choose it: leaf octants of about
// NumberOfCellsPerNode cells, at most MaxLevel. -1 where the choice is not
// certain (no more cells than a leaf holds). A grid planned with it holds
// only once the built locator is found to have it.
int LocatorPlannedLevel(vtkCellLocator* locator);

// The leaf octant indices, per axis, that the locator lists a cell with these
// bounds in: from first[i] to last[i].
void LocatorCellOctants(const LocatorGridShape& shape, const double cellBounds[6], int first[3], int last[3]);

// The bounds of a triangle from its corners (a, b, c in a row), as the
// locator takes a cell's bounds.
inline void TriangleBounds(const double corner[9], double bounds[6])
{
  for (int i = 0; i < 3; ++i)
  {
    bounds[2 * i] = std::min({ corner[i], corner[3 + i], corner[6 + i] });
    bounds[2 * i + 1] = std::max({ corner[i], corner[3 + i], corner[6 + i] });
  }
}

// The walk of the locator's IntersectWithLine through its leaf octants, a
// step at a time: Start puts it in the first octant that the segment enters,
// Step moves it on to the next one, as the query steps (across one face at a
// time), while Inside holds. The octant it is in is (i, j, k) = pos - 1.
struct LocatorWalker
{
  int divisions = 0;
  int pos[3] = { 0, 0, 0 };
  double hitPosition[3] = { 0, 0, 0 };
  double direction3[3] = { 0, 0, 0 };
  double currDist = 0;
  double stopDist = 0;

  // False when the segment does not meet the grid.
  bool Start(const LocatorGridShape& shape, const double a0[3], const double a1[3]);
  bool Inside() const
  {
    return (pos[0] > 0) && (pos[1] > 0) && (pos[2] > 0) && (pos[0] <= divisions) && (pos[1] <= divisions) &&
      (pos[2] <= divisions) && (currDist < stopDist);
  }
  inline void Step();
};

// Calls visit(i, j, k) for each leaf octant that the locator's
// IntersectWithLine(a0, a1, ...) walks through, in its order, until visit
// returns true; returns whether it did.
template <class Visit>
bool WalkLocatorOctants(const LocatorGridShape& shape, const double a0[3], const double a1[3], Visit visit);

// Whether the walk of the locator's IntersectWithLine(a0, a1, ...) surely
// visits one of the leaf octants (i, j, k) with first <= (i, j, k) <= last,
// told from the segment's line without repeating the walk's steps. True only
// where the walk starts inside the grid away from its faces and the line
// passes no octant edge, before it enters those octants, closer than the
// walk's rounding can carry it (its steps then cross the faces the line
// crosses, in the line's order). False means "not settled": walk it.
bool LocatorWalkSurelyEnters(
  const LocatorGridShape& shape, const double a0[3], const double a1[3], const int first[3], const int last[3]);

// Inline implementation of the walk.
namespace locatorwalk_detail
{
bool IntersectUnitBox(const double origin[3], const double direction[3], double hit[3]);
}

inline bool LocatorWalker::Start(const LocatorGridShape& shape, const double a0[3], const double a1[3])
{
  divisions = shape.divisions;
  double origin[3];
  double direction2[3];
  double segmentLength = 0.0;
  for (int i = 0; i < 3; ++i)
  {
    const double length = shape.bounds[2 * i + 1] - shape.bounds[2 * i];
    origin[i] = (a0[i] - shape.bounds[2 * i]) / length;
    direction2[i] = (a1[i] - a0[i]) / length;
    segmentLength += direction2[i] * direction2[i];
  }
  segmentLength = std::sqrt(segmentLength);
  stopDist = segmentLength * divisions;
  for (int i = 0; i < 3; ++i)
  {
    direction3[i] = direction2[i] / segmentLength;
  }
  if (!locatorwalk_detail::IntersectUnitBox(origin, direction2, hitPosition))
  {
    return false;
  }
  currDist = 0;
  for (int i = 0; i < 3; ++i)
  {
    currDist += (hitPosition[i] - origin[i]) * (hitPosition[i] - origin[i]);
  }
  currDist = std::sqrt(currDist) * divisions;
  for (int i = 0; i < 3; ++i)
  {
    hitPosition[i] = hitPosition[i] * divisions + 1.0;
    pos[i] = static_cast<int>(hitPosition[i]);
    if (pos[i] > divisions)
    {
      pos[i] = divisions;
    }
  }
  return true;
}

inline void LocatorWalker::Step()
{
  // On to the next octant, across one face at a time, as the query steps.
  double nearest = 1.7976931348623157e308;
  int bestDir = 0;
  int npos[3] = { pos[0], pos[1], pos[2] };
  double dist[3] = { 0, 0, 0 };
  for (int i = 0; i < 3; ++i)
  {
    if (direction3[i] > 0)
    {
      npos[i] = pos[i] + 1;
      dist[i] = (1.0 - hitPosition[i] + pos[i]) / direction3[i];
      if (dist[i] == 0)
      {
        dist[i] = 1.0 / direction3[i];
      }
      if (dist[i] < 0)
      {
        dist[i] = 0;
      }
      if (dist[i] < nearest)
      {
        bestDir = i;
        nearest = dist[i];
      }
    }
    if (direction3[i] < 0)
    {
      npos[i] = pos[i] - 1;
      dist[i] = (pos[i] - hitPosition[i]) / direction3[i];
      if (dist[i] == 0)
      {
        dist[i] = -0.01 / direction3[i];
      }
      if (dist[i] < 0)
      {
        dist[i] = 0;
      }
      if (dist[i] < nearest)
      {
        bestDir = i;
        nearest = dist[i];
      }
    }
  }
  for (int i = 0; i < 3; ++i)
  {
    hitPosition[i] += dist[bestDir] * direction3[i];
  }
  currDist += dist[bestDir];
  pos[bestDir] = npos[bestDir];
}

template <class Visit>
bool WalkLocatorOctants(const LocatorGridShape& shape, const double a0[3], const double a1[3], Visit visit)
{
  LocatorWalker walker;
  if (!walker.Start(shape, a0, a1))
  {
    return false;
  }
  while (walker.Inside())
  {
    if (visit(walker.pos[0] - 1, walker.pos[1] - 1, walker.pos[2] - 1))
    {
      return true;
    }
    walker.Step();
  }
  return false;
}
