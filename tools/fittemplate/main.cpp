// fittemplate: brings a raw scan (its own triangles, position and
// orientation, open at the neck, with holes) onto the template mesh: a rigid
// alignment into the template's frame from landmarks, refined against the
// whole surface, then robustly with a stretch of the head about its centre,
// then a non-rigid fit of the stretched template to the scan. Writes the
// template with its points moved onto the scan, so that every tool that
// works on the template mesh takes it. Given no landmark file for the scan
// (four arguments), it finds the scan's pose and landmarks itself, prints
// them to be checked and fits with them; where the scan does not show its
// pose clearly it refuses and asks for them.

#include "fit/findlandmarks.h"
#include "fit/fitcheck.h"
#include "fit/landmarkcheck.h"
#include "fit/landmarks.h"
#include "fit/rigidalign.h"
#include "fit/scanfile.h"
#include "fit/stretchalign.h"
#include "fit/surfacetriangles.h"
#include "fit/templatefit.h"
#include "geometry/headframe.h"
#include "geometry/triangletree.h"
#include "geometry/vector.h"
#include "parallel/parallel.h"
#include "surftools/curvefile.h"
#include "surftools/outputfile.h"
#include "surftools/process.h"
#include "surftools/surface.h"

#include <vtkPoints.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <string>

namespace
{
// Thresholds past which a fit is taken to have failed.
constexpr double kMinMatchedAlignment = 0.2;   // share of template samples matched by the rigid alignment
constexpr double kMaxLandmarkAlignment = 20.0; // mm on the template's head (times the scale on the scan's), root
                                               // mean square of the landmark residuals after alignment
constexpr double kMaxFoundAlignment = 10.0;    // mm, the same for landmarks found on the scan: a head's
                                               // landmarks lie within about 5 mm of the template's after
                                               // the alignment, a landmark found astray 20 mm and more
constexpr double kMaxLandmarkFit = 10.0;       // mm, the same after the fit
constexpr double kMaxUnmatched = 0.8;          // share of template points without a match after the fit
constexpr double kMaxMean = 0.5;               // mm, mean distance of the fitted points to the scan
constexpr double kMaxChange = 1.0;             // mm, 99th percentile of the point moves of the fit's last step
constexpr double kMaxStretch = 0.3;            // largest entry of S - I taken as a head's stretch
constexpr double kMinScale = 0.5;              // the scan's head against the template's, by their landmarks:
constexpr double kMaxScale = 2.0;              // a newborn's to an adult's on a child's template, and room
constexpr double kLandmarkWeight = 0.5;        // the landmarks in the dense fit, all together, against the surface
constexpr double kTemplateLandmarkReach = 15;  // mm: the farthest a template landmark file's row may lie from the
                                               // template's own landmark of that name, to go with found ones

// What a fit starts from, read and checked.
struct Inputs
{
  vtkSmartPointer<vtkPolyData> templateSurface;
  TriangleSurface templ;
  TriangleSurface scan;
  std::vector<Landmark> templateLandmarks;
  std::vector<Landmark> scanLandmarks;
  double scale = 1;   // of the template to the scan's size, once scaled
  bool found = false; // the scan's landmarks were found on it, not given
};

void Print(const char* text)
{
  std::cout << text;
}

void PrintNumber(double value)
{
  WriteNumber(std::cout, value);
}

// The landmark residuals: each distance between a template landmark and its
// scan landmark brought into the template's frame, printed, and their root
// mean square and largest.
struct Residuals
{
  double rms = 0;
  double largest = 0;
};

Residuals PrintResiduals(const char* title, const std::vector<Landmark>& templ, const std::vector<Landmark>& scan)
{
  Print(title);
  double sum = 0;
  Residuals residuals;
  for (size_t i = 0; i < templ.size(); ++i)
  {
    const double d = Distance(templ[i].data(), scan[i].data());
    Print(" ");
    PrintNumber(d);
    sum += d * d;
    residuals.largest = std::max(residuals.largest, d);
  }
  residuals.rms = std::sqrt(sum / static_cast<double>(templ.size()));
  Print(" (rms ");
  PrintNumber(residuals.rms);
  Print(")\n");
  return residuals;
}

void PrintTransform(const RigidTransform& toTemplate)
{
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
}

int Refuse(const std::string& message)
{
  std::cout << message << '\n';
  return -1;
}

// Reads the landmark files and checks that they can anchor an alignment. 0
// when they can, else the exit status (after its message): a file that
// cannot be opened ends the run as every curve file does.
int ReadLandmarkFiles(const char* templatePath, const char* scanPath, Inputs& in)
{
  for (const auto& [path, landmarks] :
    { std::make_pair(templatePath, &in.templateLandmarks), std::make_pair(scanPath, &in.scanLandmarks) })
  {
    if (!ReadLandmarks(path, *landmarks))
    {
      std::cout << CurveFileError(path, true);
      return 1;
    }
  }
  if (in.templateLandmarks.size() != in.scanLandmarks.size())
  {
    return Refuse(std::string("The landmark files hold different numbers of landmarks: ") +
      std::to_string(in.templateLandmarks.size()) + " in " + templatePath + ", " +
      std::to_string(in.scanLandmarks.size()) + " in " + scanPath);
  }
  for (const auto& [landmarks, path] :
    { std::make_pair(&in.templateLandmarks, templatePath), std::make_pair(&in.scanLandmarks, scanPath) })
  {
    if (const char* problem = LandmarkProblem(*landmarks))
    {
      return Refuse(std::string("Cannot align with the landmarks of ") + path + ": " + problem);
    }
  }
  return 0;
}

// Reads the template and the scan (the first two paths). 0 when both are
// read, else the exit status (after its message).
int ReadTemplateAndScan(const char* templatePath, const char* scanPath, Inputs& in)
{
  in.templateSurface = ReadSurface(templatePath);
  if (!in.templateSurface)
  {
    return -1;
  }
  in.templ = SurfaceTriangles(in.templateSurface);
  if (in.templ.triangles.empty())
  {
    return Refuse(std::string("Template ") + templatePath + " has no triangle");
  }
  if (!ReadScan(scanPath, in.scan))
  {
    return -1;
  }
  double extent;
  if (const char* unit = ScanUnitProblem(in.scan, extent))
  {
    return Refuse(std::string("Cannot fit scan ") + scanPath + ": it is " + NumberText(extent) +
      " across, the size of a head in " + unit + "; the scan must be in millimetres, as the template");
  }
  return 0;
}

// The rows of the found landmarks that go with a template landmark file of
// `count` rows: all five, or the three on the midline; empty for another
// count.
std::vector<int> FoundRows(size_t count)
{
  if (count == kFiveLandmarks)
  {
    return { 0, 1, 2, 3, 4 };
  }
  return count == 3 ? std::vector<int>{ 0, 3, 4 } : std::vector<int>{};
}

// Checks the template's landmark file against the template's own landmarks
// (TemplateLandmarks): the found landmarks go with it only when it holds
// them in the recommended order. 0 when it does, else the exit status (after
// its message).
int CheckTemplateLandmarks(const char* path, const Inputs& in, const std::vector<int>& rows)
{
  const std::string refusal = std::string("Cannot find landmarks to go with ") + path + ": ";
  if (rows.empty())
  {
    return Refuse(refusal + "it holds " + std::to_string(in.templateLandmarks.size()) +
      " landmarks, not the five of the recommended order (nasion, right tragus, left tragus, vertex, "
      "opisthocranion) or the three on the midline (nasion, vertex, opisthocranion)");
  }
  std::vector<Landmark> own;
  if (!TemplateLandmarks(in.templ, own))
  {
    return Refuse(std::string("Cannot find landmarks on a template without a face with a nasion; give the "
                              "scan's landmarks too"));
  }
  for (size_t i = 0; i < rows.size(); ++i)
  {
    const double off = Distance(in.templateLandmarks[i].data(), own[rows[i]].data());
    if (!(off <= kTemplateLandmarkReach))
    {
      return Refuse(refusal + "its landmark " + std::to_string(i + 1) + " lies " + NumberText(off) +
        " mm from the template's " + kLandmarkNames[rows[i]] + "; give them in the recommended order");
    }
  }
  return 0;
}

// Prints the landmarks found, as curve rows with their names and how sure
// each is, and the cues they were found by with the least of the printed
// landmarks' certainties.
void PrintFound(const FoundLandmarks& found, const std::vector<int>& rows)
{
  Print("Landmarks found on the scan (x y z name certainty):\n");
  for (int row : rows)
  {
    char text[3 * kNumberTextSize];
    const char* end = FormatCurvePoint(found.landmarks[row].point.data(), text);
    std::cout << std::string(static_cast<const char*>(text), end) << ' ' << found.landmarks[row].name << ' ';
    PrintNumber(found.landmarks[row].confidence);
    Print("\n");
  }
  Print("Found by: mirror plane ");
  PrintNumber(found.mirrorResidual);
  Print(" mm (the best other ");
  PrintNumber(found.mirrorRunnerUp);
  Print(found.xFromPlane ? " mm, set the sides), " : " mm, not used), ");
  Print(found.upFromOpening ? "neck opening " : "opening ");
  PrintNumber(found.openingAngle);
  Print(found.upFromOpening ? " degrees from the template's up (set up), template " : " degrees, template ");
  PrintNumber(found.poseDistance);
  Print(" mm from the scan (turned another way ");
  PrintNumber(found.poseRunnerUp);
  Print(" mm); certainty ");
  double least = 1;
  for (int row : rows)
  {
    least = std::min(least, found.landmarks[row].confidence);
  }
  PrintNumber(least);
  Print("\n");
}

// Finds the scan's landmarks (the four-argument form): reads the template's
// landmark file, checks it, finds the landmarks and prints those that go
// with the file, in its order. 0 when found, else the exit status (after its
// message).
int FindScanLandmarks(const char* scanPath, const char* templatePath, const TriangleTree& scanTree, Inputs& in)
{
  if (!ReadLandmarks(templatePath, in.templateLandmarks))
  {
    std::cout << CurveFileError(templatePath, true);
    return 1;
  }
  if (const char* problem = LandmarkProblem(in.templateLandmarks))
  {
    return Refuse(std::string("Cannot align with the landmarks of ") + templatePath + ": " + problem);
  }
  const std::vector<int> rows = FoundRows(in.templateLandmarks.size());
  if (const int status = CheckTemplateLandmarks(templatePath, in, rows))
  {
    return status;
  }
  const FoundLandmarks found = FindLandmarks(in.templ, in.scan, scanTree);
  if (!found.problem.empty())
  {
    return Refuse(std::string("Cannot find the landmarks of scan ") + scanPath + ": " + found.problem +
      "; give them in a landmark file (the five-argument form)");
  }
  PrintFound(found, rows);
  for (int row : rows)
  {
    in.scanLandmarks.push_back(found.landmarks[row].point);
  }
  in.found = true;
  return 0;
}

// A single swap of two landmarks in `order`, in words ("the patient's right
// and left tragus swapped", or "landmarks 2 and 3 swapped"); empty for
// another order.
std::string SwapText(const std::vector<int>& order)
{
  std::vector<size_t> moved;
  for (size_t i = 0; i < order.size(); ++i)
  {
    if (order[i] != static_cast<int>(i))
    {
      moved.push_back(i);
    }
  }
  if (moved.size() != 2)
  {
    return "";
  }
  const std::string first = RecommendedLandmarkName(moved[0], order.size());
  const std::string second = RecommendedLandmarkName(moved[1], order.size());
  if (first == "the patient's right tragus" && second == "the patient's left tragus")
  {
    return " (the patient's right and left tragus swapped)";
  }
  return " (landmarks " + std::to_string(moved[0] + 1) + " and " + std::to_string(moved[1] + 1) + " swapped)";
}

// To follow the refusal of a fit from landmarks found on the scan: what to
// do instead; empty for given landmarks.
std::string FoundAdvice(const Inputs& in)
{
  return in.found ? "; the landmarks were found on the scan, not given: check them above, correct them where "
                    "they are off and give them as the scan's landmark file (the five-argument form)"
                  : "";
}

// Why landmarks may not fit, to follow a refusal: an order of the scan's
// landmarks that fits much better, where there is one, else the landmark
// lying farthest off when the landmarks are fitted alone.
std::string LandmarkHint(const Inputs& in)
{
  if (in.found)
  {
    return FoundAdvice(in);
  }
  const std::vector<int> order =
    BetterLandmarkOrder(in.scanLandmarks, in.templateLandmarks, kMaxLandmarkAlignment * in.scale);
  if (!order.empty())
  {
    std::string hint = "; the scan's landmarks fit much better in the order";
    for (int i : order)
    {
      hint += ' ' + std::to_string(i + 1);
    }
    return hint + SwapText(order);
  }
  const std::vector<double> residuals = LandmarkResiduals(in.scanLandmarks, in.templateLandmarks);
  const size_t far = static_cast<size_t>(std::max_element(residuals.begin(), residuals.end()) - residuals.begin());
  const std::string name = RecommendedLandmarkName(far, residuals.size());
  return "; of the landmarks fitted alone, landmark " + std::to_string(far + 1) +
    (name.empty() ? "" : " (" + name + " in the recommended order)") + " lies farthest off (" +
    NumberText(residuals[far]) + " mm)";
}

// The template scaled about the ear midpoint to the scan's size, as the
// similarity of the landmarks says: the alignment and the fit work on a
// template of the scan's size, and the scan keeps its own (head size is what
// is measured). 0 when the scale is a head's, else the exit status (after
// its message).
int ScaleTemplate(Inputs& in)
{
  const double scale = LandmarkScale(in.templateLandmarks, in.scanLandmarks);
  if (!(scale >= kMinScale && scale <= kMaxScale))
  {
    return Refuse(std::string("The fit failed: the scan's landmarks span ") + NumberText(scale) +
      " times the template's, not a head's size against it" + LandmarkHint(in));
  }
  in.scale = scale;
  auto scaled = [scale](double* p) {
    for (int k = 0; k < 3; ++k)
    {
      p[k] = kEarMidpoint[k] + scale * (p[k] - kEarMidpoint[k]);
    }
  };
  for (size_t i = 0; i < in.templ.PointCount(); ++i)
  {
    scaled(&in.templ.points[3 * i]);
  }
  for (Landmark& l : in.templateLandmarks)
  {
    scaled(l.data());
  }
  return 0;
}

// The template's pose on the scan: the rigid alignment, scan to template,
// from the landmarks and refined against the whole surface, then the pose
// again, robustly and with a stretch about the template's centre (the frame
// is that of the head as a whole, not of its bumps), or without the stretch
// where it is not a head's. False after the message when too little of the
// template found the scan.
bool AlignScan(const Inputs& in, const TriangleTree& scanTree, StretchedPose& pose)
{
  std::vector<double> templateNormals;
  std::vector<double> templateAreas;
  PointNormalsAndAreas(in.templ, templateNormals, templateAreas);
  const RigidTransform start = FitLandmarks(in.scanLandmarks, in.templateLandmarks);
  const RigidRefinement rigid =
    RefineAlignment(in.templ, templateNormals, templateAreas, scanTree, start, in.templateLandmarks, in.scanLandmarks);
  if (!(rigid.matched >= kMinMatchedAlignment))
  {
    Refuse("The fit failed: only " + NumberText(100.0 * rigid.matched) +
      "% of the template found the scan after the rigid alignment" + LandmarkHint(in));
    return false;
  }
  pose = RefineStretch(in.templ, templateNormals, templateAreas, scanTree, rigid.transform.Inverse(),
    in.templateLandmarks, in.scanLandmarks);
  if (!StretchIsPlausible(pose, kMaxStretch))
  {
    pose = StretchedPose();
    pose.motion = rigid.transform.Inverse();
  }
  return true;
}

// The landmarks taken by `transform`.
std::vector<Landmark> Moved(const RigidTransform& transform, const std::vector<Landmark>& landmarks)
{
  std::vector<Landmark> moved(landmarks.size());
  for (size_t i = 0; i < landmarks.size(); ++i)
  {
    transform.Apply(landmarks[i].data(), moved[i].data());
  }
  return moved;
}

// The template's landmarks taken by the pose, in the scan's frame.
std::vector<Landmark> PosedLandmarks(const Inputs& in, const StretchedPose& pose)
{
  std::vector<Landmark> posed(in.templateLandmarks.size());
  for (size_t i = 0; i < posed.size(); ++i)
  {
    pose.Apply(in.templateLandmarks[i].data(), posed[i].data());
  }
  return posed;
}

// The non-rigid fit runs in the scan's frame (its index is built there), on
// the template and its landmarks taken by the pose; the landmarks pull the
// template's toward the scan's as much as half the surface does, so that a
// head whose proportions are not the template's (the ears further back, the
// vertex higher) is fitted in correspondence.
FitResult FitOnScan(const Inputs& in, const TriangleTree& scanTree, const StretchedPose& pose)
{
  TriangleSurface moved = in.templ;
  for (size_t i = 0; i < moved.PointCount(); ++i)
  {
    pose.Apply(&in.templ.points[3 * i], &moved.points[3 * i]);
  }
  FitOptions options;
  options.landmarkWeight = kLandmarkWeight;
  return FitTemplate(moved, scanTree, PosedLandmarks(in, pose), in.scanLandmarks, options);
}

// The fit's frame: the pose's rotation, and the translation that brings the
// template's ear midpoint, taken by the pose, back to the ear midpoint (the
// midpoint of the scan's ears is the frame's origin, as on the template).
RigidTransform FitFrame(const StretchedPose& pose)
{
  RigidTransform toScan = pose.motion;
  double anchor[3];
  pose.Apply(kEarMidpoint, anchor);
  for (int a = 0; a < 3; ++a)
  {
    toScan.t[a] = anchor[a] -
      (toScan.r[a][0] * kEarMidpoint[0] + toScan.r[a][1] * kEarMidpoint[1] + toScan.r[a][2] * kEarMidpoint[2]);
  }
  return toScan.Inverse();
}

// Prints the fit's figures and judges them; 0 when the fit holds (with a
// line that says why to check it, where a figure calls for that), else the
// exit status (after its message).
int JudgeFit(const Inputs& in, const FitResult& fit, const Residuals& landmarks)
{
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
    return Refuse("The fit failed: the fitted template does not lie on the scan" + FoundAdvice(in));
  }
  if (!(fit.change <= kMaxChange))
  {
    return Refuse("The fit failed: it did not converge" + FoundAdvice(in));
  }
  if (!(landmarks.rms <= kMaxLandmarkFit))
  {
    return Refuse("The fit failed: the fitted template's landmarks lie far from the scan's" + FoundAdvice(in));
  }
  const std::string check = FitCheckReasons(100.0 * fit.unmatched, landmarks.largest);
  if (!check.empty())
  {
    std::cout << "Check the fit: " << check << '\n';
  }
  return 0;
}

// Writes the template with the fitted points, brought back to the
// template's frame.
bool WriteFitted(const Inputs& in, const FitResult& fit, const RigidTransform& toTemplate, const char* path)
{
  auto points = vtkSmartPointer<vtkPoints>::New();
  points->SetNumberOfPoints(static_cast<vtkIdType>(in.templ.PointCount()));
  for (size_t i = 0; i < in.templ.PointCount(); ++i)
  {
    double p[3];
    toTemplate.Apply(&fit.points[3 * i], p);
    points->SetPoint(static_cast<vtkIdType>(i), p);
  }
  return WriteSurface(BuildSurface(points, in.templateSurface), path);
}
}

int main(int argc, char* argv[])
{
  QuietVtk();
  UseWorkThreads();
  if (argc != 5 && argc != 6)
  {
    std::cout << "Usage: template.vtk scan.(vtk|vtp|stl|ply|obj) template_landmarks.crv scan_landmarks.crv fitted.vtk\n"
                 "       template.vtk scan.(vtk|vtp|stl|ply|obj) template_landmarks.crv fitted.vtk\n"
                 "Inputs: the template mesh, a raw scan of a head, and the same landmarks (at least 3, in the\n"
                 "        same order) on the template and on the scan, as curve files\n"
                 "Output: fitted.vtk, the template with its points moved onto the scan, in the template's frame\n"
                 "Without the scan's landmarks: finds the scan's pose and the places on it of the template's five\n"
                 "        landmarks (nasion, right tragus, left tragus, vertex, opisthocranion) or three on the\n"
                 "        midline, prints them as curve rows to check (and give as scan_landmarks.crv where they\n"
                 "        are off), and fits with them\n"
                 "Performs: rigid alignment of the scan from the landmarks, refined against the whole surface,\n"
                 "          then a non-rigid fit of the template to the scan.\n";
    return -1;
  }
  Inputs in;
  if (const int status = ReadTemplateAndScan(argv[1], argv[2], in))
  {
    return status;
  }
  const TriangleTree scanTree(in.scan.points, in.scan.triangles);
  if (const int status =
        argc == 5 ? FindScanLandmarks(argv[2], argv[3], scanTree, in) : ReadLandmarkFiles(argv[3], argv[4], in))
  {
    return status;
  }
  if (const int status = ScaleTemplate(in))
  {
    return status;
  }
  StretchedPose pose;
  if (!AlignScan(in, scanTree, pose))
  {
    return -1;
  }
  const RigidTransform toTemplate = FitFrame(pose);
  PrintTransform(toTemplate);
  Print("Template scaled to the scan's landmarks by ");
  PrintNumber(in.scale);
  Print("\n");
  const std::vector<Landmark> scanInTemplate = Moved(toTemplate, in.scanLandmarks);
  const Residuals aligned = PrintResiduals(
    "Landmark residuals after alignment (mm):", Moved(toTemplate, PosedLandmarks(in, pose)), scanInTemplate);
  if (!(aligned.rms <= (in.found ? kMaxFoundAlignment : kMaxLandmarkAlignment) * in.scale))
  {
    return Refuse("The fit failed: the landmarks do not fit the scan" + LandmarkHint(in));
  }

  const FitResult fit = FitOnScan(in, scanTree, pose);
  // The fitted landmarks back in the template's frame.
  const Residuals fitted =
    PrintResiduals("Landmark residuals after the fit (mm):", Moved(toTemplate, fit.moved), scanInTemplate);
  if (const int status = JudgeFit(in, fit, fitted))
  {
    return status;
  }
  return WriteFitted(in, fit, toTemplate, argv[argc - 1]) ? 0 : -1;
}
