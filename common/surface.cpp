#include "surface.h"

#include <vtkCallbackCommand.h>
#include <vtkCellArray.h>
#include <vtkCommand.h>
#include <vtkExecutive.h>
#include <vtkPolyDataWriter.h>
#include <vtkSmartPointer.h>

#include <iostream>

namespace
{
// Counts the errors and warnings that VTK raises while a file is read or
// written; VTK no longer prints them itself while this observer is attached.
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

bool ReadSurfaceWith(vtkPolyDataReader* reader, const char* path)
{
  EventCount count;
  vtkExecutive* executive = reader->GetExecutive();
  auto readerCallback = Observe(reader, &count);
  auto executiveCallback = Observe(executive, &count);
  reader->SetFileName(path);
  reader->Update();
  reader->RemoveObserver(readerCallback);
  executive->RemoveObserver(executiveCallback);

  vtkPolyData* surface = reader->GetOutput();
  if (count.errors > 0 || !surface)
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
  auto callback = Observe(writer, &count);
  writer->SetInputData(surface);
  Report(hook, SurfaceStep::InputSet);
  writer->SetFileName(path);
  Report(hook, SurfaceStep::FileNameSet);
  writer->SetFileVersion(vtkPolyDataWriter::VTK_LEGACY_READER_VERSION_4_2);
  const int written = writer->Write();
  Report(hook, SurfaceStep::Written);
  writer->RemoveObserver(callback);
  if (!written || count.errors > 0 || writer->GetErrorCode() != 0)
  {
    std::cout << "Cannot write surface " << path << '\n';
    return false;
  }
  return true;
}
