#include "rawscan.h"

#include "surftools/curvefile.h"
#include "surftools/outputfile.h"
#include "fit/scanfile.h"
#include "geometry/statistics.h"
#include "surftools/surface.h"
#include "geometry/triangletree.h"

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
      length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
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
    std::snprintf(row, sizeof row, "%.17g %.17g %.17g %.17g\n", transform.r[i][0], transform.r[i][1],
      transform.r[i][2], transform.t[i]);
    out << row;
  }
  out << "0 0 0 1\n";
}
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
  const double u[3] = { p[0] - center[0], p[1] - center[1], p[2] - center[2] };
  const double r = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
  for (int k = 0; k < 3; ++k)
  {
    d[k] = stretch[k] * u[k];
  }
  for (const Bump& b : bumps)
  {
    const double r2 = (p[0] - b.center[0]) * (p[0] - b.center[0]) + (p[1] - b.center[1]) * (p[1] - b.center[1]) +
      (p[2] - b.center[2]) * (p[2] - b.center[2]);
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
    largest = std::max(largest, std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]));
  }
  field.scale = largest > 0 ? amplitude / largest : 1.0;
  return field;
}

RawScan MakeRawScan(vtkPolyData* surface, const std::vector<Landmark>& landmarks, const RawScanOptions& options)
{
  Random random(options.seed);
  auto subdivide = vtkSmartPointer<vtkLinearSubdivisionFilter>::New();
  subdivide->SetInputData(surface);
  subdivide->SetNumberOfSubdivisions(1);
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
      const double d2 = (centroid[0] - hole[0]) * (centroid[0] - hole[0]) +
        (centroid[1] - hole[1]) * (centroid[1] - hole[1]) + (centroid[2] - hole[2]) * (centroid[2] - hole[2]);
      keep = keep && d2 > hole[3] * hole[3];
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

  // The motion: about the surface's centre, then along a random direction.
  RawScan scan;
  double center[3];
  Centre(PointsOf(surface), center);
  double axis[3];
  random.Direction(axis);
  const double angle = (0.6 + 0.4 * random.Uniform()) * options.maxRotation * kPi / 180.0;
  double direction[3];
  random.Direction(direction);
  const double shift = (0.6 + 0.4 * random.Uniform()) * options.maxTranslation;
  const double c = std::cos(angle);
  const double s = std::sin(angle);
  const double& x = axis[0];
  const double& y = axis[1];
  const double& z = axis[2];
  const double r[3][3] = { { c + x * x * (1 - c), x * y * (1 - c) - z * s, x * z * (1 - c) + y * s },
    { y * x * (1 - c) + z * s, c + y * y * (1 - c), y * z * (1 - c) - x * s },
    { z * x * (1 - c) - y * s, z * y * (1 - c) + x * s, c + z * z * (1 - c) } };
  for (int i = 0; i < 3; ++i)
  {
    for (int j = 0; j < 3; ++j)
    {
      scan.motion.r[i][j] = r[i][j];
    }
    scan.motion.t[i] = center[i] + shift * direction[i] -
      (r[i][0] * center[0] + r[i][1] * center[1] + r[i][2] * center[2]);
  }
  vtkPolyData* decimated = decimate->GetOutput();
  auto moved = vtkSmartPointer<vtkPoints>::New();
  moved->SetDataTypeToDouble();
  moved->SetNumberOfPoints(decimated->GetNumberOfPoints());
  for (vtkIdType i = 0; i < decimated->GetNumberOfPoints(); ++i)
  {
    double p[3];
    decimated->GetPoint(i, p);
    scan.motion.Apply(p, p);
    moved->SetPoint(i, p);
  }
  scan.surface = vtkSmartPointer<vtkPolyData>::New();
  scan.surface->SetPoints(moved);
  scan.surface->SetPolys(decimated->GetPolys());
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
    vtkIdType best = 0;
    double farthest = -1e300;
    for (size_t i = 0; i < points.size() / 3; ++i)
    {
      const double along = (points[3 * i] - center[0]) * d[0] + (points[3 * i + 1] - center[1]) * d[1] +
        (points[3 * i + 2] - center[2]) * d[2];
      if (along > farthest)
      {
        farthest = along;
        best = static_cast<vtkIdType>(i);
      }
    }
    ids.push_back(best);
  }
  return ids;
}

bool WriteFitCase(vtkPolyData* templ, const std::string& dir, uint64_t seed, int triangles, BumpDirection direction)
{
  const std::vector<double> points = PointsOf(templ);
  const SmoothField field = RandomField(points, seed, 15.0, direction);
  auto deformedPoints = vtkSmartPointer<vtkPoints>::New();
  deformedPoints->SetNumberOfPoints(templ->GetNumberOfPoints());
  for (size_t i = 0; i < points.size() / 3; ++i)
  {
    double d[3];
    field.At(&points[3 * i], d);
    deformedPoints->SetPoint(static_cast<vtkIdType>(i), points[3 * i] + d[0], points[3 * i + 1] + d[1],
      points[3 * i + 2] + d[2]);
  }
  vtkSmartPointer<vtkPolyData> truth = BuildSurface(deformedPoints, templ);
  bool ok = WriteSurface(truth, (dir + "/truth.vtk").c_str());

  const std::vector<vtkIdType> ids = HeadLandmarkIds(templ);
  std::vector<Landmark> templateLandmarks;
  std::vector<Landmark> trueLandmarks;
  for (vtkIdType id : ids)
  {
    Landmark t;
    templ->GetPoint(id, t.data());
    templateLandmarks.push_back(t);
    truth->GetPoint(id, t.data());
    trueLandmarks.push_back(t);
  }
  double bounds[6];
  truth->GetBounds(bounds);
  double center[3];
  Centre(PointsOf(truth), center);
  RawScanOptions options;
  options.triangles = triangles;
  options.cutBelow = center[2] - 0.35 * (bounds[5] - bounds[4]);
  options.seed = seed * 7919 + 17;
  Random random(seed * 104729 + 3);
  // Both ears (the left and right landmarks) and the upper back.
  for (int side = 1; side <= 2; ++side)
  {
    options.holes.push_back({ trueLandmarks[side][0], trueLandmarks[side][1], trueLandmarks[side][2], 12.0 });
  }
  {
    const double back[3] = { 0, 0.55, 0.83 };
    // The point of the head farthest along the upper-back direction.
    double best = -1e300;
    std::array<double, 4> hole = { 0, 0, 0, 20.0 };
    for (vtkIdType i = 0; i < truth->GetNumberOfPoints(); ++i)
    {
      double p[3];
      truth->GetPoint(i, p);
      const double along = (p[0] - center[0]) * back[0] + (p[1] - center[1]) * back[1] + (p[2] - center[2]) * back[2];
      if (along > best)
      {
        best = along;
        hole = { p[0], p[1], p[2], 20.0 };
      }
    }
    options.holes.push_back(hole);
  }
  for (int h = 0; h < 3; ++h)
  {
    double p[3];
    truth->GetPoint(static_cast<vtkIdType>(random.Uniform() * static_cast<double>(truth->GetNumberOfPoints())), p);
    options.holes.push_back({ p[0], p[1], p[2], 6.0 + 4.0 * random.Uniform() });
  }
  const RawScan scan = MakeRawScan(truth, trueLandmarks, options);

  auto writer = vtkSmartPointer<vtkSTLWriter>::New();
  writer->SetInputData(scan.surface);
  writer->SetFileName((dir + "/scan.stl").c_str());
  writer->SetFileTypeToBinary();
  ok = UpdateWithoutErrors(writer) && writer->GetErrorCode() == 0 && ok;
  ok = WriteLandmarks(templateLandmarks, dir + "/template_landmarks.crv") && ok;
  ok = WriteLandmarks(scan.landmarks, dir + "/scan_landmarks.crv") && ok;
  std::ostringstream motion;
  WriteTransform(motion, scan.motion);
  const std::string text = motion.str();
  ok = WriteOutputFile((dir + "/motion.txt").c_str(), text.data(), text.size()) && ok;
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

FitErrors ScoreFit(const std::string& dir, vtkPolyData* fitted, const RigidTransform& transform)
{
  FitErrors errors;
  vtkSmartPointer<vtkPolyData> truth = ReadSurface((dir + "/truth.vtk").c_str());
  TriangleSurface scan;
  RigidTransform motion;
  const std::string motionText = [&dir] {
    std::ifstream in(dir + "/motion.txt");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }();
  if (!truth || !ReadScan((dir + "/scan.stl").c_str(), scan) || !ParseTransform(motionText, motion) ||
    truth->GetNumberOfPoints() != fitted->GetNumberOfPoints())
  {
    errors.mean = errors.p95 = errors.largest = errors.onScan = 1e9;
    return errors;
  }
  // The scan in the template's frame twice: by the true motion (to find
  // where it has surface) and by the fit's transform (to measure how far the
  // fitted points lie from it).
  const RigidTransform back = motion.Inverse();
  TriangleSurface trueFrame = scan;
  TriangleSurface fitFrame = scan;
  for (size_t i = 0; i < scan.PointCount(); ++i)
  {
    back.Apply(&scan.points[3 * i], &trueFrame.points[3 * i]);
    transform.Apply(&scan.points[3 * i], &fitFrame.points[3 * i]);
  }
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
    distances.push_back(std::sqrt((t[0] - f[0]) * (t[0] - f[0]) + (t[1] - f[1]) * (t[1] - f[1]) +
      (t[2] - f[2]) * (t[2] - f[2])));
    truePlaces.push_back({ t[0], t[1], t[2] });
    fittedPlaces.push_back({ f[0], f[1], f[2] });
    double ts[3];
    double fs[3];
    motion.Apply(t, ts);
    toScan.Apply(f, fs);
    scanDistances.push_back(std::sqrt((ts[0] - fs[0]) * (ts[0] - fs[0]) + (ts[1] - fs[1]) * (ts[1] - fs[1]) +
      (ts[2] - fs[2]) * (ts[2] - fs[2])));
    const TriangleTree::Hit hit = fitTree.Closest(f, 1e9);
    onScan += hit.distance;
  }
  if (distances.empty())
  {
    return errors;
  }
  errors.covered = static_cast<double>(distances.size()) / static_cast<double>(count);
  errors.onScan = onScan / static_cast<double>(distances.size());
  double sum = 0;
  for (double d : distances)
  {
    sum += d;
  }
  errors.mean = sum / static_cast<double>(distances.size());
  std::sort(distances.begin(), distances.end());
  errors.p95 = Percentile(distances, 95);
  errors.largest = distances.back();
  sum = 0;
  for (double d : scanDistances)
  {
    sum += d;
  }
  errors.scanMean = sum / static_cast<double>(scanDistances.size());
  std::sort(scanDistances.begin(), scanDistances.end());
  errors.scanP95 = Percentile(scanDistances, 95);
  const RigidTransform best = FitLandmarks(fittedPlaces, truePlaces);
  std::vector<double> shape;
  sum = 0;
  for (size_t i = 0; i < truePlaces.size(); ++i)
  {
    double f[3];
    best.Apply(fittedPlaces[i].data(), f);
    shape.push_back(std::sqrt((f[0] - truePlaces[i][0]) * (f[0] - truePlaces[i][0]) +
      (f[1] - truePlaces[i][1]) * (f[1] - truePlaces[i][1]) + (f[2] - truePlaces[i][2]) * (f[2] - truePlaces[i][2])));
    sum += shape.back();
  }
  errors.shapeMean = sum / static_cast<double>(shape.size());
  std::sort(shape.begin(), shape.end());
  errors.shapeP95 = Percentile(shape, 95);
  return errors;
}
