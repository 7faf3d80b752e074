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
#include "rawscan.h"
#include "fit/scanfile.h"
#include "fit/surfacetriangles.h"
#include "surftools/surface.h"
#include "geometry/triangletree.h"

#include <vtkPoints.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

int main(int argc, char* argv[])
{
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "make" && (argc == 6 || (argc == 7 && std::string(argv[6]) == "any")))
  {
    vtkSmartPointer<vtkPolyData> templ = ReadSurface(argv[2]);
    if (!templ)
    {
      return 1;
    }
    return WriteFitCase(templ, argv[3], std::strtoull(argv[4], nullptr, 10), std::atoi(argv[5]),
             argc == 7 ? BumpDirection::Any : BumpDirection::FromCentre)
      ? 0
      : 1;
  }
  if (command == "score" && argc == 5)
  {
    vtkSmartPointer<vtkPolyData> fitted = ReadSurface(argv[3]);
    std::ifstream in(argv[4]);
    std::stringstream log;
    log << in.rdbuf();
    RigidTransform transform;
    if (!fitted || !ParseTransform(log.str(), transform))
    {
      std::cout << "No fit to score\n";
      return 1;
    }
    const FitErrors errors = ScoreFit(argv[2], fitted, transform);
    std::cout << "where the scan has surface (" << 100.0 * errors.covered << "% of the template points):\n"
              << "  distance to the true place: mean " << errors.mean << " mm, p95 " << errors.p95
              << " mm, largest " << errors.largest << " mm\n"
              << "  the same in the scanner's frame: mean " << errors.scanMean << " mm, p95 " << errors.scanP95
              << " mm\n"
              << "  the same after the best rigid motion of the fitted points: mean " << errors.shapeMean
              << " mm, p95 " << errors.shapeP95 << " mm\n"
              << "  distance to the scan: mean " << errors.onScan << " mm\n";
    return 0;
  }
  if (command == "project" && argc == 6)
  {
    vtkSmartPointer<vtkPolyData> templ = ReadSurface(argv[2]);
    const std::string dir = argv[3];
    TriangleSurface scan;
    RigidTransform motion;
    std::ifstream in(dir + "/motion.txt");
    std::stringstream text;
    text << in.rdbuf();
    if (!templ || !ReadScan((dir + "/scan.stl").c_str(), scan) || !ParseTransform(text.str(), motion))
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
      // Along the normal to the scan's tangent plane at the closest point, a few times over.
      double x[3] = { surface.points[3 * i], surface.points[3 * i + 1], surface.points[3 * i + 2] };
      const double* n = &normals[3 * i];
      for (int pass = 0; pass < 4 && areas[i] > 0; ++pass)
      {
        const TriangleTree::Hit hit = tree.Closest(x, 30.0);
        const double* m = hit.found ? tree.Normal(hit.triangle) : n;
        const double facing = m[0] * n[0] + m[1] * n[1] + m[2] * n[2];
        if (!hit.found || std::abs(facing) < 0.5)
        {
          break;
        }
        const double gap = m[0] * (hit.point[0] - x[0]) + m[1] * (hit.point[1] - x[1]) + m[2] * (hit.point[2] - x[2]);
        for (int k = 0; k < 3; ++k)
        {
          x[k] += gap / facing * n[k];
        }
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
  std::cout << "Usage: fitcase make TEMPLATE DIR SEED TRIANGLES [any]\n"
               "       fitcase score DIR FITTED LOG\n"
               "       fitcase project TEMPLATE DIR OUT LOG\n";
  return 1;
}
