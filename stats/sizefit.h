// A later surface of a head brought to the size and place of an earlier one
// on the same mesh, so that growth alone leaves nothing: the scale s and the
// translation t for which s * later + t lies closest to the earlier surface
// over the points that did not change on their own (a least-squares fit
// made again without the points whose distance is far beyond the typical
// one, so that a local bump or flattening neither shrinks nor swells the
// rest). The method is in sizefit.cpp.
//
// Inputs: both surfaces' coordinates, x, y, z of each point in turn, the
// same number of points. Output: s, t, the growth factor 1 / s (the later
// head's size against the earlier's) and the share of points the last fit
// kept. Nothing fails: no points, or points that all coincide, give s = 1
// and t = 0.
#pragma once

#include <cstddef>

struct SizeFit
{
  double scale = 1;
  double translation[3] = { 0, 0, 0 };
  double growth = 1;
  double kept = 1; // share of the points in the last fit
};

SizeFit FitSize(const double* earlier, const double* later, size_t points);

// Moves the points by the fit: p -> s p + t.
void ApplySize(const SizeFit& fit, double* coordinates, size_t points);
