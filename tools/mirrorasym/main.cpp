// mirrorasym: left-right asymmetry of a surface against a template whose
// second half of cells mirrors the first across a plane of constant x. For
// every mirror pair (cell j, cell j + h) the departure of the surface from the
// template at cell j is compared with the departure at cell j + h mirrored
// back in x. Five color files in the template's cell order: the signed
// asymmetry, its magnitude and the x, y and z components of the asymmetry
// vector; the second half of each file holds the first half negated.

#include "geometry/vector.h"
#include "surftools/colorfile.h"
#include "surftools/outputfile.h"
#include "surftools/process.h"
#include "surftools/surface.h"

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <vector>

namespace
{
// Pair j of the mirrored mesh (cell j and cell k = j + h): the signed
// asymmetry, its magnitude and the x, y and z components of the asymmetry
// vector, into values[0..4].
void PairAsymmetry(vtkPolyData* surface, vtkPolyData* symmetric, vtkIdType j, vtkIdType h, float values[5])
{
  double t1[3][3];
  double t2[3][3];
  double d1[3];
  double d2[3];
  CentroidDisplacement(symmetric, surface, j, d1, t1);
  CentroidDisplacement(symmetric, surface, j + h, d2, t2);
  double normal[3];
  CellNormal(t1, normal);

  // The departure at the mirror cell, mirrored back in x, taken from the
  // departure at cell j.
  const double v[3] = { d1[0] + d2[0], d1[1] - d2[1], d1[2] - d2[2] };
  const double length = NormZYX(v);
  const double cosine = Dot(v, normal) / (NormZYX(normal) * length);
  // Towards the side the template normal points to counts positive; a
  // cosine that is not a number (no asymmetry, or a degenerate template
  // triangle) gives no angle and so the sign +1.
  const double sign = BeyondRightAngle(cosine) ? -1.0 : 1.0;
  const float asymmetry = static_cast<float>(sign * length);

  values[0] = asymmetry;
  values[1] = asymmetry < 0.0 ? -asymmetry : asymmetry;
  values[2] = static_cast<float>(v[0]);
  values[3] = static_cast<float>(v[1]);
  values[4] = static_cast<float>(v[2]);
}

// One color file of the pairs' values: the header, the values of the first
// half, then the same values negated for the mirror cells (0 becomes -0).
bool WritePairFile(
  const char* path, const std::string& rangeFirst, const std::string& rangeSecond, const std::vector<float>& values)
{
  OutputFile out = OpenColorFile(path);
  WriteColorHeader(out, rangeFirst, rangeSecond, "rainbow_symmetric_whitemid");
  for (float value : values)
  {
    WriteColorValue(out, value);
  }
  for (float value : values)
  {
    WriteColorValue(out, value * -1.0f);
  }
  return CloseOutputFile(out, path);
}
}

int main(int argc, char* argv[])
{
  QuietVtk();
  UseOneThread();
  UseLargeHeap();
  if (argc != 11)
  {
    std::cout << "Usage : surface.vtk symmetric_template.vtk asymmetry.clr abs.clr x.clr y.clr z.clr "
                 "float_mincol float_maxcol int_meshsize\n";
    return -1;
  }
  const char* surfacePath = argv[1];
  const char* templatePath = argv[2];
  const char* outputPaths[5] = { argv[3], argv[4], argv[5], argv[6], argv[7] };
  const float minColor = static_cast<float>(std::atof(argv[8]));
  const float maxColor = static_cast<float>(std::atof(argv[9]));
  // The mesh size argument is kept on the command line for existing scripts;
  // the arrays are sized from the template itself, so any value is accepted.
  static_cast<void>(std::atoi(argv[10]));

  vtkSmartPointer<vtkPolyData> surface;
  vtkSmartPointer<vtkPolyData> symmetric;
  if (!ReadTwoSurfaces(surfacePath, templatePath, surface, symmetric))
  {
    return -1;
  }
  const vtkIdType n = symmetric->GetNumberOfCells();
  const vtkIdType surfaceCells = surface->GetNumberOfCells();
  if (surfaceCells != n)
  {
    std::cout << "ERROR: number of cells in surface and template must be equal\n";
    if (surfaceCells < n)
    {
      std::cout << "Surface " << surfacePath << " has fewer cells than template " << templatePath << '\n';
      return -1;
    }
  }
  const vtkIdType h = n / 2;

  // Per mirror pair: signed asymmetry, magnitude, x, y, z.
  std::vector<float> values[5];
  for (std::vector<float>& v : values)
  {
    v.resize(static_cast<size_t>(h));
  }

  for (vtkIdType j = 0; j < h; ++j)
  {
    float pair[5];
    PairAsymmetry(surface, symmetric, j, h, pair);
    for (int f = 0; f < 5; ++f)
    {
      values[f][j] = pair[f];
    }
  }

  // The five files one after the other.
  const std::string rangeFirst = ColorRangeText(minColor);
  const std::string rangeSecond = ColorRangeText(maxColor);
  int result = 1;
  for (int f = 0; f < 5; ++f)
  {
    result = WritePairFile(outputPaths[f], rangeFirst, rangeSecond, values[f]) ? result : -1;
  }
  return result;
}
