// Fuzzes the reading of a surface: any bytes written to a file and read with
// the checks of ReadSurfaceWith (the structural check of a legacy file,
// VTK's reader, the check of the cells). A surface that is accepted must
// survive what every tool does with it: the corners, centroid and normal of
// every cell, and the head-shape measures.
#include "fuzzfiles.h"
#include "measure/headshape.h"
#include "surftools/surface.h"

#include <vtkLogger.h>
#include <vtkOutputWindow.h>

#include <cstdint>
#include <cstdlib>
#include <iostream>

namespace
{
bool Read(const std::string& path)
{
  vtkPolyDataReader* reader = vtkPolyDataReader::New();
  const bool read = ReadSurfaceWith(reader, path.c_str());
  if (read)
  {
    vtkPolyData* surface = reader->GetOutput();
    const vtkIdType pointCount = surface->GetNumberOfPoints();
    const vtkIdType cellCount = surface->GetNumberOfCells();
    for (vtkIdType i = 0; i < cellCount; ++i)
    {
      // Checked here too: VTK's own accessors are not instrumented.
      vtkIdType size;
      const vtkIdType* ids;
      surface->GetCellPoints(i, size, ids);
      if (size < 3 || ids[0] < 0 || ids[0] >= pointCount || ids[1] < 0 || ids[1] >= pointCount || ids[2] < 0 ||
        ids[2] >= pointCount)
      {
        std::abort();
      }
      double corners[3][3];
      CellCorners(surface, i, corners);
      double centroid[3];
      CellCentroid(corners, centroid);
      double normal[3];
      CellNormal(corners, normal);
    }
    HeadShape shape;
    MeasureHeadShape(surface, shape);
  }
  reader->Delete();
  return read;
}
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  // VTK's messages are counted by ReadSurfaceWith through the output
  // window's events; showing them too would only slow the run down.
  vtkOutputWindow::GetInstance()->SetDisplayModeToNever();
  vtkLogger::SetStderrVerbosity(vtkLogger::VERBOSITY_OFF);
  // The events still come: a file that VTK's reader reports an error on (a
  // keyword it does not know, which the legacy check leaves to it) is still
  // refused.
  const char unknown[] = "# vtk DataFile Version 4.2\nx\nASCII\nDATASET POLYDATA\nPOINTS 3 float\n0 0 0 1 0 0 0 1 0\n"
                         "POLYGONS 1 4\n3 0 1 2\nPOLYGONZ\n";
  std::streambuf* out = std::cout.rdbuf(nullptr);
  const bool read = Read(fuzzfiles::Write("check.vtk", unknown, sizeof unknown - 1));
  std::cout.rdbuf(out);
  if (read)
  {
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  Read(fuzzfiles::Write("surface.vtk", data, size));
  return 0;
}
