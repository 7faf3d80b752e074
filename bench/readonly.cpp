// Reads every surface named on the command line with VTK's legacy reader and
// does nothing else: the baseline for the tools' time and memory. With
// --locator first, also builds a vtkCellLocator over each surface read and
// asks it one closest point (which makes it build all it holds), as the
// tools that query surfaces would without a search index of their own. On
// one thread, as the tools run.
#include <vtkCellLocator.h>
#include <vtkPolyData.h>
#include <vtkPolyDataReader.h>
#include <vtkSMPTools.h>
#include <vtkSmartPointer.h>

#include <cstring>
#include <iostream>
#include <vector>

int main(int argc, char* argv[])
{
  vtkSMPTools::SetBackend("Sequential");
  const bool locate = argc > 1 && std::strcmp(argv[1], "--locator") == 0;
  vtkIdType cells = 0;
  std::vector<vtkSmartPointer<vtkCellLocator>> locators;
  for (int i = locate ? 2 : 1; i < argc; ++i)
  {
    vtkPolyDataReader* reader = vtkPolyDataReader::New();
    reader->SetFileName(argv[i]);
    reader->Update();
    cells += reader->GetOutput()->GetNumberOfCells();
    if (locate && reader->GetOutput()->GetNumberOfCells() > 0)
    {
      locators.push_back(vtkSmartPointer<vtkCellLocator>::New());
      locators.back()->SetDataSet(reader->GetOutput());
      locators.back()->BuildLocator();
      double x[3] = { 0, 0, 0 };
      double closest[3];
      vtkIdType cell;
      int subId;
      double distance2;
      locators.back()->FindClosestPoint(x, closest, cell, subId, distance2);
    }
  }
  std::cout << cells << '\n';
  return 0;
}
