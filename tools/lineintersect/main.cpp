// lineintersect: intersects line segments, two curve rows each, with a target
// surface and writes one landmark per segment: where it meets the surface,
// whether it does, and the cell it hits.

#include "locate/surfacelocator.h"
#include "surftools/curvefile.h"
#include "surftools/outputfile.h"
#include "surftools/process.h"
#include "surftools/surface.h"

#include <algorithm>
#include <iostream>
#include <vector>

namespace
{
// A segment's landmark: whether it meets the surface, where, and its cell.
struct Answer
{
  double x[3];
  vtkIdType cellId;
  int hit;
};

// The hits of the segments (rows 2k and 2k + 1), in order: the locator's own
// answers, found faster; a surface without cells is met by no segment (it is
// asked nothing).
void IntersectSegments(vtkPoints* ends, vtkPolyData* target, SurfaceLocator& locator, std::vector<Answer>& answers)
{
  // The tolerance is the single-precision 0.001, widened.
  const double tolerance = static_cast<double>(0.001f);
  const bool hasCells = target->GetNumberOfCells() > 0;
  do
  {
    for (size_t k = 0; k < answers.size(); ++k)
    {
      const vtkIdType j = 2 * static_cast<vtkIdType>(k);
      double start[3];
      double end[3];
      ends->GetPoint(j, start);
      ends->GetPoint(j + 1, end);
      Answer& answer = answers[k];
      SurfaceLocator::LineHit at;
      answer.hit = 0;
      if (hasCells && IsFinitePoint(start) && IsFinitePoint(end))
      {
        answer.hit = locator.IntersectWithLine(start, end, tolerance, &at);
      }
      // An unset landmark carries no position and no cell.
      answer.x[0] = answer.hit ? at.x[0] : 0.0;
      answer.x[1] = answer.hit ? at.x[1] : 0.0;
      answer.x[2] = answer.hit ? at.x[2] : 0.0;
      answer.cellId = answer.hit ? at.cellId : -1;
    }
  } while (!locator.AnswersHold());
}

// One row per segment: x y z NoName flag cellId.
void WriteLandmarks(OutputFile& out, const std::vector<Answer>& answers)
{
  static const char kName[] = " NoName ";
  for (const Answer& answer : answers)
  {
    char row[6 * kNumberTextSize];
    char* p = FormatCurvePoint(answer.x, row);
    p = std::copy(kName, kName + sizeof kName - 1, p);
    p += FormatInteger(answer.hit, p);
    *p++ = ' ';
    p += FormatInteger(answer.cellId, p);
    *p++ = '\n';
    WriteText(out, row, p - row);
  }
}
}

int main(int argc, char* argv[])
{
  QuietVtk();
  UseOneThread();
  UseCompactHeap();
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

  vtkSmartPointer<vtkPolyData> target = ReadSurface(targetPath);
  if (!target)
  {
    return -1;
  }
  // The index is built while the memory that reading the surface took is
  // free, before the segments are read.
  SurfaceLocator locator(target);
  locator.BuildIndex();
  vtkSmartPointer<vtkPoints> ends;
  if (!ReadCurveFile(linesPath, ends))
  {
    std::cout << CurveFileError(linesPath, true);
    return 1;
  }
  const vtkIdType count = ends->GetNumberOfPoints();
  std::cout << "npoints: " << count << '\n';

  OutputFile out = OpenOutputFile(outputPath);
  std::vector<Answer> answers(static_cast<size_t>(std::max<vtkIdType>(count / 2, 0)));
  IntersectSegments(ends, target, locator, answers);
  WriteLandmarks(out, answers);
  return CloseOutputFile(out, outputPath) ? 0 : -1;
}
