// The grid of a vtkCellLocator and the walk of its line query.
//
// The locator sizes its root box by the data set's bounds, widened by a
// hundredth of the diagonal on an axis where they are (nearly) flat, cuts it
// into `divisions` leaf octants per axis, and lists every cell in each leaf
// octant that its bounding box, widened by a hundredth of an octant, meets;
// each list holds its cells by increasing id.
#include "locate/locatorwalk.h"

#include <vtkBox.h>
#include <vtkCellLocator.h>

#include <algorithm>
#include <cmath>

LocatorGridShape LocatorShape(vtkDataSet* dataSet, int level)
{
  LocatorGridShape shape;
  const double* bounds = dataSet->GetBounds();
  const double length = dataSet->GetLength();
  for (int i = 0; i < 3; ++i)
  {
    shape.bounds[2 * i] = bounds[2 * i];
    shape.bounds[2 * i + 1] = bounds[2 * i + 1];
    if ((shape.bounds[2 * i + 1] - shape.bounds[2 * i]) <= (length / 1000.0))
    {
      shape.bounds[2 * i] -= length / 100.0;
      shape.bounds[2 * i + 1] += length / 100.0;
    }
  }
  int divisions = 1;
  for (int i = 0; i < level; ++i)
  {
    divisions *= 2;
  }
  shape.divisions = divisions;
  for (int i = 0; i < 3; ++i)
  {
    shape.width[i] = (shape.bounds[2 * i + 1] - shape.bounds[2 * i]) / divisions;
  }
  return shape;
}

void LocatorCellOctants(const LocatorGridShape& shape, const double cellBounds[6], int first[3], int last[3])
{
  for (int i = 0; i < 3; ++i)
  {
    const double slack = shape.width[i] / 100.0;
    first[i] = static_cast<int>((cellBounds[2 * i] - shape.bounds[2 * i] - slack) / shape.width[i]);
    last[i] = static_cast<int>((cellBounds[2 * i + 1] - shape.bounds[2 * i] + slack) / shape.width[i]);
    if (first[i] < 0)
    {
      first[i] = 0;
    }
    if (last[i] >= shape.divisions)
    {
      last[i] = shape.divisions - 1;
    }
  }
}

bool locatorwalk_detail::IntersectUnitBox(const double origin[3], const double direction[3], double hit[3])
{
  double unitBox[6] = { 0, 1, 0, 1, 0, 1 };
  double t;
  return vtkBox::IntersectBox(unitBox, origin, direction, hit, t) != 0;
}

int LocatorBuiltLevel(vtkCellLocator* locator)
{
  // The octant count tells whether the level is that of the grid built: the
  // root and all octants below it.
  const int level = locator->GetLevel();
  if (level < 0 || level > 8)
  {
    return -1;
  }
  int octants = 1;
  for (int i = 0, product = 1; i < level; ++i)
  {
    product *= 8;
    octants += product;
  }
  return locator->GetNumberOfBuckets() == octants ? level : -1;
}

int LocatorPlannedLevel(vtkCellLocator* locator)
{
  vtkDataSet* dataSet = locator->GetDataSet();
  const vtkIdType cells = dataSet ? dataSet->GetNumberOfCells() : 0;
  if (!locator->GetAutomatic())
  {
    return std::min(locator->GetLevel(), locator->GetMaxLevel());
  }
  if (cells <= locator->GetNumberOfCellsPerNode())
  {
    return -1;
  }
  const int level = static_cast<int>(
    std::ceil(std::log(static_cast<double>(cells) / locator->GetNumberOfCellsPerNode()) / std::log(8.0)));
  return std::min(level, locator->GetMaxLevel());
}

namespace
{
// The walk's steps move its position along the line h0 + s d (octant units,
// s the distance along it), each with a rounding error of a few units in the
// last place of the position: over the at most 3 * 256 steps of a walk
// through a grid of 256 octants per axis it stays within 1e-10 of the line.
// Where at every face it crosses the line is farther than kEdge from the
// faces of the other axes, each step picks the face that the line crosses
// next, and none of the walk's special steps (a distance of zero or below)
// occurs.
const double kEdge = 1e-7;

// Whether the walk starts inside an octant away from its faces (and inside
// the grid), and runs nearly parallel to no face: its crossings are then
// placed finely enough.
bool StartsAwayFromFaces(const LocatorWalker& walker)
{
  const double* h0 = walker.hitPosition;
  const double* d = walker.direction3;
  for (int i = 0; i < 3; ++i)
  {
    const double below = h0[i] - walker.pos[i];
    if (!(below > kEdge && below < 1.0 - kEdge))
    {
      return false;
    }
    if (d[i] != 0.0 && !(std::fabs(d[i]) > 1e-4))
    {
      return false;
    }
  }
  return true;
}

// Where the line enters and leaves the octants' box (octant o spans
// positions o + 1 to o + 2), as distances along it; false when the box is
// empty or the line runs along a face outside it.
bool LineThroughOctants(
  const LocatorWalker& walker, const int first[3], const int last[3], double& enter, double& leave)
{
  const double* h0 = walker.hitPosition;
  const double* d = walker.direction3;
  enter = 0.0;
  leave = 1.7976931348623157e308;
  for (int i = 0; i < 3; ++i)
  {
    if (first[i] > last[i])
    {
      return false;
    }
    const double low = first[i] + 1.0;
    const double high = last[i] + 2.0;
    if (d[i] == 0.0)
    {
      if (!(h0[i] > low && h0[i] < high))
      {
        return false;
      }
      continue;
    }
    const double s0 = (low - h0[i]) / d[i];
    const double s1 = (high - h0[i]) / d[i];
    enter = std::max(enter, std::min(s0, s1));
    leave = std::min(leave, std::max(s0, s1));
  }
  return true;
}

// Whether any of `faces` positions base + f * change (f = 0, 1, ...) lies
// within kEdge of a whole number: of a face.
bool NearAFace(double base, double change, int faces)
{
  // Adding and taking away 1.5 * 2^52 rounds a position (below 2^51 in
  // size) to the nearest whole number.
  const double round = 6755399441055744.0;
  bool near = false;
  double step = 0.0;
  for (int f = 0; f < faces; ++f, step += 1.0)
  {
    const double there = base + step * change;
    near |= !(std::fabs(there - ((there + round) - round)) > kEdge);
  }
  return near;
}

// Whether every face of axis a that the line crosses up to distance `upTo`
// is crossed away from the faces of each axis along which the line runs no
// faster. False also where the faces are too many to count.
bool CrossingsClearOfEdges(const LocatorGridShape& shape, const LocatorWalker& walker, int a, double upTo)
{
  const double* h0 = walker.hitPosition;
  const double* d = walker.direction3;
  if (d[a] == 0.0)
  {
    return true;
  }
  const double inverse = 1.0 / d[a];
  const double firstFace = ((walker.pos[a] + (d[a] > 0 ? 1.0 : 0.0)) - h0[a]) * inverse; // its distance
  const double apart = std::fabs(inverse);                                               // from face to face
  if (!(firstFace <= upTo))
  {
    return true;
  }
  // The faces up to there, and one more for the rounding of this count.
  const double count = (upTo - firstFace) / apart + 2.0; // at least 2
  if (!(count <= shape.divisions + 3.0))
  {
    return false;
  }
  const int faces = static_cast<int>(count);
  for (int b = 0; b < 3; ++b)
  {
    const bool slower = std::fabs(d[b]) < std::fabs(d[a]) || (std::fabs(d[b]) == std::fabs(d[a]) && b > a);
    if (b == a || d[b] == 0.0 || !slower)
    {
      continue;
    }
    // The line's position along b where it crosses each face of a, which
    // lies within the grid (at 1 and up).
    if (NearAFace(h0[b] + firstFace * d[b], apart * d[b], faces))
    {
      return false;
    }
  }
  return true;
}
}

bool LocatorWalkSurelyEnters(
  const LocatorGridShape& shape, const double a0[3], const double a1[3], const int first[3], const int last[3])
{
  LocatorWalker walker;
  if (shape.divisions < 1 || shape.divisions > 256 || !walker.Start(shape, a0, a1) || !walker.Inside() ||
    !StartsAwayFromFaces(walker))
  {
    return false;
  }
  if (walker.pos[0] - 1 >= first[0] && walker.pos[0] - 1 <= last[0] && walker.pos[1] - 1 >= first[1] &&
    walker.pos[1] - 1 <= last[1] && walker.pos[2] - 1 >= first[2] && walker.pos[2] - 1 <= last[2])
  {
    return true; // the first octant visited
  }
  double enter;
  double leave;
  if (!LineThroughOctants(walker, first, last, enter, leave))
  {
    return false;
  }
  // The distance the walk sums on its way there may stray from the line's by
  // about 1e-5 octants; it must still fall short of the segment's end.
  const double slack = 1e-4 * (1.0 + walker.stopDist);
  if (!(enter + slack < leave) || !(walker.currDist + enter + slack < walker.stopDist))
  {
    return false;
  }
  // Every face crossed up to the box, against the faces of each axis along
  // which the line runs no faster.
  for (int a = 0; a < 3; ++a)
  {
    if (!CrossingsClearOfEdges(shape, walker, a, enter + slack))
    {
      return false;
    }
  }
  return true;
}
