// Raw scans as a scanner writes them: legacy VTK (.vtk), VTK XML (.vtp),
// STL, PLY and OBJ surfaces, read as plain triangle lists.
#pragma once

#include "geometry/trianglesurface.h"

#include <vtkPolyData.h>

#include <functional>
#include <vector>

// The polygons and triangle strips of a surface as triangles (a polygon of n
// points as the fan of its first point, a strip as its n - 2 triangles), on
// the surface's own points in their order; vertices and lines are left out.
TriangleSurface SurfaceTriangles(vtkPolyData* surface);

// Reads a scan by the extension of its name, upper or lower case: .vtk (as
// every surface of these tools is read, with the check of its sections), .vtp,
// .stl, .ply or .obj. Points at exactly the same place are merged into one (a
// format that repeats a point per triangle, as STL does, then gives a
// connected surface), and triangles that lose a corner by it are dropped.
// Returns false after printing one line naming the file when the file cannot
// be read, is of another format, holds a point used by a triangle that is not
// a finite number, or holds no triangle at all.
bool ReadScan(const char* path, TriangleSurface& scan);

// Runs `read` in a child process first (a trial), for readers that may crash
// on a hostile file: ReadScan's VTK readers trust a file in more ways than
// its checks foresee (a PLY face list under another name makes VTK's PLY
// reader read past its data, say). A reader that crashes or runs out of
// memory in the child then refuses the file instead of ending the tool.
// Read: `read` returned true (or no child could be made); Failed: it
// returned false; Crashed: the child ended any other way. Standard output
// is flushed first; nothing may run beside the caller (fork copies only its
// thread).
enum class Trial
{
  Read,
  Failed,
  Crashed
};
Trial TrialRead(const std::function<bool()>& read);

