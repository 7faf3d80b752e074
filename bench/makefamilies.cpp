// makefamilies: writes the benchmark's input families beside the sample, from
// the sample's template, always the same way for one seed.
//
//   makefamilies SAMPLEDIR OUTDIR [SEED]
//
// Written into OUTDIR:
//   noisy1.vtk, noisy2.vtk   two scans of one head that differ everywhere by
//                            smooth bumps of a few millimetres (each point moved
//                            along the radius by a sum of random waves)
//   noisy1-9.vtk, noisy2-9.vtk  the same surfaces with nine significant digits
//   offcurve.crv             100,000 points at random places of noisy2.vtk,
//                            moved 0 to 5 mm off the surface along the normal,
//                            on both sides
//   randsegs.crv             100,000 segments (two rows each) between random
//                            points near noisy2.vtk: half run to another such
//                            point anywhere on the head, half run from one in
//                            a random direction for 0 to 30 mm
#include "benchrandom.h"
#include "surftools/surface.h"

#include <vtkCellArray.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace
{
const double kPi = 3.14159265358979323846;
const double kCenter[3] = { 102.665, 114.1929, 75.9238 };

// The points of a surface as doubles, moved along the radius from the head
// centre by a sum of waves of random direction, length and phase.
std::vector<double> Bumpy(vtkPolyData* surface, Random& random, double amplitude)
{
  struct Wave
  {
    double k[3];
    double phase;
    double height;
  };
  std::vector<Wave> waves(12);
  for (Wave& w : waves)
  {
    const double z = random.Uniform(-1, 1);
    const double a = random.Uniform(0, 2 * kPi);
    const double r = std::sqrt(1 - z * z);
    const double wavelength = random.Uniform(40, 160);
    const double k = 2 * kPi / wavelength;
    w.k[0] = k * r * std::cos(a);
    w.k[1] = k * r * std::sin(a);
    w.k[2] = k * z;
    w.phase = random.Uniform(0, 2 * kPi);
    w.height = amplitude * random.Uniform(0.3, 1.0) / 3.0;
  }
  vtkPoints* points = surface->GetPoints();
  std::vector<double> moved(3 * points->GetNumberOfPoints());
  for (vtkIdType i = 0; i < points->GetNumberOfPoints(); ++i)
  {
    double p[3];
    points->GetPoint(i, p);
    double bump = 0;
    for (const Wave& w : waves)
    {
      bump += w.height * std::sin(w.k[0] * p[0] + w.k[1] * p[1] + w.k[2] * p[2] + w.phase);
    }
    const double u[3] = { p[0] - kCenter[0], p[1] - kCenter[1], p[2] - kCenter[2] };
    const double r = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
    for (int k = 0; k < 3; ++k)
    {
      moved[3 * i + k] = p[k] + bump * u[k] / r;
    }
  }
  return moved;
}

// Writes legacy ASCII polydata with the given number of significant digits.
bool WriteDigits(vtkPolyData* surface, const std::vector<double>& coordinates, int digits, const std::string& path)
{
  FILE* out = std::fopen(path.c_str(), "w");
  if (!out)
  {
    return false;
  }
  const size_t count = coordinates.size() / 3;
  std::fprintf(out, "# vtk DataFile Version 4.2\nvtk output\nASCII\nDATASET POLYDATA\nPOINTS %zu float\n", count);
  for (size_t i = 0; i < count; ++i)
  {
    std::fprintf(out, "%.*g %.*g %.*g\n", digits, coordinates[3 * i], digits, coordinates[3 * i + 1], digits,
      coordinates[3 * i + 2]);
  }
  const vtkIdType cells = surface->GetNumberOfCells();
  std::fprintf(out, "\nPOLYGONS %lld %lld\n", static_cast<long long>(cells), static_cast<long long>(4 * cells));
  for (vtkIdType c = 0; c < cells; ++c)
  {
    vtkIdType size;
    const vtkIdType* ids;
    surface->GetCellPoints(c, size, ids);
    std::fprintf(out, "3 %lld %lld %lld\n", static_cast<long long>(ids[0]), static_cast<long long>(ids[1]),
      static_cast<long long>(ids[2]));
  }
  return std::fclose(out) == 0;
}

// A random point of a random cell of the surface and the cell's unit normal.
void SurfacePoint(vtkPolyData* surface, Random& random, double p[3], double n[3])
{
  const vtkIdType cell = static_cast<vtkIdType>(random.Uniform(0, static_cast<double>(surface->GetNumberOfCells()))) %
    surface->GetNumberOfCells();
  double corners[3][3];
  CellCorners(surface, cell, corners);
  double a = random.Uniform(0, 1);
  double b = random.Uniform(0, 1);
  if (a + b > 1)
  {
    a = 1 - a;
    b = 1 - b;
  }
  CellNormal(corners, n);
  const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  for (int k = 0; k < 3; ++k)
  {
    p[k] = corners[0][k] + a * (corners[1][k] - corners[0][k]) + b * (corners[2][k] - corners[0][k]);
    n[k] = length > 0 ? n[k] / length : 0;
  }
}

// A random point within `reach` mm of the surface, on either side.
void NearPoint(vtkPolyData* surface, Random& random, double reach, double p[3])
{
  double n[3];
  SurfacePoint(surface, random, p, n);
  const double off = random.Uniform(-reach, reach);
  for (int k = 0; k < 3; ++k)
  {
    p[k] += off * n[k];
  }
}

void Row(FILE* out, const double p[3])
{
  std::fprintf(out, "%.6g %.6g %.6g\n", p[0], p[1], p[2]);
}
}

int main(int argc, char* argv[])
{
  if (argc != 3 && argc != 4)
  {
    std::cout << "Usage: makefamilies SAMPLEDIR OUTDIR [SEED]\n";
    return -1;
  }
  const std::string sample = argv[1];
  const std::string outDir = argv[2];
  Random random{ argc == 4 ? std::strtoull(argv[3], nullptr, 10) : 1 };
  vtkSmartPointer<vtkPolyData> base = ReadSurface((sample + "/template.vtk").c_str());
  if (!base)
  {
    return -1;
  }
  // Two scans of one head: a bumpy head, and the same with a second field
  // of smaller bumps on top.
  const std::vector<double> first = Bumpy(base, random, 4.0);
  std::vector<double> second = first;
  {
    const std::vector<double> extra = Bumpy(base, random, 3.0);
    for (size_t i = 0; i < second.size(); ++i)
    {
      second[i] += extra[i] - base->GetPoints()->GetPoint(static_cast<vtkIdType>(i / 3))[i % 3];
    }
  }
  bool written = WriteDigits(base, first, 6, outDir + "/noisy1.vtk") &&
    WriteDigits(base, second, 6, outDir + "/noisy2.vtk") && WriteDigits(base, first, 9, outDir + "/noisy1-9.vtk") &&
    WriteDigits(base, second, 9, outDir + "/noisy2-9.vtk");
  if (!written)
  {
    std::cout << "Cannot write the surfaces\n";
    return -1;
  }
  vtkSmartPointer<vtkPolyData> target = ReadSurface((outDir + "/noisy2.vtk").c_str());
  if (!target)
  {
    return -1;
  }
  const int count = 100000;
  FILE* curve = std::fopen((outDir + "/offcurve.crv").c_str(), "w");
  FILE* segments = std::fopen((outDir + "/randsegs.crv").c_str(), "w");
  if (!curve || !segments)
  {
    std::cout << "Cannot write the curves\n";
    return -1;
  }
  for (int i = 0; i < count; ++i)
  {
    double p[3];
    NearPoint(target, random, 5.0, p);
    Row(curve, p);
  }
  for (int i = 0; i < count; ++i)
  {
    double a[3];
    double b[3];
    NearPoint(target, random, 5.0, a);
    if (i % 2 == 0)
    {
      NearPoint(target, random, 5.0, b);
    }
    else
    {
      const double z = random.Uniform(-1, 1);
      const double angle = random.Uniform(0, 2 * kPi);
      const double r = std::sqrt(1 - z * z);
      const double length = random.Uniform(0, 30);
      b[0] = a[0] + length * r * std::cos(angle);
      b[1] = a[1] + length * r * std::sin(angle);
      b[2] = a[2] + length * z;
    }
    Row(segments, a);
    Row(segments, b);
  }
  written = std::fclose(curve) == 0;
  written = std::fclose(segments) == 0 && written;
  if (!written)
  {
    std::cout << "Cannot write the curves\n";
    return -1;
  }
  return 0;
}
