// lineintersect: intersects line segments, two curve rows each, with a target
// surface and writes one landmark per segment: where it meets the surface,
// whether it does, and the cell it hits.

#include "curvefile.h"
#include "outputfile.h"
#include "surface.h"
#include "surfacelocator.h"

#include <algorithm>
#include <iostream>

int main(int argc, char* argv[])
{
  if (argc != 4)
  {
    std::cout << "Usage:  target.vtk lines.crv out.log\n"
                 "Inputs: target.vtk (surface to intersect); lines.crv (lines for intersection)\n"
                 "Output: out.log (log file with coordinates of intersections, one intersect per line. If no "
                 "intersection, then landmark is unset. \n"
                 "Performs: for each line, intersect with surface, and return coord of intersection point, write "
                 "landmark file.\n";
    return -1;
  }
  const char* targetPath = argv[1];
  const char* linesPath = argv[2];
  const char* outputPath = argv[3];

  vtkPolyData* target = ReadSurface(targetPath);
  if (!target)
  {
    return -1;
  }
  vtkPoints* ends = ReadCurveFile(linesPath, true);

  // A surface without cells is met by no segment: it is asked nothing. The
  // locator's own answers, found faster.
  const bool hasCells = target->GetNumberOfCells() > 0;
  SurfaceLocator locator(target);

  const vtkIdType count = ends->GetNumberOfPoints();
  std::cout << "npoints: " << count << '\n';

  std::ofstream out = OpenOutputFile(outputPath);
  // The tolerance is the single-precision 0.001, widened.
  const double tolerance = static_cast<double>(0.001f);
  for (vtkIdType j = 0; j + 1 < count; j += 2)
  {
    double start[3];
    double end[3];
    ends->GetPoint(j, start);
    ends->GetPoint(j + 1, end);
    int hit = 0;
    double t = 0;
    double x[3] = { 0, 0, 0 };
    double pcoords[3];
    int subId = 0;
    vtkIdType cellId = -1;
    if (hasCells && IsFinitePoint(start) && IsFinitePoint(end))
    {
      hit = locator.IntersectWithLine(start, end, tolerance, t, x, pcoords, subId, cellId);
    }
    if (!hit)
    {
      // An unset landmark carries no position and no cell.
      x[0] = x[1] = x[2] = 0;
      cellId = -1;
    }

    // x y z NoName flag cellId
    static const char kName[] = " NoName ";
    char row[6 * kNumberTextSize];
    char* p = FormatCurvePoint(x, row);
    p = std::copy(kName, kName + sizeof kName - 1, p);
    p += FormatInteger(hit, p);
    *p++ = ' ';
    p += FormatInteger(cellId, p);
    *p++ = '\n';
    WriteText(out, row, p - row);
  }
  return CloseOutputFile(out, outputPath) ? 0 : -1;
}
