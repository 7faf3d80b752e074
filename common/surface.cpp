#include "surface.h"

#include "legacycheck.h"

#include <vtkCallbackCommand.h>
#include <vtkCellArray.h>
#include <vtkCommand.h>
#include <vtkOutputWindow.h>
#include <vtkPolyDataWriter.h>
#include <vtkSmartPointer.h>

#include <iostream>

namespace
{
// Counts the errors and warnings that VTK raises while a file is read or written.
struct EventCount
{
  int errors = 0;
};

void CountEvent(vtkObject*, unsigned long, void* clientData, void*)
{
  ++static_cast<EventCount*>(clientData)->errors;
}

vtkSmartPointer<vtkCallbackCommand> Observe(vtkObject* object, EventCount* count)
{
  auto callback = vtkSmartPointer<vtkCallbackCommand>::New();
  callback->SetCallback(CountEvent);
  callback->SetClientData(count);
  object->AddObserver(vtkCommand::ErrorEvent, callback);
  object->AddObserver(vtkCommand::WarningEvent, callback);
  return callback;
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
  vtkCellArray* arrays[] = { surface->GetVerts(), surface->GetLines(), surface->GetPolys(),
    surface->GetStrips() };
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

bool UpdateWithoutErrors(vtkAlgorithm* algorithm)
{
  EventCount count;
  vtkOutputWindow* window = vtkOutputWindow::GetInstance();
  auto callback = Observe(window, &count);
  algorithm->Update();
  window->RemoveObserver(callback);
  return count.errors == 0;
}

bool ReadSurfaceWith(vtkPolyDataReader* reader, const char* path)
{
  // VTK's reader trusts the sizes that the file declares: check them first.
  if (const char* problem = LegacySectionProblem(path))
  {
    std::cout << "Cannot read surface " << path << ": " << problem << '\n';
    return false;
  }
  // Some read problems (a section shorter than declared) are raised as
  // generic warnings that no object observer sees; every message passes the
  // output window, which still shows them on the error output.
  reader->SetFileName(path);
  const bool clean = UpdateWithoutErrors(reader);
  vtkPolyData* surface = reader->GetOutput();
  if (!clean || !surface)
  {
    std::cout << "Cannot read surface " << path << '\n';
    return false;
  }
  if (const char* problem = CellProblem(surface))
  {
    std::cout << "Surface " << path << ' ' << problem << '\n';
    return false;
  }
  if (surface->GetNumberOfCells() > 0)
  {
    surface->BuildCells();
  }
  return true;
}

vtkPolyData* ReadSurface(const char* path)
{
  vtkPolyDataReader* reader = vtkPolyDataReader::New();
  return ReadSurfaceWith(reader, path) ? reader->GetOutput() : nullptr;
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

void CellNormal(const double corners[3][3], double normal[3])
{
  const double e1[3] = { corners[1][0] - corners[0][0], corners[1][1] - corners[0][1], corners[1][2] - corners[0][2] };
  const double e2[3] = { corners[2][0] - corners[0][0], corners[2][1] - corners[0][1], corners[2][2] - corners[0][2] };
  normal[0] = e1[1] * e2[2] - e1[2] * e2[1];
  normal[1] = e1[2] * e2[0] - e1[0] * e2[2];
  normal[2] = e1[0] * e2[1] - e1[1] * e2[0];
}

vtkPolyData* BuildSurface(vtkPoints* points, vtkPolyData* source, SurfaceStepHook hook)
{
  vtkPolyData* surface = vtkPolyData::New();
  Report(hook, SurfaceStep::SurfaceMade);
  surface->SetPoints(points);
  Report(hook, SurfaceStep::PointsAttached);
  surface->SetPolys(source->GetPolys());
  return surface;
}

bool WriteSurface(vtkPolyData* surface, const char* path, SurfaceStepHook hook)
{
  vtkPolyDataWriter* writer = vtkPolyDataWriter::New();
  Report(hook, SurfaceStep::WriterMade);
  EventCount count;
  vtkOutputWindow* window = vtkOutputWindow::GetInstance();
  auto callback = Observe(window, &count);
  writer->SetInputData(surface);
  Report(hook, SurfaceStep::InputSet);
  writer->SetFileName(path);
  Report(hook, SurfaceStep::FileNameSet);
  writer->SetFileVersion(vtkPolyDataWriter::VTK_LEGACY_READER_VERSION_4_2);
  const int written = writer->Write();
  Report(hook, SurfaceStep::Written);
  window->RemoveObserver(callback);
  if (!written || count.errors > 0 || writer->GetErrorCode() != 0)
  {
    std::cout << "Cannot write surface " << path << '\n';
    return false;
  }
  return true;
}
