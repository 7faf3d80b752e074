// A VTK surface as a plain triangle surface, and back.
//
// Input: any vtkPolyData, or a triangle surface. Output: its polygons and
// triangle strips as triangles on its own points, in their order; or the
// triangle surface as a VTK one. Nothing fails; ids are not checked against
// the points (ReadScan checks a scan's).
#pragma once

#include "geometry/trianglesurface.h"

#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

// The polygons and triangle strips of `surface` as triangles (a polygon of n
// points as the fan of its first point, a strip as its n - 2 triangles, every
// second one turned back), on the surface's own points in their order;
// vertices and lines are left out.
TriangleSurface SurfaceTriangles(vtkPolyData* surface);

// The triangle surface as a VTK one: its points (double precision) and its
// triangles, in their order.
vtkSmartPointer<vtkPolyData> PolyDataOf(const TriangleSurface& surface);
