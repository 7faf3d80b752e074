#include "locatorhit.h"

#include <vtkBox.h>
#include <vtkIdList.h>
#include <vtkVersionMacros.h>

#include <algorithm>
#include <cmath>

bool ReadLocatorGrid(vtkCellLocator* locator, LocatorGrid* grid)
{
  grid->locator = nullptr;
#if VTK_MAJOR_VERSION != 9 || VTK_MINOR_VERSION != 1
  // The walk repeated below is VTK 9.1's.
  return false;
#endif
  vtkDataSet* dataSet = locator->GetDataSet();
  if (!dataSet || dataSet->GetNumberOfCells() < 1 || locator->GetLazyEvaluation())
  {
    return false;
  }
  // The root box as the locator sizes it: the data set's bounds, widened on
  // an axis where they are (nearly) flat.
  const double* bounds = dataSet->GetBounds();
  const double length = dataSet->GetLength();
  for (int i = 0; i < 3; ++i)
  {
    grid->bounds[2 * i] = bounds[2 * i];
    grid->bounds[2 * i + 1] = bounds[2 * i + 1];
    if ((grid->bounds[2 * i + 1] - grid->bounds[2 * i]) <= (length / 1000.0))
    {
      grid->bounds[2 * i] -= length / 100.0;
      grid->bounds[2 * i + 1] += length / 100.0;
    }
  }
  int divisions = 1;
  int octants = 1;
  for (int level = 0, product = 1; level < locator->GetLevel(); ++level)
  {
    divisions *= 2;
    product *= 8;
    octants += product;
  }
  // The octant count tells whether the grid read here is the locator's.
  if (locator->GetNumberOfBuckets() != octants)
  {
    return false;
  }
  grid->divisions = divisions;
  grid->leafStart = octants - divisions * divisions * divisions;
  for (int i = 0; i < 3; ++i)
  {
    grid->width[i] = (grid->bounds[2 * i + 1] - grid->bounds[2 * i]) / divisions;
  }
  grid->dataSet = dataSet;
  grid->surface = vtkPolyData::SafeDownCast(dataSet);
  grid->linked = false;
  if (!grid->cell)
  {
    grid->cell = vtkGenericCell::New();
    grid->neighbors = vtkIdList::New();
  }
  grid->locator = locator;
  return true;
}

namespace
{
// Whether the leaf octant with index `index` along `axis` holds the
// coordinate within the tolerance, with the locator's own arithmetic.
bool OctantHolds(const LocatorGrid& grid, int axis, int index, double coordinate, double tol)
{
  const double low = grid.bounds[2 * axis] + index * grid.width[axis];
  const double high = low + grid.width[axis];
  return low - tol <= coordinate && coordinate <= high + tol;
}

// The indices along `axis` of the octants that hold the coordinate within
// the tolerance: an interval, since the octant bounds grow with the index.
// Looks only near the octant of the coordinate (enough unless the tolerance
// exceeds an octant); false when none of those holds it.
bool OctantsHolding(const LocatorGrid& grid, int axis, double coordinate, double tol, int* first, int* last)
{
  const double place = std::floor((coordinate - grid.bounds[2 * axis]) / grid.width[axis]);
  if (!(place >= -1.0 && place <= grid.divisions))
  {
    return false;
  }
  const int near = static_cast<int>(place);
  int found = -1;
  for (int index = std::max(near - 1, 0); index <= std::min(near + 1, grid.divisions - 1) && found < 0; ++index)
  {
    if (OctantHolds(grid, axis, index, coordinate, tol))
    {
      found = index;
    }
  }
  if (found < 0)
  {
    return false;
  }
  *first = found;
  while (*first > 0 && OctantHolds(grid, axis, *first - 1, coordinate, tol))
  {
    --*first;
  }
  *last = found;
  while (*last < grid.divisions - 1 && OctantHolds(grid, axis, *last + 1, coordinate, tol))
  {
    ++*last;
  }
  return true;
}
}

bool LocatorSurelyHits(LocatorGrid& grid, const double a0[3], const double a1[3], double tol, vtkIdType cellId)
{
  if (!grid.locator)
  {
    return false;
  }
  // The cell test of the query: the segment meets the cell's bounding box,
  // then the cell itself.
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

  // The walk, with the query's own arithmetic: the segment in coordinates
  // where the root box is the unit cube.
  const int divisions = grid.divisions;
  double origin[3];
  double direction2[3];
  double direction3[3];
  double unitBox[6];
  double segmentLength = 0.0;
  double maxLength = 0.0;
  for (int i = 0; i < 3; ++i)
  {
    const double length = grid.bounds[2 * i + 1] - grid.bounds[2 * i];
    if (length > maxLength)
    {
      maxLength = length;
    }
    origin[i] = (a0[i] - grid.bounds[2 * i]) / length;
    direction2[i] = direction1[i] / length;
    unitBox[2 * i] = 0.0;
    unitBox[2 * i + 1] = 1.0;
    segmentLength += direction2[i] * direction2[i];
  }
  segmentLength = std::sqrt(segmentLength);
  const double deltaT = tol / maxLength;
  const double stopDist = segmentLength * divisions;
  for (int i = 0; i < 3; ++i)
  {
    direction3[i] = direction2[i] / segmentLength;
  }

  // The hit is taken in an octant when no cell before it in the query was:
  // its parameter and parametric distance pass the query's first comparison.
  if (!(t < (VTK_DOUBLE_MAX + deltaT)))
  {
    return false;
  }
  const double pDistance = grid.cell->GetParametricDistance(pcoords);
  if (!(pDistance < 1.0e38 || (pDistance == 1.0e38 && t < VTK_DOUBLE_MAX)))
  {
    return false;
  }

  double hitPosition[3];
  double entry;
  if (!vtkBox::IntersectBox(unitBox, origin, direction2, hitPosition, entry))
  {
    return false;
  }
  double currDist = 0;
  for (int i = 0; i < 3; ++i)
  {
    currDist += (hitPosition[i] - origin[i]) * (hitPosition[i] - origin[i]);
  }
  currDist = std::sqrt(currDist) * divisions;
  int pos[3];
  for (int i = 0; i < 3; ++i)
  {
    hitPosition[i] = hitPosition[i] * divisions + 1.0;
    pos[i] = static_cast<int>(hitPosition[i]);
    if (pos[i] > divisions)
    {
      pos[i] = divisions;
    }
  }

  // The octants whose bounds, widened by the tolerance, hold the hit point:
  // per axis an interval of octant indices, as the query's own bound test
  // finds them.
  int first[3];
  int last[3];
  for (int i = 0; i < 3; ++i)
  {
    if (!OctantsHolding(grid, i, x[i], tol, &first[i], &last[i]))
    {
      return false;
    }
  }

  const int product = divisions * divisions;
  while ((pos[0] > 0) && (pos[1] > 0) && (pos[2] > 0) && (pos[0] <= divisions) && (pos[1] <= divisions) &&
    (pos[2] <= divisions) && (currDist < stopDist))
  {
    // Octant pos - 1 is visited: is the hit point in it, and does it list the cell?
    if (first[0] < pos[0] && pos[0] <= last[0] + 1 && first[1] < pos[1] && pos[1] <= last[1] + 1 &&
      first[2] < pos[2] && pos[2] <= last[2] + 1)
    {
      const int idx = grid.leafStart + pos[0] - 1 + (pos[1] - 1) * divisions + (pos[2] - 1) * product;
      vtkIdList* cells = grid.locator->GetCells(idx);
      if (cells && cells->IsId(cellId) >= 0)
      {
        return true;
      }
    }

    // On to the next octant, one face at a time, as the query steps.
    double nearest = VTK_DOUBLE_MAX;
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
  return false;
}

namespace
{
// How far the walk toward a segment may go before it gives up.
const int kMaxWalk = 32;
}

bool LocatorSurelyHitsNear(LocatorGrid& grid, const double a0[3], const double a1[3], double tol, vtkIdType startCell)
{
  if (!grid.locator || !grid.surface)
  {
    return grid.locator && LocatorSurelyHits(grid, a0, a1, tol, startCell);
  }
  vtkPolyData* surface = grid.surface;
  vtkPoints* points = surface->GetPoints();
  const double u[3] = { a1[0] - a0[0], a1[1] - a0[1], a1[2] - a0[2] };
  vtkIdType cellId = startCell;
  vtkIdType previous = -1;
  for (int step = 0; step <= kMaxWalk; ++step)
  {
    vtkIdType size;
    const vtkIdType* ids;
    surface->GetCellPoints(cellId, size, ids);
    if (size < 3)
    {
      return false;
    }
    // For each edge, on which side of the plane through a0 and the edge the
    // line runs: the line passes through the triangle when it runs on the
    // triangle's side of all three.
    double corner[3][3];
    for (int c = 0; c < 3; ++c)
    {
      points->GetPoint(ids[c], corner[c]);
      for (int k = 0; k < 3; ++k)
      {
        corner[c][k] -= a0[k];
      }
    }
    double side[3];
    for (int c = 0; c < 3; ++c)
    {
      const double* p = corner[c];
      const double* q = corner[(c + 1) % 3];
      const double n[3] = { p[1] * q[2] - p[2] * q[1], p[2] * q[0] - p[0] * q[2], p[0] * q[1] - p[1] * q[0] };
      side[c] = u[0] * n[0] + u[1] * n[1] + u[2] * n[2];
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
    if (across < 0)
    {
      return LocatorSurelyHits(grid, a0, a1, tol, cellId);
    }
    if (step == kMaxWalk)
    {
      return false;
    }
    if (!grid.linked)
    {
      surface->BuildLinks();
      grid.linked = true;
    }
    surface->GetCellEdgeNeighbors(cellId, ids[across], ids[(across + 1) % 3], grid.neighbors);
    if (grid.neighbors->GetNumberOfIds() < 1 || grid.neighbors->GetId(0) == previous)
    {
      return false;
    }
    previous = cellId;
    cellId = grid.neighbors->GetId(0);
  }
  return false;
}
