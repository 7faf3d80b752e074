// A triangle surface as plain arrays, and the per-point normals and areas
// computed from its triangles.
//
// Inputs: points as x, y, z each, triangles as three point ids each (every
// id must name a point). Nothing here fails or reads files.
#pragma once

#include <cstddef>
#include <vector>

// A triangle surface: x, y, z per point, three point ids per triangle.
struct TriangleSurface
{
  std::vector<double> points;
  std::vector<int> triangles;
  size_t PointCount() const { return points.size() / 3; }
  size_t TriangleCount() const { return triangles.size() / 3; }
};

// Per point of `surface`: `normals` gets the unit normal, the sum of the
// normals (B - A) x (C - A) of the triangles around it (so weighted by their
// areas), zero for a point on no triangle; `areas` gets the point's share of
// the surface area, a third of the area of each triangle around it.
void PointNormalsAndAreas(const TriangleSurface& surface, std::vector<double>& normals, std::vector<double>& areas);
