// curvesnap: moves every point of a curve onto the nearest point of a target
// surface and writes the moved curve, each row naming the cell that the new
// point lies on.

#include "locate/surfacelocator.h"
#include "surftools/curvefile.h"
#include "surftools/outputfile.h"
#include "surftools/process.h"
#include "surftools/surface.h"

#include <algorithm>
#include <iostream>
#include <limits>
#include <vector>

namespace
{
// A curve point's closest point on the surface and its cell.
struct Answer
{
  double closest[3];
  vtkIdType cellId;
};

// The closest points of the curve's points, in curve order: the locator's
// own answers, found faster.
void SnapPoints(vtkPoints* curve, SurfaceLocator& locator, std::vector<Answer>& answers)
{
  const double kNotFound = std::numeric_limits<double>::quiet_NaN();
  do
  {
    for (size_t i = 0; i < answers.size(); ++i)
    {
      double point[3];
      curve->GetPoint(static_cast<vtkIdType>(i), point);
      Answer& answer = answers[i];
      answer.closest[0] = answer.closest[1] = answer.closest[2] = kNotFound;
      answer.cellId = -1;
      if (IsFinitePoint(point))
      {
        int subId = 0;
        double distance2 = 0;
        locator.FindClosestPoint(point, answer.closest, answer.cellId, subId, distance2);
      }
      // A point that is not finite, or for which no cell yields a closest
      // point (every cell degenerate), is written as (0, 0, 0) on cell -1.
      if (answer.cellId < 0 || !IsFinitePoint(answer.closest))
      {
        answer.closest[0] = answer.closest[1] = answer.closest[2] = 0.0;
        answer.cellId = -1;
      }
    }
  } while (!locator.AnswersHold());
}

// One row per point: x y z 0.0 0.0 1.0 cellId.
void WriteSnapped(OutputFile& out, const std::vector<Answer>& answers)
{
  static const char kMiddle[] = " 0.0 0.0 1.0 ";
  for (const Answer& answer : answers)
  {
    char row[5 * kNumberTextSize];
    char* p = FormatCurvePoint(answer.closest, row);
    p = std::copy(kMiddle, kMiddle + sizeof kMiddle - 1, p);
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
    std::cout
      << "Usage: curvesnap target.vtk source.sln modified.sln\n"
         "Inputs: target.vtk, source.sln\n"
         " Extension for source.sln does not have to be .sln (could be e.g. .crv or .txt)\n"
         "Output: modified.sln file with with modified curve \n"
         "Note: output contains 7th column with cell ids for the new locations.\n"
         "Performs: For each point on curve, compute compute closest point on surface, return modified curve.\n";
    return -1;
  }
  const char* targetPath = argv[1];
  const char* curvePath = argv[2];
  const char* outputPath = argv[3];

  vtkSmartPointer<vtkPolyData> target = ReadSurface(targetPath);
  if (!target)
  {
    return -1;
  }
  if (target->GetNumberOfCells() == 0)
  {
    // No cell, no closest point to write.
    std::cout << "Target surface " << targetPath << " has no cells\n";
    return -1;
  }
  // The index is built while the memory that reading the surface took is
  // free, before the curve is read.
  SurfaceLocator locator(target);
  locator.BuildIndex();
  vtkSmartPointer<vtkPoints> curve;
  if (!ReadCurveFile(curvePath, curve))
  {
    std::cout << CurveFileError(curvePath, false);
    return 1;
  }
  // A curve file ending with a line feed reads as one point more than it has
  // rows (the last one repeated): that point is left out.
  const vtkIdType count = curve->GetNumberOfPoints() - 1;
  std::cout << "npoints: " << count << '\n';

  OutputFile out = OpenOutputFile(outputPath);
  std::vector<Answer> answers(static_cast<size_t>(std::max<vtkIdType>(count, 0)));
  SnapPoints(curve, locator, answers);
  WriteSnapped(out, answers);
  return CloseOutputFile(out, outputPath) ? 0 : -1;
}
