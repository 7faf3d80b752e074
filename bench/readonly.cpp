// Reads every surface named on the command line with VTK's legacy reader and
// does nothing else: the baseline for the tools' time and memory.
#include <vtkPolyData.h>
#include <vtkPolyDataReader.h>

#include <iostream>

int main(int argc, char* argv[])
{
  vtkIdType cells = 0;
  for (int i = 1; i < argc; ++i)
  {
    vtkPolyDataReader* reader = vtkPolyDataReader::New();
    reader->SetFileName(argv[i]);
    reader->Update();
    cells += reader->GetOutput()->GetNumberOfCells();
  }
  std::cout << cells << '\n';
  return 0;
}
