// Finding the landmarks.
//
// The pose. The scan's mirror planes come first (headsymmetry.h): a
// sphere, a box or a bowl is its own mirror image across planes far apart,
// and is refused. The template, scaled to the scan's width, is laid on the
// scan every way round (headpose.h); with the neck opening (scanopening.h)
// and the mirror plane it gives the frame, whose front is where the midline
// profile shows a face (posecues.h). A scan without a clear up direction
// (no opening that is a neck, and the template fitting about as well turned
// another way) or without a face is refused.
//
// The landmarks, in that frame (the scan's midline on x = M_x): the nasion
// where the profile's hollow lies between the nose and the brows
// (FindNasionAboveNose), the vertex the highest point of the midline cut
// (the top of the head as the frame sits: a head pitched against its neck
// opening has its vertex where the opening says up is), the opisthocranion
// the point of the midline cut farthest from the nasion, at or above the
// tragi and behind them. The tragi lie in front of the ears, often over a
// hole of the scan or under a cap: their midpoint is placed in the midline
// plane by the template's proportions (along and below the line from the
// nasion to the opisthocranion, over its length), each tragus then, where
// the side shows an ear's bump near where the template's lies
// (earbumps.h), as far from its bump as the template's tragus lies from the
// template's, and on the scan's outline there (over a hole, on the side's
// smooth surface about the ear, at the template's tragus's height above its
// own, lifted to the hole's rim: SideAt). The opisthocranion and the
// tragi are placed twice: the first opisthocranion is looked for above a
// level the template's proportions give.
//
// How sure: each landmark's certainty is that of the pose's cues (the
// mirror plane's residual against the best other plane's, where it set the
// side; the opening, where it set up, or the template's pose against the
// best other, where it did not) times how it was placed: 1 for the
// nasion on the midline profile and the opisthocranion, the vertex under an
// opening's up, 0.8 for the nasion on a profile beside the midline, the
// vertex under the template's up and a tragus by its ear's bump, 0.5 for a
// tragus by the proportions alone.
#include "fit/findlandmarks.h"

#include "fit/earbumps.h"
#include "fit/headpose.h"
#include "fit/headsymmetry.h"
#include "fit/posecues.h"
#include "fit/scanopening.h"
#include "fit/scansamples.h"
#include "fit/surfacetriangles.h"
#include "geometry/headframe.h"
#include "geometry/vector.h"
#include "measure/headshape.h"

#include <algorithm>
#include <cmath>

const char* const kLandmarkNames[kFiveLandmarks] = { "nasion", "right_tragus", "left_tragus", "vertex",
  "opisthocranion" };

namespace
{
const double kPi = 3.14159265358979323846;
constexpr size_t kScanSamples = 2000;
constexpr double kSymmetric = 0.02; // of the scan's radius: a plane whose residual is below it is a plane of
                                    // symmetry
constexpr double kClearPose = 1.3;  // the best other pose's distance, at least, over the pose's
constexpr double kMaxStretch = 0.3; // as the fit's: a head's proportions differ by up to a quarter
constexpr double kBumpReach = 0.1;  // of the nasion's distance from the opisthocranion: how far an ear's
                                    // bump may lie from where the template's proportions put it
constexpr double kRing = 0.1;       // the same: the ring about a tragus over a hole (SideAt)
constexpr double kDeeper = 0.2;     // of the ring's radius: see SideAt
constexpr double kBackFrom = 0.4;   // of the template's distance from the nasion to the opisthocranion at
                                    // the scan's size: the first opisthocranion lies this far behind the
constexpr double kEarsBelow = 0.2;  // nasion at least, and at most this far below it

enum Row
{
  kNasion,
  kRightTragus,
  kLeftTragus,
  kVertex,
  kOpisthocranion
};

// The farthest point from `from` of the crossings of the plane x = M_x,
// among those at or above `ears` and at or behind it; false when none is.
bool FarthestOnMidline(const TriangleSurface& surface, const double from[3], const double ears[3], double at[3])
{
  double farthest = -1;
  for (const auto& p : MidlineCrossings(surface, kMirrorX))
  {
    if (p[1] >= ears[1] && p[2] >= ears[2] && Distance2(p.data(), from) > farthest)
    {
      farthest = Distance2(p.data(), from);
      std::copy(p.begin(), p.end(), at);
    }
  }
  return farthest >= 0;
}

// The highest point of the crossings of the plane x = M_x; false when the
// plane misses the surface.
bool HighestOnMidline(const TriangleSurface& surface, double at[3])
{
  const auto crossings = MidlineCrossings(surface, kMirrorX);
  const auto top =
    std::max_element(crossings.begin(), crossings.end(), [](const auto& a, const auto& b) { return a[2] < b[2]; });
  if (top == crossings.end())
  {
    return false;
  }
  std::copy(top->begin(), top->end(), at);
  return true;
}

// The unit direction from the nasion to the opisthocranion in (y, z), the
// one across it toward the chin, and their distance.
double MidlineAxes(const double nasion[3], const double back[3], double along[2], double down[2])
{
  const double length = std::hypot(back[1] - nasion[1], back[2] - nasion[2]);
  along[0] = (back[1] - nasion[1]) / length;
  along[1] = (back[2] - nasion[2]) / length;
  down[0] = along[1];
  down[1] = -along[0];
  return length;
}
}

bool TemplateLandmarks(const TriangleSurface& templ, std::vector<Landmark>& five)
{
  five.assign(kFiveLandmarks, Landmark{ 0, 0, 0 });
  const double right[3] = { -1, 0, 0 };
  const double left[3] = { 1, 0, 0 };
  return FindNasionAboveNose(PolyDataOf(templ), five[kNasion].data()) &&
    FarthestCrossing(templ, kEarMidpoint, right, five[kRightTragus].data()) &&
    FarthestCrossing(templ, kEarMidpoint, left, five[kLeftTragus].data()) &&
    HighestOnMidline(templ, five[kVertex].data()) &&
    FarthestOnMidline(templ, five[kNasion].data(), kEarMidpoint, five[kOpisthocranion].data());
}

namespace
{
// The figures of the template that place a head's tragi, all over the
// distance from its nasion to its opisthocranion: its ear midpoint in the
// midline plane, from the nasion along the line to the opisthocranion and
// below it; its tragi's distance from the midline; on each side, its ear's
// bump (where it has one) from the ear midpoint and the tragus from the
// bump.
struct TragusModel
{
  double along = 0;
  double below = 0;
  double across = 0;
  bool bump[2] = { false, false };
  double bumpFromEars[2][2] = { { 0, 0 }, { 0, 0 } }; // per side: y, z
  double fromBump[2][2] = { { 0, 0 }, { 0, 0 } };
  double aboveSkull[2] = { NAN, NAN }; // per side: the tragus's height above the side's smooth surface there
};

TragusModel ModelOf(const TriangleSurface& templ, const std::vector<Landmark>& five)
{
  TragusModel model;
  double along[2], down[2];
  const double length = MidlineAxes(five[kNasion].data(), five[kOpisthocranion].data(), along, down);
  const double ears[2] = { kEarMidpoint[1] - five[kNasion][1], kEarMidpoint[2] - five[kNasion][2] };
  model.along = (ears[0] * along[0] + ears[1] * along[1]) / length;
  model.below = (ears[0] * down[0] + ears[1] * down[1]) / length;
  model.across = 0.5 * (five[kLeftTragus][0] - five[kRightTragus][0]) / length;
  for (int side = 0; side < 2; ++side)
  {
    const Landmark& tragus = five[side == 0 ? kRightTragus : kLeftTragus];
    const EarBump bump = FindEarBump(templ, side == 0 ? -1 : 1, &tragus[1], length);
    model.bump[side] = bump.found;
    double skull;
    if (bump.SkullAt(tragus[1], tragus[2], skull))
    {
      model.aboveSkull[side] = (std::abs(tragus[0] - kMirrorX) - skull) / length;
    }
    for (int k = 0; k < 2; ++k)
    {
      model.bumpFromEars[side][k] = (bump.centre[k] - kEarMidpoint[1 + k]) / length;
      model.fromBump[side][k] = (tragus[1 + k] - bump.centre[k]) / length;
    }
  }
  return model;
}

// The scan's lateral outline at (y, z) on side `side` (in the template's
// frame): where the line from the midline plane along x leaves it. Over a
// hole (where the line misses the side, or meets it deeper than
// kDeeper * `reach` inside the outermost of where lines on the front half of
// a ring of `reach` about (y, z) leave the scan: the floor of the concha):
// where the side's smooth surface about the ear is known, that surface at
// (y, z), `above` it (the tragus's height above it on the template) and
// lifted as far as the ring's crossings stand out of it (their median: the
// ring's top or bottom may meet the ear); else the outermost of those
// crossings (the ear lies behind a tragus). False where neither finds the
// scan.
bool SideAt(const TriangleSurface& framed, int side, double y, double z, double reach, const EarBump& bump,
  double above, double at[3])
{
  const double direction[3] = { static_cast<double>(side), 0, 0 };
  double outermost = 0;
  std::vector<double> lifted;
  for (int k = 2; k <= 6; ++k)
  {
    const double ring[3] = { kMirrorX, y + reach * std::cos(k * kPi / 4), z + reach * std::sin(k * kPi / 4) };
    double hit[3], skull;
    if (FarthestCrossing(framed, ring, direction, hit))
    {
      outermost = std::max(outermost, side * (hit[0] - kMirrorX));
      if (bump.SkullAt(ring[1], ring[2], skull))
      {
        lifted.push_back(side * (hit[0] - kMirrorX) - skull);
      }
    }
  }
  const double origin[3] = { kMirrorX, y, z };
  if (FarthestCrossing(framed, origin, direction, at) && side * (at[0] - kMirrorX) >= outermost - kDeeper * reach)
  {
    return true;
  }
  double skull;
  const bool smooth = !lifted.empty() && std::isfinite(above) && bump.SkullAt(y, z, skull);
  if (smooth)
  {
    std::nth_element(lifted.begin(), lifted.begin() + lifted.size() / 2, lifted.end());
    outermost = skull + above + lifted[lifted.size() / 2];
  }
  at[0] = kMirrorX + side * outermost;
  at[1] = y;
  at[2] = z;
  return smooth || outermost > 0;
}

// The tragi of the scan in the template's frame (`framed`), from the
// nasion and the opisthocranion found (the method at the top of this file);
// `byBump` says for each side whether its ear's bump placed it.
void PlaceTragi(const TriangleSurface& framed, const TragusModel& model, const double nasion[3], const double back[3],
  Landmark tragi[2], bool byBump[2])
{
  double along[2], down[2];
  const double length = MidlineAxes(nasion, back, along, down);
  const double ears[2] = { nasion[1] + length * (model.along * along[0] + model.below * down[0]),
    nasion[2] + length * (model.along * along[1] + model.below * down[1]) };
  for (int side = 0; side < 2; ++side)
  {
    const int sign = side == 0 ? -1 : 1;
    const EarBump bump = FindEarBump(framed, sign, ears, length);
    const double off = std::hypot(bump.centre[0] - ears[0] - length * model.bumpFromEars[side][0],
      bump.centre[1] - ears[1] - length * model.bumpFromEars[side][1]);
    byBump[side] = bump.found && model.bump[side] && off <= kBumpReach * length;
    const double y = byBump[side] ? bump.centre[0] + length * model.fromBump[side][0] : ears[0];
    const double z = byBump[side] ? bump.centre[1] + length * model.fromBump[side][1] : ears[1];
    if (!SideAt(framed, sign, y, z, kRing * length, bump, length * model.aboveSkull[side], tragi[side].data()))
    {
      tragi[side] = { kMirrorX + sign * model.across * length, y, z };
    }
  }
}

// The opisthocranion and the tragi of the scan in the template's frame,
// from the nasion (the method at the top of this file); `length` is the
// template's distance from its nasion to its opisthocranion at the scan's
// size.
void PlaceBackAndTragi(
  const TriangleSurface& framed, const TragusModel& model, double length, std::vector<Landmark>& found, bool byBump[2])
{
  double ears[3] = { kMirrorX, found[kNasion][1] + kBackFrom * length, found[kNasion][2] - kEarsBelow * length };
  for (int pass = 0; pass < 2; ++pass)
  {
    if (!FarthestOnMidline(framed, found[kNasion].data(), ears, found[kOpisthocranion].data()))
    {
      found[kOpisthocranion] = { kMirrorX, found[kNasion][1] + length, found[kNasion][2] };
    }
    Landmark tragi[2];
    PlaceTragi(framed, model, found[kNasion].data(), found[kOpisthocranion].data(), tragi, byBump);
    found[kRightTragus] = tragi[0];
    found[kLeftTragus] = tragi[1];
    for (int k = 0; k < 3; ++k)
    {
      ears[k] = 0.5 * (tragi[0][k] + tragi[1][k]);
    }
  }
}
}

namespace
{
// The scan's mirror planes; false, with the problem, where two planes far
// apart are both planes of symmetry.
bool PlanesOf(
  const ScanSamples& samples, const TriangleTree& tree, std::vector<MirrorPlane>& planes, FoundLandmarks& result)
{
  planes = FindMirrorPlanes(samples, tree);
  if (planes.empty())
  {
    result.problem = "it has too few triangles";
    return false;
  }
  result.mirrorResidual = planes[0].residual;
  result.mirrorRunnerUp = samples.radius;
  for (const MirrorPlane& other : planes)
  {
    if (PlanesApart(other, planes[0]))
    {
      result.mirrorRunnerUp = std::min(result.mirrorRunnerUp, other.residual);
    }
  }
  if (result.mirrorRunnerUp < kSymmetric * samples.radius)
  {
    result.problem = "no clear plane of symmetry: it is its own mirror image across planes far apart, as a "
                     "sphere, a box or a bowl is and a head is not";
    return false;
  }
  return true;
}

// The frame of the scan's pose with the face in front, and the template's
// scale; false, with the problem, where the pose is not clear.
bool PoseOf(const TriangleSurface& templ, const TriangleSurface& scan, const TriangleTree& tree,
  const ScanSamples& samples, const std::vector<MirrorPlane>& planes, FoundLandmarks& result, ScanFrame& frame,
  double nasion[3], bool& onMidline)
{
  std::vector<double> normals, areas;
  PointNormalsAndAreas(templ, normals, areas);
  const ScanSamples templateSamples = SampleScan(templ, nullptr, kScanSamples);
  const HeadPose pose =
    FindHeadPose(TemplateShape{ templ, normals, areas, templateSamples }, tree, samples, planes, kMaxStretch);
  result.scale = pose.scale;
  result.poseDistance = pose.distance;
  result.poseRunnerUp = pose.runnerUp;
  const FrameCues cues = CueFrame(pose, planes, FindOpening(scan, tree, samples.centre), samples);
  result.openingAngle = cues.openingAngle;
  result.xFromPlane = cues.xFromPlane;
  result.upFromOpening = cues.upFromOpening;
  if (!cues.upFromOpening && !(pose.runnerUp >= kClearPose * pose.distance))
  {
    result.problem = "no clear up direction: no neck opening, and the template fits it about as well turned "
                     "another way";
    return false;
  }
  if (!FaceFrame(scan, cues, pose.scale, frame, nasion, onMidline))
  {
    result.problem = "no face: its midline profile shows no nose below a nasion on either side";
    return false;
  }
  return true;
}

// How sure the pose's cues are, 0 to 1 (the method at the top of this file).
double PoseCertainty(const FoundLandmarks& result)
{
  const double plane =
    result.xFromPlane ? std::clamp(1.0 - result.mirrorResidual / result.mirrorRunnerUp, 0.0, 1.0) : 0.5;
  double up = std::clamp(result.poseRunnerUp / result.poseDistance - 1.0, 0.0, 1.0);
  if (result.upFromOpening)
  {
    up = result.openingAngle <= 45 ? 1.0 : 0.75;
  }
  return std::min(plane, up);
}
}

FoundLandmarks FindLandmarks(const TriangleSurface& templ, const TriangleSurface& scan, const TriangleTree& scanTree)
{
  FoundLandmarks result;
  std::vector<Landmark> five;
  if (!TemplateLandmarks(templ, five))
  {
    result.problem = "the template has no face with a nasion";
    return result;
  }
  const ScanSamples samples = SampleScan(scan, &scanTree, kScanSamples);
  std::vector<MirrorPlane> planes;
  ScanFrame frame;
  std::vector<Landmark> found(kFiveLandmarks);
  bool onMidline = false;
  if (!PlanesOf(samples, scanTree, planes, result) ||
    !PoseOf(templ, scan, scanTree, samples, planes, result, frame, found[kNasion].data(), onMidline))
  {
    return result;
  }
  result.toTemplate = frame.ToTemplate();
  const TriangleSurface framed = Moved(scan, result.toTemplate);
  HighestOnMidline(framed, found[kVertex].data());
  bool byBump[2];
  const double length = result.scale * Distance(five[kNasion].data(), five[kOpisthocranion].data());
  PlaceBackAndTragi(framed, ModelOf(templ, five), length, found, byBump);
  const double sure = PoseCertainty(result);
  const double how[kFiveLandmarks] = { onMidline ? 1.0 : 0.8, byBump[0] ? 0.8 : 0.5, byBump[1] ? 0.8 : 0.5,
    result.upFromOpening ? 1.0 : 0.8, 1.0 };
  const RigidTransform toScan = result.toTemplate.Inverse();
  result.confidence = 1;
  for (int row = 0; row < kFiveLandmarks; ++row)
  {
    FoundLandmark l;
    l.name = kLandmarkNames[row];
    toScan.Apply(found[row].data(), l.point.data());
    l.confidence = sure * how[row];
    result.confidence = std::min(result.confidence, l.confidence);
    result.landmarks.push_back(l);
  }
  return result;
}
