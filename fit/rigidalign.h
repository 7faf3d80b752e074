// Rigid alignment of a scan to a template: rotation and translation from
// corresponding landmarks, then refined against the whole surface by trimmed
// point-to-plane ICP; and the scale of the landmarks' similarity, which the
// template fit gives the template before it aligns (the scan keeps its size).
//
// Inputs: the template's triangles with its point normals and areas
// (PointNormalsAndAreas), the scan's triangle tree in the scan's own frame, a
// starting transform, and the landmarks of both in the same order.
// Outputs: the transform scan to template, with how well it fits (the share
// of the template that found the scan, the residual). Nothing fails: a
// refinement that finds too few matches stops and reports the share.
#pragma once

#include "fit/landmarks.h"
#include "geometry/rigidtransform.h"
#include "geometry/trianglesurface.h"
#include "geometry/triangletree.h"

#include <vector>

// The rotation and translation that bring `from` closest to `to` in the
// least-squares sense (the two lists pair up in order, the longer one's
// extra landmarks left out).
RigidTransform FitLandmarks(const std::vector<Landmark>& from, const std::vector<Landmark>& to);

// The scale s of the similarity that brings `from` closest to `to` in the
// least-squares sense (to ~ s R from + t, R a rotation): how much larger the
// head of `to` is. 0 when `from` has no spread.
double LandmarkScale(const std::vector<Landmark>& from, const std::vector<Landmark>& to);

struct RigidRefinement
{
  RigidTransform transform; // scan to template
  int iterations = 0;
  bool converged = false;
  double rms = 0;     // of the point-to-plane distances of the matches kept, at the end
  double matched = 0; // share of the template samples with a trusted match, at the end
};

// Refines `start` (scan to template) by trimmed point-to-plane ICP: up to
// 20,000 template points, spread over it by a fixed stride, are matched to
// their closest points on the scan; a match is trusted when it lies within
// 40 mm, off the scan's border and the two surfaces' normals are within 60
// degrees of each other (MatchOnScan), and the farthest 15% of the trusted
// matches are left out. The landmarks stay in the problem, all of them
// weighing `landmarkWeight` times as much as the surface's matches. Stops
// when a step turns by less than 1e-6 radians and moves by less than 1e-5 mm
// (converged), after `maxSteps` steps, or when fewer than 6 matches are
// trusted.
RigidRefinement RefineAlignment(const TriangleSurface& templ, const std::vector<double>& templNormals,
  const std::vector<double>& templAreas, const TriangleTree& scan, const RigidTransform& start,
  const std::vector<Landmark>& templateLandmarks, const std::vector<Landmark>& scanLandmarks,
  double landmarkWeight = 1.0, int maxSteps = 100);
