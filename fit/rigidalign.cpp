#include "fit/rigidalign.h"

#include "parallel/parallel.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

RigidTransform FitLandmarks(const std::vector<Landmark>& from, const std::vector<Landmark>& to)
{
  const size_t n = std::min(from.size(), to.size());
  Eigen::Vector3d meanFrom = Eigen::Vector3d::Zero();
  Eigen::Vector3d meanTo = Eigen::Vector3d::Zero();
  for (size_t i = 0; i < n; ++i)
  {
    meanFrom += Eigen::Vector3d(from[i][0], from[i][1], from[i][2]);
    meanTo += Eigen::Vector3d(to[i][0], to[i][1], to[i][2]);
  }
  meanFrom /= static_cast<double>(n);
  meanTo /= static_cast<double>(n);
  Eigen::Matrix3d covariance = Eigen::Matrix3d::Zero();
  for (size_t i = 0; i < n; ++i)
  {
    covariance += (Eigen::Vector3d(to[i][0], to[i][1], to[i][2]) - meanTo) *
      (Eigen::Vector3d(from[i][0], from[i][1], from[i][2]) - meanFrom).transpose();
  }
  Eigen::JacobiSVD<Eigen::Matrix3d> svd(covariance, Eigen::ComputeFullU | Eigen::ComputeFullV);
  Eigen::Matrix3d sign = Eigen::Matrix3d::Identity();
  // A proper rotation, never a reflection.
  sign(2, 2) = (svd.matrixU() * svd.matrixV().transpose()).determinant() < 0 ? -1.0 : 1.0;
  const Eigen::Matrix3d rotation = svd.matrixU() * sign * svd.matrixV().transpose();
  const Eigen::Vector3d translation = meanTo - rotation * meanFrom;
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

namespace
{
// The rotation by the angle |w| about the axis w (Rodrigues' formula).
Eigen::Matrix3d Rotation(const Eigen::Vector3d& w)
{
  const double angle = w.norm();
  if (angle == 0)
  {
    return Eigen::Matrix3d::Identity();
  }
  return Eigen::AngleAxisd(angle, w / angle).toRotationMatrix();
}
}

RigidRefinement RefineAlignment(const TriangleSurface& templ, const std::vector<double>& templNormals,
  const std::vector<double>& templAreas, const TriangleTree& scan, const RigidTransform& start,
  const std::vector<Landmark>& templateLandmarks, const std::vector<Landmark>& scanLandmarks, double landmarkWeight)
{
  constexpr size_t kMaxSamples = 20000;
  constexpr double kMaxDistance = 40.0;
  constexpr double kNormalCosine = 0.5;
  constexpr double kKept = 0.85;
  std::vector<size_t> samples;
  for (size_t i = 0; i < templAreas.size(); ++i)
  {
    if (templAreas[i] > 0)
    {
      samples.push_back(i);
    }
  }
  const size_t stride = samples.size() / kMaxSamples + 1;
  std::vector<size_t> kept;
  for (size_t i = 0; i < samples.size(); i += stride)
  {
    kept.push_back(samples[i]);
  }
  samples.swap(kept);
  Eigen::Vector3d center = Eigen::Vector3d::Zero();
  for (size_t i : samples)
  {
    center += Eigen::Vector3d(templ.points[3 * i], templ.points[3 * i + 1], templ.points[3 * i + 2]);
  }
  center /= static_cast<double>(std::max<size_t>(1, samples.size()));

  struct Match
  {
    bool valid = false;
    double distance = 0;
    Eigen::Vector3d point; // on the scan, in the template's frame
    Eigen::Vector3d normal;
  };
  std::vector<Match> matches(samples.size());
  RigidRefinement result;
  result.transform = start;
  for (int iteration = 0; iteration < 100; ++iteration)
  {
    const RigidTransform toScan = result.transform.Inverse();
    const RigidTransform& toTemplate = result.transform;
    ParallelRanges(samples.size(), [&](size_t begin, size_t end) {
      for (size_t s = begin; s < end; ++s)
      {
        const size_t i = samples[s];
        double x[3];
        toScan.Apply(&templ.points[3 * i], x);
        const TriangleTree::Hit hit = scan.Closest(x, kMaxDistance);
        Match& match = matches[s];
        match.valid = false;
        if (!hit.found || hit.onBorder)
        {
          continue;
        }
        double normal[3];
        toTemplate.Rotate(scan.Normal(hit.triangle), normal);
        const double* n = &templNormals[3 * i];
        if (std::abs(normal[0] * n[0] + normal[1] * n[1] + normal[2] * n[2]) < kNormalCosine)
        {
          continue;
        }
        double y[3];
        toTemplate.Apply(hit.point, y);
        match.valid = true;
        match.distance = hit.distance;
        match.point = Eigen::Vector3d(y[0], y[1], y[2]);
        match.normal = Eigen::Vector3d(normal[0], normal[1], normal[2]);
      }
    });
    std::vector<double> distances;
    for (const Match& m : matches)
    {
      if (m.valid)
      {
        distances.push_back(m.distance);
      }
    }
    result.matched = samples.empty() ? 0.0 : static_cast<double>(distances.size()) / samples.size();
    if (distances.size() < 6)
    {
      return result;
    }
    const size_t cut = std::min(distances.size() - 1, static_cast<size_t>(kKept * distances.size()));
    std::nth_element(distances.begin(), distances.begin() + cut, distances.end());
    const double limit = distances[cut];

    Eigen::Matrix<double, 6, 6> normal = Eigen::Matrix<double, 6, 6>::Zero();
    Eigen::Matrix<double, 6, 1> right = Eigen::Matrix<double, 6, 1>::Zero();
    double sum = 0;
    double weights = 0;
    for (size_t s = 0; s < samples.size(); ++s)
    {
      const Match& m = matches[s];
      if (!m.valid || m.distance > limit)
      {
        continue;
      }
      const size_t i = samples[s];
      const Eigen::Vector3d p(templ.points[3 * i], templ.points[3 * i + 1], templ.points[3 * i + 2]);
      Eigen::Matrix<double, 6, 1> row;
      row.head<3>() = (m.point - center).cross(m.normal);
      row.tail<3>() = m.normal;
      const double residual = m.normal.dot(p - m.point);
      const double w = templAreas[i];
      normal += w * row * row.transpose();
      right += w * residual * row;
      sum += w * residual * residual;
      weights += w;
    }
    result.rms = std::sqrt(sum / weights);
    const size_t landmarkCount = std::min(templateLandmarks.size(), scanLandmarks.size());
    for (size_t l = 0; l < landmarkCount; ++l)
    {
      double y[3];
      toTemplate.Apply(scanLandmarks[l].data(), y);
      const Eigen::Vector3d point(y[0], y[1], y[2]);
      const Eigen::Vector3d target(templateLandmarks[l][0], templateLandmarks[l][1], templateLandmarks[l][2]);
      const double w = landmarkWeight * weights / static_cast<double>(landmarkCount);
      for (int a = 0; a < 3; ++a)
      {
        const Eigen::Vector3d axis = Eigen::Vector3d::Unit(a);
        Eigen::Matrix<double, 6, 1> row;
        row.head<3>() = (point - center).cross(axis);
        row.tail<3>() = axis;
        normal += w * row * row.transpose();
        right += w * (target - point)(a) * row;
      }
    }
    normal += 1e-9 * weights * Eigen::Matrix<double, 6, 6>::Identity();
    const Eigen::Matrix<double, 6, 1> step = normal.ldlt().solve(right);
    const Eigen::Vector3d w = step.head<3>();
    const Eigen::Vector3d d = step.tail<3>();
    // Compose: scan point y -> Rot(w) (y - center) + center + d.
    const Eigen::Matrix3d turn = Rotation(w);
    Eigen::Matrix3d r;
    Eigen::Vector3d t;
    for (int a = 0; a < 3; ++a)
    {
      for (int b = 0; b < 3; ++b)
      {
        r(a, b) = result.transform.r[a][b];
      }
      t(a) = result.transform.t[a];
    }
    const Eigen::Matrix3d newR = turn * r;
    const Eigen::Vector3d newT = turn * (t - center) + center + d;
    for (int a = 0; a < 3; ++a)
    {
      for (int b = 0; b < 3; ++b)
      {
        result.transform.r[a][b] = newR(a, b);
      }
      result.transform.t[a] = newT(a);
    }
    result.iterations = iteration + 1;
    if (w.norm() < 1e-6 && d.norm() < 1e-5)
    {
      result.converged = true;
      break;
    }
  }
  return result;
}

void StretchedPose::Apply(const double in[3], double out[3]) const
{
  const double u[3] = { in[0] - center[0], in[1] - center[1], in[2] - center[2] };
  double x[3];
  for (int a = 0; a < 3; ++a)
  {
    x[a] = center[a] + stretch[a][0] * u[0] + stretch[a][1] * u[1] + stretch[a][2] * u[2];
  }
  motion.Apply(x, out);
}

StretchedPose RefineStretch(const TriangleSurface& templ, const std::vector<double>& templNormals,
  const std::vector<double>& templAreas, const TriangleTree& scan, const RigidTransform& start,
  const std::vector<Landmark>& templateLandmarks, const std::vector<Landmark>& scanLandmarks,
  const StretchOptions& options)
{
  constexpr size_t kMaxSamples = 20000;
  constexpr double kStartDistance = 20.0;
  constexpr double kMinDistance = 2.0;
  constexpr double kLimitFactor = 3.0; // the distance limit, in median residuals
  constexpr double kNormalCosine = 0.5;
  constexpr int kMaxSteps = 50;
  constexpr double kReach = 100.0; // mm: the stretch's weight is that of S - I over this length
  StretchedPose pose;
  std::vector<size_t> samples;
  Eigen::Vector3d center = Eigen::Vector3d::Zero();
  for (size_t i = 0; i < templAreas.size(); ++i)
  {
    center += Eigen::Vector3d(templ.points[3 * i], templ.points[3 * i + 1], templ.points[3 * i + 2]);
    if (templAreas[i] > 0)
    {
      samples.push_back(i);
    }
  }
  center /= static_cast<double>(std::max<size_t>(1, templAreas.size()));
  const size_t stride = samples.size() / kMaxSamples + 1;
  std::vector<size_t> kept;
  double totalArea = 0;
  for (size_t i = 0; i < samples.size(); i += stride)
  {
    kept.push_back(samples[i]);
    totalArea += templAreas[samples[i]];
  }
  samples.swap(kept);
  for (int a = 0; a < 3; ++a)
  {
    pose.center[a] = center(a);
  }
  pose.motion = start;
  // The pose as x -> R S (x - c) + b, b the image of the centre.
  Eigen::Matrix3d r;
  for (int a = 0; a < 3; ++a)
  {
    for (int c = 0; c < 3; ++c)
    {
      r(a, c) = start.r[a][c];
    }
  }
  Eigen::Matrix3d stretch = Eigen::Matrix3d::Identity();
  Eigen::Vector3d b;
  start.Apply(center.data(), b.data());
  if (samples.empty() || !(totalArea > 0))
  {
    return pose;
  }

  struct Match
  {
    bool valid = false;
    double residual = 0;    // along the scan's normal, from the posed template point to the scan
    Eigen::Vector3d normal; // the scan's
  };
  // Each landmark's direction across the surface: the normal at the
  // template point closest to it.
  const size_t landmarkCount = std::min(templateLandmarks.size(), scanLandmarks.size());
  std::vector<Eigen::Vector3d> landmarkNormals(landmarkCount, Eigen::Vector3d::Zero());
  for (size_t l = 0; l < landmarkCount; ++l)
  {
    const Eigen::Vector3d at(templateLandmarks[l][0], templateLandmarks[l][1], templateLandmarks[l][2]);
    double closest = std::numeric_limits<double>::infinity();
    for (const size_t i : samples)
    {
      const double d = (Eigen::Vector3d(templ.points[3 * i], templ.points[3 * i + 1], templ.points[3 * i + 2]) - at).squaredNorm();
      if (d < closest)
      {
        closest = d;
        landmarkNormals[l] = Eigen::Vector3d(templNormals[3 * i], templNormals[3 * i + 1], templNormals[3 * i + 2]);
      }
    }
  }
  std::vector<Match> matches(samples.size());
  double limit = kStartDistance;
  for (int step = 0; step < kMaxSteps; ++step)
  {
    ParallelRanges(samples.size(), [&](size_t begin, size_t end) {
      for (size_t s = begin; s < end; ++s)
      {
        const size_t i = samples[s];
        const Eigen::Vector3d u =
          Eigen::Vector3d(templ.points[3 * i], templ.points[3 * i + 1], templ.points[3 * i + 2]) - center;
        const Eigen::Vector3d x = r * (stretch * u) + b;
        const TriangleTree::Hit hit = scan.Closest(x.data(), limit);
        Match& match = matches[s];
        match.valid = false;
        if (!hit.found || hit.onBorder)
        {
          continue;
        }
        const Eigen::Vector3d n(scan.Normal(hit.triangle)[0], scan.Normal(hit.triangle)[1], scan.Normal(hit.triangle)[2]);
        const Eigen::Vector3d t = r * Eigen::Vector3d(templNormals[3 * i], templNormals[3 * i + 1], templNormals[3 * i + 2]);
        if (std::abs(n.dot(t)) < kNormalCosine)
        {
          continue;
        }
        match.valid = true;
        match.normal = n;
        match.residual = n.dot(Eigen::Vector3d(hit.point[0], hit.point[1], hit.point[2]) - x);
      }
    });
    // Parameters: the turn w (about the centre, in the template's frame),
    // the change of S (xx, yy, zz, xy, xz, yz) and of b.
    Eigen::Matrix<double, 12, 12> normal = Eigen::Matrix<double, 12, 12>::Zero();
    Eigen::Matrix<double, 12, 1> right = Eigen::Matrix<double, 12, 1>::Zero();
    auto add = [&](const Eigen::Vector3d& n, const Eigen::Vector3d& u, double residual, double w) {
      const Eigen::Vector3d v = stretch * u;
      const Eigen::Vector3d m = r.transpose() * n;
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
    };
    std::vector<double> residuals;
    for (size_t s = 0; s < samples.size(); ++s)
    {
      const Match& m = matches[s];
      if (!m.valid)
      {
        continue;
      }
      const size_t i = samples[s];
      const double size = std::abs(m.residual);
      residuals.push_back(size);
      const double robust = size <= options.huber ? 1.0 : options.huber / size;
      add(m.normal,
        Eigen::Vector3d(templ.points[3 * i], templ.points[3 * i + 1], templ.points[3 * i + 2]) - center, m.residual,
        robust * templAreas[i] / totalArea);
    }
    pose.matched = static_cast<double>(residuals.size()) / static_cast<double>(samples.size());
    if (residuals.size() < 12)
    {
      break;
    }
    // A landmark pulls along the surface only: how far out or in the head
    // went there is the surface's to say (a bump under the nasion moves it
    // out, and says nothing of the head's pose).
    for (size_t l = 0; l < landmarkCount; ++l)
    {
      const Eigen::Vector3d u = Eigen::Vector3d(templateLandmarks[l][0], templateLandmarks[l][1], templateLandmarks[l][2]) - center;
      const Eigen::Vector3d x = r * (stretch * u) + b;
      const Eigen::Vector3d target(scanLandmarks[l][0], scanLandmarks[l][1], scanLandmarks[l][2]);
      const double w = options.landmarkWeight / static_cast<double>(landmarkCount);
      const Eigen::Vector3d across = r * landmarkNormals[l];
      if (across.squaredNorm() > 0)
      {
        // Huber weights on the landmark's offset along the surface: a landmark
        // that the surface and the others place elsewhere counts less.
        const Eigen::Vector3d along = across.unitOrthogonal();
        const Eigen::Vector3d other = across.normalized().cross(along);
        const double offset = std::hypot(along.dot(target - x), other.dot(target - x));
        const double robust = offset <= options.landmarkHuber ? 1.0 : options.landmarkHuber / offset;
        for (const Eigen::Vector3d& e : { along, other })
        {
          add(e, u, e.dot(target - x), robust * w);
        }
      }
      else
      {
        for (int a = 0; a < 3; ++a)
        {
          add(Eigen::Vector3d::Unit(a), u, (target - x)(a), w);
        }
      }
    }
    // S toward the identity (the off-diagonal entries count twice).
    const double pull = options.stretchWeight * kReach * kReach;
    const Eigen::Matrix3d e = stretch - Eigen::Matrix3d::Identity();
    const double entries[6] = { e(0, 0), e(1, 1), e(2, 2), e(0, 1), e(0, 2), e(1, 2) };
    for (int k = 0; k < 6; ++k)
    {
      const double w = pull * (k < 3 ? 1.0 : 2.0);
      normal(3 + k, 3 + k) += w;
      right(3 + k) -= w * entries[k];
    }
    normal += 1e-12 * Eigen::Matrix<double, 12, 12>::Identity();
    const Eigen::Matrix<double, 12, 1> change = normal.ldlt().solve(right);
    if (!change.allFinite())
    {
      break;
    }
    const Eigen::Vector3d w = change.head<3>();
    Eigen::Matrix3d ds;
    ds << change(3), change(6), change(7), change(6), change(4), change(8), change(7), change(8), change(5);
    r = r * Rotation(w);
    stretch += ds;
    b += change.tail<3>();
    pose.iterations = step + 1;
    const size_t middle = residuals.size() / 2;
    std::nth_element(residuals.begin(), residuals.begin() + middle, residuals.end());
    limit = std::min(kStartDistance, std::max(kMinDistance, kLimitFactor * residuals[middle]));
    if (w.norm() < 1e-6 && ds.norm() < 1e-6 && change.tail<3>().norm() < 1e-5)
    {
      break;
    }
  }
  // Back to x -> R (c + S (x - c)) + t: t = b - R c.
  const Eigen::Vector3d t = b - r * center;
  for (int a = 0; a < 3; ++a)
  {
    for (int c = 0; c < 3; ++c)
    {
      pose.motion.r[a][c] = r(a, c);
      pose.stretch[a][c] = stretch(a, c);
    }
    pose.motion.t[a] = t(a);
  }
  return pose;
}
