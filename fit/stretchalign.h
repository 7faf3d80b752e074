// The template's pose on a scan together with a stretch of the head: a
// robust refinement of a rigid alignment in which localised changes of the
// head's shape (bumps, flattening) count little, so that the motion found is
// that of the head as a whole.
//
// Inputs: the template's triangles with its point normals and areas
// (PointNormalsAndAreas), the scan's triangle tree in the scan's own frame, a
// starting transform template to scan, and the landmarks of both in the same
// order. Output: the stretched pose. Nothing fails: with no template sample,
// or too few trusted matches, the pose found so far (at first `start`, no
// stretch) comes back; the caller judges whether the stretch is plausible.
#pragma once

#include "fit/landmarks.h"
#include "geometry/rigidtransform.h"
#include "geometry/trianglesurface.h"
#include "geometry/triangletree.h"

#include <vector>

// The template's pose on the scan together with a stretch about the
// template's centre c: x -> R (c + S (x - c)) + t, S symmetric (a head's
// growth is longer in one direction than another), R and t the rigid motion.
struct StretchedPose
{
  RigidTransform motion; // template to scan, after the stretch
  double stretch[3][3] = { { 1, 0, 0 }, { 0, 1, 0 }, { 0, 0, 1 } };
  double center[3] = { 0, 0, 0 };
  int iterations = 0;
  double matched = 0; // share of the template samples with a trusted match, at the end
  // x -> R (c + S (x - c)) + t.
  void Apply(const double in[3], double out[3]) const;
};

struct StretchOptions
{
  double huber = 1.0;          // mm: residuals beyond it weigh as |r| (a robust fit: localised
                               // changes of the head's shape count little)
  double landmarkWeight = 0.1; // all landmarks together, relative to all the surface's matches; a
                               // landmark pulls along the template's surface only
  double landmarkHuber = 2.0;  // mm: a landmark whose offset along the surface passes it weighs as
                               // that offset (one that a bump moved sideways holds less)
  double stretchWeight = 0.03; // pull of S toward a uniform scale, times (100 mm)^2, relative likewise
};

// Refines `start` (template to scan) together with a symmetric stretch about
// the centre of the template's points, by robust point-to-plane ICP: up to
// 20,000 template samples are matched to the scan as RefineAlignment does
// (MatchOnScan), within a distance limit that starts at 20 mm and then
// follows the fit (three times the median residual, at least 2 mm); the
// landmarks pull along the template's surface, S is pulled toward a uniform
// scale (its size is the surface's to say). Stops when a step changes the pose by less than 1e-6 (radians and
// stretch) and 1e-5 mm, after 50 steps, when fewer than 12 matches are
// trusted or when a step is not a finite number.
StretchedPose RefineStretch(const TriangleSurface& templ, const std::vector<double>& templNormals,
  const std::vector<double>& templAreas, const TriangleTree& scan, const RigidTransform& start,
  const std::vector<Landmark>& templateLandmarks, const std::vector<Landmark>& scanLandmarks,
  const StretchOptions& options = StretchOptions());

// Whether the pose's stretch is one a head's shape can have: its motion
// finite, every entry of S - I a number within `maxStretch` of 0.
bool StretchIsPlausible(const StretchedPose& pose, double maxStretch);
