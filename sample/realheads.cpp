// The real heads posed, scaled, pitched, mirrored and scanned.
//
// Posing: each file's axes are turned into the template's (a rotation of
// the axes, never a reflection) and its unit into millimetres; the triangles
// are turned outward where they faced in (a negative enclosed volume); then
// the head is turned, without any pitch, until the line from its right
// tragus to its left runs along +x, and moved so that their midpoint lies on
// the ear midpoint. The vertex and the opisthocranion are found on the posed
// head's midline cut, x = M_x: the vertex its highest point, the
// opisthocranion its point farthest from the nasion among those above the
// ear plane and behind the ear midpoint (so not the back of a neck).
//
// The landmarks that are not computed were picked once on pictures of each
// mesh (rendered from the six axis directions, then close-ups with the ids of
// the visible points written beside them):
// - head.off (x toward the face's back, y up, z toward the patient's left;
//   coarse, a face tilted a little back on a vertical neck, no ears). Nasion:
//   point 1088, the root of the nose between the brows, just above the eyes
//   (its profile has no dip there: nose and forehead run on in one slope).
//   Tragi: with no ears modelled, the points of the sides where the ears
//   would be, above the back edge of the jaw, level with the middle of the
//   nose: 11 (right) and 219 (left), mirror images of each other. Chin: 1030,
//   where the chin's front turns under toward the throat.
// - mannequin-devil.off (already x to the left, y to the back, z up). Nasion:
//   4633, the deepest point of the profile between the nose and the brow,
//   below the third eye. Tragi: the tip of the flap in front of each ear's
//   concha, 138 (right) and 2759 (left); the ears are not mirror images, the
//   two lie within 0.2 units in y and z. Chin: 4492, the lowest point of the
//   chin on the midline.
// - fsaverage (x to the patient's right, y to the front, z up, as MRI
//   frames go). Nasion and tragi: the file's fiducials (the preauricular
//   points stand for the tragi). Its surface has no mouth or chin (it runs
//   from the nose back to the neck), so the chin is put 110 mm below the
//   nasion, an adult's face height.
#include "realheads.h"

#include "fit/surfacetriangles.h"
#include "geometry/headframe.h"
#include "geometry/rigidtransform.h"
#include "geometry/triangletree.h"
#include "geometry/vector.h"
#include "measure/headshape.h"

#include <vtkCellArray.h>
#include <vtkPoints.h>

#include <algorithm>
#include <cmath>
#include <map>

namespace
{
const double kPi = 3.14159265358979323846;

// A head's file, how its axes and unit become the template's, and the ids
// of its picked points (-1 where the file gives them).
struct HeadSource
{
  const char* name;
  const char* file;
  double axes[3][3]; // rows: the template's x, y and z in the file's coordinates
  double millimetres;
  vtkIdType nasion, rightTragus, leftTragus, chin;
};

// The millimetres to a unit of the two meshes of libcgal-demo make an adult
// head of them: their tragi 140 and 147 mm apart.
const HeadSource kSources[3] = {
  { "head", "head.off", { { 0, 0, 1 }, { 1, 0, 0 }, { 0, 1, 0 } }, 15.4, 1088, 11, 219, 1030 },
  { "mannequin-devil", "mannequin-devil.off", { { 1, 0, 0 }, { 0, 1, 0 }, { 0, 0, 1 } }, 7.1, 4633, 138, 2759, 4492 },
  { "fsaverage", "fsaverage-head.fif", { { -1, 0, 0 }, { 0, -1, 0 }, { 0, 0, 1 } }, 1.0, -1, -1, -1, -1 },
};
const char* const kFiducialsFile = "fsaverage-fiducials.fif";
constexpr double kFaceHeight = 110; // mm from the nasion down to the chin of a surface without one

const HeadSource& SourceOf(RealHead head)
{
  return kSources[static_cast<int>(head)];
}

// Moves every point of a head, its landmarks and its chin by `map`. The
// surface is a new one on new points (on the same cells), so that a copy of
// the head, which shares its surface, stays as it was.
template <class Map>
void MapHead(PosedHead& head, Map map)
{
  auto points = vtkSmartPointer<vtkPoints>::New();
  points->SetDataTypeToDouble();
  points->SetNumberOfPoints(head.surface->GetNumberOfPoints());
  for (vtkIdType i = 0; i < points->GetNumberOfPoints(); ++i)
  {
    double p[3];
    head.surface->GetPoint(i, p);
    map(p);
    points->SetPoint(i, p);
  }
  auto moved = vtkSmartPointer<vtkPolyData>::New();
  moved->SetPoints(points);
  moved->SetPolys(head.surface->GetPolys());
  head.surface = moved;
  for (Landmark& l : head.landmarks)
  {
    map(l.data());
  }
  map(head.chin.data());
}

// The volume the triangles enclose, seen from the centre of the points:
// negative when they face inward.
double EnclosedVolume(const TriangleSurface& surface)
{
  double centre[3] = { 0, 0, 0 };
  for (size_t i = 0; i < surface.points.size(); ++i)
  {
    centre[i % 3] += surface.points[i] / static_cast<double>(surface.PointCount());
  }
  double volume = 0;
  for (size_t t = 0; t < surface.triangles.size(); t += 3)
  {
    double a[3];
    double b[3];
    double c[3];
    Subtract(&surface.points[3 * surface.triangles[t]], centre, a);
    Subtract(&surface.points[3 * surface.triangles[t + 1]], centre, b);
    Subtract(&surface.points[3 * surface.triangles[t + 2]], centre, c);
    double bc[3];
    Cross(b, c, bc);
    volume += Dot(a, bc) / 6.0;
  }
  return volume;
}

// `surface`'s triangles facing outward, every one turned when they faced in.
vtkSmartPointer<vtkPolyData> Outward(vtkPolyData* surface)
{
  TriangleSurface triangles = SurfaceTriangles(surface);
  if (EnclosedVolume(triangles) < 0)
  {
    for (size_t t = 0; t < triangles.triangles.size(); t += 3)
    {
      std::swap(triangles.triangles[t + 1], triangles.triangles[t + 2]);
    }
  }
  return PolyDataOf(triangles);
}

// The vertex and the opisthocranion of a posed head, from its midline cut.
bool FindTopAndBack(PosedHead& head, std::string& problem)
{
  const std::vector<Landmark> midline = MidlineCrossings(SurfaceTriangles(head.surface), kEarMidpoint[0]);
  const Landmark* top = nullptr;
  const Landmark* back = nullptr;
  const double* nasion = head.landmarks[kNasion].data();
  for (const Landmark& p : midline)
  {
    if (!top || p[2] > (*top)[2])
    {
      top = &p;
    }
    const bool behind = p[1] >= kEarMidpoint[1] && p[2] >= kEarMidpoint[2];
    if (behind && (!back || Distance2(p.data(), nasion) > Distance2(back->data(), nasion)))
    {
      back = &p;
    }
  }
  if (!top || !back)
  {
    problem = "its midline has no point behind and above the ear midpoint";
    return false;
  }
  head.landmarks[kVertex] = *top;
  head.landmarks[kOpisthocranion] = *back;
  return true;
}

// The rigid motion that turns the tragi's line onto +x (about the axis
// across both, so no pitch) and puts their midpoint on the ear midpoint.
RigidTransform TragiToEars(const Landmark& right, const Landmark& left)
{
  double u[3];
  Subtract(left.data(), right.data(), u);
  const double length = Norm(u);
  const double across[3] = { 0, u[2] / length, -u[1] / length }; // u x (1, 0, 0)
  const double sine = Norm(across);
  RigidTransform motion;
  if (sine > 0)
  {
    const double axis[3] = { 0, across[1] / sine, across[2] / sine };
    motion = AxisRotation(axis, std::atan2(sine, u[0] / length));
  }
  double middle[3];
  for (int k = 0; k < 3; ++k)
  {
    middle[k] = 0.5 * (right[k] + left[k]);
  }
  double turned[3];
  motion.Rotate(middle, turned);
  for (int k = 0; k < 3; ++k)
  {
    motion.t[k] = kEarMidpoint[k] - turned[k];
  }
  return motion;
}

// A head's surface and its picked points in the file's frame.
bool ReadHead(const HeadSource& source, const std::string& dir, PosedHead& head, std::string& problem)
{
  const std::string path = dir + "/" + source.file;
  const bool fif = source.nasion < 0;
  head.surface = fif ? ReadFifSurface(path, problem) : ReadOffSurface(path, problem);
  if (!head.surface)
  {
    return false;
  }
  head.landmarks.assign(5, Landmark{ 0, 0, 0 });
  if (fif)
  {
    std::array<Landmark, 3> fiducials;
    if (!ReadFifFiducials(dir + "/" + kFiducialsFile, fiducials, problem))
    {
      return false;
    }
    head.landmarks[kRightTragus] = fiducials[2];
    head.landmarks[kNasion] = fiducials[1];
    head.landmarks[kLeftTragus] = fiducials[0];
    head.chin = fiducials[1];
    return true;
  }
  const vtkIdType ids[4] = { source.nasion, source.rightTragus, source.leftTragus, source.chin };
  if (head.surface->GetNumberOfPoints() <= *std::max_element(ids, ids + 4))
  {
    problem = path + ": has fewer points than the picked landmarks need";
    return false;
  }
  head.surface->GetPoint(source.nasion, head.landmarks[kNasion].data());
  head.surface->GetPoint(source.rightTragus, head.landmarks[kRightTragus].data());
  head.surface->GetPoint(source.leftTragus, head.landmarks[kLeftTragus].data());
  head.surface->GetPoint(source.chin, head.chin.data());
  return true;
}
}

const char* RealHeadName(RealHead head)
{
  return SourceOf(head).name;
}

bool LoadRealHead(RealHead which, const std::string& dir, PosedHead& posed, std::string& problem)
{
  const HeadSource& source = SourceOf(which);
  PosedHead head;
  if (!ReadHead(source, dir, head, problem))
  {
    return false;
  }
  MapHead(head, [&source](double p[3]) {
    double q[3];
    for (int i = 0; i < 3; ++i)
    {
      q[i] = source.millimetres * Dot(source.axes[i], p);
    }
    std::copy(q, q + 3, p);
  });
  head.surface = Outward(head.surface);
  const RigidTransform toEars = TragiToEars(head.landmarks[kRightTragus], head.landmarks[kLeftTragus]);
  MapHead(head, [&toEars](double p[3]) { toEars.Apply(p, p); });
  if (source.chin < 0)
  {
    head.chin = head.landmarks[kNasion];
    head.chin[2] -= kFaceHeight;
  }
  if (!FindTopAndBack(head, problem))
  {
    problem = std::string(source.file) + ": " + problem;
    return false;
  }
  posed = head;
  return true;
}

bool ScaleHead(PosedHead& head, double circumference, std::string& problem)
{
  HeadShape shape;
  problem = MeasureHeadShape(head.surface, shape);
  if (!problem.empty() || !(shape.circumference > 0))
  {
    problem = problem.empty() ? "has no circumference" : problem;
    return false;
  }
  const double scale = circumference / shape.circumference;
  MapHead(head, [scale](double p[3]) {
    for (int k = 0; k < 3; ++k)
    {
      p[k] = kEarMidpoint[k] + scale * (p[k] - kEarMidpoint[k]);
    }
  });
  return true;
}

void PitchHead(PosedHead& head, double degrees)
{
  const double axis[3] = { 1, 0, 0 };
  const RigidTransform turn = AxisRotation(axis, degrees * kPi / 180.0);
  MapHead(head, [&turn](double p[3]) {
    double d[3];
    Subtract(p, kEarMidpoint, d);
    turn.Rotate(d, d);
    for (int k = 0; k < 3; ++k)
    {
      p[k] = kEarMidpoint[k] + d[k];
    }
  });
}

namespace
{
// Points closer to the midline plane than this (mm) are moved onto it, so
// that the cut leaves no sliver triangles.
constexpr double kOnPlane = 0.01;

// The patient's right half of `surface` (x <= x0): triangles across the
// plane cut along it (the new corners shared by the triangles of an edge),
// those on its other side or lying in it left out. Points on the plane have
// x exactly x0.
TriangleSurface RightHalf(const TriangleSurface& surface, double x0)
{
  TriangleSurface half;
  half.points = surface.points;
  std::vector<double> side(surface.PointCount());
  for (size_t i = 0; i < side.size(); ++i)
  {
    side[i] = std::fabs(half.points[3 * i] - x0) < kOnPlane ? 0.0 : half.points[3 * i] - x0;
    half.points[3 * i] = side[i] == 0 ? x0 : half.points[3 * i];
  }
  std::map<std::pair<int, int>, int> crossings; // an edge's end points, lower first: its point on the plane
  auto crossing = [&](int a, int b) {
    const auto key = std::make_pair(std::min(a, b), std::max(a, b));
    const auto found = crossings.find(key);
    if (found != crossings.end())
    {
      return found->second;
    }
    const double s = side[a] / (side[a] - side[b]);
    const double* pa = &half.points[3 * a];
    const double* pb = &half.points[3 * b];
    half.points.insert(half.points.end(), { x0, pa[1] + s * (pb[1] - pa[1]), pa[2] + s * (pb[2] - pa[2]) });
    return crossings[key] = static_cast<int>(half.PointCount() - 1);
  };
  for (size_t t = 0; t < surface.triangles.size(); t += 3)
  {
    std::vector<int> polygon;
    bool right = false;
    for (int k = 0; k < 3; ++k)
    {
      const int a = surface.triangles[t + k];
      const int b = surface.triangles[t + (k + 1) % 3];
      right = right || side[a] < 0;
      if (side[a] <= 0)
      {
        polygon.push_back(a);
      }
      if ((side[a] < 0 && side[b] > 0) || (side[a] > 0 && side[b] < 0))
      {
        polygon.push_back(crossing(a, b));
      }
    }
    for (size_t k = 1; right && k + 1 < polygon.size(); ++k)
    {
      half.triangles.insert(half.triangles.end(), { polygon[0], polygon[k], polygon[k + 1] });
    }
  }
  return half;
}

// `half` with its mirror image across x = x0 (its triangles turned, so they
// face outward too), points on the plane shared, unused points dropped.
TriangleSurface WithMirror(const TriangleSurface& half, double x0)
{
  std::vector<int> id(half.PointCount(), -1);
  std::vector<int> mirrorId(half.PointCount(), -1);
  TriangleSurface whole;
  auto use = [&](int p, bool mirrored) {
    std::vector<int>& ids = mirrored && half.points[3 * p] != x0 ? mirrorId : id;
    if (ids[p] < 0)
    {
      const double* q = &half.points[3 * p];
      whole.points.insert(whole.points.end(), { mirrored ? 2 * x0 - q[0] : q[0], q[1], q[2] });
      ids[p] = static_cast<int>(whole.PointCount() - 1);
    }
    return ids[p];
  };
  for (size_t t = 0; t < half.triangles.size(); t += 3)
  {
    whole.triangles.insert(whole.triangles.end(),
      { use(half.triangles[t], false), use(half.triangles[t + 1], false), use(half.triangles[t + 2], false) });
  }
  for (size_t t = 0; t < half.triangles.size(); t += 3)
  {
    whole.triangles.insert(whole.triangles.end(),
      { use(half.triangles[t], true), use(half.triangles[t + 2], true), use(half.triangles[t + 1], true) });
  }
  return whole;
}
}

bool MirrorRightHalf(const PosedHead& head, PosedHead& symmetric, std::string& problem)
{
  const double x0 = kEarMidpoint[0];
  const TriangleSurface half = RightHalf(SurfaceTriangles(head.surface), x0);
  if (half.triangles.empty())
  {
    problem = "has no triangle on the patient's right";
    return false;
  }
  symmetric.surface = PolyDataOf(WithMirror(half, x0));
  symmetric.landmarks = head.landmarks;
  symmetric.chin = head.chin;
  for (const int row : { kNasion, kVertex, kOpisthocranion })
  {
    symmetric.landmarks[row][0] = x0;
  }
  symmetric.chin[0] = x0;
  symmetric.landmarks[kLeftTragus] = head.landmarks[kRightTragus];
  symmetric.landmarks[kLeftTragus][0] = 2 * x0 - head.landmarks[kRightTragus][0];
  return true;
}

RawScanOptions RealScanOptions(const PosedHead& head, int triangles, uint64_t seed)
{
  RawScanOptions options;
  options.triangles = triangles;
  options.cutBelow = head.chin[2] - 10.0;
  const double cells = static_cast<double>(head.surface->GetNumberOfCells());
  while (options.subdivisions < 4 && cells * std::pow(4.0, options.subdivisions) < triangles)
  {
    ++options.subdivisions;
  }
  options.seed = seed;
  return options;
}

RawScan MakeRealRawScan(const PosedHead& head, const RawScanOptions& options, ScanLandmarks which)
{
  std::vector<Landmark> landmarks = head.landmarks;
  if (which == ScanLandmarks::Midline)
  {
    landmarks = { head.landmarks[kNasion], head.landmarks[kVertex], head.landmarks[kOpisthocranion] };
  }
  return MakeRawScan(head.surface, landmarks, options);
}

bool WriteRealRawScan(const PosedHead& head, const RawScanOptions& options, ScanLandmarks which,
  const std::string& stlPath, const std::string& landmarksPath, RawScan& scan)
{
  scan = MakeRealRawScan(head, options, which);
  const bool ok = WriteBinaryStl(scan.surface, stlPath);
  return WriteLandmarks(scan.landmarks, landmarksPath) && ok;
}

std::vector<Landmark> TrueScanLandmarks(const PosedHead& head, const RawScan& scan, ScanLandmarks which)
{
  std::vector<Landmark> landmarks = head.landmarks;
  if (which == ScanLandmarks::Midline)
  {
    landmarks = { head.landmarks[kNasion], head.landmarks[kVertex], head.landmarks[kOpisthocranion] };
  }
  for (Landmark& l : landmarks)
  {
    scan.motion.Apply(l.data(), l.data());
  }
  return landmarks;
}

namespace
{
// Where `at`, a point of the triangle `t` of `surface`, lies in it: its
// weights on the triangle's corners (least squares in the triangle's plane).
std::array<double, 3> CornerWeights(const TriangleSurface& surface, int t, const double at[3])
{
  const double* a = &surface.points[3 * static_cast<size_t>(surface.triangles[3 * t])];
  const double* b = &surface.points[3 * static_cast<size_t>(surface.triangles[3 * t + 1])];
  const double* c = &surface.points[3 * static_cast<size_t>(surface.triangles[3 * t + 2])];
  double u[3], v[3], w[3];
  Subtract(b, a, u);
  Subtract(c, a, v);
  Subtract(at, a, w);
  const double uu = Dot(u, u), uv = Dot(u, v), vv = Dot(v, v), wu = Dot(w, u), wv = Dot(w, v);
  const double det = uu * vv - uv * uv;
  const double s = det > 0 ? (vv * wu - uv * wv) / det : 0.0;
  const double r = det > 0 ? (uu * wv - uv * wu) / det : 0.0;
  return { 1.0 - s - r, s, r };
}

}

RealFitScore ScoreRealFit(vtkPolyData* templ, const std::vector<Landmark>& templateLandmarks, vtkPolyData* fitted,
  const RigidTransform& toTemplate, const TriangleSurface& scan, const std::vector<Landmark>& trueLandmarks)
{
  RealFitScore score;
  const TriangleSurface templateTriangles = SurfaceTriangles(templ);
  const TriangleSurface fittedTriangles = SurfaceTriangles(fitted);
  const TriangleTree tree(templateTriangles.points, templateTriangles.triangles);
  for (size_t l = 0; l < std::min(templateLandmarks.size(), trueLandmarks.size()); ++l)
  {
    const TriangleTree::Hit hit = tree.Closest(templateLandmarks[l].data(), 1e9);
    const std::array<double, 3> weights = CornerWeights(templateTriangles, hit.triangle, hit.point);
    double carried[3] = { 0, 0, 0 };
    for (int corner = 0; corner < 3; ++corner)
    {
      const double* p =
        &fittedTriangles.points[3 * static_cast<size_t>(fittedTriangles.triangles[3 * hit.triangle + corner])];
      for (int k = 0; k < 3; ++k)
      {
        carried[k] += weights[corner] * p[k];
      }
    }
    double truth[3];
    toTemplate.Apply(trueLandmarks[l].data(), truth);
    score.landmarkErrors.push_back(Distance(carried, truth));
  }
  TriangleSurface inFrame = scan;
  for (size_t i = 0; i < inFrame.PointCount(); ++i)
  {
    toTemplate.Apply(&inFrame.points[3 * i], &inFrame.points[3 * i]);
  }
  std::string problem = MeasureHeadShape(PolyDataOf(inFrame), score.scan);
  if (problem.empty())
  {
    problem = MeasureHeadShape(fitted, score.fitted);
  }
  score.problem = problem;
  return score;
}
