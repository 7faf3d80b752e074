// celldist: signed distance between the centroids of corresponding cells of a
// target and a source surface, with its x, y and z components, as color files
// for the source surface.

#include "geometry/vector.h"
#include "surftools/colorfile.h"
#include "surftools/outputfile.h"
#include "surftools/process.h"
#include "surftools/surface.h"
#include "tools/celldist/usage.h"

#include <cmath>
#include <iostream>

namespace
{
// The displacement d of cell i's centroid from the source to the target and
// its length, signed by the side of the source triangle (B - A) x (C - A)
// the target centroid lies on: behind the triangle (or in its plane) counts
// positive; a cosine that is not a number gives no angle and so the sign -1.
void SignedDistance(vtkPolyData* source, vtkPolyData* target, vtkIdType i, double d[3], float& distance)
{
  double s[3][3];
  CentroidDisplacement(source, target, i, d, s);
  double normal[3];
  CellNormal(s, normal);
  const double length = Norm(d);
  const double cosine = Dot(normal, d) / (length * Norm(normal));
  const double sign = BeyondRightAngle(cosine) ? 1.0 : -1.0;
  distance = static_cast<float>(sign * length);
}
}

int main(int argc, char* argv[])
{
  QuietVtk();
  UseOneThread();
  UseLargeHeap();
  if (argc < 9)
  {
    std::cout << kCellDistUsage;
    return -1;
  }
  const char* targetPath = argv[1];
  const char* sourcePath = argv[2];
  const char* rangeFirst = argv[4];
  const char* rangeSecond = argv[5];
  const char* outputPaths[4] = { argv[3], argv[6], argv[7], argv[8] };

  vtkSmartPointer<vtkPolyData> target;
  vtkSmartPointer<vtkPolyData> source;
  if (!ReadTwoSurfaces(targetPath, sourcePath, target, source))
  {
    return -1;
  }
  const vtkIdType n = source->GetNumberOfCells();
  if (target->GetNumberOfCells() < n)
  {
    std::cout << "Target surface " << targetPath << " has fewer cells than source surface " << sourcePath << '\n';
    return -1;
  }

  std::cout << rangeFirst << ' ' << rangeSecond << '\n';

  OutputFile outputs[4];
  for (int f = 0; f < 4; ++f)
  {
    outputs[f] = OpenColorFile(outputPaths[f]);
    WriteColorHeader(outputs[f], rangeFirst, rangeSecond, "rainbow");
  }

  for (vtkIdType i = 0; i < n; ++i)
  {
    double d[3];
    float distance;
    SignedDistance(source, target, i, d, distance);
    WriteColorValue(outputs[0], distance);
    WriteColorValue(outputs[1], d[0]);
    WriteColorValue(outputs[2], d[1]);
    WriteColorValue(outputs[3], d[2]);
  }

  int result = 1;
  for (int f = 0; f < 4; ++f)
  {
    if (!CloseOutputFile(outputs[f], outputPaths[f]))
    {
      result = -1;
    }
  }
  return result;
}
