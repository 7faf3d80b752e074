// The stretched alignment: Gauss-Newton on the pose x -> R S (x - c) + b (b
// the image of the template's centre c), with Huber weights on the
// point-to-plane residuals of the template samples' trusted matches
// (MatchOnScan), each weighted by its point's share of the area. The
// parameters of a step: a turn w about the centre in the template's frame,
// the change of S (xx, yy, zz, xy, xz, yz) and that of b. Localised
// deformations (bumps, flattening) count as outliers, so the motion found is
// that of the head as a whole, and a stretch about the centre is not taken
// for a motion. The landmarks pull the template's toward the scan's along
// the template's surface only: across it, a bump under a landmark moves it as
// much as the surface, which the surface's matches say (a bump under the
// nasion moves it out, and says nothing of the head's pose). S is pulled
// toward a uniform scale (the differences of its diagonal from their mean,
// its off-diagonal entries counting twice): the surface says the head's
// size better than the landmarks that scaled the template.
#include "fit/stretchalign.h"

#include "fit/posesteps.h"
#include "fit/scanmatch.h"
#include "geometry/vector.h"
#include "parallel/parallel.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <limits>

void StretchedPose::Apply(const double in[3], double out[3]) const
{
  double u[3];
  Subtract(in, center, u);
  double x[3];
  for (int a = 0; a < 3; ++a)
  {
    // Summed from the centre on, not as c + (S u).
    x[a] = center[a] + stretch[a][0] * u[0] + stretch[a][1] * u[1] + stretch[a][2] * u[2];
  }
  motion.Apply(x, out);
}

namespace
{
constexpr double kStartDistance = 20.0; // mm: the distance limit of the first step
constexpr double kMinDistance = 2.0;    // mm: the smallest distance limit
constexpr double kLimitFactor = 3.0;    // the distance limit, in median residuals
constexpr size_t kMinMatches = 12;      // fewer trusted matches end the refinement
constexpr int kMaxSteps = 50;
constexpr double kReach = 100.0; // mm: the stretch's weight is that of S - I over this length

// The pose as the steps see it: x -> R S (x - c) + b.
struct Pose
{
  Eigen::Matrix3d r;
  Eigen::Matrix3d stretch = Eigen::Matrix3d::Identity();
  Eigen::Vector3d b;
  Eigen::Vector3d center;
  // Where the template point c + u goes.
  Eigen::Vector3d Place(const Eigen::Vector3d& u) const { return r * (stretch * u) + b; }
};

// A template sample's match on the scan.
struct StretchMatch
{
  bool valid = false;
  double residual = 0;    // along the scan's normal, from the posed template point to the scan
  Eigen::Vector3d normal; // the scan's
};

// The normal equations of a step: w, the six entries of S's change, b's change.
struct StretchSystem
{
  Eigen::Matrix<double, 12, 12> normal = Eigen::Matrix<double, 12, 12>::Zero();
  Eigen::Matrix<double, 12, 1> right = Eigen::Matrix<double, 12, 1>::Zero();

  // A residual along the direction n (in the scan's frame) at the template
  // point c + u, weighing w.
  void Add(const Pose& pose, const Eigen::Vector3d& n, const Eigen::Vector3d& u, double residual, double w)
  {
    const Eigen::Vector3d v = pose.stretch * u;
    const Eigen::Vector3d m = pose.r.transpose() * n;
    Eigen::Matrix<double, 12, 1> row;
    row.head<3>() = v.cross(m);
    row(3) = m(0) * u(0);
    row(4) = m(1) * u(1);
    row(5) = m(2) * u(2);
    row(6) = m(0) * u(1) + m(1) * u(0);
    row(7) = m(0) * u(2) + m(2) * u(0);
    row(8) = m(1) * u(2) + m(2) * u(1);
    row.tail<3>() = n;
    normal += w * row * row.transpose();
    right += w * residual * row;
  }
};

Eigen::Vector3d PointOf(const TriangleSurface& templ, size_t i)
{
  return Eigen::Vector3d(templ.points[3 * i], templ.points[3 * i + 1], templ.points[3 * i + 2]);
}

// The starting pose: `start`, no stretch, about the centre of all the
// template's points.
Pose StartPose(const TriangleSurface& templ, const std::vector<double>& templAreas, const RigidTransform& start)
{
  Pose pose;
  pose.center = Eigen::Vector3d::Zero();
  for (size_t i = 0; i < templAreas.size(); ++i)
  {
    pose.center += PointOf(templ, i);
  }
  pose.center /= static_cast<double>(std::max<size_t>(1, templAreas.size()));
  for (int a = 0; a < 3; ++a)
  {
    for (int c = 0; c < 3; ++c)
    {
      pose.r(a, c) = start.r[a][c];
    }
  }
  start.Apply(pose.center.data(), pose.b.data());
  return pose;
}

// Each landmark's direction across the surface: the normal at the template
// sample closest to it (the first of equals).
std::vector<Eigen::Vector3d> LandmarkNormals(const TriangleSurface& templ, const std::vector<double>& templNormals,
  const std::vector<size_t>& samples, const std::vector<Landmark>& templateLandmarks, size_t landmarkCount)
{
  std::vector<Eigen::Vector3d> landmarkNormals(landmarkCount, Eigen::Vector3d::Zero());
  for (size_t l = 0; l < landmarkCount; ++l)
  {
    const Eigen::Vector3d at(templateLandmarks[l][0], templateLandmarks[l][1], templateLandmarks[l][2]);
    double closest = std::numeric_limits<double>::infinity();
    for (const size_t i : samples)
    {
      const double d = (PointOf(templ, i) - at).squaredNorm();
      if (d < closest)
      {
        closest = d;
        landmarkNormals[l] = Eigen::Vector3d(templNormals[3 * i], templNormals[3 * i + 1], templNormals[3 * i + 2]);
      }
    }
  }
  return landmarkNormals;
}

// Each sample's match on the scan at its place in the pose, its normal
// turned into the scan's frame.
void MatchSamples(const TriangleSurface& templ, const std::vector<double>& templNormals, const TriangleTree& scan,
  const std::vector<size_t>& samples, const Pose& pose, double limit, std::vector<StretchMatch>& matches)
{
  ParallelRanges(samples.size(), [&](size_t begin, size_t end) {
    for (size_t s = begin; s < end; ++s)
    {
      const size_t i = samples[s];
      const Eigen::Vector3d x = pose.Place(PointOf(templ, i) - pose.center);
      const Eigen::Vector3d t =
        pose.r * Eigen::Vector3d(templNormals[3 * i], templNormals[3 * i + 1], templNormals[3 * i + 2]);
      const ScanMatch found = MatchOnScan(scan, x.data(), t.data(), limit, kBorderNever);
      StretchMatch& match = matches[s];
      match.valid = found.trusted;
      if (!found.trusted)
      {
        continue;
      }
      match.normal = Eigen::Vector3d(found.normal[0], found.normal[1], found.normal[2]);
      match.residual = match.normal.dot(Eigen::Vector3d(found.point[0], found.point[1], found.point[2]) - x);
    }
  });
}

// The rows of the trusted matches, Huber-weighted, each by its point's share
// of the samples' area; returns the sizes of their residuals in the samples'
// order.
std::vector<double> AddSurfaceRows(const TriangleSurface& templ, const std::vector<double>& templAreas,
  const std::vector<size_t>& samples, const std::vector<StretchMatch>& matches, const Pose& pose, double totalArea,
  double huber, StretchSystem& system)
{
  std::vector<double> residuals;
  for (size_t s = 0; s < samples.size(); ++s)
  {
    const StretchMatch& m = matches[s];
    if (!m.valid)
    {
      continue;
    }
    const size_t i = samples[s];
    const double size = std::abs(m.residual);
    residuals.push_back(size);
    const double robust = size <= huber ? 1.0 : huber / size;
    system.Add(pose, m.normal, PointOf(templ, i) - pose.center, m.residual, robust * templAreas[i] / totalArea);
  }
  return residuals;
}

// The landmarks' rows: each template landmark toward its scan landmark
// along the template's surface (Huber-weighted on that offset), or along x,
// y and z where the surface gives no direction across it.
void AddLandmarkRows(const std::vector<Landmark>& templateLandmarks, const std::vector<Landmark>& scanLandmarks,
  const std::vector<Eigen::Vector3d>& landmarkNormals, const Pose& pose, const StretchOptions& options,
  StretchSystem& system)
{
  const size_t landmarkCount = landmarkNormals.size();
  for (size_t l = 0; l < landmarkCount; ++l)
  {
    const Eigen::Vector3d u =
      Eigen::Vector3d(templateLandmarks[l][0], templateLandmarks[l][1], templateLandmarks[l][2]) - pose.center;
    const Eigen::Vector3d x = pose.Place(u);
    const Eigen::Vector3d target(scanLandmarks[l][0], scanLandmarks[l][1], scanLandmarks[l][2]);
    const double w = options.landmarkWeight / static_cast<double>(landmarkCount);
    const Eigen::Vector3d across = pose.r * landmarkNormals[l];
    if (across.squaredNorm() > 0)
    {
      // A landmark that the surface and the others place elsewhere counts less.
      const Eigen::Vector3d along = across.unitOrthogonal();
      const Eigen::Vector3d other = across.normalized().cross(along);
      const double offset = std::hypot(along.dot(target - x), other.dot(target - x));
      const double robust = offset <= options.landmarkHuber ? 1.0 : options.landmarkHuber / offset;
      for (const Eigen::Vector3d& e : { along, other })
      {
        system.Add(pose, e, u, e.dot(target - x), robust * w);
      }
    }
    else
    {
      for (int a = 0; a < 3; ++a)
      {
        system.Add(pose, Eigen::Vector3d::Unit(a), u, (target - x)(a), w);
      }
    }
  }
}

// S toward a uniform scale: the differences of its diagonal entries from
// their mean, and its off-diagonal entries (counting twice). The template
// comes scaled to the scan's landmarks, which the surface refines.
void AddStretchPull(const Pose& pose, double stretchWeight, StretchSystem& system)
{
  const double pull = stretchWeight * kReach * kReach;
  const Eigen::Matrix3d& s = pose.stretch;
  const double mean = (s(0, 0) + s(1, 1) + s(2, 2)) / 3.0;
  for (int a = 0; a < 3; ++a)
  {
    for (int b = 0; b < 3; ++b)
    {
      system.normal(3 + a, 3 + b) += pull * ((a == b ? 1.0 : 0.0) - 1.0 / 3.0);
    }
    system.right(3 + a) -= pull * (s(a, a) - mean);
  }
  const double offDiagonal[3] = { s(0, 1), s(0, 2), s(1, 2) };
  for (int k = 0; k < 3; ++k)
  {
    system.normal(6 + k, 6 + k) += 2.0 * pull;
    system.right(6 + k) -= 2.0 * pull * offDiagonal[k];
  }
}

// Takes a step; true when it changed the pose by less than 1e-6 (radians and
// stretch) and 1e-5 mm.
bool ApplyStep(const Eigen::Matrix<double, 12, 1>& change, Pose& pose)
{
  const Eigen::Vector3d w = change.head<3>();
  Eigen::Matrix3d ds;
  ds << change(3), change(6), change(7), change(6), change(4), change(8), change(7), change(8), change(5);
  pose.r = pose.r * RotationOf(w);
  pose.stretch += ds;
  pose.b += change.tail<3>();
  return w.norm() < 1e-6 && ds.norm() < 1e-6 && change.tail<3>().norm() < 1e-5;
}

// The distance limit after a step: kLimitFactor median residuals, within
// [kMinDistance, kStartDistance]. Reorders `residuals`.
double NextLimit(std::vector<double>& residuals)
{
  const size_t middle = residuals.size() / 2;
  std::nth_element(residuals.begin(), residuals.begin() + middle, residuals.end());
  return std::min(kStartDistance, std::max(kMinDistance, kLimitFactor * residuals[middle]));
}

// The pose back as x -> R (c + S (x - c)) + t: t = b - R c.
void SetPose(const Pose& pose, StretchedPose& result)
{
  const Eigen::Vector3d t = pose.b - pose.r * pose.center;
  for (int a = 0; a < 3; ++a)
  {
    for (int c = 0; c < 3; ++c)
    {
      result.motion.r[a][c] = pose.r(a, c);
      result.stretch[a][c] = pose.stretch(a, c);
    }
    result.motion.t[a] = t(a);
  }
}
}

StretchedPose RefineStretch(const TriangleSurface& templ, const std::vector<double>& templNormals,
  const std::vector<double>& templAreas, const TriangleTree& scan, const RigidTransform& start,
  const std::vector<Landmark>& templateLandmarks, const std::vector<Landmark>& scanLandmarks,
  const StretchOptions& options)
{
  StretchedPose result;
  const std::vector<size_t> samples = PoseSamples(templAreas);
  double totalArea = 0;
  for (size_t i : samples)
  {
    totalArea += templAreas[i];
  }
  Pose pose = StartPose(templ, templAreas, start);
  for (int a = 0; a < 3; ++a)
  {
    result.center[a] = pose.center(a);
  }
  result.motion = start;
  if (samples.empty() || !(totalArea > 0))
  {
    return result;
  }
  const size_t landmarkCount = std::min(templateLandmarks.size(), scanLandmarks.size());
  const std::vector<Eigen::Vector3d> landmarkNormals =
    LandmarkNormals(templ, templNormals, samples, templateLandmarks, landmarkCount);
  std::vector<StretchMatch> matches(samples.size());
  double limit = kStartDistance;
  for (int step = 0; step < kMaxSteps; ++step)
  {
    MatchSamples(templ, templNormals, scan, samples, pose, limit, matches);
    StretchSystem system;
    std::vector<double> residuals =
      AddSurfaceRows(templ, templAreas, samples, matches, pose, totalArea, options.huber, system);
    result.matched = static_cast<double>(residuals.size()) / static_cast<double>(samples.size());
    if (residuals.size() < kMinMatches)
    {
      break;
    }
    AddLandmarkRows(templateLandmarks, scanLandmarks, landmarkNormals, pose, options, system);
    AddStretchPull(pose, options.stretchWeight, system);
    system.normal += 1e-12 * Eigen::Matrix<double, 12, 12>::Identity();
    const Eigen::Matrix<double, 12, 1> change = system.normal.ldlt().solve(system.right);
    if (!change.allFinite())
    {
      break;
    }
    const bool settled = ApplyStep(change, pose);
    result.iterations = step + 1;
    limit = NextLimit(residuals);
    if (settled)
    {
      break;
    }
  }
  SetPose(pose, result);
  return result;
}

bool StretchIsPlausible(const StretchedPose& pose, double maxStretch)
{
  for (int a = 0; a < 3; ++a)
  {
    for (int c = 0; c < 3; ++c)
    {
      if (!(std::abs(pose.stretch[a][c] - (a == c ? 1.0 : 0.0)) <= maxStretch) || !std::isfinite(pose.motion.t[a]))
      {
        return false;
      }
    }
  }
  return true;
}
