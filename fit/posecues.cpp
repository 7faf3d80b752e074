// The cues of a head's pose, and what each is trusted for. The template
// laid on the scan every way round (headpose.h) finds which way is roughly
// up and front on any head, but an infant's template on an adult's head
// leaves the head's turn 10 to 30 degrees off; a head's mirror plane and its
// open neck say the side and the up direction to a degree where the scan
// shows them, so they set the axes where they are clear, and the template's
// pose where they are not (a synthetic head with bumps of 15 mm is as
// symmetric about other planes; a hole in the hair is a loop of the border
// too). The front is where the midline profile shows a face: a nose below a
// nasion.
#include "fit/posecues.h"

#include "fit/surfacetriangles.h"
#include "geometry/headframe.h"
#include "geometry/vector.h"
#include "measure/headshape.h"

#include <algorithm>
#include <cmath>

namespace
{
const double kPi = 3.14159265358979323846;
constexpr double kOpeningReach = 0.707; // cosine of 45 degrees: an opening this near the template's down
constexpr double kOpeningSize = 0.15;   // of the scan's radius: the least radius of a neck opening
constexpr double kLargeOpening = 0.3;   // of the scan's radius: an opening this large is the neck
constexpr double kSymmetricHead = 0.03; // of the scan's radius: a mirror plane whose residual is below it
                                        // is clearly one
constexpr double kPlaneReach = 0.94;    // cosine of 20 degrees: a mirror plane this near the template's
constexpr double kAcrossUp = 0.342;     // sine of 20 degrees: a mirror plane this near to holding up
constexpr double kFaceSearch[] = { 0, -3, 3, -6, 6, -9, 9 }; // mm at the template's size: the profiles
                                                             // beside the midline searched for a face

// Column `c` of a transform's rotation.
void Column(const RigidTransform& t, int c, double out[3])
{
  for (int k = 0; k < 3; ++k)
  {
    out[k] = t.r[k][c];
  }
}

// `v` with its part along the unit `n` taken out, made a unit vector.
void Across(const double v[3], const double n[3], double out[3])
{
  const double along = Dot(v, n);
  for (int k = 0; k < 3; ++k)
  {
    out[k] = v[k] - along * n[k];
  }
  const double length = Norm(out);
  for (int k = 0; k < 3; ++k)
  {
    out[k] /= length;
  }
}

// The up direction of the cues: the opening's inward direction where it is
// a neck, else the template's `poseUp`. True where the opening set it.
bool UpOf(
  const ScanOpening& opening, const double poseUp[3], const ScanSamples& samples, double up[3], double& openingAngle)
{
  std::copy(poseUp, poseUp + 3, up);
  if (!opening.found)
  {
    return false;
  }
  const double inward[3] = { -opening.out[0], -opening.out[1], -opening.out[2] };
  const double cosine = Dot(inward, poseUp);
  openingAngle = std::acos(std::clamp(cosine, -1.0, 1.0)) * 180.0 / kPi;
  const bool neck = opening.radius >= kLargeOpening * samples.radius ||
    (opening.radius >= kOpeningSize * samples.radius && cosine >= kOpeningReach);
  if (neck)
  {
    std::copy(inward, inward + 3, up);
  }
  return neck;
}

// The nasion of the scan in `frame` (turned about its up direction so that
// the nasion lies on its midline), as FaceFrame finds it.
bool FaceIn(
  const TriangleSurface& scan, ScanFrame& frame, double scale, bool fromPlane, double nasion[3], bool& onMidline)
{
  bool found = false;
  double shift = 0;
  for (double step : kFaceSearch)
  {
    double at[3];
    if (FindNasionAboveNose(PolyDataOf(Moved(scan, frame.Beside(step * scale).ToTemplate())), at) &&
      (!found || at[1] < nasion[1]))
    {
      std::copy(at, at + 3, nasion);
      shift = step * scale;
      found = true;
      onMidline = step == 0;
      if (onMidline && fromPlane)
      {
        return true;
      }
    }
  }
  if (found)
  {
    const double ahead = kEarMidpoint[1] - nasion[1];
    frame = frame.Yawed(std::atan2(shift, ahead));
    nasion[1] = kEarMidpoint[1] - std::hypot(shift, ahead);
  }
  return found;
}
}

RigidTransform ScanFrame::ToTemplate() const
{
  RigidTransform t;
  const double* axes[3] = { x, y, z };
  for (int i = 0; i < 3; ++i)
  {
    for (int k = 0; k < 3; ++k)
    {
      t.r[i][k] = axes[i][k];
    }
    t.t[i] = kEarMidpoint[i] - Dot(axes[i], ears);
  }
  return t;
}

ScanFrame ScanFrame::Turned() const
{
  ScanFrame turned = *this;
  for (int k = 0; k < 3; ++k)
  {
    turned.x[k] = -x[k];
    turned.y[k] = -y[k];
  }
  return turned;
}

ScanFrame ScanFrame::Yawed(double angle) const
{
  ScanFrame turned = *this;
  for (int k = 0; k < 3; ++k)
  {
    turned.x[k] = std::cos(angle) * x[k] + std::sin(angle) * y[k];
    turned.y[k] = std::cos(angle) * y[k] - std::sin(angle) * x[k];
  }
  return turned;
}

ScanFrame ScanFrame::Beside(double shift) const
{
  ScanFrame beside = *this;
  for (int k = 0; k < 3; ++k)
  {
    beside.ears[k] += shift * x[k];
  }
  return beside;
}

FrameCues CueFrame(
  const HeadPose& pose, const std::vector<MirrorPlane>& planes, const ScanOpening& opening, const ScanSamples& samples)
{
  FrameCues cues;
  ScanFrame& f = cues.frame;
  double poseX[3], poseUp[3], up[3];
  Column(pose.pose.motion, 0, poseX);
  Column(pose.pose.motion, 2, poseUp);
  pose.pose.Apply(kEarMidpoint, f.ears);
  std::copy(poseX, poseX + 3, f.x);
  cues.upFromOpening = UpOf(opening, poseUp, samples, up, cues.openingAngle);
  for (const MirrorPlane& plane : planes)
  {
    const double facing = Dot(plane.normal, poseX);
    const bool near =
      cues.upFromOpening ? std::abs(Dot(plane.normal, up)) <= kAcrossUp : std::abs(facing) >= kPlaneReach;
    if (near && plane.residual < kSymmetricHead * samples.radius)
    {
      const double off = Dot(plane.normal, f.ears) - plane.offset;
      for (int k = 0; k < 3; ++k)
      {
        f.x[k] = (facing < 0 ? -1.0 : 1.0) * plane.normal[k];
        f.ears[k] -= off * plane.normal[k];
      }
      cues.xFromPlane = true;
      break;
    }
  }
  Across(up, f.x, f.z);
  Cross(f.z, f.x, f.y);
  return cues;
}

bool FaceFrame(
  const TriangleSurface& scan, const FrameCues& cues, double scale, ScanFrame& frame, double nasion[3], bool& onMidline)
{
  frame = cues.frame;
  if (FaceIn(scan, frame, scale, cues.xFromPlane, nasion, onMidline))
  {
    return true;
  }
  frame = cues.frame.Turned();
  return FaceIn(scan, frame, scale, cues.xFromPlane, nasion, onMidline);
}
