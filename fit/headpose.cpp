// The pose search. With the mirror planes laid on each other, a head's pose
// is a turn within the plane and which side of it the template's right goes
// to: 24 starts (every 30 degrees, both sides) cover it within the reach
// of ICP (about 20 degrees either way). Each start puts the template's
// centre over the scan's (projected onto the scan's plane: a scan that goes
// on into a neck and a face has its centre lower and further forward than
// the template's, by less than ICP's 40 mm of reach) and is refined by the
// rigid alignment's ICP on a coarse sample of the template. Only the
// template's points look for the scan, so a neck, shoulders or a larger face
// on the scan cost nothing, while the template's parts that find no scan
// (its skull put over the open neck, its face where the scan has the back
// of the head) each count the full cap: the score is the mean distance of
// the template's samples from the scan, each counted up to kPoseCap (and a
// sample without a trusted match as kPoseCap).
#include "fit/headpose.h"

#include "fit/posesteps.h"
#include "fit/rigidalign.h"
#include "fit/scanmatch.h"
#include "geometry/headframe.h"
#include "geometry/vector.h"
#include "parallel/parallel.h"

#include <algorithm>
#include <cmath>

namespace
{
constexpr size_t kFirstSamples = 200;  // template points that refine and score every start
constexpr int kFirstSteps = 8;         // their ICP steps
constexpr size_t kSecondSamples = 800; // the same for the best few
constexpr size_t kSecondStarts = 4;
constexpr size_t kFinalSamples = 4000; // template points of the last refinement
constexpr int kTurns = 12;             // starts within the plane, each way round
const double kPi = 3.14159265358979323846;

// The template's points that the search works on: about kSecondSamples
// spread by a fixed stride over those on triangles, scaled about the ear
// midpoint; the areas of every fifth of them (the first stage's) and of
// all (the second's).
struct CoarseTemplate
{
  TriangleSurface points;
  std::vector<double> normals;
  std::vector<double> first;
  std::vector<double> second;
  double scale = 1;
};

CoarseTemplate Coarse(const TemplateShape& templ, double scale)
{
  CoarseTemplate coarse;
  coarse.scale = scale;
  const size_t onTriangles =
    static_cast<size_t>(std::count_if(templ.areas.begin(), templ.areas.end(), [](double a) { return a > 0; }));
  const size_t stride = std::max<size_t>(1, onTriangles / kSecondSamples);
  const size_t firstStride = std::max<size_t>(1, kSecondSamples / kFirstSamples);
  size_t seen = 0;
  for (size_t i = 0; i < templ.areas.size(); ++i)
  {
    if (!(templ.areas[i] > 0) || seen++ % stride != 0)
    {
      continue;
    }
    for (int k = 0; k < 3; ++k)
    {
      coarse.points.points.push_back(kEarMidpoint[k] + scale * (templ.triangles.points[3 * i + k] - kEarMidpoint[k]));
      coarse.normals.push_back(templ.normals[3 * i + k]);
    }
    coarse.second.push_back(templ.areas[i]);
    coarse.first.push_back(coarse.second.size() % firstStride == 1 ? templ.areas[i] : 0.0);
  }
  return coarse;
}

// The area-weighted centre of the points with an area.
void AreaCentre(const TriangleSurface& templ, const std::vector<double>& areas, double c[3])
{
  double total = 0;
  c[0] = c[1] = c[2] = 0;
  for (size_t i = 0; i < areas.size(); ++i)
  {
    for (int k = 0; k < 3; ++k)
    {
      c[k] += areas[i] * templ.points[3 * i + k];
    }
    total += areas[i];
  }
  for (int k = 0; k < 3 && total > 0; ++k)
  {
    c[k] /= total;
  }
}

// The scan's width across the plane over the template's across x.
double WidthScale(const TemplateShape& templ, const ScanSamples& samples, const MirrorPlane& plane)
{
  const double across[3] = { 1, 0, 0 };
  double low, high, scanLow, scanHigh;
  SampleExtent(templ.samples, across, 1, low, high);
  SampleExtent(samples, plane.normal, 1, scanLow, scanHigh);
  return high > low ? (scanHigh - scanLow) / (high - low) : 1.0;
}

// Start `turn` of side `side` (0 or 1): template to scan, the template's x
// along the plane's normal (or against it), its z turned by turn * 30
// degrees within the plane, its centre c over the scan's centre.
RigidTransform Start(const MirrorPlane& plane, const ScanSamples& samples, const double c[3], int side, int turn)
{
  double x[3], u[3], v[3], z[3], y[3];
  const double sign = side == 0 ? 1.0 : -1.0;
  for (int k = 0; k < 3; ++k)
  {
    x[k] = sign * plane.normal[k];
  }
  // u and v: any two directions across the plane's normal.
  const double helper[3] = { std::abs(x[0]) < 0.9 ? 1.0 : 0.0, std::abs(x[0]) < 0.9 ? 0.0 : 1.0, 0.0 };
  Cross(x, helper, u);
  const double length = Norm(u);
  for (double& value : u)
  {
    value /= length;
  }
  Cross(x, u, v);
  const double angle = 2.0 * kPi * turn / kTurns;
  for (int k = 0; k < 3; ++k)
  {
    z[k] = std::cos(angle) * u[k] + std::sin(angle) * v[k];
  }
  Cross(z, x, y);
  RigidTransform toScan;
  double over[3];
  const double off = Dot(plane.normal, samples.centre) - plane.offset;
  for (int k = 0; k < 3; ++k)
  {
    toScan.r[k][0] = x[k];
    toScan.r[k][1] = y[k];
    toScan.r[k][2] = z[k];
    over[k] = samples.centre[k] - off * plane.normal[k];
  }
  for (int k = 0; k < 3; ++k)
  {
    toScan.t[k] = over[k] - Dot(toScan.r[k], c);
  }
  return toScan;
}

// The score of a pose (template to scan) over the points with an area.
double PoseDistance(const TriangleSurface& templ, const std::vector<double>& normals, const std::vector<double>& areas,
  const TriangleTree& scan, const StretchedPose& pose)
{
  const std::vector<size_t> samples = PoseSamples(areas);
  const RigidTransform toTemplate = pose.motion.Inverse();
  std::vector<double> counted(samples.size());
  ParallelRanges(samples.size(), [&](size_t begin, size_t end) {
    for (size_t s = begin; s < end; ++s)
    {
      const size_t i = samples[s];
      double x[3];
      pose.Apply(&templ.points[3 * i], x);
      const ScanMatch m = MatchOnScan(scan, x, &normals[3 * i], kPoseCap, kBorderNever, &toTemplate);
      counted[s] = m.trusted ? m.distance : kPoseCap;
    }
  });
  double sum = 0;
  double total = 0;
  for (size_t s = 0; s < samples.size(); ++s)
  {
    sum += areas[samples[s]] * counted[s];
    total += areas[samples[s]];
  }
  return total > 0 ? sum / total : kPoseCap;
}

// Whether two rotations differ by 45 degrees or more: the trace of
// R1^T R2 is 1 + 2 cos(angle).
bool TurnedApart(const RigidTransform& a, const RigidTransform& b)
{
  double trace = 0;
  for (int i = 0; i < 3; ++i)
  {
    for (int k = 0; k < 3; ++k)
    {
      trace += a.r[k][i] * b.r[k][i];
    }
  }
  return (trace - 1.0) / 2.0 < std::cos(kPi / 4.0);
}
}

namespace
{
// A pose found by a start, and its score.
struct Candidate
{
  StretchedPose pose;
  double distance = 0;
  double scale = 1;
};

// Refines the pose `toScan` of the coarse template by `steps` ICP steps on
// the points of its first stage and scores it on them.
Candidate Refined(const CoarseTemplate& coarse, const TriangleTree& scan, const RigidTransform& toScan, int steps)
{
  const RigidRefinement aligned =
    RefineAlignment(coarse.points, coarse.normals, coarse.first, scan, toScan.Inverse(), {}, {}, 1.0, steps);
  Candidate candidate;
  candidate.pose.motion = aligned.transform.Inverse();
  candidate.distance = PoseDistance(coarse.points, coarse.normals, coarse.first, scan, candidate.pose);
  candidate.scale = coarse.scale;
  return candidate;
}

// Refines a candidate with a stretch on the points of the coarse
// template's second stage (the rigid pose kept where the stretch is not a
// head's) and scores it on them.
Candidate Stretched(const CoarseTemplate& coarse, const TriangleTree& scan, const Candidate& start, double maxStretch)
{
  Candidate candidate = start;
  candidate.pose = RefineStretch(coarse.points, coarse.normals, coarse.second, scan, start.pose.motion, {}, {});
  if (!StretchIsPlausible(candidate.pose, maxStretch))
  {
    candidate.pose = start.pose;
  }
  candidate.distance = PoseDistance(coarse.points, coarse.normals, coarse.second, scan, candidate.pose);
  return candidate;
}

// The best `count` candidates that lie 45 degrees or more apart, best first.
std::vector<Candidate> BestApart(std::vector<Candidate> candidates, size_t count)
{
  std::stable_sort(candidates.begin(), candidates.end(),
    [](const Candidate& a, const Candidate& b) { return a.distance < b.distance; });
  std::vector<Candidate> best;
  for (const Candidate& c : candidates)
  {
    const bool apart = std::all_of(
      best.begin(), best.end(), [&c](const Candidate& b) { return TurnedApart(b.pose.motion, c.pose.motion); });
    if (apart && best.size() < count)
    {
      best.push_back(c);
    }
  }
  return best;
}

// Every start refined by the first stage, for every plane.
std::vector<Candidate> FirstStage(const TemplateShape& templ, const TriangleTree& scan, const ScanSamples& samples,
  const std::vector<MirrorPlane>& planes)
{
  std::vector<Candidate> starts;
  for (const MirrorPlane& plane : planes)
  {
    const CoarseTemplate coarse = Coarse(templ, WidthScale(templ, samples, plane));
    double c[3];
    AreaCentre(coarse.points, coarse.first, c);
    for (int side = 0; side < 2; ++side)
    {
      for (int turn = 0; turn < kTurns; ++turn)
      {
        starts.push_back(Refined(coarse, scan, Start(plane, samples, c, side, turn), kFirstSteps));
      }
    }
  }
  return starts;
}
}

HeadPose FindHeadPose(const TemplateShape& templ, const TriangleTree& scan, const ScanSamples& samples,
  const std::vector<MirrorPlane>& planes, double maxStretch)
{
  std::vector<Candidate> best;
  for (const Candidate& start : BestApart(FirstStage(templ, scan, samples, planes), kSecondStarts))
  {
    best.push_back(Stretched(Coarse(templ, start.scale), scan, start, maxStretch));
  }
  best = BestApart(best, kSecondStarts);
  HeadPose result;
  if (best.empty())
  {
    return result;
  }
  result.scale = best[0].scale;
  result.distance = best[0].distance;
  result.runnerUp = best.size() > 1 ? best[1].distance : kPoseCap;
  TriangleSurface scaled = templ.triangles;
  for (size_t i = 0; i < scaled.points.size(); ++i)
  {
    scaled.points[i] = kEarMidpoint[i % 3] + result.scale * (scaled.points[i] - kEarMidpoint[i % 3]);
  }
  result.pose =
    RefineStretch(scaled, templ.normals, FewerSamples(templ.areas, kFinalSamples), scan, best[0].pose.motion, {}, {});
  result.stretched = StretchIsPlausible(result.pose, maxStretch);
  if (!result.stretched)
  {
    result.pose = StretchedPose();
    result.pose.motion = best[0].pose.motion;
  }
  return result;
}
