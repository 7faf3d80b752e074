// Fuzzes the curve-file reader: any bytes read as a curve file.
#include "fuzzfiles.h"
#include "surftools/curvefile.h"

#include <algorithm>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  const std::string path = fuzzfiles::Write("curve.crv", data, size);
  vtkSmartPointer<vtkPoints> points;
  if (!ReadCurveFile(path.c_str(), points))
  {
    std::abort(); // the file was just written
  }
  // Every pass ends at a line feed or at the end of the file, so a file of
  // L line feeds gives L + 1 points, long lines and all.
  const auto feeds = std::count(data, data + size, '\n');
  if (points->GetNumberOfPoints() != feeds + 1 || points->GetDataType() != VTK_FLOAT)
  {
    std::abort();
  }
  return 0;
}
