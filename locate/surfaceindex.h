// The index that SurfaceLocator searches, made once per surface for the grid
// that the surface's vtkCellLocator plans.
//
// In: a surface and its vtkCellLocator (data set given, not built). Neither
// may change while the index is used.
// Out: the cells in a hierarchy of oriented boxes, four to a node (Wides, the
// root first; leaves of up to 12 cells in Cells, by id: the corners stay in
// the surface's own arrays, and each cell's range of leaf octants in the
// locator's grid is found again from them, CellOctants) and the octants that
// list a cell the locator's closest-point search can take (Usable).
// Fails: Build returns false, and the index must not be searched, for any
// cell other than a triangle, a coordinate that is not finite, 2^30 cells
// or more, a grid whose level the locator's settings leave open or set
// beyond 8, a lazily building locator, or a VTK other than 9.1.
#pragma once

#include "locate/locatorwalk.h"
#include "surftools/surface.h"

#include <vtkCellLocator.h>
#include <vtkPolyData.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

struct SurfaceIndex
{
  static constexpr double kHuge = 1.7976931348623157e308; // VTK_DOUBLE_MAX

  enum CellKind : uint8_t
  {
    Good, // a triangle whose figures are reliable
    Flat, // a triangle that the locator's closest-point search never takes
    Thin, // a triangle too thin for the figures here: asks the locator
  };
  // A cell as the leaves hold it: its id and its kind. Its corners are read
  // from the surface's own arrays (Corners), not copied.
  struct LeafCell
  {
    int32_t cell;
    int32_t kind;
  };
  // Four boxes of the hierarchy side by side (grandchildren of a node of
  // the binary tree, or children where those are leaves), laid out to be
  // measured four at a time: axis[i][k][c] is component k of axis i of box c.
  // child[c] >= 0 is another wide node; otherwise ~child[c] holds a leaf's
  // first cell (times 16) and its number of cells. A slot without a box
  // has an empty range.
  struct alignas(16) Wide
  {
    float axis[3][3][4];
    float low[3][4];
    float high[3][4];
    int32_t child[4];
  };
  // A box waiting to be searched (a wide node, or ~code of a leaf) and its
  // squared distance.
  struct Entry
  {
    int node;
    double distance2;
  };

  bool Build(vtkPolyData* surface, vtkCellLocator* locator);

  // The corners of a cell as the surface holds them, widened exactly to
  // double precision (as GetCell gives them).
  void Corners(vtkIdType cell, double corner[9]) const
  {
    if (this->Arrays.Usable())
    {
      const vtkIdType* ids = this->Arrays.connectivity + this->Arrays.offsets[cell];
      for (int v = 0; v < 3; ++v)
      {
        this->Arrays.Point(ids[v], corner + 3 * v);
      }
      return;
    }
    vtkIdType size;
    const vtkIdType* ids;
    this->Surface->GetCellPoints(cell, size, ids);
    for (int v = 0; v < 3; ++v)
    {
      this->Surface->GetPoint(ids[v], corner + 3 * v);
    }
  }

  // The bounds of a cell.
  void CellBounds(vtkIdType cell, double bounds[6]) const
  {
    double corner[9];
    this->Corners(cell, corner);
    TriangleBounds(corner, bounds);
  }

  // The leaf octants that the locator lists the cell in: from first[i] to
  // last[i] along each axis i, as the locator finds them from its bounds.
  void CellOctants(vtkIdType cell, int first[3], int last[3]) const
  {
    double bounds[6];
    this->CellBounds(cell, bounds);
    LocatorCellOctants(this->Shape, bounds, first, last);
  }

  // Whether the locator lists the cell in leaf octant (i, j, k).
  bool Listed(vtkIdType cell, int i, int j, int k) const
  {
    int first[3];
    int last[3];
    this->CellOctants(cell, first, last);
    return first[0] <= i && i <= last[0] && first[1] <= j && j <= last[1] && first[2] <= k && k <= last[2];
  }

  vtkPolyData* Surface = nullptr; // not owned
  SurfaceArrays Arrays;           // the surface's arrays, where they are read in place
  LocatorGridShape Shape;         // the grid planned
  double Reach = 0;               // the largest coordinate magnitude of the grid
  std::vector<LeafCell> Cells;    // in the order the leaves hold them
  std::vector<uint8_t> Usable;    // per leaf octant of the locator: lists a cell other than Flat
  std::vector<Wide> Wides;        // the hierarchy searched: Wides[0] is its root
};

// Whether every coordinate lies within a million octants of the grid, so
// that the locator's conversions of it to octant indices are exact.
inline bool WithinIndexReach(const LocatorGridShape& shape, const double x[3])
{
  const double kIndexReach = 1.0e6;
  for (int i = 0; i < 3; ++i)
  {
    const double place = (x[i] - shape.bounds[2 * i]) / shape.width[i];
    if (!(std::fabs(place) < kIndexReach))
    {
      return false;
    }
  }
  return true;
}
