// When the closest point of a scan is trusted as the match of a template
// point: the one rule of the rigid alignment, the stretched alignment and
// the non-rigid fit.
//
// Inputs: the scan's triangle tree, a template point placed in the scan's
// frame, its unit normal, the distance limit and how near the scan's border a
// match may lie. Output: the closest point, its distance and the scan's
// normal there, and whether the match is trusted. Nothing fails: a point with
// no scan within the limit has an untrusted match.
#pragma once

#include "geometry/rigidtransform.h"
#include "geometry/triangletree.h"

#include <vector>

// A template point's match on the scan.
struct ScanMatch
{
  bool trusted = false;
  double distance = 0;            // from the template point to `point`
  double point[3] = { 0, 0, 0 };  // the closest point of the scan, in the scan's frame
  double normal[3] = { 0, 0, 0 }; // the scan's unit normal there, in the frame the normals were compared in
                                  // (all zero when the match is not trusted)
};

// How near the scan's border a trusted match may lie: a negative reach
// trusts no closest point on the border.
constexpr double kBorderNever = -1.0;

// The match of a template point at `x` (in the scan's frame) whose unit
// normal is `normal`: the closest point of `scan` within `limit`, trusted
// when it does not lie on the scan's border farther than `borderReach` from
// x, and the scan's normal there is within 60 degrees of `normal`, either
// orientation. `toTemplate`, when given, turns the scan's normal into the
// frame of `normal` (the template's) before they are compared; without it
// both are in the scan's frame.
ScanMatch MatchOnScan(const TriangleTree& scan, const double x[3], const double normal[3], double limit,
  double borderReach, const RigidTransform* toTemplate = nullptr);

// The distances of the trusted matches among `matches`, in their order.
std::vector<double> TrustedDistances(const std::vector<ScanMatch>& matches);
