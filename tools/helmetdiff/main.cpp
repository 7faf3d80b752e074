// helmetdiff: how each cell moved between two scans of a head that share one
// mesh (the x, y and z components of the centroid displacement), and whether
// it moved away from or toward the ear midpoint (the radial difference), as
// color files; on request also the target scaled about the ear midpoint by
// the average per-cell scale ratio.

#include "geometry/headframe.h"
#include "geometry/vector.h"
#include "locate/surfacelocator.h"
#include "surftools/colorfile.h"
#include "surftools/outputfile.h"
#include "surftools/process.h"
#include "surftools/surface.h"
#include "tools/helmetdiff/usage.h"

#include <vtkSmartPointer.h>

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <vector>

namespace
{
// Distance of a point from the ear midpoint.
double Radius(const double p[3])
{
  const double v[3] = { p[0] - static_cast<double>(kEarMidpointFloat[0]),
    p[1] - static_cast<double>(kEarMidpointFloat[1]), p[2] - static_cast<double>(kEarMidpointFloat[2]) };
  return NormZYX(v);
}

// How cell i moved from the source to the target: the centroid's
// displacement, the source centroid's radius, the target centroid's radius
// (as the results keep it, in single precision) and the cell's term of the
// average scale ratio.
struct CellMotion
{
  double d[3];
  double sourceRadius;
  double ratio;
  float targetRadius;

  // From the cell's corners on the source and on the target.
  CellMotion(const double sourceCorners[3][3], const double targetCorners[3][3])
  {
    double sourceCentroid[3];
    double targetCentroid[3];
    CellCentroid(sourceCorners, sourceCentroid);
    CellCentroid(targetCorners, targetCentroid);
    for (int k = 0; k < 3; ++k)
    {
      d[k] = targetCentroid[k] - sourceCentroid[k];
    }
    const double moved = NormZYX(d);
    sourceRadius = Radius(sourceCentroid);
    targetRadius = static_cast<float>(Radius(targetCentroid));
    const double denominator = sourceRadius + moved;
    ratio = denominator == 0.0 ? 1.0 : sourceRadius / denominator;
  }
};

// The motions of the cells of two surfaces on one mesh, one cell at a time.
class CellMotions
{
public:
  CellMotions(vtkPolyData* source, vtkPolyData* target)
    : Source(source)
    , Target(target)
    , SourceArrays(source)
    , TargetArrays(target)
    , InPlace(SourceArrays.Usable() && TargetArrays.Usable())
  {
  }

  CellMotion operator[](vtkIdType cell) const
  {
    double sourceCorners[3][3];
    double targetCorners[3][3];
    if (this->InPlace)
    {
      this->SourceArrays.Corners(cell, sourceCorners);
      this->TargetArrays.Corners(cell, targetCorners);
    }
    else
    {
      CellCorners(this->Source, cell, sourceCorners);
      CellCorners(this->Target, cell, targetCorners);
    }
    return CellMotion(sourceCorners, targetCorners);
  }

  // The cell's probe: from the ear midpoint through the source centroid to
  // five times its radius, rounded to single precision as the probe is made.
  void Probe(vtkIdType cell, double end[3]) const
  {
    double sourceCorners[3][3];
    if (this->InPlace)
    {
      this->SourceArrays.Corners(cell, sourceCorners);
    }
    else
    {
      CellCorners(this->Source, cell, sourceCorners);
    }
    double sourceCentroid[3];
    CellCentroid(sourceCorners, sourceCentroid);
    for (int k = 0; k < 3; ++k)
    {
      const double ear = kEarMidpointFloat[k];
      end[k] = static_cast<float>(ear + 5.0 * (sourceCentroid[k] - ear));
    }
  }

private:
  vtkPolyData* Source;
  vtkPolyData* Target;
  const SurfaceArrays SourceArrays;
  const SurfaceArrays TargetArrays;
  const bool InPlace;
};

// Whether each cell's probe meets the target, as the locator's line query
// from the ear midpoint to the probe answers it (tolerance 0.001). A probe
// mostly leaves the target near the cell's own triangle, where the hit is
// proved without a search.
std::vector<unsigned char> ProbesMeetTarget(const CellMotions& motions, vtkIdType n, vtkPolyData* target)
{
  std::vector<unsigned char> met(static_cast<size_t>(n), 0);
  SurfaceLocator locator(target);
  const double ear[3] = { kEarMidpointFloat[0], kEarMidpointFloat[1], kEarMidpointFloat[2] };
  do
  {
    for (vtkIdType i = 0; i < n; ++i)
    {
      double probe[3];
      motions.Probe(i, probe);
      met[i] = locator.IntersectWithLine(ear, probe, 0.001, nullptr, i) != 0;
    }
  } while (!locator.AnswersHold());
  return met;
}

void PrintUsage()
{
  std::cout << kHelmetDiffUsage;
}

// The command line (17 arguments).
struct Arguments
{
  explicit Arguments(char* argv[])
    : sourcePath(argv[1])
    , targetPath(argv[2])
    , outputPaths{ argv[3], argv[6], argv[9], argv[12] }
    , ranges{ { argv[4], argv[5] }, { argv[7], argv[8] }, { argv[10], argv[11] }, { argv[13], argv[14] } }
    , maskPath(argv[15])
    , scaledPath(argv[16])
    , flag(argv[17][0])
    , scaled(flag == 'y')
  {
  }
  const char* sourcePath;
  const char* targetPath;
  const char* outputPaths[4]; // x, y, z, radial
  const char* ranges[4][2];
  const char* maskPath;
  const char* scaledPath;
  // Only the first character of the flag counts; an empty flag has the
  // terminating null there, which is written as it is.
  char flag;
  bool scaled;
};

// The four color files, created and headed.
void OpenColorFiles(const Arguments& arguments, OutputFile outputs[4])
{
  for (int f = 0; f < 4; ++f)
  {
    outputs[f] = OpenColorFile(arguments.outputPaths[f]);
    WriteColorHeader(outputs[f], arguments.ranges[f][0], arguments.ranges[f][1], "rainbow_symmetric_whitemid");
  }
}

bool CloseColorFiles(const Arguments& arguments, OutputFile outputs[4])
{
  bool closed = true;
  for (int f = 0; f < 4; ++f)
  {
    closed = CloseOutputFile(outputs[f], arguments.outputPaths[f]) && closed;
  }
  return closed;
}

// The terms of the average scale ratio.
struct RatioSum
{
  double sum = 0.0;
  int count = 0;
};

// One pass over the cells in order: their values into the color files, and
// the terms of the average scale ratio when the scaled target is made.
RatioSum WriteCellValues(
  const CellMotions& motions, const std::vector<unsigned char>& met, bool scaled, OutputFile outputs[4])
{
  RatioSum ratios;
  float targetRadius = 0.0f;
  bool metTarget = false;
  for (size_t i = 0; i < met.size(); ++i)
  {
    const CellMotion motion = motions[static_cast<vtkIdType>(i)];
    if (met[i] || !metTarget)
    {
      // Until a probe first meets the target, each cell has its own radius.
      targetRadius = motion.targetRadius;
    }
    metTarget = metTarget || met[i];
    if (scaled)
    {
      ratios.sum += motion.ratio;
      ++ratios.count;
    }
    WriteColorValue(outputs[0], motion.d[0]);
    WriteColorValue(outputs[1], motion.d[1]);
    WriteColorValue(outputs[2], motion.d[2]);
    WriteColorValue(outputs[3], static_cast<double>(targetRadius) - motion.sourceRadius);
  }
  return ratios;
}

// The target's points scaled about the ear midpoint by the average ratio (in
// place), written as a surface.
bool WriteScaledTarget(vtkPolyData* target, const RatioSum& ratios, const char* path)
{
  std::cout << "Creating scaled target\n";
  const double average = ratios.count == 0 ? 1.0 : ratios.sum / static_cast<double>(std::abs(ratios.count));
  WriteNumber(std::cout, ratios.sum);
  std::cout << "\nAverage s: ";
  WriteNumber(std::cout, average);
  std::cout << '\n';
  if (vtkPoints* points = target->GetPoints())
  {
    const vtkIdType pointCount = points->GetNumberOfPoints();
    for (vtkIdType j = 0; j < pointCount; ++j)
    {
      double p[3];
      points->GetPoint(j, p);
      float q[3];
      for (int k = 0; k < 3; ++k)
      {
        const double ear = kEarMidpointFloat[k];
        q[k] = static_cast<float>((p[k] - ear) * average + ear);
      }
      points->SetPoint(j, q[0], q[1], q[2]);
    }
  }
  vtkSmartPointer<vtkPolyData> scaledTarget = BuildSurface(target->GetPoints(), target);
  return WriteSurface(scaledTarget, path);
}
}

int main(int argc, char* argv[])
{
  QuietVtk();
  UseOneThread();
  UseLargeHeap();
  if (argc != 18)
  {
    PrintUsage();
    return -1;
  }
  const Arguments arguments(argv);
  std::cout << arguments.flag << '\n';

  vtkSmartPointer<vtkPolyData> target = ReadSurface(arguments.targetPath);
  if (!target)
  {
    return -1;
  }
  vtkSmartPointer<vtkPolyData> source = ReadSurface(arguments.sourcePath);
  if (!source)
  {
    return -1;
  }
  const vtkIdType n = source->GetNumberOfCells();
  if (target->GetNumberOfCells() != n)
  {
    std::cout << "ERROR: Number of cells in the two inputs is not the same!\n";
    return -1;
  }

  OutputFile outputs[4];
  OpenColorFiles(arguments, outputs);
  if (arguments.scaled)
  {
    // The helmet region does not restrict any result yet: the mask is read,
    // and a mask that cannot be read changes nothing.
    std::vector<float> mask(static_cast<size_t>(n));
    ReadColorValues(arguments.maskPath, n, mask.data());
  }

  // The probes are answered first: should the locator's answers have to be
  // asked again, no value is written yet.
  const CellMotions motions(source, target);
  const RatioSum ratios = WriteCellValues(motions, ProbesMeetTarget(motions, n, target), arguments.scaled, outputs);

  int result = CloseColorFiles(arguments, outputs) ? 0 : -1;
  if (arguments.scaled && !WriteScaledTarget(target, ratios, arguments.scaledPath))
  {
    result = -1;
  }
  return result;
}
