// A VTK surface as a plain triangle surface.
//
// Input: any vtkPolyData. Output: its polygons and triangle strips as
// triangles on its own points, in their order. Nothing fails; ids are not
// checked against the points (ReadScan checks a scan's).
#pragma once

#include "geometry/trianglesurface.h"

#include <vtkPolyData.h>

// The polygons and triangle strips of `surface` as triangles (a polygon of n
// points as the fan of its first point, a strip as its n - 2 triangles, every
// second one turned back), on the surface's own points in their order;
// vertices and lines are left out.
TriangleSurface SurfaceTriangles(vtkPolyData* surface);
