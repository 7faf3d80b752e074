// Non-rigid fit of a template surface to a scan that lies in the same
// frame: the template's points moved onto the scan by a smooth deformation
// (a graph of nodes with affine maps, fitted from stiff to supple), then
// each a short way along its direction onto the scan. The method is
// described at the top of templatefit.cpp.
//
// Inputs: the template's triangles (points on none move with the field
// too), the scan's triangle tree, landmarks on the template with their
// places on the scan, and the fit's options. Outputs: the fitted points,
// which of them have a trusted match on the scan, the landmarks moved by the
// fitted field, and figures of the fit (FitResult). Nothing fails: a
// template with no triangle comes back as it was, and where no point finds a
// trusted match the fit stops with the points where it had taken them (the
// figures then left at 0); the caller judges the figures.
#pragma once

#include "geometry/trianglesurface.h"
#include "geometry/triangletree.h"

#include <array>
#include <vector>

struct FitOptions
{
  double nodeSpacing = 10.0;                                  // mm between nodes
  std::vector<double> stiffness = { 30, 10, 3, 1, 0.3, 0.1 }; // regulariser weights, level by level
  int stepsPerLevel = 8;
  int lastLevelSteps = 30;
  double pointWeight = 0.0;      // point-to-point share of the data term
  double startDistance = 20.0;   // mm
  double minDistance = 3.0;      // mm
  double projectionLimit = 2.0;  // mm
  double sideWeight = 1.0;       // pull of each point's displacement across its direction toward none,
                                 // relative to the point's data term
  bool radial = true;            // a point's direction runs from the centre of the template's points
                                 // through it (where that line is within 60 degrees of the point's
                                 // normal; the normal elsewhere), not along its normal
  double bendWeight = 0.01;      // weight of the linear parts' differences against the maps' agreement
  double gradientWeight = 0.0;   // pull of every node's linear part toward the identity, times the stiffness
  double landmarkWeight = 0.001; // all landmarks together, relative to the data term of every point
  double anchorWeight = 0.003;   // pull of every node toward no displacement, relative likewise
};

struct FitResult
{
  std::vector<double> points;               // the fitted template points, x, y, z each
  std::vector<char> matched;                // per point: a trusted match on the scan at the end
  std::vector<std::array<double, 3>> moved; // the extra points given, moved by the fitted field
  double mean = 0;                          // distance from the matched fitted points to the scan
  double p95 = 0;
  double largest = 0;
  double unmatched = 0; // share of the template's points (on triangles) with no trusted match
  double change = 0;    // 99th percentile of the moves of the points with a trusted match in the
                        // last step of the graph fit, mm
  int steps = 0;
  int nodes = 0;
};

// Fits `templ` to the scan indexed by `scan`, which lies in the template's
// frame. The template's landmarks `extra` are pulled toward the scan's
// `targets` (in pairs, the longer list's extra landmarks left out; all of
// them weighing landmarkWeight times the data term of every point), and come
// out moved by the fitted field.
FitResult FitTemplate(const TriangleSurface& templ, const TriangleTree& scan,
  const std::vector<std::array<double, 3>>& extra, const std::vector<std::array<double, 3>>& targets,
  const FitOptions& options = FitOptions());
