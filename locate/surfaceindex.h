// The index that SurfaceLocator searches, made once per surface for the grid
// that the surface's vtkCellLocator plans.
//
// In: a surface and its vtkCellLocator (data set given, not built). Neither
// may change while the index is used.
// Out: the cells in a hierarchy of oriented boxes, four to a node (Wides, the
// root first; leaves of up to 8 cells in Cells), each cell's range of leaf
// octants in the locator's grid (Octants) and the octants that list a cell
// the locator's closest-point search can take (Usable).
// Fails: Build returns false, and the index must not be searched, for any
// cell other than a triangle, a coordinate that is not finite, 2^30 cells
// or more, a grid whose level the locator's settings leave open or set
// beyond 8, a lazily building locator, or a VTK other than 9.1.
#pragma once

#include "locate/locatorwalk.h"

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
  // A cell as the leaves hold it: its corners in single precision (exact
  // when the surface's points are), its id and its kind.
  struct LeafCell
  {
    float corner[9];
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

  // The bounds of a cell, from the corners held or from the surface.
  void CellBounds(vtkIdType cell, double bounds[6]) const;

  // Whether the locator lists the cell in leaf octant (i, j, k).
  bool Listed(vtkIdType cell, int i, int j, int k) const
  {
    const uint8_t* o = &this->Octants[6 * cell];
    return o[0] <= i && i <= o[3] && o[1] <= j && j <= o[4] && o[2] <= k && k <= o[5];
  }

  vtkPolyData* Surface = nullptr; // not owned
  LocatorGridShape Shape;         // the grid planned
  double Reach = 0;               // the largest coordinate magnitude of the grid
  std::vector<LeafCell> Cells;    // in the order the leaves hold them
  std::vector<int32_t> Position;  // per cell id: its place in that order
  std::vector<uint8_t> Octants;   // per cell id: first and last octant index per axis (6 values)
  std::vector<uint8_t> Usable;    // per leaf octant of the locator: lists a cell other than Flat
  std::vector<Wide> Wides;        // the hierarchy searched: Wides[0] is its root
  double CornerError = 0;         // how far a corner held may be from the point (0: exact)
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
