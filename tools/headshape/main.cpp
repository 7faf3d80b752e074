// headshape: the clinical head-shape measures of scans (cephalic index,
// cranial vault asymmetry and its index, circumference, volume, quadrant
// symmetry ratios), one tab-separated row per scan.

#include "measure/headshape.h"
#include "surftools/outputfile.h"
#include "surftools/process.h"
#include "surftools/surface.h"

#include <cstring>
#include <iostream>
#include <string>

int main(int argc, char* argv[])
{
  QuietVtk();
  UseOneThread();
  UseLargeHeap();
  if (argc < 2)
  {
    std::cout << "Usage: headshape scan.vtk [more.vtk ...]\n"
                 "Inputs: scans in the template's frame (millimetres, x left-right, y front-back, z up)\n"
                 "Output: on standard output, a header row and one tab-separated row per scan:\n"
                 "        file level length width ci circumference diagonal_a diagonal_b cva cvai\n"
                 "        plagiocephaly_level volume asr psr osr\n"
                 "Performs: head-shape measures at the level of largest length above the ear plane,\n"
                 "          and the volume above the ear plane with its quadrant symmetry ratios.\n";
    return -1;
  }

  // Every scan is measured before anything is printed: a refused scan leaves
  // no partial table behind.
  std::string table = HeadShapeHeaderRow();
  // One reader for every scan, each read replacing the last: scans can be many.
  vtkPolyDataReader* reader = vtkPolyDataReader::New();
  for (int a = 1; a < argc; ++a)
  {
    const char* path = argv[a];
    if (std::strpbrk(path, "\t\r\n"))
    {
      std::cout << "Scan " << path << " has a tab or a line break in its name, which would break the table\n";
      return -1;
    }
    if (!ReadSurfaceWith(reader, path))
    {
      return -1;
    }
    HeadShape shape;
    const std::string problem = MeasureHeadShape(reader->GetOutput(), shape);
    if (!problem.empty())
    {
      std::cout << "Cannot measure scan " << path << ": it " << problem << '\n';
      return -1;
    }
    table += HeadShapeRow(path, shape);
  }
  WriteText(std::cout, table.data(), static_cast<std::streamsize>(table.size()));
  std::cout.flush();
  return std::cout ? 0 : -1;
}
