#include "rawscan.h"

#include "fit/rigidalign.h"
#include "fit/scanfile.h"
#include "fit/surfacetriangles.h"
#include "geometry/headframe.h"
#include "geometry/statistics.h"
#include "geometry/triangletree.h"
#include "geometry/vector.h"
#include "measure/headshape.h"
#include "surftools/curvefile.h"
#include "surftools/outputfile.h"
#include "surftools/surface.h"

#include <vtkCellArray.h>
#include <vtkCleanPolyData.h>
#include <vtkLinearSubdivisionFilter.h>
#include <vtkPoints.h>
#include <vtkQuadricDecimation.h>
#include <vtkSTLReader.h>
#include <vtkSTLWriter.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>

namespace
{
const double kPi = 3.14159265358979323846;

// Uniform numbers in [0, 1) and normal ones from one generator, the same on
// every platform (the standard distributions are not).
struct Random
{
  std::mt19937_64 engine;
  explicit Random(uint64_t seed)
    : engine(seed)
  {
  }
  double Uniform() { return static_cast<double>(engine() >> 11) * (1.0 / 9007199254740992.0); }
  double Normal()
  {
    const double u = 1.0 - Uniform();
    const double v = Uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * kPi * v);
  }
  void Direction(double d[3])
  {
    double length = 0;
    do
    {
      for (int k = 0; k < 3; ++k)
      {
        d[k] = Normal();
      }
      length = Norm(d);
    } while (length < 1e-6);
    for (int k = 0; k < 3; ++k)
    {
      d[k] /= length;
    }
  }
};

void Centre(const std::vector<double>& points, double c[3])
{
  c[0] = c[1] = c[2] = 0;
  const size_t n = points.size() / 3;
  for (size_t i = 0; i < n; ++i)
  {
    for (int k = 0; k < 3; ++k)
    {
      c[k] += points[3 * i + k];
    }
  }
  for (int k = 0; k < 3; ++k)
  {
    c[k] /= static_cast<double>(std::max<size_t>(1, n));
  }
}

std::vector<double> PointsOf(vtkPolyData* surface)
{
  std::vector<double> points(3 * static_cast<size_t>(surface->GetNumberOfPoints()));
  for (vtkIdType i = 0; i < surface->GetNumberOfPoints(); ++i)
  {
    surface->GetPoint(i, &points[3 * static_cast<size_t>(i)]);
  }
  return points;
}

// A transform as four rows, after a title line.
void WriteTransform(std::ostream& out, const RigidTransform& transform)
{
  out << "Rigid transform, surface to scanner:\n";
  for (int i = 0; i < 3; ++i)
  {
    char row[128];
    std::snprintf(row, sizeof row, "%.17g %.17g %.17g %.17g\n", transform.r[i][0], transform.r[i][1], transform.r[i][2],
      transform.t[i]);
    out << row;
  }
  out << "0 0 0 1\n";
}
}

bool WriteBinaryStl(vtkPolyData* surface, const std::string& path)
{
  auto writer = vtkSmartPointer<vtkSTLWriter>::New();
  writer->SetInputData(surface);
  writer->SetFileName(path.c_str());
  writer->SetFileTypeToBinary();
  const bool ok = UpdateWithoutErrors(writer) && writer->GetErrorCode() == 0;
  if (!ok)
  {
    std::cout << "Cannot write " << path << '\n';
  }
  return ok;
}

bool WriteLandmarks(const std::vector<Landmark>& landmarks, const std::string& path)
{
  OutputFile out = OpenOutputFile(path.c_str());
  for (const Landmark& l : landmarks)
  {
    char text[3 * kNumberTextSize];
    const char* end = FormatCurvePoint(l.data(), text);
    WriteText(out, text, end - text);
    WriteText(out, "\n", 1);
  }
  return CloseOutputFile(out, path.c_str());
}

void SmoothField::At(const double p[3], double d[3]) const
{
  double u[3];
  Subtract(p, center, u);
  const double r = Norm(u);
  for (int k = 0; k < 3; ++k)
  {
    d[k] = stretch[k] * u[k];
  }
  for (const Bump& b : bumps)
  {
    const double r2 = Distance2(p, b.center);
    const double w = std::exp(-r2 / (2.0 * b.width * b.width));
    for (int k = 0; k < 3; ++k)
    {
      d[k] += w * (b.vector[k] + (r > 0 ? b.radial * u[k] / r : 0.0));
    }
  }
  for (int k = 0; k < 3; ++k)
  {
    d[k] *= scale;
  }
}

SmoothField RandomField(const std::vector<double>& points, uint64_t seed, double amplitude, BumpDirection direction)
{
  Random random(seed);
  SmoothField field;
  Centre(points, field.center);
  const size_t n = points.size() / 3;
  for (int k = 0; k < 3; ++k)
  {
    field.stretch[k] = 0.02 * (2.0 * random.Uniform() - 1.0);
  }
  for (int b = 0; b < 6 && n > 0; ++b)
  {
    SmoothField::Bump bump;
    const size_t at = static_cast<size_t>(random.Uniform() * static_cast<double>(n));
    std::copy(&points[3 * at], &points[3 * at] + 3, bump.center);
    // From the centre: mostly outward or inward (growth, flattening), partly
    // sideways. Any: all of it in a random direction.
    // (One draw a statement: the order of the draws is then the same for every compiler.)
    const bool fromCentre = direction == BumpDirection::FromCentre;
    bump.radial = 0;
    if (fromCentre)
    {
      bump.radial = 4.0 + 8.0 * random.Uniform();
      bump.radial *= random.Uniform() < 0.5 ? -1.0 : 1.0;
    }
    random.Direction(bump.vector);
    const double size = fromCentre ? 6.0 * random.Uniform() : 4.0 + 8.0 * random.Uniform();
    for (double& v : bump.vector)
    {
      v *= size;
    }
    bump.width = 15.0 + 15.0 * random.Uniform();
    field.bumps.push_back(bump);
  }
  double largest = 0;
  for (size_t i = 0; i < n; ++i)
  {
    double d[3];
    field.At(&points[3 * i], d);
    largest = std::max(largest, Norm(d));
  }
  field.scale = largest > 0 ? amplitude / largest : 1.0;
  return field;
}

namespace
{
// The scan's surface, in the surface's frame: each triangle split in four
// (options.subdivisions times), the triangles whose centre lies below the cut or in a hole left out, the
// rest decimated (quadric error) to about options.triangles.
vtkSmartPointer<vtkPolyData> OpenSurface(vtkPolyData* surface, const RawScanOptions& options)
{
  auto subdivide = vtkSmartPointer<vtkLinearSubdivisionFilter>::New();
  subdivide->SetInputData(surface);
  subdivide->SetNumberOfSubdivisions(options.subdivisions);
  subdivide->Update();
  vtkPolyData* fine = subdivide->GetOutput();

  // The cut and the holes.
  auto kept = vtkSmartPointer<vtkCellArray>::New();
  for (vtkIdType c = 0; c < fine->GetNumberOfCells(); ++c)
  {
    double centroid[3];
    CellCentroid(fine, c, centroid);
    bool keep = centroid[2] >= options.cutBelow;
    for (const auto& hole : options.holes)
    {
      keep = keep && Distance2(centroid, hole.data()) > hole[3] * hole[3];
    }
    if (keep)
    {
      vtkIdType size;
      const vtkIdType* ids;
      fine->GetCellPoints(c, size, ids);
      kept->InsertNextCell(size, ids);
    }
  }
  auto open = vtkSmartPointer<vtkPolyData>::New();
  open->SetPoints(fine->GetPoints());
  open->SetPolys(kept);
  auto clean = vtkSmartPointer<vtkCleanPolyData>::New();
  clean->SetInputData(open);
  clean->PointMergingOff();
  clean->Update();

  auto decimate = vtkSmartPointer<vtkQuadricDecimation>::New();
  decimate->SetInputConnection(clean->GetOutputPort());
  const double cells = static_cast<double>(clean->GetOutput()->GetNumberOfCells());
  decimate->SetTargetReduction(cells > options.triangles ? 1.0 - options.triangles / cells : 0.0);
  decimate->VolumePreservationOn();
  decimate->Update();
  return decimate->GetOutput();
}

// The scanner's motion: a rotation about a random axis through `center`, by
// 60 to 100% of the largest angle, then a shift along a random direction by
// 60 to 100% of the largest length.
RigidTransform RandomMotion(const double center[3], const RawScanOptions& options, Random& random)
{
  double axis[3];
  random.Direction(axis);
  const double angle = (0.6 + 0.4 * random.Uniform()) * options.maxRotation * kPi / 180.0;
  double direction[3];
  random.Direction(direction);
  const double shift = (0.6 + 0.4 * random.Uniform()) * options.maxTranslation;
  RigidTransform motion = AxisRotation(axis, angle);
  for (int i = 0; i < 3; ++i)
  {
    motion.t[i] = center[i] + shift * direction[i] - Dot(motion.r[i], center);
  }
  return motion;
}

// `surface` with its points moved by `motion` (in double precision), on
// the same polygons.
vtkSmartPointer<vtkPolyData> MovedSurface(vtkPolyData* surface, const RigidTransform& motion)
{
  auto moved = vtkSmartPointer<vtkPoints>::New();
  moved->SetDataTypeToDouble();
  moved->SetNumberOfPoints(surface->GetNumberOfPoints());
  for (vtkIdType i = 0; i < surface->GetNumberOfPoints(); ++i)
  {
    double p[3];
    surface->GetPoint(i, p);
    motion.Apply(p, p);
    moved->SetPoint(i, p);
  }
  auto result = vtkSmartPointer<vtkPolyData>::New();
  result->SetPoints(moved);
  result->SetPolys(surface->GetPolys());
  return result;
}

// The id of the point of `points` farthest from `center` along `direction`
// (the first of equals).
vtkIdType Farthest(const std::vector<double>& points, const double center[3], const double direction[3])
{
  vtkIdType best = 0;
  double farthest = -1e300;
  for (size_t i = 0; i < points.size() / 3; ++i)
  {
    double u[3];
    Subtract(&points[3 * i], center, u);
    const double along = Dot(u, direction);
    if (along > farthest)
    {
      farthest = along;
      best = static_cast<vtkIdType>(i);
    }
  }
  return best;
}

// The point nearest to `target`.
vtkIdType Nearest(const std::vector<double>& points, const double target[3])
{
  vtkIdType best = 0;
  double least = Distance2(&points[0], target);
  for (size_t i = 3; i < points.size(); i += 3)
  {
    const double d = Distance2(&points[i], target);
    if (d < least)
    {
      least = d;
      best = static_cast<vtkIdType>(i / 3);
    }
  }
  return best;
}
}

RawScan MakeRawScan(vtkPolyData* surface, const std::vector<Landmark>& landmarks, const RawScanOptions& options)
{
  Random random(options.seed);
  const vtkSmartPointer<vtkPolyData> open = OpenSurface(surface, options);
  RawScan scan;
  double center[3];
  Centre(PointsOf(surface), center);
  scan.motion = RandomMotion(center, options, random);
  scan.surface = MovedSurface(open, scan.motion);
  for (const Landmark& l : landmarks)
  {
    Landmark m;
    scan.motion.Apply(l.data(), m.data());
    for (double& v : m)
    {
      v += options.landmarkNoise * random.Normal();
    }
    scan.landmarks.push_back(m);
  }
  return scan;
}

std::vector<vtkIdType> HeadLandmarkIds(vtkPolyData* surface)
{
  const std::vector<double> points = PointsOf(surface);
  double center[3];
  Centre(points, center);
  const double directions[5][3] = { { 0, -1, 0 }, { -1, 0, 0 }, { 1, 0, 0 }, { 0, 0, 1 }, { 0, 1, 0 } };
  std::vector<vtkIdType> ids;
  for (const auto& d : directions)
  {
    ids.push_back(Farthest(points, center, d));
  }
  // The tragi in front of the ears, where the line through the ear midpoint
  // along x leaves the head (the auricles stand out farther behind them).
  const TriangleSurface triangles = SurfaceTriangles(surface);
  for (int side = 1; side <= 2; ++side)
  {
    double tragus[3];
    if (FarthestCrossing(triangles, kEarMidpoint, directions[side], tragus))
    {
      ids[side] = Nearest(points, tragus);
    }
  }
  double nasion[3];
  if (FindNasion(surface, nasion))
  {
    ids[0] = Nearest(points, nasion);
  }
  return ids;
}

namespace
{
// The template deformed by `field`, on the template's polygons.
vtkSmartPointer<vtkPolyData> DeformedSurface(
  vtkPolyData* templ, const std::vector<double>& points, const SmoothField& field)
{
  auto deformedPoints = vtkSmartPointer<vtkPoints>::New();
  deformedPoints->SetNumberOfPoints(templ->GetNumberOfPoints());
  for (size_t i = 0; i < points.size() / 3; ++i)
  {
    double d[3];
    field.At(&points[3 * i], d);
    deformedPoints->SetPoint(
      static_cast<vtkIdType>(i), points[3 * i] + d[0], points[3 * i + 1] + d[1], points[3 * i + 2] + d[2]);
  }
  return BuildSurface(deformedPoints, templ);
}

// A case's scan options: cut 35% of the head's height below its centre,
// holes at both ears (the left and right landmarks, 12 mm), on the upper
// back (20 mm, hair) and at three random places (6 to 10 mm).
RawScanOptions CaseOptions(
  vtkPolyData* truth, const std::vector<Landmark>& trueLandmarks, uint64_t seed, int triangles, double maxRotation)
{
  double bounds[6];
  truth->GetBounds(bounds);
  const std::vector<double> points = PointsOf(truth);
  double center[3];
  Centre(points, center);
  RawScanOptions options;
  options.triangles = triangles;
  options.maxRotation = maxRotation;
  options.cutBelow = center[2] - 0.35 * (bounds[5] - bounds[4]);
  options.seed = seed * 7919 + 17;
  Random random(seed * 104729 + 3);
  for (int side = 1; side <= 2; ++side)
  {
    options.holes.push_back({ trueLandmarks[side][0], trueLandmarks[side][1], trueLandmarks[side][2], 12.0 });
  }
  // The point of the head farthest along the upper-back direction.
  const double back[3] = { 0, 0.55, 0.83 };
  const vtkIdType top = Farthest(points, center, back);
  options.holes.push_back({ points[3 * top], points[3 * top + 1], points[3 * top + 2], 20.0 });
  for (int h = 0; h < 3; ++h)
  {
    double p[3];
    truth->GetPoint(static_cast<vtkIdType>(random.Uniform() * static_cast<double>(truth->GetNumberOfPoints())), p);
    options.holes.push_back({ p[0], p[1], p[2], 6.0 + 4.0 * random.Uniform() });
  }
  return options;
}

// Writes a case's scan (binary STL), landmarks and motion into `dir`; false
// when a file cannot be written.
bool WriteScanFiles(const RawScan& scan, const std::vector<Landmark>& templateLandmarks,
  const std::vector<Landmark>& trueLandmarks, const std::string& dir)
{
  bool ok = WriteBinaryStl(scan.surface, dir + "/scan.stl");
  ok = WriteLandmarks(templateLandmarks, dir + "/template_landmarks.crv") && ok;
  ok = WriteLandmarks(scan.landmarks, dir + "/scan_landmarks.crv") && ok;
  std::vector<Landmark> moved = trueLandmarks;
  for (Landmark& l : moved)
  {
    scan.motion.Apply(l.data(), l.data());
  }
  ok = WriteLandmarks(moved, dir + "/true_landmarks.crv") && ok;
  std::ostringstream motion;
  WriteTransform(motion, scan.motion);
  const std::string text = motion.str();
  return WriteOutputFile((dir + "/motion.txt").c_str(), text.data(), text.size()) && ok;
}
}

bool WriteFitCase(
  vtkPolyData* templ, const std::string& dir, uint64_t seed, int triangles, BumpDirection direction, double maxRotation)
{
  const std::vector<double> points = PointsOf(templ);
  const SmoothField field = RandomField(points, seed, 15.0, direction);
  const vtkSmartPointer<vtkPolyData> truth = DeformedSurface(templ, points, field);
  bool ok = WriteSurface(truth, (dir + "/truth.vtk").c_str());

  std::vector<Landmark> templateLandmarks;
  std::vector<Landmark> trueLandmarks;
  for (vtkIdType id : HeadLandmarkIds(templ))
  {
    Landmark t;
    templ->GetPoint(id, t.data());
    templateLandmarks.push_back(t);
    truth->GetPoint(id, t.data());
    trueLandmarks.push_back(t);
  }
  const RawScan scan =
    MakeRawScan(truth, trueLandmarks, CaseOptions(truth, trueLandmarks, seed, triangles, maxRotation));
  ok = WriteScanFiles(scan, templateLandmarks, trueLandmarks, dir) && ok;
  if (!ok)
  {
    std::cout << "Cannot write the case in " << dir << '\n';
  }
  return ok;
}

bool ParseTransform(const std::string& output, RigidTransform& transform)
{
  const size_t at = output.find("Rigid transform");
  if (at == std::string::npos)
  {
    return false;
  }
  std::istringstream in(output.substr(output.find('\n', at) + 1));
  for (int i = 0; i < 3; ++i)
  {
    in >> transform.r[i][0] >> transform.r[i][1] >> transform.r[i][2] >> transform.t[i];
  }
  return static_cast<bool>(in);
}

namespace
{
// Reads a case's truth, scan and true motion; false when one of them cannot
// be read.
bool ReadCase(
  const std::string& dir, vtkSmartPointer<vtkPolyData>& truth, TriangleSurface& scan, RigidTransform& motion)
{
  truth = ReadSurface((dir + "/truth.vtk").c_str());
  const std::string motionText = [&dir] {
    std::ifstream in(dir + "/motion.txt");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }();
  return truth && ReadScan((dir + "/scan.stl").c_str(), scan) && ParseTransform(motionText, motion);
}

// The shape's error: the distances of the fitted places, moved by the rigid
// motion that brings them closest to the true ones, from the true ones.
std::vector<double> ShapeDistances(const std::vector<Landmark>& truePlaces, const std::vector<Landmark>& fittedPlaces)
{
  const RigidTransform best = FitLandmarks(fittedPlaces, truePlaces);
  std::vector<double> shape;
  for (size_t i = 0; i < truePlaces.size(); ++i)
  {
    double f[3];
    best.Apply(fittedPlaces[i].data(), f);
    shape.push_back(Distance(f, truePlaces[i].data()));
  }
  return shape;
}
}

FitErrors ScoreFit(const std::string& dir, vtkPolyData* fitted, const RigidTransform& transform)
{
  FitErrors errors;
  vtkSmartPointer<vtkPolyData> truth;
  TriangleSurface scan;
  RigidTransform motion;
  if (!ReadCase(dir, truth, scan, motion) || truth->GetNumberOfPoints() != fitted->GetNumberOfPoints())
  {
    errors.mean = errors.p95 = errors.largest = errors.onScan = 1e9;
    return errors;
  }
  // The scan in the template's frame twice: by the true motion (to find
  // where it has surface) and by the fit's transform (to measure how far the
  // fitted points lie from it).
  const TriangleSurface trueFrame = Moved(scan, motion.Inverse());
  const TriangleSurface fitFrame = Moved(scan, transform);
  const TriangleTree trueTree(trueFrame.points, trueFrame.triangles);
  const TriangleTree fitTree(fitFrame.points, fitFrame.triangles);
  std::vector<double> distances;
  std::vector<double> scanDistances;
  std::vector<Landmark> truePlaces;
  std::vector<Landmark> fittedPlaces;
  const RigidTransform toScan = transform.Inverse();
  double onScan = 0;
  const vtkIdType count = truth->GetNumberOfPoints();
  for (vtkIdType i = 0; i < count; ++i)
  {
    double t[3];
    double f[3];
    truth->GetPoint(i, t);
    fitted->GetPoint(i, f);
    if (!trueTree.Closest(t, 0.5).found)
    {
      continue;
    }
    distances.push_back(Distance(t, f));
    truePlaces.push_back({ t[0], t[1], t[2] });
    fittedPlaces.push_back({ f[0], f[1], f[2] });
    double ts[3];
    double fs[3];
    motion.Apply(t, ts);
    toScan.Apply(f, fs);
    scanDistances.push_back(Distance(ts, fs));
    onScan += fitTree.Closest(f, 1e9).distance;
  }
  if (distances.empty())
  {
    return errors;
  }
  errors.covered = static_cast<double>(distances.size()) / static_cast<double>(count);
  errors.onScan = onScan / static_cast<double>(distances.size());
  const Summary place = Summarize(distances);
  errors.mean = place.mean;
  errors.p95 = place.p95;
  errors.largest = place.largest;
  const Summary inScanner = Summarize(scanDistances);
  errors.scanMean = inScanner.mean;
  errors.scanP95 = inScanner.p95;
  std::vector<double> shape = ShapeDistances(truePlaces, fittedPlaces);
  const Summary ofShape = Summarize(shape);
  errors.shapeMean = ofShape.mean;
  errors.shapeP95 = ofShape.p95;
  return errors;
}
