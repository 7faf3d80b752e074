// The box tests of the searches over a SurfaceIndex: a point's distance to
// the locator's boxes, and a point's distance to and a segment's meeting with
// four boxes of the index at once (SSE2 where there is, plain code where
// not).
//
// In: the boxes, and a query point or segment of finite coordinates.
// Out: the locator's own figure (Distance2ToBounds), or bounds that never
// exclude a box the exact test would keep: distances no more than the true
// ones, meetings never missed (the index's searches rest on that).
// Fails: never; an empty slot of a wide node is infinitely far and never met.
#pragma once

#include "locate/surfaceindex.h"

#include <algorithm>
#include <limits>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The locator's distance from a point to a box (0 inside), with its arithmetic.
inline double Distance2ToBounds(const double x[3], const double bounds[6])
{
  if (x[0] >= bounds[0] && x[0] <= bounds[1] && x[1] >= bounds[2] && x[1] <= bounds[3] && x[2] >= bounds[4] &&
    x[2] <= bounds[5])
  {
    return 0.0;
  }
  double deltas[3] = { 0.0, 0.0, 0.0 };
  for (int i = 0; i < 3; ++i)
  {
    if (x[i] < bounds[2 * i])
    {
      deltas[i] = bounds[2 * i] - x[i];
    }
    else if (x[i] > bounds[2 * i + 1])
    {
      deltas[i] = x[i] - bounds[2 * i + 1];
    }
  }
  return deltas[0] * deltas[0] + deltas[1] * deltas[1] + deltas[2] * deltas[2];
}

// The squared distances from x to the four boxes, each no more than the
// true one: the ranges are widened by `slack` for the rounding of x and of
// the products to single precision. Infinite for an empty slot.
inline void Distance2ToWide(const double x[3], const SurfaceIndex::Wide& wide, double slack, double d[4])
{
#if defined(__SSE2__)
  const __m128 x0 = _mm_set1_ps(static_cast<float>(x[0]));
  const __m128 x1 = _mm_set1_ps(static_cast<float>(x[1]));
  const __m128 x2 = _mm_set1_ps(static_cast<float>(x[2]));
  const __m128 widen = _mm_set1_ps(static_cast<float>(slack));
  const __m128 zero = _mm_setzero_ps();
  __m128 sum = zero;
  for (int i = 0; i < 3; ++i)
  {
    const __m128 s =
      _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_load_ps(wide.axis[i][0]), x0), _mm_mul_ps(_mm_load_ps(wide.axis[i][1]), x1)),
        _mm_mul_ps(_mm_load_ps(wide.axis[i][2]), x2));
    const __m128 below = _mm_sub_ps(_mm_sub_ps(_mm_load_ps(wide.low[i]), widen), s);
    const __m128 above = _mm_sub_ps(s, _mm_add_ps(_mm_load_ps(wide.high[i]), widen));
    const __m128 gap = _mm_max_ps(_mm_max_ps(below, above), zero);
    sum = _mm_add_ps(sum, _mm_mul_ps(gap, gap));
  }
  alignas(16) float out[4];
  _mm_store_ps(out, sum);
  for (int c = 0; c < 4; ++c)
  {
    d[c] = static_cast<double>(out[c]) * (1.0 - 1.0e-5);
  }
#else
  for (int c = 0; c < 4; ++c)
  {
    double sum = 0.0;
    for (int i = 0; i < 3; ++i)
    {
      const double s = wide.axis[i][0][c] * x[0] + wide.axis[i][1][c] * x[1] + wide.axis[i][2][c] * x[2];
      const double low = wide.low[i][c] - slack;
      const double high = wide.high[i][c] + slack;
      const double gap = s < low ? low - s : (s > high ? s - high : 0.0);
      sum += gap * gap;
    }
    d[c] = sum * (1.0 - 1.0e-5);
  }
#endif
}

#if !defined(__SSE2__)
// Whether the segment from a0 along d (t in [0, 1]) may meet the node's box
// widened by `slack` on every side.
inline bool SegmentMeetsNode(
  const double a0[3], const double d[3], const float* axis, const float* lowest, const float* highest, double slack)
{
  double low = 0.0;
  double high = 1.0;
  for (int i = 0; i < 3; ++i)
  {
    const double ax = axis[3 * i];
    const double ay = axis[3 * i + 1];
    const double az = axis[3 * i + 2];
    const double from = ax * a0[0] + ay * a0[1] + az * a0[2];
    const double along = ax * d[0] + ay * d[1] + az * d[2];
    const double lo = lowest[i] - slack;
    const double hi = highest[i] + slack;
    if (along == 0.0)
    {
      if (from < lo || from > hi)
      {
        return false;
      }
      continue;
    }
    double t0 = (lo - from) / along;
    double t1 = (hi - from) / along;
    if (t0 > t1)
    {
      std::swap(t0, t1);
    }
    low = std::max(low, t0);
    high = std::min(high, t1);
    if (low > high)
    {
      return false;
    }
  }
  return true;
}
#endif

// Which of the four boxes (bit c for box c) the segment from a0 along d (t
// in [0, 1]) may meet: each widened by `slack`, and the segment's parameters
// by a little more than the rounding of single precision. Never a box that
// it meets.
inline int SegmentMeetsWide(const double a0[3], const double d[3], const SurfaceIndex::Wide& wide, double slack)
{
#if defined(__SSE2__)
  const __m128 p0 = _mm_set1_ps(static_cast<float>(a0[0]));
  const __m128 p1 = _mm_set1_ps(static_cast<float>(a0[1]));
  const __m128 p2 = _mm_set1_ps(static_cast<float>(a0[2]));
  const __m128 d0 = _mm_set1_ps(static_cast<float>(d[0]));
  const __m128 d1 = _mm_set1_ps(static_cast<float>(d[1]));
  const __m128 d2 = _mm_set1_ps(static_cast<float>(d[2]));
  const __m128 widen = _mm_set1_ps(static_cast<float>(slack));
  const __m128 zero = _mm_setzero_ps();
  const __m128 infinity = _mm_set1_ps(std::numeric_limits<float>::infinity());
  __m128 enter = _mm_set1_ps(-1.0e-5f);
  __m128 leave = _mm_set1_ps(1.0f + 1.0e-5f);
  for (int i = 0; i < 3; ++i)
  {
    const __m128 a = _mm_load_ps(wide.axis[i][0]);
    const __m128 b = _mm_load_ps(wide.axis[i][1]);
    const __m128 c = _mm_load_ps(wide.axis[i][2]);
    const __m128 from = _mm_add_ps(_mm_add_ps(_mm_mul_ps(a, p0), _mm_mul_ps(b, p1)), _mm_mul_ps(c, p2));
    const __m128 along = _mm_add_ps(_mm_add_ps(_mm_mul_ps(a, d0), _mm_mul_ps(b, d1)), _mm_mul_ps(c, d2));
    const __m128 lo = _mm_sub_ps(_mm_sub_ps(_mm_load_ps(wide.low[i]), widen), from);
    const __m128 hi = _mm_sub_ps(_mm_add_ps(_mm_load_ps(wide.high[i]), widen), from);
    // Along the box's face: inside or not at all.
    const __m128 flat = _mm_cmpeq_ps(along, zero);
    const __m128 inside = _mm_and_ps(_mm_cmple_ps(lo, zero), _mm_cmpge_ps(hi, zero));
    const __m128 safe = _mm_or_ps(_mm_and_ps(flat, _mm_set1_ps(1.0f)), _mm_andnot_ps(flat, along));
    const __m128 t0 = _mm_div_ps(lo, safe);
    const __m128 t1 = _mm_div_ps(hi, safe);
    __m128 first = _mm_min_ps(t0, t1);
    __m128 second = _mm_max_ps(t0, t1);
    const __m128 open = _mm_and_ps(flat, inside);
    const __m128 shut = _mm_andnot_ps(inside, flat);
    first = _mm_or_ps(
      _mm_andnot_ps(flat, first), _mm_or_ps(_mm_and_ps(open, _mm_sub_ps(zero, infinity)), _mm_and_ps(shut, infinity)));
    second = _mm_or_ps(
      _mm_andnot_ps(flat, second), _mm_or_ps(_mm_and_ps(open, infinity), _mm_and_ps(shut, _mm_sub_ps(zero, infinity))));
    // Widen the parameters for their rounding.
    const __m128 spread =
      _mm_mul_ps(_mm_set1_ps(1.0e-5f), _mm_max_ps(_mm_max_ps(first, _mm_sub_ps(zero, first)), _mm_set1_ps(1.0f)));
    enter = _mm_max_ps(enter, _mm_sub_ps(first, spread));
    leave = _mm_min_ps(leave, _mm_add_ps(second, spread));
  }
  // An empty slot has an empty range.
  const __m128 filled = _mm_cmple_ps(_mm_load_ps(wide.low[0]), _mm_load_ps(wide.high[0]));
  return _mm_movemask_ps(_mm_and_ps(filled, _mm_cmple_ps(enter, leave)));
#else
  int meets = 0;
  for (int c = 0; c < 4; ++c)
  {
    float axisOf[9];
    float lowOf[3];
    float highOf[3];
    for (int i = 0; i < 3; ++i)
    {
      for (int k = 0; k < 3; ++k)
      {
        axisOf[3 * i + k] = wide.axis[i][k][c];
      }
      lowOf[i] = wide.low[i][c];
      highOf[i] = wide.high[i][c];
    }
    if (lowOf[0] <= highOf[0] && SegmentMeetsNode(a0, d, axisOf, lowOf, highOf, slack))
    {
      meets |= 1 << c;
    }
  }
  return meets;
#endif
}

// Fetches what a box of the index holds while other work goes on: a wide
// node (child >= 0), or a leaf's cells.
inline void PrefetchBox(const SurfaceIndex& index, int32_t child)
{
#if defined(__SSE2__)
  const char* data = child >= 0 ? reinterpret_cast<const char*>(&index.Wides[child])
                                : reinterpret_cast<const char*>(&index.Cells[(~child) >> 4]);
  const int lines = child >= 0 ? 5 : 6;
  for (int line = 0; line < lines; ++line)
  {
    _mm_prefetch(data + 64 * line, _MM_HINT_T0);
  }
#else
  (void)index;
  (void)child;
#endif
}
