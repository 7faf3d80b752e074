// Rigid alignment of a scan to a template: from corresponding landmarks
// (rotation and translation by least squares, never scale), then refined
// against the whole surface by trimmed point-to-plane ICP.
#pragma once

#include "fit/landmarks.h"
#include "fit/scanfile.h"
#include "geometry/rigidtransform.h"
#include "geometry/triangletree.h"

#include <array>
#include <vector>

// The rotation and translation that bring `from` closest to `to` in the
// least-squares sense (the two lists pair up in order).
RigidTransform FitLandmarks(const std::vector<Landmark>& from, const std::vector<Landmark>& to);

struct RigidRefinement
{
  RigidTransform transform; // scan to template
  int iterations = 0;
  bool converged = false;
  double rms = 0;           // of the point-to-plane distances of the matches kept, at the end
  double matched = 0;       // share of the template samples with a trusted match, at the end
};

// Refines `start`, which brings the scan into the template's frame, by
// trimmed point-to-plane ICP: up to 20,000 template points (spread over it by
// a fixed stride) are matched to their closest points on the scan (`scan`
// indexes the scan in its own frame); a match is trusted when it lies within
// 40 mm, off the scan's border and the two surfaces' normals are within 60
// degrees of each other (either orientation), and the farthest 15% of the
// trusted matches are left out. The landmarks stay in the problem, all of
// them weighing `landmarkWeight` times as much as the surface's matches: they
// hold the turns that a head's surface barely resists (a skull is close to a
// surface of revolution). Each step solves the linearised problem, and the
// loop stops when a step turns by less than 1e-6 radians and moves by less
// than 1e-5 mm, after 100 steps at most.
RigidRefinement RefineAlignment(const TriangleSurface& templ, const std::vector<double>& templNormals,
  const std::vector<double>& templAreas, const TriangleTree& scan, const RigidTransform& start,
  const std::vector<Landmark>& templateLandmarks, const std::vector<Landmark>& scanLandmarks,
  double landmarkWeight = 1.0);

// The template's pose on the scan together with a stretch about the
// template's centre c: x -> R (c + S (x - c)) + t, S symmetric (a head's
// growth is longer in one direction than another), R and t the rigid motion.
struct StretchedPose
{
  RigidTransform motion;   // template to scan, after the stretch
  double stretch[3][3] = { { 1, 0, 0 }, { 0, 1, 0 }, { 0, 0, 1 } };
  double center[3] = { 0, 0, 0 };
  int iterations = 0;
  double matched = 0;      // share of the template samples with a trusted match, at the end
  void Apply(const double in[3], double out[3]) const;
};

struct StretchOptions
{
  double huber = 1.0;          // mm: residuals beyond it weigh as |r| (a robust fit: localised
                               // changes of the head's shape count little)
  double landmarkWeight = 0.1; // all landmarks together, relative to all the surface's matches; a
                               // landmark pulls along the template's surface only (see RefineStretch)
  double landmarkHuber = 2.0;  // mm: a landmark whose offset along the surface passes it weighs as
                               // that offset (one that a bump moved sideways holds less)
  double stretchWeight = 0.03; // pull of S toward the identity, times (100 mm)^2, relative likewise
};

// Refines the template's pose on the scan (`start` takes the template into
// the scan's frame) together with a symmetric stretch about the centre of the
// template's points, by robust point-to-plane ICP (Gauss-Newton with Huber
// weights): up to 20,000 template samples are matched to the scan (`scan`
// indexes it in its own frame) as RefineAlignment does, within a distance
// limit that starts at 20 mm and then follows the fit (three times the median
// residual, at least 2 mm); the landmarks pull the template's toward the
// scan's along the template's surface (`landmarkWeight`; across it, a bump
// under a landmark moves it as much as the surface, which the surface's
// matches say), S is pulled toward the identity
// (`stretchWeight`). Localised deformations (bumps, flattening) then count
// as outliers: the motion found is that of the head as a whole, and a stretch
// about the centre is not taken for a motion. Stops when a step changes the
// pose by less than 1e-6 (radians and stretch) and 1e-5 mm, after 50 steps at most.
StretchedPose RefineStretch(const TriangleSurface& templ, const std::vector<double>& templNormals,
  const std::vector<double>& templAreas, const TriangleTree& scan, const RigidTransform& start,
  const std::vector<Landmark>& templateLandmarks, const std::vector<Landmark>& scanLandmarks,
  const StretchOptions& options = StretchOptions());
