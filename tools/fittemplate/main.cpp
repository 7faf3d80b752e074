// fittemplate: brings a raw scan (its own triangles, position and
// orientation, open at the neck, with holes) onto the template mesh: a rigid
// alignment into the template's frame from landmarks, refined against the
// whole surface, then robustly with a stretch of the head about its centre,
// then a non-rigid fit of the stretched template to the scan. Writes the
// template with its points moved onto the scan, so that every tool that
// works on the template mesh takes it.

#include "surftools/curvefile.h"
#include "surftools/outputfile.h"
#include "parallel/parallel.h"
#include "fit/landmarks.h"
#include "fit/rigidalign.h"
#include "fit/scanfile.h"
#include "fit/stretchalign.h"
#include "fit/surfacetriangles.h"
#include "surftools/surface.h"
#include "fit/templatefit.h"
#include "geometry/triangletree.h"

#include <cmath>
#include <iostream>
#include <string>

namespace
{
// Thresholds past which a fit is taken to have failed.
constexpr double kMinMatchedAlignment = 0.2; // share of template samples matched by the rigid alignment
constexpr double kMaxLandmarkAlignment = 20.0; // mm, root mean square of the landmark residuals after alignment
constexpr double kMaxLandmarkFit = 10.0;     // mm, the same after the fit
constexpr double kMaxUnmatched = 0.8;        // share of template points without a match after the fit
constexpr double kMaxMean = 0.5;             // mm, mean distance of the fitted points to the scan
constexpr double kMaxChange = 1.0;           // mm, 99th percentile of the point moves of the fit's last step
constexpr double kMaxStretch = 0.2;          // largest entry of S - I taken as a head's stretch

// A stretch that a head's shape can have: finite, within kMaxStretch of none.
bool StretchIsPlausible(const StretchedPose& pose)
{
  for (int a = 0; a < 3; ++a)
  {
    for (int c = 0; c < 3; ++c)
    {
      if (!(std::abs(pose.stretch[a][c] - (a == c ? 1.0 : 0.0)) <= kMaxStretch) || !std::isfinite(pose.motion.t[a]))
      {
        return false;
      }
    }
  }
  return true;
}

void Print(const char* text)
{
  std::cout << text;
}

void PrintNumber(double value)
{
  WriteNumber(std::cout, value);
}

// The landmark residuals: each distance between a template landmark and its
// scan landmark brought into the template's frame, and their root mean square.
double PrintResiduals(const char* title, const std::vector<Landmark>& templ, const std::vector<Landmark>& scan)
{
  Print(title);
  double sum = 0;
  for (size_t i = 0; i < templ.size(); ++i)
  {
    double sum2 = 0;
    for (int k = 0; k < 3; ++k)
    {
      sum2 += (templ[i][k] - scan[i][k]) * (templ[i][k] - scan[i][k]);
    }
    const double d = std::sqrt(sum2);
    Print(" ");
    PrintNumber(d);
    sum += d * d;
  }
  const double rms = std::sqrt(sum / static_cast<double>(templ.size()));
  Print(" (rms ");
  PrintNumber(rms);
  Print(")\n");
  return rms;
}

int Refuse(const std::string& message)
{
  std::cout << message << '\n';
  return -1;
}
}

int main(int argc, char* argv[])
{
  UseWorkThreads();
  if (argc != 6)
  {
    std::cout << "Usage: template.vtk scan.(vtk|vtp|stl|ply|obj) template_landmarks.crv scan_landmarks.crv fitted.vtk\n"
                 "Inputs: the template mesh, a raw scan of a head, and the same landmarks (at least 3, in the\n"
                 "        same order) on the template and on the scan, as curve files\n"
                 "Output: fitted.vtk, the template with its points moved onto the scan, in the template's frame\n"
                 "Performs: rigid alignment of the scan from the landmarks, refined against the whole surface,\n"
                 "          then a non-rigid fit of the template to the scan.\n";
    return -1;
  }
  const char* templatePath = argv[1];
  const char* scanPath = argv[2];
  const char* templateLandmarksPath = argv[3];
  const char* scanLandmarksPath = argv[4];
  const char* outputPath = argv[5];

  vtkSmartPointer<vtkPolyData> templateSurface = ReadSurface(templatePath);
  if (!templateSurface)
  {
    return -1;
  }
  TriangleSurface templ = SurfaceTriangles(templateSurface);
  if (templ.triangles.empty())
  {
    return Refuse(std::string("Template ") + templatePath + " has no triangle");
  }
  TriangleSurface scan;
  if (!ReadScan(scanPath, scan))
  {
    return -1;
  }
  // A landmark file that cannot be opened ends the run as every curve file does.
  std::vector<Landmark> templateLandmarks;
  std::vector<Landmark> scanLandmarks;
  for (const auto& [path, landmarks] : { std::make_pair(templateLandmarksPath, &templateLandmarks),
         std::make_pair(scanLandmarksPath, &scanLandmarks) })
  {
    if (!ReadLandmarks(path, *landmarks))
    {
      std::cout << CurveFileError(path, true);
      return 1;
    }
  }
  if (templateLandmarks.size() != scanLandmarks.size())
  {
    return Refuse(std::string("The landmark files hold different numbers of landmarks: ") +
      std::to_string(templateLandmarks.size()) + " in " + templateLandmarksPath + ", " +
      std::to_string(scanLandmarks.size()) + " in " + scanLandmarksPath);
  }
  for (const auto& [landmarks, path] : { std::make_pair(&templateLandmarks, templateLandmarksPath),
         std::make_pair(&scanLandmarks, scanLandmarksPath) })
  {
    if (const char* problem = LandmarkProblem(*landmarks))
    {
      return Refuse(std::string("Cannot align with the landmarks of ") + path + ": " + problem);
    }
  }

  // The rigid alignment, scan to template: from the landmarks, then refined
  // against the whole surface.
  const TriangleTree scanTree(scan.points, scan.triangles);
  std::vector<double> templateNormals;
  std::vector<double> templateAreas;
  PointNormalsAndAreas(templ, templateNormals, templateAreas);
  const RigidTransform start = FitLandmarks(scanLandmarks, templateLandmarks);
  const RigidRefinement rigid =
    RefineAlignment(templ, templateNormals, templateAreas, scanTree, start, templateLandmarks, scanLandmarks);
  if (!(rigid.matched >= kMinMatchedAlignment))
  {
    return Refuse("The fit failed: only " + NumberText(100.0 * rigid.matched) +
      "% of the template found the scan after the rigid alignment");
  }
  // Then the pose again, robustly and with a stretch about the template's
  // centre: the frame is that of the head as a whole, not of its bumps.
  StretchedPose pose = RefineStretch(templ, templateNormals, templateAreas, scanTree, rigid.transform.Inverse(),
    templateLandmarks, scanLandmarks);
  if (!StretchIsPlausible(pose))
  {
    pose = StretchedPose();
    pose.motion = rigid.transform.Inverse();
  }
  const RigidTransform toTemplate = pose.motion.Inverse();
  Print("Rigid transform, scan to template:\n");
  for (int i = 0; i < 3; ++i)
  {
    for (int j = 0; j < 3; ++j)
    {
      PrintNumber(toTemplate.r[i][j]);
      Print(" ");
    }
    PrintNumber(toTemplate.t[i]);
    Print("\n");
  }
  Print("0 0 0 1\n");
  std::vector<Landmark> scanInTemplate(scanLandmarks.size());
  for (size_t i = 0; i < scanLandmarks.size(); ++i)
  {
    toTemplate.Apply(scanLandmarks[i].data(), scanInTemplate[i].data());
  }
  const double aligned = PrintResiduals("Landmark residuals after alignment (mm):", templateLandmarks, scanInTemplate);
  if (!(aligned <= kMaxLandmarkAlignment))
  {
    return Refuse("The fit failed: the landmarks do not fit the scan");
  }

  // The non-rigid fit runs in the scan's frame (its index is built there),
  // on the template and its landmarks stretched and moved by the pose; the
  // fitted points then go back to the template's frame.
  TriangleSurface moved = templ;
  for (size_t i = 0; i < moved.PointCount(); ++i)
  {
    pose.Apply(&templ.points[3 * i], &moved.points[3 * i]);
  }
  std::vector<std::array<double, 3>> landmarksOnScan(templateLandmarks.size());
  for (size_t i = 0; i < templateLandmarks.size(); ++i)
  {
    pose.Apply(templateLandmarks[i].data(), landmarksOnScan[i].data());
  }
  const FitResult fit = FitTemplate(moved, scanTree, landmarksOnScan, scanLandmarks);

  std::vector<Landmark> fittedLandmarks(templateLandmarks.size());
  for (size_t i = 0; i < templateLandmarks.size(); ++i)
  {
    toTemplate.Apply(fit.moved[i].data(), fittedLandmarks[i].data());
  }
  const double fitted = PrintResiduals("Landmark residuals after the fit (mm):", fittedLandmarks, scanInTemplate);
  Print("Distance from the fitted template points to the scan (mm): mean ");
  PrintNumber(fit.mean);
  Print(", 95th percentile ");
  PrintNumber(fit.p95);
  Print(", largest ");
  PrintNumber(fit.largest);
  Print("\nTemplate points without a match on the scan: ");
  PrintNumber(100.0 * fit.unmatched);
  Print("%\n");
  if (!(fit.unmatched <= kMaxUnmatched) || !(fit.mean <= kMaxMean))
  {
    return Refuse("The fit failed: the fitted template does not lie on the scan");
  }
  if (!(fit.change <= kMaxChange))
  {
    return Refuse("The fit failed: it did not converge");
  }
  if (!(fitted <= kMaxLandmarkFit))
  {
    return Refuse("The fit failed: the fitted template's landmarks lie far from the scan's");
  }

  vtkPoints* points = vtkPoints::New();
  points->SetNumberOfPoints(static_cast<vtkIdType>(templ.PointCount()));
  for (size_t i = 0; i < templ.PointCount(); ++i)
  {
    double p[3];
    toTemplate.Apply(&fit.points[3 * i], p);
    points->SetPoint(static_cast<vtkIdType>(i), p);
  }
  vtkSmartPointer<vtkPolyData> output = BuildSurface(points, templateSurface);
  if (!WriteSurface(output, outputPath))
  {
    return -1;
  }
  return 0;
}
