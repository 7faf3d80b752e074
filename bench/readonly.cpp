// Reads every surface named on the command line with VTK's legacy reader and
// does nothing else: the baseline for the tools' time and memory. With
// --locator first, also builds a vtkCellLocator over each surface read, as
// the tools that query surfaces would without a search index of their own.
#include <vtkCellLocator.h>
#include <vtkPolyData.h>
#include <vtkPolyDataReader.h>
#include <vtkSmartPointer.h>

#include <cstring>
#include <iostream>
#include <vector>

int main(int argc, char* argv[])
{
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
    }
  }
  std::cout << cells << '\n';
  return 0;
}
