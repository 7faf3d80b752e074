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

// The ratios of the mirror pairs in both scans and their differences, kept per
// first-half cell so that its partner is written from the same pair, and the
// extremes of the run.
struct PairResults
{
  std::vector<float> firstRatios;
  std::vector<float> finalRatios;
  std::vector<float> differences;
  // The start values lie outside [-1, 1]: the first value replaces both.
  float smallestRatio = 2.0f;
  float largestRatio = -2.0f;
  float smallestDifference = 2.0f;
  float largestDifference = -2.0f;

  explicit PairResults(vtkIdType h)
    : firstRatios(static_cast<size_t>(h))
    , finalRatios(static_cast<size_t>(h))
    , differences(static_cast<size_t>(h))
  {
  }

  // The pair of first-half cell i and its partner i + h, in both scans.
  void Compute(vtkPolyData* firstScan, vtkPolyData* finalScan, vtkIdType i, vtkIdType h)
  {
    const float rF = PairRatio(firstScan, i, i + h);
    UpdateExtremes(rF, this->smallestRatio, this->largestRatio);
    const float rL = PairRatio(finalScan, i, i + h);
    UpdateExtremes(rL, this->smallestRatio, this->largestRatio);
    const float dR = static_cast<float>(std::fabs(static_cast<double>(rF)) - std::fabs(static_cast<double>(rL)));
    UpdateExtremes(dR, this->smallestDifference, this->largestDifference);
    this->firstRatios[i] = rF;
    this->finalRatios[i] = rL;
    this->differences[i] = dR;
  }
};

// The three value lines of cell i: of a first-half cell, its pair's
// difference and ratios; of its partner (j = i - h), the same pair from the
// partner's side: the same difference, the ratios negated (0 becomes -0).
void WriteCellValues(OutputFile outputs[3], const PairResults& pairs, vtkIdType i, vtkIdType h)
{
  const vtkIdType j = i < h ? i : i - h;
  WriteColorValue(outputs[0], pairs.differences[j]);
  WriteColorValue(outputs[1], i < h ? pairs.firstRatios[j] : -pairs.firstRatios[j]);
  WriteColorValue(outputs[2], i < h ? pairs.finalRatios[j] : -pairs.finalRatios[j]);
}

// The template mask of the n cells, from the color file at `path`; false
// after printing why it cannot be used.
bool ReadTemplateMask(const char* path, vtkIdType n, std::vector<float>& mask)
{
  mask.resize(static_cast<size_t>(n));
  vtkIdType badLine = 0;
  const ColorReadStatus status = ReadColorValues(path, n, mask.data(), &badLine);
  if (status == ColorReadStatus::CannotOpen)
  {
    std::cout << "Unable to open file\n";
    return false;
  }
  if (status != ColorReadStatus::Ok)
  {
    std::cout << MaskRefusal(status, path, n, badLine);
    return false;
  }
  return true;
}

// Appends the run's block to the range report: false after naming the file
// when it cannot be written.
bool AppendRangeReport(const char* firstPath, const PairResults& pairs)
{
  OutputFile report = OpenOutputFile(kReportPath, true);
  report << " Results for the " << firstPath << '\n';
  WriteReportLine(report, "min ratio :", pairs.smallestRatio);
  WriteReportLine(report, "max ratio :", pairs.largestRatio);
  WriteReportLine(report, "min sub :", pairs.smallestDifference);
  WriteReportLine(report, "max sub :", pairs.largestDifference);
  report << '\n';
  return CloseOutputFile(report, kReportPath);
}

// Whether both scans have the same, even number of cells (mirror pairs);
// prints why not.
bool CellsFormPairs(vtkPolyData* firstScan, vtkPolyData* finalScan, const char* firstPath)
{
  const vtkIdType n = firstScan->GetNumberOfCells();
  if (finalScan->GetNumberOfCells() != n)
  {
    std::cout << "Please select the correct first scan and end scan files\n"
                 "Number of cells between the two files are not the same\n";
    return false;
  }
  if (n % 2 != 0)
  {
    std::cout << "First scan " << firstPath << " has an odd number of cells (" << n
              << "), so its cells do not form mirror pairs\n";
    return false;
  }
  return true;
}

void PrintUsage()
{
  std::cout << "Usage : Name_FirstScan.vtk Name_FinalScan.vtk template_topcol_clr.clr Name_substraction_clr.clr "
               "Name_RatioFirstScan_clr.clr Name_RatioLastScan_clr.clr mask\n"
               "Input : Name_FirstScan.vtk Name_FinalScan.vtk template_topcol_clr.clr mask(y/n)\n"
               "Output : Name_substraction_clr.clr Name_RatioFirstScan_clr.clr Name_RatioLastScan_clr.clr\n";
}
}

int main(int argc, char* argv[])
{
  QuietVtk();
  UseOneThread();
  UseLargeHeap();
  if (argc != 8)
  {
    PrintUsage();
    return -1;
  }
  const char* firstPath = argv[1];
  const char* finalPath = argv[2];
  const char* maskPath = argv[3];
  const char* outputPaths[3] = { argv[4], argv[5], argv[6] };
  if (argv[7][0] != 'n' && argv[7][0] != 'y')
  {
    std::cout << " Please answer by yes (y)  or no (n)\n";
    return -1;
  }
  const bool useMask = argv[7][0] == 'y';

  // Both scans are read before any output file is touched, so an unreadable
  // scan leaves no color files behind that would pass for a finished run.
  vtkSmartPointer<vtkPolyData> firstScan;
  vtkSmartPointer<vtkPolyData> finalScan;
  if (!ReadTwoSurfaces(firstPath, finalPath, firstScan, finalScan))
  {
    return -1;
  }

  OutputFile outputs[3];
  for (int f = 0; f < 3; ++f)
  {
    outputs[f] = OpenColorFile(outputPaths[f]);
    WriteColorHeader(outputs[f], f == 0 ? "-0.11" : "-0.25", f == 0 ? "0.11" : "0.25",
      f == 0 ? "rainbow_whitemid" : "rainbow_symmetric_whitemid");
    // The header is on disk before the mask is read, should the mask path
    // name one of these files.
    outputs[f].flush();
  }

  if (!CellsFormPairs(firstScan, finalScan, firstPath))
  {
    return -1;
  }
  const vtkIdType n = firstScan->GetNumberOfCells();
  const vtkIdType h = n / 2;
  std::vector<float> mask;
  if (useMask && !ReadTemplateMask(maskPath, n, mask))
  {
    return -1;
  }
  // Only a value of exactly 1 lets a cell take part.
  auto takesPart = [&](vtkIdType cell) { return !useMask || mask[cell] == 1.0f; };

  PairResults pairs(h);
  for (vtkIdType i = 0; i < n; ++i)
  {
    if (!takesPart(i) || !takesPart(i < h ? i : i - h))
    {
      for (OutputFile& out : outputs)
      {
        WriteColorLiteral(out, "0.0");
      }
      continue;
    }
    if (i < h)
    {
      pairs.Compute(firstScan, finalScan, i, h);
    }
    WriteCellValues(outputs, pairs, i, h);
  }

  int result = 0;
  for (int f = 0; f < 3; ++f)
  {
    result = CloseOutputFile(outputs[f], outputPaths[f]) ? result : -1;
  }
  return AppendRangeReport(firstPath, pairs) ? result : -1;
}
