// onmesh: whether surfaces lie on a template's mesh (the same number of
// points, and the same cells joining the same points in the same order), for
// scans on the template as any VTK writer saves them: legacy files of either
// layout (4.2 or 5.1), ASCII or binary, and VTK XML (.vtp); and such a scan
// written as the legacy file that every surface tool reads.
//
// check: one row per surface on standard output, its name, whether its cells
// are the template's (same, different, unreadable) and the first difference
// or why it cannot be read; legacy files are read without VTK's reader, so
// that a cohort's scans are checked in little time.
// write: the surface, when it lies on the template's mesh, as a legacy file
// (ASCII, version 4.2, single-precision points). Refusals are one line and
// exit status 255.

#include "fit/scanfile.h"
#include "surftools/meshcells.h"
#include "surftools/process.h"
#include "surftools/surface.h"

#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

namespace
{
// Reads the points' count and the cells of a surface file: a .vtk file
// (any case) with the check of its sections, else (or where the check does
// not reach its cells) with VTK's reader as fittemplate reads scans. False
// after printing the line that refuses it.
bool ReadCells(const char* path, MeshCells& cells)
{
  if (LowerExtension(path) == "vtk")
  {
    std::string problem;
    switch (ReadLegacyCells(path, cells, problem))
    {
      case LegacyCellsRead::Read:
        return true;
      case LegacyCellsRead::Refused:
        std::cout << "Cannot read surface " << path << ": " << problem << '\n';
        return false;
      case LegacyCellsRead::Unknown:
        break;
    }
  }
  const vtkSmartPointer<vtkPolyData> surface = ReadScanSurface(path);
  if (surface)
  {
    cells = SurfaceCells(surface);
  }
  return surface != nullptr;
}

// The check's row of the surface at `path` after its name: "same" and
// nothing; "different" and the first difference; or "unreadable" and the line
// that refuses the file.
std::string Verdict(const char* path, const MeshCells& templ)
{
  std::ostringstream refusal;
  std::streambuf* const shown = std::cout.rdbuf(refusal.rdbuf());
  MeshCells cells;
  const bool read = ReadCells(path, cells);
  std::cout.rdbuf(shown);
  if (!read)
  {
    const std::string line = refusal.str();
    return "unreadable\t" + line.substr(0, line.find('\n'));
  }
  const std::string difference = MeshDifference(cells, templ);
  return (difference.empty() ? "same\t" : "different\t") + difference;
}

int Check(const char* templatePath, int count, char** paths)
{
  for (int s = 0; s < count; ++s)
  {
    if (std::strpbrk(paths[s], "\t\n\r"))
    {
      std::cout << "Cannot check surface " << paths[s] << ": its name holds a tab or a line break\n";
      return -1;
    }
  }
  MeshCells templ;
  if (!ReadCells(templatePath, templ))
  {
    return -1;
  }
  std::cout << "file\tcells\tproblem\n";
  for (int s = 0; s < count; ++s)
  {
    std::cout << paths[s] << '\t' << Verdict(paths[s], templ) << '\n';
  }
  return 0;
}

int Write(const char* templatePath, const char* path, const char* output)
{
  MeshCells templ;
  if (!ReadCells(templatePath, templ))
  {
    return -1;
  }
  const vtkSmartPointer<vtkPolyData> surface = ReadScanSurface(path);
  if (!surface)
  {
    return -1;
  }
  const std::string difference = MeshDifference(SurfaceCells(surface), templ);
  if (!difference.empty())
  {
    std::cout << "Surface " << path << " does not lie on the mesh of template " << templatePath << ": " << difference
              << '\n';
    return -1;
  }
  // In single precision, as the tools write every surface.
  auto points = vtkSmartPointer<vtkPoints>::New();
  points->SetDataTypeToFloat();
  points->SetNumberOfPoints(surface->GetNumberOfPoints());
  for (vtkIdType p = 0; p < surface->GetNumberOfPoints(); ++p)
  {
    points->SetPoint(p, surface->GetPoint(p));
  }
  return WriteSurface(BuildSurface(points, surface), output) ? 0 : -1;
}
}

int main(int argc, char* argv[])
{
  QuietVtk();
  UseOneThread();
  const char* command = argc > 1 ? argv[1] : "";
  if (std::strcmp(command, "check") == 0 && argc >= 4)
  {
    return Check(argv[2], argc - 3, argv + 3);
  }
  if (std::strcmp(command, "write") == 0 && argc == 5)
  {
    return Write(argv[2], argv[3], argv[4]);
  }
  std::cout << "Usage: onmesh check template.vtk surface [surface ...]\n"
               "       onmesh write template.vtk surface output.vtk\n"
               "Inputs: a template mesh and surfaces meant to lie on it (the same number of points, the same\n"
               "        cells joining the same points in the same order): legacy VTK files of either layout\n"
               "        (4.2 or 5.1, ASCII or binary), VTK XML (.vtp), .stl, .ply or .obj; a .vtk file is read\n"
               "        without VTK's reader\n"
               "check:  a table on standard output, one row per surface: its name, its cells (same, different or\n"
               "        unreadable) and the first difference or why it cannot be read\n"
               "write:  the surface, when it lies on the template's mesh, as a legacy file (ASCII, version 4.2,\n"
               "        single-precision points), as every surface tool reads it\n";
  return -1;
}
