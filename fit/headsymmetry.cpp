// The mirror plane. A head is close to its own mirror image across its
// midsagittal plane and far from it across any other: the face, the neck
// and the open scan's edge break every other symmetry. The search scores
// planes through the scan's centre in directions spread evenly over the
// half sphere (a Fibonacci lattice, about 5 degrees apart) by the mirrored
// samples' distance from the scan, each counted up to 15% of the scan's
// radius, and refines the best few. A refinement mirrors the samples across
// the plane and aligns the mirror image to the scan by the rigid alignment's
// ICP (RefineAlignment, no landmarks); the alignment composed with the
// mirroring is then a reflection of the scan onto itself, whose plane (the
// eigenvector of the least eigenvalue of its linear part's symmetric part,
// through the midpoints of the samples and their images) is the next
// plane. Mirroring across the plane each round keeps the scan's holes and
// edges where they are, so the plane settles in a few rounds.
#include "fit/headsymmetry.h"

#include "fit/rigidalign.h"
#include "fit/scanmatch.h"
#include "geometry/vector.h"
#include "parallel/parallel.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace
{
constexpr int kDirections = 200;     // plane normals tried, over the half sphere
constexpr size_t kCoarseCount = 300; // samples that score them
constexpr int kCandidates = 4;       // planes refined
constexpr double kApart = 0.906;     // cosine of 25 degrees: planes this far apart are others
constexpr int kRounds = 3;           // refinements of a plane, at most
constexpr size_t kRefineCount = 500; // samples that refine it
constexpr int kRefineSteps = 10;     // ICP steps of a round
constexpr double kCap = 0.15;        // of the scan's radius: the most a sample's distance counts

// Direction i of the lattice over the half sphere z > 0.
void LatticeDirection(int i, double n[3])
{
  const double z = (i + 0.5) / kDirections;
  const double r = std::sqrt(1.0 - z * z);
  const double angle = 2.399963229728653 * i; // the golden angle
  n[0] = r * std::cos(angle);
  n[1] = r * std::sin(angle);
  n[2] = z;
}

// p mirrored across the plane normal . x = offset (a direction, with offset 0).
void Mirror(const double p[3], const double normal[3], double offset, double out[3])
{
  const double s = 2.0 * (Dot(normal, p) - offset);
  for (int k = 0; k < 3; ++k)
  {
    out[k] = p[k] - s * normal[k];
  }
}

// The residual of the plane over every `stride`-th sample.
double StridedResidual(const ScanSamples& samples, const TriangleTree& tree, const double normal[3], double offset,
  double cap, size_t stride)
{
  std::vector<double> distances((samples.Count() + stride - 1) / stride);
  if (distances.empty())
  {
    return cap;
  }
  ParallelRanges(distances.size(), [&](size_t begin, size_t end) {
    for (size_t j = begin; j < end; ++j)
    {
      double m[3];
      double mn[3];
      Mirror(&samples.points[3 * j * stride], normal, offset, m);
      Mirror(&samples.normals[3 * j * stride], normal, 0.0, mn);
      const ScanMatch match = MatchOnScan(tree, m, mn, cap, kBorderNever);
      distances[j] = match.trusted ? match.distance : cap;
    }
  });
  return std::accumulate(distances.begin(), distances.end(), 0.0) / static_cast<double>(distances.size());
}

// The plane of the reflection x -> A x + b (A nearly a reflection): through
// the midpoints of the samples and their images, across A's axis of -1.
void ReflectionPlane(const Eigen::Matrix3d& a, const Eigen::Vector3d& b, const ScanSamples& samples, MirrorPlane& plane)
{
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen(0.5 * (a + a.transpose()));
  Eigen::Vector3d n = eigen.eigenvectors().col(0);
  if (n.dot(Eigen::Vector3d(plane.normal[0], plane.normal[1], plane.normal[2])) < 0)
  {
    n = -n;
  }
  double sum = 0;
  for (size_t i = 0; i < samples.Count(); ++i)
  {
    const Eigen::Vector3d x(samples.points[3 * i], samples.points[3 * i + 1], samples.points[3 * i + 2]);
    sum += 0.5 * n.dot(x + a * x + b);
  }
  for (int k = 0; k < 3; ++k)
  {
    plane.normal[k] = n(k);
  }
  plane.offset = sum / static_cast<double>(std::max<size_t>(1, samples.Count()));
}

// One round: the samples mirrored across the plane, aligned to the scan,
// and the plane of the reflection that the two make. Returns how far the
// plane moved (its normal's turn in radians plus its shift over the radius).
double RefineRound(const ScanSamples& samples, const TriangleTree& tree, MirrorPlane& plane)
{
  TriangleSurface mirrored;
  mirrored.points.resize(samples.points.size());
  std::vector<double> normals(samples.normals.size());
  std::vector<double> areas(samples.Count(), 0.0);
  const size_t stride = std::max<size_t>(1, samples.Count() / kRefineCount);
  for (size_t i = 0; i < samples.Count(); i += stride)
  {
    Mirror(&samples.points[3 * i], plane.normal, plane.offset, &mirrored.points[3 * i]);
    Mirror(&samples.normals[3 * i], plane.normal, 0.0, &normals[3 * i]);
    areas[i] = samples.areas[i];
  }
  const RigidRefinement aligned =
    RefineAlignment(mirrored, normals, areas, tree, RigidTransform(), {}, {}, 1.0, kRefineSteps);
  // The image of x: mirrored (H x + h), then brought onto the scan (R^T (y - t)).
  Eigen::Matrix3d r;
  Eigen::Vector3d t;
  const Eigen::Vector3d n(plane.normal[0], plane.normal[1], plane.normal[2]);
  for (int i = 0; i < 3; ++i)
  {
    for (int j = 0; j < 3; ++j)
    {
      r(i, j) = aligned.transform.r[i][j];
    }
    t(i) = aligned.transform.t[i];
  }
  const Eigen::Matrix3d h = Eigen::Matrix3d::Identity() - 2.0 * n * n.transpose();
  const MirrorPlane before = plane;
  ReflectionPlane(r.transpose() * h, r.transpose() * (2.0 * plane.offset * n - t), samples, plane);
  const double turn = std::acos(std::min(1.0, Dot(before.normal, plane.normal)));
  return turn + std::abs(plane.offset - before.offset) / std::max(1.0, samples.radius);
}

// The best `kCandidates` lattice directions that lie 25 degrees or more
// apart, by the coarse score, best first.
std::vector<int> BestDirections(const ScanSamples& samples, const TriangleTree& tree, double cap)
{
  const size_t stride = std::max<size_t>(1, samples.Count() / kCoarseCount);
  std::vector<double> scores(kDirections);
  for (int i = 0; i < kDirections; ++i)
  {
    double n[3];
    LatticeDirection(i, n);
    scores[i] = StridedResidual(samples, tree, n, Dot(n, samples.centre), cap, stride);
  }
  std::vector<int> order(kDirections);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&scores](int a, int b) { return scores[a] < scores[b]; });
  std::vector<int> chosen;
  for (int i : order)
  {
    double n[3];
    LatticeDirection(i, n);
    const bool apart = std::all_of(chosen.begin(), chosen.end(), [&n](int c) {
      double m[3];
      LatticeDirection(c, m);
      return std::abs(Dot(n, m)) < kApart;
    });
    if (apart && chosen.size() < kCandidates)
    {
      chosen.push_back(i);
    }
  }
  return chosen;
}
}

bool PlanesApart(const MirrorPlane& a, const MirrorPlane& b)
{
  return std::abs(Dot(a.normal, b.normal)) < kApart;
}

std::vector<MirrorPlane> FindMirrorPlanes(const ScanSamples& samples, const TriangleTree& tree)
{
  const double cap = kCap * samples.radius;
  std::vector<MirrorPlane> planes;
  for (int i : BestDirections(samples, tree, cap))
  {
    MirrorPlane plane;
    LatticeDirection(i, plane.normal);
    plane.offset = Dot(plane.normal, samples.centre);
    for (int round = 0; round < kRounds && RefineRound(samples, tree, plane) > 1e-4; ++round)
    {
    }
    plane.residual = StridedResidual(samples, tree, plane.normal, plane.offset, cap, 1);
    planes.push_back(plane);
  }
  std::stable_sort(
    planes.begin(), planes.end(), [](const MirrorPlane& a, const MirrorPlane& b) { return a.residual < b.residual; });
  return planes;
}
