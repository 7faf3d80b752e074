// Small surfaces built in memory for the tests of the locator proofs.
#pragma once

#include <vtkCellArray.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <functional>
#include <vector>

namespace testsurfaces
{
// A surface of the points (x, y, z after each other, as floats) and cells of
// `perCell` point ids each.
inline vtkPolyData* MakeSurface(const std::vector<double>& xyz, const std::vector<vtkIdType>& ids, int perCell = 3)
{
  vtkPoints* points = vtkPoints::New();
  for (size_t i = 0; i + 2 < xyz.size(); i += 3)
  {
    points->InsertNextPoint(static_cast<float>(xyz[i]), static_cast<float>(xyz[i + 1]), static_cast<float>(xyz[i + 2]));
  }
  vtkCellArray* polys = vtkCellArray::New();
  for (size_t i = 0; i + perCell <= ids.size(); i += perCell)
  {
    polys->InsertNextCell(perCell, &ids[i]);
  }
  vtkPolyData* surface = vtkPolyData::New();
  surface->SetPoints(points);
  surface->SetPolys(polys);
  return surface;
}

// The surface of the cube [0, n]^3 in unit squares, each split in two
// triangles: every vertex, edge and face lies on the locator's octant grid,
// where its walk meets faces, edges and corners exactly.
inline vtkPolyData* GridBox(int n)
{
  std::vector<double> xyz;
  std::vector<vtkIdType> ids;
  for (int face = 0; face < 6; ++face)
  {
    const int axis = face / 2;
    for (int a = 0; a < n; ++a)
    {
      for (int b = 0; b < n; ++b)
      {
        const int corners[4][2] = { { a, b }, { a + 1, b }, { a + 1, b + 1 }, { a, b + 1 } };
        const vtkIdType first = static_cast<vtkIdType>(xyz.size() / 3);
        for (const auto& c : corners)
        {
          double p[3];
          p[axis] = face % 2 ? n : 0;
          p[(axis + 1) % 3] = c[0];
          p[(axis + 2) % 3] = c[1];
          xyz.insert(xyz.end(), { p[0], p[1], p[2] });
        }
        ids.insert(ids.end(), { first, first + 1, first + 2, first, first + 2, first + 3 });
      }
    }
  }
  return MakeSurface(xyz, ids);
}

// The square [0, n / 2]^2 in the plane z = 0.3 in squares of side 0.5, each
// split in two triangles: the locator widens its box across the plane. The
// squares (a, b) for which leftOut is true are left out (a hole).
inline vtkPolyData* FlatGrid(int n, const std::function<bool(int, int)>& leftOut = nullptr)
{
  std::vector<double> xyz;
  std::vector<vtkIdType> ids;
  for (int a = 0; a <= n; ++a)
  {
    for (int b = 0; b <= n; ++b)
    {
      xyz.insert(xyz.end(), { a * 0.5, b * 0.5, 0.3 });
    }
  }
  for (int a = 0; a < n; ++a)
  {
    for (int b = 0; b < n; ++b)
    {
      if (leftOut && leftOut(a, b))
      {
        continue;
      }
      const vtkIdType p = a * (n + 1) + b;
      ids.insert(ids.end(), { p, p + n + 1, p + 1, p + 1, p + n + 1, p + n + 2 });
    }
  }
  return MakeSurface(xyz, ids);
}
}
