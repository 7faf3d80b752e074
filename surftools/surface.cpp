#include "surftools/surface.h"

#include "geometry/vector.h"
#include "surftools/legacycheck.h"

#include <vtkCallbackCommand.h>
#include <vtkCellArray.h>
#include <vtkCommand.h>
#include <vtkFloatArray.h>
#include <vtkOutputWindow.h>
#include <vtkPolyDataWriter.h>
#include <vtkSmartPointer.h>

#include <cmath>
#include <iostream>
#include <sstream>
#include <string>

namespace
{
// The errors and warnings that VTK raised through its output window, and
// the text of the first one since the last run began (those after it tell of
// the pipeline that carried it).
long vtkMessages = 0;
std::string firstVtkMessage;

void CountMessage(vtkObject*, unsigned long, void*, void* text)
{
  if (firstVtkMessage.empty() && text)
  {
    firstVtkMessage = static_cast<const char*>(text);
  }
  ++vtkMessages;
}

// Installs, once for the process, the observer of the output window that
// counts VTK's errors and warnings (VTK's own text still goes to the error
// output).
void WatchOutputWindow()
{
  static const bool installed = [] {
    auto callback = vtkSmartPointer<vtkCallbackCommand>::New();
    callback->SetCallback(CountMessage);
    vtkOutputWindow* window = vtkOutputWindow::GetInstance();
    window->AddObserver(vtkCommand::ErrorEvent, callback);
    window->AddObserver(vtkCommand::WarningEvent, callback);
    return true;
  }();
  static_cast<void>(installed);
}

// Whether the offsets of a cell array start at 0, never decrease and end at
// the number of point ids, so that every cell lies within the ids.
template <class OffsetArray>
bool OffsetsFit(OffsetArray* offsets, vtkIdType idCount)
{
  const vtkIdType count = offsets->GetNumberOfValues();
  if (count == 0)
  {
    return idCount == 0;
  }
  const auto* offset = offsets->GetPointer(0);
  if (offset[0] != 0)
  {
    return false;
  }
  for (vtkIdType i = 1; i < count; ++i)
  {
    if (offset[i] < offset[i - 1])
    {
      return false;
    }
  }
  return offset[count - 1] == idCount;
}

// Problems of the cell arrays that the per-cell accessors would not survive.
const char* CellProblem(vtkPolyData* surface)
{
  const vtkIdType pointCount = surface->GetNumberOfPoints();
  vtkCellArray* arrays[] = { surface->GetVerts(), surface->GetLines(), surface->GetPolys(), surface->GetStrips() };
  for (vtkCellArray* cells : arrays)
  {
    if (!cells)
    {
      continue;
    }
    const vtkIdType idCount = cells->GetNumberOfConnectivityIds();
    if (cells->IsStorage64Bit() ? !OffsetsFit(cells->GetOffsetsArray64(), idCount)
                                : !OffsetsFit(cells->GetOffsetsArray32(), idCount))
    {
      return "has a cell list whose offsets do not fit its point ids";
    }
    const vtkIdType count = cells->GetNumberOfCells();
    for (vtkIdType i = 0; i < count; ++i)
    {
      vtkIdType size;
      const vtkIdType* ids;
      cells->GetCellAtId(i, size, ids);
      if (size < 3)
      {
        return "has a cell with fewer than three points";
      }
      for (vtkIdType k = 0; k < size; ++k)
      {
        if (ids[k] < 0 || ids[k] >= pointCount)
        {
          return "has a cell that names a point that does not exist";
        }
      }
    }
  }
  return nullptr;
}

void Report(SurfaceStepHook hook, SurfaceStep step)
{
  if (hook)
  {
    hook(step);
  }
}
}

std::string VtkReason()
{
  // "ERROR: In FILE, line N\nvtkClass (0x...): the reason\n\n": the last
  // line that says something, after its object.
  std::string line;
  std::istringstream lines(firstVtkMessage);
  for (std::string next; std::getline(lines, next);)
  {
    if (next.find_first_not_of(" \t\r") != std::string::npos)
    {
      line = next;
    }
  }
  const size_t object = line.find("): ");
  if (object != std::string::npos && line.compare(0, 3, "vtk") == 0)
  {
    line.erase(0, object + 3);
  }
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
  {
    line.pop_back();
  }
  return line;
}

bool UpdateWithoutErrors(vtkAlgorithm* algorithm)
{
  WatchOutputWindow();
  const long before = vtkMessages;
  firstVtkMessage.clear();
  algorithm->Update();
  return vtkMessages == before;
}

namespace
{
// Reads `path` into `reader` with the checks of ReadSurface; returns the line
// that reports a failure (with its line end), or an empty text.
std::string ReadProblem(vtkPolyDataReader* reader, const char* path)
{
  // VTK's reader trusts the sizes that the file declares: check them first.
  if (const char* problem = LegacySectionProblem(path))
  {
    return std::string("Cannot read surface ") + path + ": " + problem + '\n';
  }
  // Some read problems (a section shorter than declared) are raised as
  // generic warnings that no object observer sees; every message passes the
  // output window, which still shows them on the error output.
  reader->SetFileName(path);
  const bool clean = UpdateWithoutErrors(reader);
  vtkPolyData* surface = reader->GetOutput();
  if (!clean || !surface)
  {
    return std::string("Cannot read surface ") + path + '\n';
  }
  if (const char* problem = CellProblem(surface))
  {
    return std::string("Surface ") + path + ' ' + problem + '\n';
  }
  if (surface->GetNumberOfCells() > 0)
  {
    surface->BuildCells();
  }
  return std::string();
}
}

bool ReadSurfaceWith(vtkPolyDataReader* reader, const char* path)
{
  const std::string problem = ReadProblem(reader, path);
  std::cout << problem;
  return problem.empty();
}

vtkSmartPointer<vtkPolyData> ReadSurface(const char* path)
{
  auto reader = vtkSmartPointer<vtkPolyDataReader>::New();
  if (!ReadSurfaceWith(reader, path))
  {
    return nullptr;
  }
  return reader->GetOutput();
}

bool ReadTwoSurfaces(const char* firstPath, const char* secondPath, vtkSmartPointer<vtkPolyData>& first,
  vtkSmartPointer<vtkPolyData>& second)
{
  first = ReadSurface(firstPath);
  second = first ? ReadSurface(secondPath) : nullptr;
  return second != nullptr;
}

void CellCorners(vtkPolyData* surface, vtkIdType cellId, double corners[3][3])
{
  if (surface->NeedToBuildCells())
  {
    surface->BuildCells();
  }
  vtkIdType size;
  const vtkIdType* ids;
  surface->GetCellPoints(cellId, size, ids);
  vtkPoints* points = surface->GetPoints();
  points->GetPoint(ids[0], corners[0]);
  points->GetPoint(ids[1], corners[1]);
  points->GetPoint(ids[2], corners[2]);
}

SurfaceArrays::SurfaceArrays(vtkPolyData* surface)
{
  vtkCellArray* polys = surface->GetPolys();
  vtkFloatArray* floats = surface->GetPoints() ? vtkFloatArray::FastDownCast(surface->GetPoints()->GetData()) : nullptr;
  if (polys && polys->IsStorage64Bit() && polys->GetNumberOfCells() > 0 &&
    polys->GetNumberOfCells() == surface->GetNumberOfCells() && floats && floats->GetNumberOfComponents() == 3)
  {
    offsets = polys->GetOffsetsArray64()->GetPointer(0);
    connectivity = polys->GetConnectivityArray64()->GetPointer(0);
    points = floats->GetPointer(0);
  }
}

void CellCentroid(const double corners[3][3], double centroid[3])
{
  for (int k = 0; k < 3; ++k)
  {
    centroid[k] = ((corners[2][k] + corners[1][k]) + corners[0][k]) * 0.3333333333333333;
  }
}

void CellCentroid(const double corners[3][3], float centroid[3])
{
  double exact[3];
  CellCentroid(corners, exact);
  for (int k = 0; k < 3; ++k)
  {
    centroid[k] = static_cast<float>(exact[k]);
  }
}

void CellCentroid(vtkPolyData* surface, vtkIdType cellId, double centroid[3])
{
  double corners[3][3];
  CellCorners(surface, cellId, corners);
  CellCentroid(corners, centroid);
}

void CellCentroid(vtkPolyData* surface, vtkIdType cellId, float centroid[3])
{
  double corners[3][3];
  CellCorners(surface, cellId, corners);
  CellCentroid(corners, centroid);
}

void CentroidDisplacement(vtkPolyData* from, vtkPolyData* to, vtkIdType cellId, double d[3], double fromCorners[3][3])
{
  double toCorners[3][3];
  CellCorners(from, cellId, fromCorners);
  CellCorners(to, cellId, toCorners);
  float fromCentroid[3];
  float toCentroid[3];
  CellCentroid(fromCorners, fromCentroid);
  CellCentroid(toCorners, toCentroid);
  for (int k = 0; k < 3; ++k)
  {
    d[k] = static_cast<double>(toCentroid[k]) - static_cast<double>(fromCentroid[k]);
  }
}

bool BeyondRightAngle(double cosine)
{
  // acos falls as the cosine grows, and acos(1e-8) lies above 1.5707963 and
  // acos(1e-7) below it by more than a hundred million of its units in the
  // last place: acos is taken only between them and outside [-1, 1].
  if (cosine >= -1.0 && cosine <= 1.0e-8)
  {
    return true;
  }
  if (cosine >= 1.0e-7 && cosine <= 1.0)
  {
    return false;
  }
  return std::acos(cosine) > 1.5707963;
}

void CellNormal(const double corners[3][3], double normal[3])
{
  double e1[3];
  double e2[3];
  Subtract(corners[1], corners[0], e1);
  Subtract(corners[2], corners[0], e2);
  Cross(e1, e2, normal);
}

vtkSmartPointer<vtkPolyData> BuildSurface(vtkPoints* points, vtkPolyData* source, SurfaceStepHook hook)
{
  auto surface = vtkSmartPointer<vtkPolyData>::New();
  Report(hook, SurfaceStep::SurfaceMade);
  surface->SetPoints(points);
  Report(hook, SurfaceStep::PointsAttached);
  surface->SetPolys(source->GetPolys());
  return surface;
}

bool WriteSurface(vtkPolyData* surface, const char* path, SurfaceStepHook hook)
{
  vtkSmartPointer<vtkPolyDataWriter> writer = vtkSmartPointer<vtkPolyDataWriter>::New();
  Report(hook, SurfaceStep::WriterMade);
  WatchOutputWindow();
  const long before = vtkMessages;
  writer->SetInputData(surface);
  Report(hook, SurfaceStep::InputSet);
  writer->SetFileName(path);
  Report(hook, SurfaceStep::FileNameSet);
  writer->SetFileVersion(vtkPolyDataWriter::VTK_LEGACY_READER_VERSION_4_2);
  const int written = writer->Write();
  Report(hook, SurfaceStep::Written);
  if (!written || vtkMessages != before || writer->GetErrorCode() != 0)
  {
    std::cout << "Cannot write surface " << path << '\n';
    return false;
  }
  return true;
}
