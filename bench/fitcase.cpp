// fitcase: synthetic cases for the template fit, and their scores.
//
//   fitcase make TEMPLATE DIR SEED TRIANGLES [any]
//                                              writes a case into DIR (see WriteFitCase); with
//                                              `any`, the field's bumps push in random directions
//   fitcase score DIR FITTED LOG               prints the errors of FITTED, whose fittemplate
//                                              output (with its rigid transform) is in LOG
//   fitcase project TEMPLATE DIR OUT LOG       the reference the fit is measured against: every
//                                              template point moved along its normal onto the scan
//                                              brought back by the true motion, no regularisation;
//                                              writes OUT, and LOG with that transform for score
#include "fit/scanfile.h"
#include "fit/surfacetriangles.h"
#include "geometry/triangletree.h"
#include "geometry/vector.h"
#include "rawscan.h"
#include "surftools/surface.h"

#include <vtkPoints.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace
{
// The whole of a text file (empty when it cannot be read).
std::string FileText(const std::string& path)
{
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

int Make(char* argv[], bool anyDirection)
{
  vtkSmartPointer<vtkPolyData> templ = ReadSurface(argv[2]);
  if (!templ)
  {
    return 1;
  }
  return WriteFitCase(templ, argv[3], std::strtoull(argv[4], nullptr, 10), std::atoi(argv[5]),
           anyDirection ? BumpDirection::Any : BumpDirection::FromCentre)
    ? 0
    : 1;
}

int Score(char* argv[])
{
  vtkSmartPointer<vtkPolyData> fitted = ReadSurface(argv[3]);
  const std::string log = FileText(argv[4]);
  RigidTransform transform;
  if (!fitted || !ParseTransform(log, transform))
  {
    std::cout << "No fit to score\n";
    return 1;
  }
  const FitErrors errors = ScoreFit(argv[2], fitted, transform);
  std::cout << "where the scan has surface (" << 100.0 * errors.covered << "% of the template points):\n"
            << "  distance to the true place: mean " << errors.mean << " mm, p95 " << errors.p95 << " mm, largest "
            << errors.largest << " mm\n"
            << "  the same in the scanner's frame: mean " << errors.scanMean << " mm, p95 " << errors.scanP95 << " mm\n"
            << "  the same after the best rigid motion of the fitted points: mean " << errors.shapeMean << " mm, p95 "
            << errors.shapeP95 << " mm\n"
            << "  distance to the scan: mean " << errors.onScan << " mm\n";
  return 0;
}

// Point x moved along the normal n to the scan's tangent plane at its
// closest point, a few times over (no further once the scan's normal there
// turns more than 60 degrees from n).
void Project(const TriangleTree& tree, const double n[3], double x[3])
{
  for (int pass = 0; pass < 4; ++pass)
  {
    const TriangleTree::Hit hit = tree.Closest(x, 30.0);
    const double* m = hit.found ? tree.Normal(hit.triangle) : n;
    const double facing = Dot(m, n);
    if (!hit.found || std::abs(facing) < 0.5)
    {
      break;
    }
    double d[3];
    Subtract(hit.point, x, d);
    const double gap = Dot(m, d);
    for (int k = 0; k < 3; ++k)
    {
      x[k] += gap / facing * n[k];
    }
  }
}

int ProjectCase(char* argv[])
{
  vtkSmartPointer<vtkPolyData> templ = ReadSurface(argv[2]);
  const std::string dir = argv[3];
  TriangleSurface scan;
  RigidTransform motion;
  const std::string text = FileText(dir + "/motion.txt");
  if (!templ || !ReadScan((dir + "/scan.stl").c_str(), scan) || !ParseTransform(text, motion))
  {
    return 1;
  }
  const RigidTransform back = motion.Inverse();
  for (size_t i = 0; i < scan.PointCount(); ++i)
  {
    back.Apply(&scan.points[3 * i], &scan.points[3 * i]);
  }
  const TriangleTree tree(scan.points, scan.triangles);
  const TriangleSurface surface = SurfaceTriangles(templ);
  std::vector<double> normals;
  std::vector<double> areas;
  PointNormalsAndAreas(surface, normals, areas);
  auto points = vtkSmartPointer<vtkPoints>::New();
  points->SetNumberOfPoints(static_cast<vtkIdType>(surface.PointCount()));
  for (size_t i = 0; i < surface.PointCount(); ++i)
  {
    double x[3] = { surface.points[3 * i], surface.points[3 * i + 1], surface.points[3 * i + 2] };
    if (areas[i] > 0)
    {
      Project(tree, &normals[3 * i], x);
    }
    points->SetPoint(static_cast<vtkIdType>(i), x);
  }
  std::ofstream log(argv[5]);
  log << "Rigid transform\n";
  for (int i = 0; i < 3; ++i)
  {
    log.precision(17);
    log << back.r[i][0] << ' ' << back.r[i][1] << ' ' << back.r[i][2] << ' ' << back.t[i] << '\n';
  }
  return WriteSurface(BuildSurface(points, templ), argv[4]) && log ? 0 : 1;
}
}

int main(int argc, char* argv[])
{
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "make" && (argc == 6 || (argc == 7 && std::string(argv[6]) == "any")))
  {
    return Make(argv, argc == 7);
  }
  if (command == "score" && argc == 5)
  {
    return Score(argv);
  }
  if (command == "project" && argc == 6)
  {
    return ProjectCase(argv);
  }
  std::cout << "Usage: fitcase make TEMPLATE DIR SEED TRIANGLES [any]\n"
               "       fitcase score DIR FITTED LOG\n"
               "       fitcase project TEMPLATE DIR OUT LOG\n";
  return 1;
}
