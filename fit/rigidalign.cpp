// The rigid alignment. FitLandmarks is the closed-form least-squares fit
// (the SVD of the landmarks' covariance, a proper rotation); LandmarkScale
// the scale of the least-squares similarity from the same SVD (Umeyama:
// the singular values, the last one's sign turned where the rotation would
// be a reflection, summed, over the spread of `from`). RefineAlignment
// is point-to-plane ICP about the samples' centre: each step matches the
// samples (MatchOnScan, in the template's frame), keeps the nearest 85% of
// the trusted matches, and solves the linearised problem for a small turn w
// and shift d, weighting each match by its point's share of the area. The
// landmarks stay in the problem as point-to-point rows: they hold the turns
// that a head's surface barely resists (a skull is close to a surface of
// revolution).
#include "fit/rigidalign.h"

#include "fit/posesteps.h"
#include "fit/scanmatch.h"
#include "parallel/parallel.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>

namespace
{
// The landmarks' means and the covariance of `to` against `from` (the two
// lists paired in order, the longer one's extra landmarks left out), and the
// mean squared distance of `from` from its mean.
struct LandmarkMoments
{
  Eigen::Vector3d meanFrom = Eigen::Vector3d::Zero();
  Eigen::Vector3d meanTo = Eigen::Vector3d::Zero();
  Eigen::Matrix3d covariance = Eigen::Matrix3d::Zero();
  double spreadFrom = 0;
};

Eigen::Vector3d LandmarkVector(const Landmark& l)
{
  return Eigen::Vector3d(l[0], l[1], l[2]);
}

LandmarkMoments Moments(const std::vector<Landmark>& from, const std::vector<Landmark>& to)
{
  LandmarkMoments m;
  const size_t n = std::min(from.size(), to.size());
  for (size_t i = 0; i < n; ++i)
  {
    m.meanFrom += LandmarkVector(from[i]);
    m.meanTo += LandmarkVector(to[i]);
  }
  m.meanFrom /= static_cast<double>(n);
  m.meanTo /= static_cast<double>(n);
  for (size_t i = 0; i < n; ++i)
  {
    const Eigen::Vector3d f = LandmarkVector(from[i]) - m.meanFrom;
    m.covariance += (LandmarkVector(to[i]) - m.meanTo) * f.transpose();
    m.spreadFrom += f.squaredNorm();
  }
  return m;
}

// The covariance's SVD, with the sign that keeps the rotation proper.
struct ProperSvd
{
  Eigen::JacobiSVD<Eigen::Matrix3d> svd;
  Eigen::Matrix3d sign = Eigen::Matrix3d::Identity();
  explicit ProperSvd(const Eigen::Matrix3d& covariance)
    : svd(covariance, Eigen::ComputeFullU | Eigen::ComputeFullV)
  {
    // A proper rotation, never a reflection.
    sign(2, 2) = (svd.matrixU() * svd.matrixV().transpose()).determinant() < 0 ? -1.0 : 1.0;
  }
};
}

RigidTransform FitLandmarks(const std::vector<Landmark>& from, const std::vector<Landmark>& to)
{
  const LandmarkMoments m = Moments(from, to);
  const ProperSvd proper(m.covariance);
  const Eigen::Matrix3d rotation = proper.svd.matrixU() * proper.sign * proper.svd.matrixV().transpose();
  const Eigen::Vector3d translation = m.meanTo - rotation * m.meanFrom;
  RigidTransform result;
  for (int i = 0; i < 3; ++i)
  {
    for (int j = 0; j < 3; ++j)
    {
      result.r[i][j] = rotation(i, j);
    }
    result.t[i] = translation(i);
  }
  return result;
}

double LandmarkScale(const std::vector<Landmark>& from, const std::vector<Landmark>& to)
{
  const LandmarkMoments m = Moments(from, to);
  if (!(m.spreadFrom > 0))
  {
    return 0;
  }
  const ProperSvd proper(m.covariance);
  return (proper.svd.singularValues().asDiagonal() * proper.sign).trace() / m.spreadFrom;
}

namespace
{
constexpr double kMaxDistance = 40.0; // mm: the farthest a trusted match lies
constexpr double kKept = 0.85;        // share of the trusted matches kept, the nearest
constexpr size_t kMinMatches = 6;     // fewer trusted matches end the refinement

// The normal equations of a step: turn w about the centre, then shift d.
struct RigidSystem
{
  Eigen::Matrix<double, 6, 6> normal = Eigen::Matrix<double, 6, 6>::Zero();
  Eigen::Matrix<double, 6, 1> right = Eigen::Matrix<double, 6, 1>::Zero();
  double weights = 0; // of the surface's rows
};

// The centre of the samples' points.
Eigen::Vector3d SampleCentre(const TriangleSurface& templ, const std::vector<size_t>& samples)
{
  Eigen::Vector3d center = Eigen::Vector3d::Zero();
  for (size_t i : samples)
  {
    center += Eigen::Vector3d(templ.points[3 * i], templ.points[3 * i + 1], templ.points[3 * i + 2]);
  }
  center /= static_cast<double>(std::max<size_t>(1, samples.size()));
  return center;
}

// Each sample's match on the scan, its point and normal brought into the
// template's frame by `toTemplate`.
void MatchSamples(const TriangleSurface& templ, const std::vector<double>& templNormals, const TriangleTree& scan,
  const std::vector<size_t>& samples, const RigidTransform& toTemplate, std::vector<ScanMatch>& matches)
{
  const RigidTransform toScan = toTemplate.Inverse();
  ParallelRanges(samples.size(), [&](size_t begin, size_t end) {
    for (size_t s = begin; s < end; ++s)
    {
      const size_t i = samples[s];
      double x[3];
      toScan.Apply(&templ.points[3 * i], x);
      ScanMatch& match = matches[s];
      match = MatchOnScan(scan, x, &templNormals[3 * i], kMaxDistance, kBorderNever, &toTemplate);
      if (match.trusted)
      {
        toTemplate.Apply(match.point, match.point);
      }
    }
  });
}

// The distance within which the nearest kKept of `distances` lie (which it
// reorders).
double TrimmedLimit(std::vector<double>& distances)
{
  const size_t cut = std::min(distances.size() - 1, static_cast<size_t>(kKept * distances.size()));
  std::nth_element(distances.begin(), distances.begin() + cut, distances.end());
  return distances[cut];
}

// The rows of the trusted matches within `limit`, each weighted by its
// point's area; returns the weighted root mean square of their residuals.
double AddSurfaceRows(const TriangleSurface& templ, const std::vector<double>& templAreas,
  const std::vector<size_t>& samples, const std::vector<ScanMatch>& matches, const Eigen::Vector3d& center,
  double limit, RigidSystem& system)
{
  double sum = 0;
  for (size_t s = 0; s < samples.size(); ++s)
  {
    const ScanMatch& m = matches[s];
    if (!m.trusted || m.distance > limit)
    {
      continue;
    }
    const size_t i = samples[s];
    const Eigen::Vector3d p(templ.points[3 * i], templ.points[3 * i + 1], templ.points[3 * i + 2]);
    const Eigen::Vector3d point(m.point[0], m.point[1], m.point[2]);
    const Eigen::Vector3d normal(m.normal[0], m.normal[1], m.normal[2]);
    Eigen::Matrix<double, 6, 1> row;
    row.head<3>() = (point - center).cross(normal);
    row.tail<3>() = normal;
    const double residual = normal.dot(p - point);
    const double w = templAreas[i];
    system.normal += w * row * row.transpose();
    system.right += w * residual * row;
    sum += w * residual * residual;
    system.weights += w;
  }
  return std::sqrt(sum / system.weights);
}

// The landmarks' rows: each scan landmark, in the template's frame, toward
// its template landmark along x, y and z, all of them weighing
// `landmarkWeight` times the surface's rows.
void AddLandmarkRows(const RigidTransform& toTemplate, const std::vector<Landmark>& templateLandmarks,
  const std::vector<Landmark>& scanLandmarks, double landmarkWeight, const Eigen::Vector3d& center, RigidSystem& system)
{
  const size_t landmarkCount = std::min(templateLandmarks.size(), scanLandmarks.size());
  for (size_t l = 0; l < landmarkCount; ++l)
  {
    double y[3];
    toTemplate.Apply(scanLandmarks[l].data(), y);
    const Eigen::Vector3d point(y[0], y[1], y[2]);
    const Eigen::Vector3d target(templateLandmarks[l][0], templateLandmarks[l][1], templateLandmarks[l][2]);
    const double w = landmarkWeight * system.weights / static_cast<double>(landmarkCount);
    for (int a = 0; a < 3; ++a)
    {
      const Eigen::Vector3d axis = Eigen::Vector3d::Unit(a);
      Eigen::Matrix<double, 6, 1> row;
      row.head<3>() = (point - center).cross(axis);
      row.tail<3>() = axis;
      system.normal += w * row * row.transpose();
      system.right += w * (target - point)(a)*row;
    }
  }
}

// Composes a step with the transform: scan point y -> Rot(w) (y - center) +
// center + d after it.
void ApplyStep(
  const Eigen::Vector3d& w, const Eigen::Vector3d& d, const Eigen::Vector3d& center, RigidTransform& transform)
{
  const Eigen::Matrix3d turn = RotationOf(w);
  Eigen::Matrix3d r;
  Eigen::Vector3d t;
  for (int a = 0; a < 3; ++a)
  {
    for (int b = 0; b < 3; ++b)
    {
      r(a, b) = transform.r[a][b];
    }
    t(a) = transform.t[a];
  }
  const Eigen::Matrix3d newR = turn * r;
  const Eigen::Vector3d newT = turn * (t - center) + center + d;
  for (int a = 0; a < 3; ++a)
  {
    for (int b = 0; b < 3; ++b)
    {
      transform.r[a][b] = newR(a, b);
    }
    transform.t[a] = newT(a);
  }
}
}

RigidRefinement RefineAlignment(const TriangleSurface& templ, const std::vector<double>& templNormals,
  const std::vector<double>& templAreas, const TriangleTree& scan, const RigidTransform& start,
  const std::vector<Landmark>& templateLandmarks, const std::vector<Landmark>& scanLandmarks, double landmarkWeight,
  int maxSteps)
{
  const std::vector<size_t> samples = PoseSamples(templAreas);
  const Eigen::Vector3d center = SampleCentre(templ, samples);
  std::vector<ScanMatch> matches(samples.size());
  RigidRefinement result;
  result.transform = start;
  for (int iteration = 0; iteration < maxSteps; ++iteration)
  {
    MatchSamples(templ, templNormals, scan, samples, result.transform, matches);
    std::vector<double> distances = TrustedDistances(matches);
    result.matched = samples.empty() ? 0.0 : static_cast<double>(distances.size()) / samples.size();
    if (distances.size() < kMinMatches)
    {
      return result;
    }
    const double limit = TrimmedLimit(distances);
    RigidSystem system;
    result.rms = AddSurfaceRows(templ, templAreas, samples, matches, center, limit, system);
    AddLandmarkRows(result.transform, templateLandmarks, scanLandmarks, landmarkWeight, center, system);
    system.normal += 1e-9 * system.weights * Eigen::Matrix<double, 6, 6>::Identity();
    const Eigen::Matrix<double, 6, 1> step = system.normal.ldlt().solve(system.right);
    const Eigen::Vector3d w = step.head<3>();
    const Eigen::Vector3d d = step.tail<3>();
    ApplyStep(w, d, center, result.transform);
    result.iterations = iteration + 1;
    if (w.norm() < 1e-6 && d.norm() < 1e-5)
    {
      result.converged = true;
      break;
    }
  }
  return result;
}
