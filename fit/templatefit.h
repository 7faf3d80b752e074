// Non-rigid fit of a template surface to a scan already in the template's
// frame: an embedded deformation graph whose nodes carry affine maps, fitted
// from stiff to supple, then a short move of each point along its normal
// onto the scan.
//
// Nodes are spread over the template nodeSpacing apart (a Poisson-disk pick
// among its points), and every template point moves with the blend of its
// four nearest nodes' affine maps, weighted (1 - d / d5)^2 by its distances
// d to them (d5: the fifth nearest). So the displacement is smooth at the
// nodes' scale whatever the template's triangles look like, and a point with
// no match on the scan (a hole, the open neck) moves with its neighbours.
// Each step matches every template point to its closest scan point, trusts
// the match when it lies within the current distance limit, off the scan's
// border and with normals within 60 degrees (either orientation), and the
// point's match has not turned from trusted to untrusted or back three times
// already (one that comes and goes from step to step, where the scan goes on
// past the template's edge, holds the fit from settling), and solves
// one linear least-squares problem for all the nodes' maps at once
// (conjugate gradients, started from the step before):
//   - the point-to-plane distances of the trusted matches, weighted by each
//     point's share of the template's area, plus `pointWeight` times the
//     point-to-point distances;
//   - for every point, `sideWeight` times the part of its displacement
//     across its direction: the line from the centre of the template's
//     points through it (`radial`), or its normal. Normal to the surface the
//     data say where the surface went; along it they say nothing, and a
//     head's deformations (growth, flattening, a helmet's correction) push
//     its surface out or in from its centre, so a point keeps its place;
//   - the graph's regulariser, stiffness times: for each pair of nodes that
//     move a common point, how far node k's affine map sends node l from
//     where l's own map puts it (the field is locally affine), `bendWeight`
//     times the difference of their linear parts times nodeSpacing, and
//     `gradientWeight` times each linear part's departure from the identity
//     times nodeSpacing (none by default: a stretch of the head is no fault);
//   - the landmarks pulled toward the scan's, and every node weakly toward no
//     displacement, less so once the stiffness runs below 0.3 (see
//     FitTemplate).
// The stiffness runs down the schedule, each level until no point moves by
// more than 0.01 mm (99% of them: a few points whose match comes and goes at
// the scan's borders do not count) or for `stepsPerLevel` steps; the last,
// most supple level for up to `lastLevelSteps`: where the scan goes on past the
// template's edge (a neck, the shoulders), the points near that edge take it
// up a few at a time, and the fit settles only once they have. The distance
// limit starts at `startDistance` and then follows the fit: four times the
// median distance of the trusted matches of the step before, within
// [minDistance, startDistance]. Finally each template point with a trusted
// match (or within 0.5 mm of the scan's border) moves along its direction to
// the scan's tangent plane at the match (twice, matching again), by at most
// `projectionLimit`: the fitted points lie on the scan and slide along it by
// no more than the angle between that direction and the scan's normal allows.
#pragma once

#include "fit/scanfile.h"
#include "geometry/triangletree.h"

#include <array>
#include <vector>

struct FitOptions
{
  double nodeSpacing = 10.0;                                    // mm between nodes
  std::vector<double> stiffness = { 30, 10, 3, 1, 0.3, 0.1 };   // regulariser weights, level by level
  int stepsPerLevel = 8;
  int lastLevelSteps = 30;
  double pointWeight = 0.0;     // point-to-point share of the data term
  double startDistance = 20.0;  // mm
  double minDistance = 3.0;     // mm
  double projectionLimit = 2.0; // mm
  double sideWeight = 1.0;      // pull of each point's displacement across its direction toward none,
                                // relative to the point's data term
  bool radial = true;           // a point's direction runs from the centre of the template's points
                                // through it (where that line is within 60 degrees of the point's
                                // normal; the normal elsewhere), not along its normal
  double bendWeight = 0.01;     // weight of the linear parts' differences against the maps' agreement
  double gradientWeight = 0.0;  // pull of every node's linear part toward the identity, times the stiffness
  double landmarkWeight = 0.001; // all landmarks together, relative to the data term of every point
  double anchorWeight = 0.003;  // pull of every node toward no displacement, relative likewise
};

struct FitResult
{
  std::vector<double> points;    // the fitted template points, x, y, z each
  std::vector<char> matched;     // per point: a trusted match on the scan at the end
  std::vector<std::array<double, 3>> moved; // the extra points given, moved by the fitted field
  double mean = 0;               // distance from the matched fitted points to the scan
  double p95 = 0;
  double largest = 0;
  double unmatched = 0;          // share of the template's points (on triangles) with no trusted match
  double change = 0;             // 99th percentile of the point moves of the last step of the graph fit, mm
  int steps = 0;
  int nodes = 0;
};

// Fits `templ` (its points on triangles; points on none move with the field
// too) to the scan indexed by `scan`, which lies in the template's frame.
// The template's landmarks `extra` are pulled toward the scan's `targets`
// (all of them weighing landmarkWeight times the data term of every point),
// and come out moved by the fitted field. Every node is also pulled, weakly,
// toward no displacement: a head's surface barely resists a turn about its
// long axis, and the smallest deformation is the one kept.
FitResult FitTemplate(const TriangleSurface& templ, const TriangleTree& scan,
  const std::vector<std::array<double, 3>>& extra, const std::vector<std::array<double, 3>>& targets,
  const FitOptions& options = FitOptions());

