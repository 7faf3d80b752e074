// A triangle surface as plain arrays, the per-point normals and areas
// computed from its triangles, where a line leaves it, where a plane
// x = constant cuts it, and the surface moved rigidly.
//
// Inputs: points as x, y, z each, triangles as three point ids each (every
// id must name a point). Nothing here fails or reads files; a line that
// misses every triangle is said so (false).
#pragma once

#include "geometry/rigidtransform.h"

#include <array>
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

// Where the line through `origin` along the unit `direction` crosses a
// triangle of `surface` farthest along it (at origin + t direction with the
// largest t, negative t included); false when it crosses none.
bool FarthestCrossing(const TriangleSurface& surface, const double origin[3], const double direction[3], double at[3]);

// The points where the plane x = `x` crosses the edges of the surface's
// triangles (an edge's end point on the plane included; an edge is met once
// per triangle it belongs to).
std::vector<std::array<double, 3>> MidlineCrossings(const TriangleSurface& surface, double x);

// The surface with its points taken by `transform`.
TriangleSurface Moved(const TriangleSurface& surface, const RigidTransform& transform);
