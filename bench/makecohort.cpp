// makecohort: a cohort of heads on one template mesh for timing shapestats:
// the template moved by smooth random fields, deterministically.
//
//   makecohort template.vtk OUTDIR COUNT [SEED]
//
// Writes OUTDIR/head<k>.vtk for k = 1 .. COUNT (as the tools write surfaces)
// and OUTDIR/list.txt naming them. Each head is the template scaled about
// its centre by up to 3% per axis and moved along its point normals by eight
// bumps of up to 3 mm, each spread over 20 to 60 mm around a random point of
// the template.

#include "benchrandom.h"
#include "geometry/vector.h"
#include "surftools/surface.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace
{
// The unit normal at every point: the sum of the normals (B - A) x (C - A)
// of its cells, normalised.
std::vector<double> PointNormals(vtkPolyData* surface)
{
  std::vector<double> normals(3 * static_cast<size_t>(surface->GetNumberOfPoints()), 0.0);
  for (vtkIdType c = 0; c < surface->GetNumberOfCells(); ++c)
  {
    double corners[3][3];
    double normal[3];
    CellCorners(surface, c, corners);
    CellNormal(corners, normal);
    vtkIdType size;
    const vtkIdType* ids;
    surface->GetCellPoints(c, size, ids);
    for (int k = 0; k < 3; ++k)
    {
      for (int a = 0; a < 3; ++a)
      {
        normals[3 * ids[k] + a] += normal[a];
      }
    }
  }
  for (size_t i = 0; i < normals.size(); i += 3)
  {
    const double length = Norm(&normals[i]);
    for (int a = 0; a < 3 && length > 0; ++a)
    {
      normals[i + a] /= length;
    }
  }
  return normals;
}

// One head: the template's points scaled and bumped.
vtkSmartPointer<vtkPoints> Head(
  vtkPolyData* templ, const std::vector<double>& normals, const double centre[3], Random& random)
{
  const vtkIdType count = templ->GetNumberOfPoints();
  double scale[3];
  for (double& s : scale)
  {
    s = random.Uniform(0.97, 1.03);
  }
  double bumps[8][5]; // centre x, y, z, height, width
  for (auto& bump : bumps)
  {
    templ->GetPoint(static_cast<vtkIdType>(random.Uniform(0, static_cast<double>(count))) % count, bump);
    bump[3] = random.Uniform(-3.0, 3.0);
    bump[4] = random.Uniform(20.0, 60.0);
  }
  auto points = vtkSmartPointer<vtkPoints>::New();
  points->SetNumberOfPoints(count);
  for (vtkIdType i = 0; i < count; ++i)
  {
    double p[3];
    templ->GetPoint(i, p);
    double height = 0;
    for (const auto& bump : bumps)
    {
      height += bump[3] * std::exp(-Distance2(p, bump) / (bump[4] * bump[4]));
    }
    double q[3];
    for (int a = 0; a < 3; ++a)
    {
      q[a] = centre[a] + scale[a] * (p[a] - centre[a]) + height * normals[3 * i + a];
    }
    points->SetPoint(i, q);
  }
  return points;
}
}

int main(int argc, char* argv[])
{
  if (argc != 4 && argc != 5)
  {
    std::cout << "Usage: makecohort template.vtk OUTDIR COUNT [SEED]\n";
    return -1;
  }
  vtkSmartPointer<vtkPolyData> templ = ReadSurface(argv[1]);
  if (!templ)
  {
    return -1;
  }
  const std::string dir = argv[2];
  const int heads = std::atoi(argv[3]);
  Random random{ argc == 5 ? std::strtoull(argv[4], nullptr, 10) : 1 };
  const std::vector<double> normals = PointNormals(templ);
  double bounds[6];
  templ->GetBounds(bounds);
  const double centre[3] = { 0.5 * (bounds[0] + bounds[1]), 0.5 * (bounds[2] + bounds[3]),
    0.5 * (bounds[4] + bounds[5]) };
  std::ofstream list(dir + "/list.txt");
  for (int k = 1; k <= heads; ++k)
  {
    const std::string path = dir + "/head" + std::to_string(k) + ".vtk";
    if (!WriteSurface(BuildSurface(Head(templ, normals, centre, random), templ), path.c_str()))
    {
      return -1;
    }
    list << path << '\n';
  }
  return list.good() ? 0 : -1;
}
