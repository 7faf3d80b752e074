// helmetdiff: how each cell moved between two scans of a head that share one
// mesh (the x, y and z components of the centroid displacement), and whether
// it moved away from or toward the ear midpoint (the radial difference), as
// color files; on request also the target scaled about the ear midpoint by
// the average per-cell scale ratio.

#include "colorfile.h"
#include "locatorhit.h"
#include "memory.h"
#include "outputfile.h"
#include "parallel.h"
#include "surface.h"

#include <vtkCellArray.h>
#include <vtkCellLocator.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <future>
#include <iostream>
#include <memory>
#include <vector>

namespace
{
// The fixed point between the ears from which radii are measured.
const float kEarMidpoint[3] = { 102.665f, 99.1929f, 50.9238f };

// Length of a difference vector, summed z first.
double Length(const double v[3])
{
  return std::sqrt((v[2] * v[2] + v[1] * v[1]) + v[0] * v[0]);
}

// Distance of a point from the ear midpoint.
double Radius(const double p[3])
{
  const double v[3] = { p[0] - static_cast<double>(kEarMidpoint[0]), p[1] - static_cast<double>(kEarMidpoint[1]),
    p[2] - static_cast<double>(kEarMidpoint[2]) };
  return Length(v);
}

// What the results take of how cell i moved from the source to the target:
// the centroid's displacement, the source centroid's radius, the target
// centroid's radius (as the results keep it, in single precision), the
// cell's term of the average scale ratio, and its probe: from the ear
// midpoint through the source centroid to five times its radius (rounded to
// single precision, as the probe is made). Left unset until filled, so that
// the memory of all cells' motions is first touched by the threads that fill
// it.
struct CellMotion
{
  double d[3];
  double sourceRadius;
  double ratio;
  float probe[3];
  float targetRadius;

  CellMotion() = default;
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
    const double moved = Length(d);
    sourceRadius = Radius(sourceCentroid);
    targetRadius = static_cast<float>(Radius(targetCentroid));
    const double denominator = sourceRadius + moved;
    ratio = denominator == 0.0 ? 1.0 : sourceRadius / denominator;
    for (int k = 0; k < 3; ++k)
    {
      const double ear = kEarMidpoint[k];
      probe[k] = static_cast<float>(ear + 5.0 * (sourceCentroid[k] - ear));
    }
  }

  void Probe(double end[3]) const
  {
    for (int k = 0; k < 3; ++k)
    {
      end[k] = probe[k];
    }
  }
};
}

int main(int argc, char* argv[])
{
  UseLargeHeap();
  if (argc != 18)
  {
    std::cout << "Usage: source.vtk target.vtk vx.clr vxmin vxmax vy.clr vymin vymin vz.clr vxmin vzmax vxyz.clr "
                 "vxyzmin vxyzmax helmet_mask_clr scaled.vtk create_scaled_flag\n"
                 "Inputs: target.vtk, source.vtk\n"
                 "        vxmin vxmax etc.:  ranges for the coloring\n"
                 "        create_scaled_flag:  set to y to create scaled.vtk. n to not to create it\n"
                 "        helmet_mask.clr:  name of the helmet mask (1 in helmet region, 0 elsewhere)\n"
                 "Output: color (.clr) files with distances\n"
                 "Performs: for each cell on source, compute distance to corresponding cell on target.\n"
                 "Limitation: source and target must have exactly the same number of cells, and there must be "
                 "1-to-1 point correspondence.\n"
                 "Limitation: For the sign calculation, we assume a fixed midpoint between ears (same as in the "
                 "template.vtk)\n";
    return -1;
  }
  const char* sourcePath = argv[1];
  const char* targetPath = argv[2];
  const char* outputPaths[4] = { argv[3], argv[6], argv[9], argv[12] };
  const char* ranges[4][2] = { { argv[4], argv[5] }, { argv[7], argv[8] }, { argv[10], argv[11] },
    { argv[13], argv[14] } };
  const char* maskPath = argv[15];
  const char* scaledPath = argv[16];
  // Only the first character of the flag counts; an empty flag has the
  // terminating null there, which is written as it is.
  const char flag = argv[17][0];
  const bool scaled = flag == 'y';

  std::cout << flag << '\n';

  vtkPolyData* target = nullptr;
  vtkPolyData* source = nullptr;
  if (!ReadSurfaces(targetPath, sourcePath, &target, &source))
  {
    return -1;
  }
  const vtkIdType n = source->GetNumberOfCells();
  if (target->GetNumberOfCells() != n)
  {
    std::cout << "ERROR: Number of cells in the two inputs is not the same!\n";
    return -1;
  }

  std::ofstream outputs[4];
  for (int f = 0; f < 4; ++f)
  {
    outputs[f] = OpenColorFile(outputPaths[f]);
    WriteColorHeader(outputs[f], ranges[f][0], ranges[f][1], "rainbow_symmetric_whitemid");
  }

  // How every cell moved, found once on every core for the passes below.
  const std::unique_ptr<CellMotion[]> motions(new CellMotion[static_cast<size_t>(n)]);
  const SurfaceArrays sourceArrays(source);
  const SurfaceArrays targetArrays(target);
  const bool inPlace = sourceArrays.Usable() && targetArrays.Usable();
  auto findMotions = [&](size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i)
    {
      const vtkIdType cell = static_cast<vtkIdType>(i);
      double sourceCorners[3][3];
      double targetCorners[3][3];
      if (inPlace)
      {
        sourceArrays.Corners(cell, sourceCorners);
        targetArrays.Corners(cell, targetCorners);
      }
      else
      {
        CellCorners(source, cell, sourceCorners);
        CellCorners(target, cell, targetCorners);
      }
      motions[i] = CellMotion(sourceCorners, targetCorners);
    }
  };
  if (inPlace)
  {
    ParallelRanges(static_cast<size_t>(n), findMotions);
  }
  else
  {
    findMotions(0, static_cast<size_t>(n)); // cell points fetched through a shared buffer
  }

  // The locator's grid, planned before the locator is built: the probes are
  // proved against it, and the locator is built only when a probe needs it.
  vtkCellLocator* locator = vtkCellLocator::New();
  LocatorGrid grid;
  bool gridPlanned = false;
  if (n > 0)
  {
    // A locator over no cells has nothing to answer (and VTK would complain).
    locator->SetDataSet(target);
    gridPlanned = PlanLocatorGrid(locator, &grid);
  }
  // Work on two threads reads the target's cells at once: only where their
  // point ids are read in place (not through the cell list's one buffer).
  vtkCellArray* targetPolys = target->GetPolys();
  const bool cellsShared = targetPolys && targetPolys->IsStorage64Bit();
  const bool proveBeside = gridPlanned && cellsShared;

  const double ear[3] = { kEarMidpoint[0], kEarMidpoint[1], kEarMidpoint[2] };
  // Whether each cell's probe surely meets the target, proved in chunks
  // taken in turn by both threads.
  std::vector<unsigned char> proved(static_cast<size_t>(n), 0);
  ChunkQueue chunks(static_cast<size_t>(n), 2048);
  auto proveChunks = [&] {
    LocatorGrid own = CopyLocatorGrid(grid);
    size_t begin;
    size_t end;
    while (chunks.Next(&begin, &end))
    {
      // Each search for the cell a probe passes through starts where the
      // probe before passed.
      vtkIdType hint = -1;
      for (size_t i = begin; i < end; ++i)
      {
        double probe[3];
        motions[i].Probe(probe);
        proved[i] = LocatorSurelyHitsNear(own, ear, probe, 0.001, static_cast<vtkIdType>(i), &hint);
      }
    }
  };

  // The x, y and z components, each in its own file (written beside the
  // proofs unless two of the files are one).
  auto writeComponents = [&] {
    for (vtkIdType i = 0; i < n; ++i)
    {
      const CellMotion& motion = motions[i];
      WriteColorValue(outputs[0], motion.d[0]);
      WriteColorValue(outputs[1], motion.d[1]);
      WriteColorValue(outputs[2], motion.d[2]);
    }
  };
  bool outputsDistinct = true;
  for (int f = 1; f < 4; ++f)
  {
    outputsDistinct = outputsDistinct && !SameFileAsAny(outputPaths[f], outputPaths, f);
  }

  // The scaled target: the target's points scaled about the ear midpoint by
  // the average scale ratio, in a copy of their array (the target itself is
  // still read); written beside the color files unless it is one of them.
  std::promise<double> averageFound;
  std::shared_future<double> averageKnown = averageFound.get_future().share();
  std::string scaledProblem;
  auto writeScaled = [&] {
    const double average = averageKnown.get();
    vtkPoints* points = target->GetPoints();
    vtkPoints* scaledPoints = nullptr;
    if (points)
    {
      scaledPoints = vtkPoints::New(points->GetDataType());
      scaledPoints->DeepCopy(points);
      const vtkIdType pointCount = points->GetNumberOfPoints();
      for (vtkIdType j = 0; j < pointCount; ++j)
      {
        double p[3];
        points->GetPoint(j, p);
        float q[3];
        for (int k = 0; k < 3; ++k)
        {
          q[k] = static_cast<float>((p[k] - ear[k]) * average + ear[k]);
        }
        scaledPoints->SetPoint(j, q[0], q[1], q[2]);
      }
    }
    scaledProblem = WriteSurfaceProblem(BuildSurface(scaledPoints, target), scaledPath);
  };
  const bool scaledBeside = scaled && cellsShared && !SameFileAsAny(scaledPath, outputPaths, 4);

  // Beside this thread: the mask read, the scaled target, the components,
  // then proofs until none is left.
  BesideThread beside([&] {
    if (scaled)
    {
      // The helmet region does not restrict any result yet: the mask is read
      // along with the cells, and a mask that cannot be read changes nothing.
      std::vector<float> mask(static_cast<size_t>(n));
      ReadColorValues(maskPath, n, mask.data());
    }
    if (outputsDistinct)
    {
      writeComponents();
    }
    if (scaledBeside)
    {
      writeScaled();
    }
    if (proveBeside)
    {
      proveChunks();
    }
  });

  // The average scale ratio of the cells, for the scaled target.
  double ratioSum = 0.0;
  int ratioCount = 0;
  for (vtkIdType i = 0; i < n && scaled; ++i)
  {
    ratioSum += motions[i].ratio;
    ++ratioCount;
  }
  const double average = ratioCount == 0 ? 1.0 : ratioSum / static_cast<double>(std::abs(ratioCount));
  averageFound.set_value(average);
  if (gridPlanned)
  {
    LinkLocatorGrid(&grid);
    proveChunks();
  }
  beside.Join();

  // Whether each cell's probe meets the target: proved, or asked of the
  // locator.
  std::vector<unsigned char> met(static_cast<size_t>(n), 0);
  bool locatorBuilt = false;
  for (vtkIdType i = 0; i < n; ++i)
  {
    if (proved[i])
    {
      met[i] = 1;
      continue;
    }
    if (!locatorBuilt)
    {
      locator->BuildLocator();
      locatorBuilt = true;
      if (gridPlanned && !LocatorBuiltAsPlanned(locator, grid))
      {
        // Not the grid the proofs were made on: the locator answers for all.
        std::fill(proved.begin(), proved.end(), 0);
        i = -1;
        continue;
      }
    }
    double probe[3];
    motions[i].Probe(probe);
    double t;
    double x[3];
    double pcoords[3];
    int subId;
    met[i] = locator->IntersectWithLine(ear, probe, 0.001, t, x, pcoords, subId) != 0;
  }

  std::vector<double> radial(static_cast<size_t>(n));
  float targetRadius = 0.0f;
  bool metTarget = false;
  for (vtkIdType i = 0; i < n; ++i)
  {
    const CellMotion& motion = motions[i];
    if (met[i] || !metTarget)
    {
      // Until a probe first meets the target, each cell has its own radius.
      targetRadius = motion.targetRadius;
    }
    metTarget = metTarget || met[i];
    radial[i] = static_cast<double>(targetRadius) - motion.sourceRadius;
  }
  if (outputsDistinct)
  {
    // The radial differences' lines made in two halves at once.
    const size_t half = radial.size() / 2;
    std::string secondHalf;
    BesideThread second([&] { secondHalf = ColorValueLines(radial.data() + half, radial.size() - half); });
    const std::string firstHalf = ColorValueLines(radial.data(), half);
    second.Join();
    WriteText(outputs[3], firstHalf.data(), static_cast<std::streamsize>(firstHalf.size()));
    WriteText(outputs[3], secondHalf.data(), static_cast<std::streamsize>(secondHalf.size()));
  }
  else
  {
    for (vtkIdType i = 0; i < n; ++i)
    {
      // Two of the files are one: the rows go out in the order of one pass.
      const CellMotion& motion = motions[i];
      WriteColorValue(outputs[0], motion.d[0]);
      WriteColorValue(outputs[1], motion.d[1]);
      WriteColorValue(outputs[2], motion.d[2]);
      WriteColorValue(outputs[3], radial[i]);
    }
  }

  int result = 0;
  for (int f = 0; f < 4; ++f)
  {
    if (!CloseOutputFile(outputs[f], outputPaths[f]))
    {
      result = -1;
    }
  }

  if (scaled)
  {
    std::cout << "Creating scaled target\n";
    WriteNumber(std::cout, ratioSum);
    std::cout << "\nAverage s: ";
    WriteNumber(std::cout, average);
    std::cout << '\n';
    if (!scaledBeside)
    {
      writeScaled();
    }
    std::cout << scaledProblem;
    if (!scaledProblem.empty())
    {
      result = -1;
    }
  }
  return result;
}
