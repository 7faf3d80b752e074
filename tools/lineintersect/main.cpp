// lineintersect: intersects line segments, two curve rows each, with a target
// surface and writes one landmark per segment: where it meets the surface,
// whether it does, and the cell it hits.

#include "curvefile.h"
#include "memory.h"
#include "outputfile.h"
#include "surface.h"
#include "surfacelocator.h"

#include <algorithm>
#include <iostream>
#include <memory>
#include <vector>

int main(int argc, char* argv[])
{
  UseLargeHeap();
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
  // A surface without cells is met by no segment: it is asked nothing. The
  // locator's own answers, found faster; its index is built beside the
  // segments' read.
  const bool hasCells = target->GetNumberOfCells() > 0;
  std::unique_ptr<SurfaceLocator> index;
  vtkPoints* ends = ReadCurveFileBeside(linesPath, true, [&] { index.reset(new SurfaceLocator(target)); });
  SurfaceLocator& locator = *index;

  const vtkIdType count = ends->GetNumberOfPoints();
  std::cout << "npoints: " << count << '\n';

  std::ofstream out = OpenOutputFile(outputPath);
  // The tolerance is the single-precision 0.001, widened.
  const double tolerance = static_cast<double>(0.001f);
  // The hits of the segments, found on every core, then written in order.
  struct Answer
  {
    int hit;
    double x[3];
    vtkIdType cellId;
  };
  std::vector<Answer> answers(static_cast<size_t>(std::max<vtkIdType>(count / 2, 0)));
  locator.ForEachQuery(answers.size(), [&](SurfaceLocator& own, size_t k) {
    const vtkIdType j = 2 * static_cast<vtkIdType>(k);
    double start[3];
    double end[3];
    ends->GetPoint(j, start);
    ends->GetPoint(j + 1, end);
    Answer& answer = answers[k];
    answer.hit = 0;
    double t = 0;
    answer.x[0] = answer.x[1] = answer.x[2] = 0;
    double pcoords[3];
    int subId = 0;
    answer.cellId = -1;
    if (hasCells && IsFinitePoint(start) && IsFinitePoint(end))
    {
      answer.hit = own.IntersectWithLine(start, end, tolerance, t, answer.x, pcoords, subId, answer.cellId);
    }
    if (!answer.hit)
    {
      // An unset landmark carries no position and no cell.
      answer.x[0] = answer.x[1] = answer.x[2] = 0;
      answer.cellId = -1;
    }
  });
  for (const Answer& answer : answers)
  {
    // x y z NoName flag cellId
    static const char kName[] = " NoName ";
    char row[6 * kNumberTextSize];
    char* p = FormatCurvePoint(answer.x, row);
    p = std::copy(kName, kName + sizeof kName - 1, p);
    p += FormatInteger(answer.hit, p);
    *p++ = ' ';
    p += FormatInteger(answer.cellId, p);
    *p++ = '\n';
    WriteText(out, row, p - row);
  }
  return CloseOutputFile(out, outputPath) ? 0 : -1;
}
