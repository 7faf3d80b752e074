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
//   fitcase real HEADS DIR HEAD CIRCUMFERENCE PITCH SYMMETRIC SEED [midline]
//                                              a raw scan of a real head (sample/realheads.h) from
//                                              the folder HEADS: HEAD (head, mannequin-devil or
//                                              fsaverage) scaled to CIRCUMFERENCE mm, pitched by
//                                              PITCH degrees, its right half mirrored where
//                                              SYMMETRIC is 1; writes DIR/scan.stl,
//                                              DIR/scan_landmarks.crv (five, or the three on the
//                                              midline) and DIR/true_landmarks.crv (the same
//                                              without noise)
//   fitcase realscore TEMPLATE LANDMARKS DIR FITTED LOG
//                                              prints how FITTED (fittemplate's output in LOG)
//                                              holds the real head's landmarks and measures
#include "fit/scanfile.h"
#include "fit/surfacetriangles.h"
#include "geometry/triangletree.h"
#include "geometry/vector.h"
#include "rawscan.h"
#include "realheads.h"
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

int RealCase(int argc, char* argv[])
{
  const std::string heads = argv[2];
  const std::string dir = argv[3];
  PosedHead head;
  std::string problem;
  RealHead which = RealHead::Average;
  for (RealHead h : kRealHeads)
  {
    which = std::string(RealHeadName(h)) == argv[4] ? h : which;
  }
  bool ok = LoadRealHead(which, heads, head, problem) && ScaleHead(head, std::atof(argv[5]), problem);
  PitchHead(head, std::atof(argv[6]));
  if (ok && std::string(argv[7]) == "1")
  {
    PosedHead symmetric;
    ok = MirrorRightHalf(head, symmetric, problem);
    head = symmetric;
  }
  if (!ok)
  {
    std::cout << problem << '\n';
    return 1;
  }
  const ScanLandmarks which3 = argc == 10 ? ScanLandmarks::Midline : ScanLandmarks::All;
  RawScan scan;
  const RawScanOptions options = RealScanOptions(head, 300000, std::strtoull(argv[8], nullptr, 10));
  ok = WriteRealRawScan(head, options, which3, dir + "/scan.stl", dir + "/scan_landmarks.crv", scan);
  return ok && WriteLandmarks(TrueScanLandmarks(head, scan, which3), dir + "/true_landmarks.crv") ? 0 : 1;
}

int RealScore(char* argv[])
{
  vtkSmartPointer<vtkPolyData> templ = ReadSurface(argv[2]);
  vtkSmartPointer<vtkPolyData> fitted = ReadSurface(argv[5]);
  const std::string dir = argv[4];
  std::vector<Landmark> templateLandmarks;
  std::vector<Landmark> trueLandmarks;
  TriangleSurface scan;
  RigidTransform transform;
  if (!templ || !fitted || !ReadLandmarks(argv[3], templateLandmarks) ||
    !ReadLandmarks((dir + "/true_landmarks.crv").c_str(), trueLandmarks) ||
    !ReadScan((dir + "/scan.stl").c_str(), scan) || !ParseTransform(FileText(argv[6]), transform))
  {
    std::cout << "No fit to score\n";
    return 1;
  }
  const RealFitScore score = ScoreRealFit(templ, templateLandmarks, fitted, transform, scan, trueLandmarks);
  std::cout << "landmarks from the head's own (mm):";
  for (double e : score.landmarkErrors)
  {
    std::cout << ' ' << e;
  }
  std::cout << '\n';
  if (!score.problem.empty())
  {
    std::cout << "cannot measure: " << score.problem << '\n';
    return 1;
  }
  const auto scanValues = HeadShapeValues(score.scan);
  const auto fittedValues = HeadShapeValues(score.fitted);
  for (int c = 0; c < kHeadShapeColumns; ++c)
  {
    std::cout << "  " << kHeadShapeColumn[c].name << ": scan " << scanValues[c] << ", fitted " << fittedValues[c]
              << '\n';
  }
  std::cout << "  measured_from: scan " << score.scan.measuredFrom << ", fitted " << score.fitted.measuredFrom << '\n';
  return 0;
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
  if (command == "real" && (argc == 9 || (argc == 10 && std::string(argv[9]) == "midline")))
  {
    return RealCase(argc, argv);
  }
  if (command == "realscore" && argc == 7)
  {
    return RealScore(argv);
  }
  std::cout << "Usage: fitcase make TEMPLATE DIR SEED TRIANGLES [any]\n"
               "       fitcase score DIR FITTED LOG\n"
               "       fitcase project TEMPLATE DIR OUT LOG\n"
               "       fitcase real HEADS DIR HEAD CIRCUMFERENCE PITCH SYMMETRIC SEED [midline]\n"
               "       fitcase realscore TEMPLATE LANDMARKS DIR FITTED LOG\n";
  return 1;
}
