// Fuzzes the reading of raw scans: the first byte of an input picks the
// format (its value modulo 4: STL, PLY, OBJ, VTK XML), the rest is the file.
// A scan that is read must hold triangles of its own points only, and must
// survive what the template fit does with it: its normals and areas, the
// index over its triangles and a closest-point query.
#include "fit/scanfile.h"
#include "fuzzfiles.h"
#include "geometry/triangletree.h"

#include <vtkLogger.h>
#include <vtkOutputWindow.h>

#include <cstdint>
#include <cstdlib>
#include <iostream>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  vtkOutputWindow::GetInstance()->SetDisplayModeToNever();
  vtkLogger::SetStderrVerbosity(vtkLogger::VERBOSITY_OFF);
  std::cout.rdbuf(nullptr); // the refusals' lines
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size == 0)
  {
    return 0;
  }
  static const char* const names[] = { "scan.stl", "scan.ply", "scan.obj", "scan.vtp" };
  const std::string path = fuzzfiles::Write(names[data[0] % 4], data + 1, size - 1);
  TriangleSurface scan;
  if (!ReadScan(path.c_str(), scan))
  {
    return 0;
  }
  const size_t pointCount = scan.PointCount();
  for (int id : scan.triangles)
  {
    if (id < 0 || static_cast<size_t>(id) >= pointCount)
    {
      std::abort();
    }
  }
  std::vector<double> normals;
  std::vector<double> areas;
  PointNormalsAndAreas(scan, normals, areas);
  const TriangleTree tree(scan.points, scan.triangles);
  const double origin[3] = { 0, 0, 0 };
  tree.Closest(origin, 1e9);
  return 0;
}
