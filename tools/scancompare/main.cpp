// scancompare: left-right balance of a head in a first and a final scan on the
// template mesh. Cell i and cell i + n/2 form a mirror pair; for each pair and
// scan the asymmetry ratio compares the distances of the two cell centroids
// from the ear midpoint, and the change of its magnitude from the first to the
// final scan is the ratio difference. Writes three color files (difference,
// first-scan ratio, final-scan ratio) and appends the extremes of the run to
// Range_values.txt in the working directory.

#include "geometry/headframe.h"
#include "geometry/vector.h"
#include "surftools/colorfile.h"
#include "surftools/outputfile.h"
#include "surftools/process.h"
#include "surftools/surface.h"

#include <cmath>
#include <fstream>
#include <iostream>
#include <vector>

namespace
{
const char* const kReportPath = "Range_values.txt";

double DistanceFromEarMidpoint(const float c[3])
{
  const double d[3] = { kEarMidpointRatios[0] - static_cast<double>(c[0]),
    kEarMidpointRatios[1] - static_cast<double>(c[1]), kEarMidpointRatios[2] - static_cast<double>(c[2]) };
  return Norm(d);
}

// Asymmetry of a pair in one scan: positive when the partner (distance rb)
// lies farther from the ear midpoint than the cell (distance ra). Both lying
// at the midpoint count as balanced.
float PairRatio(vtkPolyData* scan, vtkIdType cell, vtkIdType partner)
{
  float c[3];
  float p[3];
  CellCentroid(scan, cell, c);
  CellCentroid(scan, partner, p);
  const double ra = DistanceFromEarMidpoint(c);
  const double rb = DistanceFromEarMidpoint(p);
  if (ra > rb)
  {
    return static_cast<float>(rb / ra - 1.0);
  }
  if (rb == 0.0)
  {
    return 0.0f;
  }
  return static_cast<float>(1.0 - ra / rb);
}

// Widens the range [smallest, largest] to a value; equal values change nothing.
void UpdateExtremes(float value, float& smallest, float& largest)
{
  if (value > largest)
  {
    largest = value;
  }
  if (value < smallest)
  {
    smallest = value;
  }
}

void WriteReportLine(std::ostream& out, const char* label, float value)
{
  out << label;
  WriteNumber(out, value);
  out << '\n';
}
}

int main(int argc, char* argv[])
{
  UseOneThread();
  UseLargeHeap();
  if (argc != 8)
  {
    std::cout << "Usage : Name_FirstScan.vtk Name_FinalScan.vtk template_topcol_clr.clr Name_substraction_clr.clr "
                 "Name_RatioFirstScan_clr.clr Name_RatioLastScan_clr.clr mask\n"
                 "Input : Name_FirstScan.vtk Name_FinalScan.vtk template_topcol_clr.clr mask(y/n)\n"
                 "Output : Name_substraction_clr.clr Name_RatioFirstScan_clr.clr Name_RatioLastScan_clr.clr\n";
    return -1;
  }
  const char* firstPath = argv[1];
  const char* finalPath = argv[2];
  const char* maskPath = argv[3];
  const char* outputPaths[3] = { argv[4], argv[5], argv[6] };

  bool useMask;
  if (argv[7][0] == 'n')
  {
    useMask = false;
  }
  else if (argv[7][0] == 'y')
  {
    useMask = true;
  }
  else
  {
    std::cout << " Please answer by yes (y)  or no (n)\n";
    return -1;
  }

  // Both scans are read before any output file is touched, so an unreadable
  // scan leaves no color files behind that would pass for a finished run.
  vtkSmartPointer<vtkPolyData> firstScan = ReadSurface(firstPath);
  if (!firstScan)
  {
    return -1;
  }
  vtkSmartPointer<vtkPolyData> finalScan = ReadSurface(finalPath);
  if (!finalScan)
  {
    return -1;
  }

  OutputFile outputs[3];
  for (int f = 0; f < 3; ++f)
  {
    outputs[f] = OpenColorFile(outputPaths[f]);
    if (f == 0)
    {
      WriteColorHeader(outputs[f], "-0.11", "0.11", "rainbow_whitemid");
    }
    else
    {
      WriteColorHeader(outputs[f], "-0.25", "0.25", "rainbow_symmetric_whitemid");
    }
    // The header is on disk before the mask is read, should the mask path
    // name one of these files.
    outputs[f].flush();
  }

  const vtkIdType n = firstScan->GetNumberOfCells();
  if (finalScan->GetNumberOfCells() != n)
  {
    std::cout << "Please select the correct first scan and end scan files\n"
                 "Number of cells between the two files are not the same\n";
    return -1;
  }
  if (n % 2 != 0)
  {
    std::cout << "First scan " << firstPath << " has an odd number of cells (" << n
              << "), so its cells do not form mirror pairs\n";
    return -1;
  }
  const vtkIdType h = n / 2;

  std::vector<float> mask;
  if (useMask)
  {
    mask.resize(n);
    vtkIdType badLine = 0;
    const ColorReadStatus status = ReadColorValues(maskPath, n, mask.data(), &badLine);
    if (status == ColorReadStatus::CannotOpen)
    {
      std::cout << "Unable to open file\n";
      return -1;
    }
    if (status != ColorReadStatus::Ok)
    {
      std::cout << MaskRefusal(status, maskPath, n, badLine);
      return -1;
    }
  }
  // Only a value of exactly 1 lets a cell take part.
  auto takesPart = [&](vtkIdType cell) { return !useMask || mask[cell] == 1.0f; };

  // Kept per first-half cell, so that its partner is written from the same pair.
  std::vector<float> firstRatios(h);
  std::vector<float> finalRatios(h);
  std::vector<float> differences(h);
  // The start values lie outside [-1, 1]: the first value replaces both.
  float smallestRatio = 2.0f;
  float largestRatio = -2.0f;
  float smallestDifference = 2.0f;
  float largestDifference = -2.0f;

  for (vtkIdType i = 0; i < n; ++i)
  {
    const vtkIdType j = i < h ? i : i - h; // first-half cell of the pair
    if (!takesPart(i) || !takesPart(j))
    {
      for (OutputFile& out : outputs)
      {
        WriteColorLiteral(out, "0.0");
      }
      continue;
    }
    if (i < h)
    {
      const float rF = PairRatio(firstScan, i, i + h);
      UpdateExtremes(rF, smallestRatio, largestRatio);
      const float rL = PairRatio(finalScan, i, i + h);
      UpdateExtremes(rL, smallestRatio, largestRatio);
      const float dR = static_cast<float>(std::fabs(static_cast<double>(rF)) - std::fabs(static_cast<double>(rL)));
      UpdateExtremes(dR, smallestDifference, largestDifference);
      firstRatios[i] = rF;
      finalRatios[i] = rL;
      differences[i] = dR;
      WriteColorValue(outputs[0], dR);
      WriteColorValue(outputs[1], rF);
      WriteColorValue(outputs[2], rL);
    }
    else
    {
      // The partner shows the pair from its own side: same difference,
      // ratios negated (a ratio of 0 becomes -0).
      WriteColorValue(outputs[0], differences[j]);
      WriteColorValue(outputs[1], -firstRatios[j]);
      WriteColorValue(outputs[2], -finalRatios[j]);
    }
  }

  int result = 0;
  for (int f = 0; f < 3; ++f)
  {
    if (!CloseOutputFile(outputs[f], outputPaths[f]))
    {
      result = -1;
    }
  }

  OutputFile report = OpenOutputFile(kReportPath, true);
  report << " Results for the " << firstPath << '\n';
  WriteReportLine(report, "min ratio :", smallestRatio);
  WriteReportLine(report, "max ratio :", largestRatio);
  WriteReportLine(report, "min sub :", smallestDifference);
  WriteReportLine(report, "max sub :", largestDifference);
  report << '\n';
  if (!CloseOutputFile(report, kReportPath))
  {
    result = -1;
  }
  return result;
}
