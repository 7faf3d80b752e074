// The frame of a head scan found from the scan alone: the template's axes
// and ear midpoint laid on the scan by three cues (the scan's mirror plane,
// its neck opening, the template's pose on it) and turned so that the face
// is in front.
//
// Inputs: the template's pose on the scan found without landmarks
// (headpose.h), the scan's mirror planes (headsymmetry.h), its opening
// (scanopening.h), samples and triangles, in the scan's frame. Outputs: the
// frame and which cue set each axis; or, where neither side of the midline
// shows a face, no frame (false). Nothing prints.
#pragma once

#include "fit/headpose.h"
#include "fit/headsymmetry.h"
#include "fit/scanopening.h"
#include "fit/scansamples.h"
#include "geometry/rigidtransform.h"
#include "geometry/trianglesurface.h"

#include <vector>

// The template's axes and its ear midpoint, in the scan's coordinates.
struct ScanFrame
{
  double x[3] = { 1, 0, 0 };
  double y[3] = { 0, 1, 0 };
  double z[3] = { 0, 0, 1 };
  double ears[3] = { 0, 0, 0 };

  // Scan to template: the axes onto x, y and z, `ears` onto the ear
  // midpoint M.
  RigidTransform ToTemplate() const;
  // The frame with x and y turned over: the other side in front.
  ScanFrame Turned() const;
  // The frame turned about its z through `ears` by `angle` radians (x toward y).
  ScanFrame Yawed(double angle) const;
  // The frame moved along its x by `shift` mm.
  ScanFrame Beside(double shift) const;
};

struct FrameCues
{
  ScanFrame frame;            // its front the template's
  bool xFromPlane = false;    // x across a mirror plane of the scan, else the template's
  bool upFromOpening = false; // up the opening's inward direction, else the template's
  double openingAngle = -1;   // degrees from the opening's inward direction to the template's up; -1 without one
};

// The frame of the cues: up is the neck opening's inward direction where
// the opening is a neck (at least kLargeOpening of the scan's radius across,
// or at least kOpeningSize and within 45 degrees of the template's up), else
// the template's; x runs across the best of the scan's mirror planes that
// is clearly a plane of symmetry (residual below 3% of the scan's radius)
// and holds the up direction within 20 degrees (the template's x within 20
// degrees, where up is the template's), else along the template's x; the
// ear midpoint is the template's, as posed, moved onto that plane.
FrameCues CueFrame(
  const HeadPose& pose, const std::vector<MirrorPlane>& planes, const ScanOpening& opening, const ScanSamples& samples);

// The frame of the cues, or it turned over, whichever shows a face in front
// (FindNasionAboveNose on its midline profile), turned about its up
// direction so that the nasion lies on its midline, and that nasion (in the
// template's frame). The profile is also taken on planes 3, 6 and 9 mm
// (times `scale`) beside the midline, the nasion where it lies farthest in
// front, unless the midline is a mirror plane's and its own profile shows
// the face (`onMidline` then true). False where no profile shows a face.
bool FaceFrame(const TriangleSurface& scan, const FrameCues& cues, double scale, ScanFrame& frame, double nasion[3],
  bool& onMidline);
