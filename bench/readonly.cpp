// Reads every surface named on the command line with VTK's legacy reader and
// does nothing else: the baseline for the tools' time and memory. On one
// thread, as the tools run. Prints the number of cells read.
//   readonly [--locator | --write OUT] surface.vtk...
// --locator: also builds a vtkCellLocator over each surface read and asks it
// one closest point and one line (which makes it build all it holds), as
// the tools that query surfaces would without a search index of their own.
// --write OUT: also writes the last surface read to OUT with VTK's legacy
// writer as the tools write surfaces (ASCII, the 4.2 layout), and prints the
// seconds the write alone took on a second line.
#include <vtkCellLocator.h>
#include <vtkPolyData.h>
#include <vtkPolyDataReader.h>
#include <vtkPolyDataWriter.h>
#include <vtkSMPTools.h>
#include <vtkSmartPointer.h>

#include <chrono>
#include <cstring>
#include <iostream>
#include <vector>

namespace
{
// One query of each kind, through the middle of the surface's bounds.
void AskLocator(vtkCellLocator* locator, vtkPolyData* surface)
{
  double bounds[6];
  surface->GetBounds(bounds);
  double x[3] = { 0, 0, 0 };
  double closest[3];
  vtkIdType cell;
  int subId;
  double distance2;
  locator->FindClosestPoint(x, closest, cell, subId, distance2);
  const double a0[3] = { 0.5 * (bounds[0] + bounds[1]), 0.5 * (bounds[2] + bounds[3]), 0.5 * (bounds[4] + bounds[5]) };
  const double a1[3] = { a0[0], a0[1], bounds[5] + 1.0 };
  double t;
  double hit[3];
  double pcoords[3];
  locator->IntersectWithLine(a0, a1, 0.001, t, hit, pcoords, subId, cell);
}

// The seconds VTK's legacy writer takes to write the surface.
double TimedWrite(vtkPolyData* surface, const char* path)
{
  const auto start = std::chrono::steady_clock::now();
  vtkSmartPointer<vtkPolyDataWriter> writer = vtkSmartPointer<vtkPolyDataWriter>::New();
  writer->SetInputData(surface);
  writer->SetFileName(path);
  writer->SetFileVersion(vtkPolyDataWriter::VTK_LEGACY_READER_VERSION_4_2);
  writer->Write();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
}

int main(int argc, char* argv[])
{
  vtkSMPTools::SetBackend("Sequential");
  const bool locate = argc > 1 && std::strcmp(argv[1], "--locator") == 0;
  const char* writePath = argc > 2 && std::strcmp(argv[1], "--write") == 0 ? argv[2] : nullptr;
  vtkIdType cells = 0;
  // Every surface read is kept to the end.
  std::vector<vtkSmartPointer<vtkPolyDataReader>> readers;
  std::vector<vtkSmartPointer<vtkCellLocator>> locators;
  vtkPolyData* last = nullptr;
  for (int i = locate ? 2 : writePath ? 3 : 1; i < argc; ++i)
  {
    readers.push_back(vtkSmartPointer<vtkPolyDataReader>::New());
    readers.back()->SetFileName(argv[i]);
    readers.back()->Update();
    last = readers.back()->GetOutput();
    cells += last->GetNumberOfCells();
    if (locate && last->GetNumberOfCells() > 0)
    {
      locators.push_back(vtkSmartPointer<vtkCellLocator>::New());
      locators.back()->SetDataSet(last);
      locators.back()->BuildLocator();
      AskLocator(locators.back(), last);
    }
  }
  std::cout << cells << '\n';
  if (writePath && last)
  {
    std::cout << TimedWrite(last, writePath) << '\n';
  }
  return 0;
}
