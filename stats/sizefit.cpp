// The fit of scale and translation, made robust by trimming. Fit on all
// points; then, as least trimmed squares does, keep the half of the points
// closest to their earlier places after the fit and fit again, until that
// half does not change (or kRounds fits); then keep the points within
// kSpread times the median distance and fit again likewise. Growth moves
// every point, so a fit on the points kept leaves growth nothing; a local
// change over less than half the head moves its points by more than the
// noise moves the rest: the half fit is the rest's, and the last rounds
// take back every point that noise alone puts where it is. With noise of deviation σ per coordinate
// in each visit, a point's distance is σ √2 times a chi variable of three
// degrees of freedom, whose median is 1.54 and whose 99.5th percentile is
// 3.6: 2.5 times the median keeps nearly every unchanged point.
//
// For weights w (1 kept, 0 not), the least-squares scale and translation of
// later (a) onto earlier (b) are
//   s = Σ w (a - ā)·(b - b̄) / Σ w |a - ā|²,   t = b̄ - s ā,
// ā and b̄ the kept points' centroids.
#include "stats/sizefit.h"

#include "geometry/statistics.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace
{
constexpr double kSpread = 2.5; // a point is kept within this many median distances
constexpr int kRounds = 20;

// The least-squares fit over the kept points; false when they do not fix a
// scale.
bool FitKept(const double* b, const double* a, const std::vector<char>& kept, SizeFit& fit)
{
  double ca[3] = { 0, 0, 0 }, cb[3] = { 0, 0, 0 }, count = 0;
  for (size_t i = 0; i < kept.size(); ++i)
  {
    for (int k = 0; kept[i] && k < 3; ++k)
    {
      ca[k] += a[3 * i + k];
      cb[k] += b[3 * i + k];
    }
    count += kept[i];
  }
  if (count == 0)
  {
    return false;
  }
  double cross = 0, square = 0;
  for (size_t i = 0; i < kept.size(); ++i)
  {
    for (int k = 0; kept[i] && k < 3; ++k)
    {
      const double da = a[3 * i + k] - ca[k] / count;
      cross += da * (b[3 * i + k] - cb[k] / count);
      square += da * da;
    }
  }
  if (!(square > 0) || !(cross > 0))
  {
    return false;
  }
  fit.scale = cross / square;
  for (int k = 0; k < 3; ++k)
  {
    fit.translation[k] = (cb[k] - fit.scale * ca[k]) / count;
  }
  fit.growth = 1 / fit.scale;
  fit.kept = count / static_cast<double>(kept.size());
  return true;
}

// Each point's distance from its earlier place after the fit.
std::vector<double> Distances(const double* b, const double* a, size_t points, const SizeFit& fit)
{
  std::vector<double> distances(points);
  for (size_t i = 0; i < points; ++i)
  {
    double square = 0;
    for (int k = 0; k < 3; ++k)
    {
      const double d = fit.scale * a[3 * i + k] + fit.translation[k] - b[3 * i + k];
      square += d * d;
    }
    distances[i] = std::sqrt(square);
  }
  return distances;
}
}

SizeFit FitSize(const double* earlier, const double* later, size_t points)
{
  SizeFit fit;
  std::vector<char> kept(points, 1);
  if (!FitKept(earlier, later, kept, fit))
  {
    return fit;
  }
  for (const double spread : { 1.0, kSpread })
  {
    for (int round = 0; round < kRounds; ++round)
    {
      const std::vector<double> distances = Distances(earlier, later, points, fit);
      std::vector<double> sorted = distances;
      std::sort(sorted.begin(), sorted.end());
      const double limit = spread * Percentile(sorted, 50);
      bool changed = false;
      for (size_t i = 0; i < points; ++i)
      {
        const char keep = distances[i] <= limit ? 1 : 0;
        changed = changed || keep != kept[i];
        kept[i] = keep;
      }
      if (!changed || !FitKept(earlier, later, kept, fit))
      {
        break;
      }
    }
  }
  return fit;
}

void ApplySize(const SizeFit& fit, double* coordinates, size_t points)
{
  for (size_t i = 0; i < points; ++i)
  {
    for (int k = 0; k < 3; ++k)
    {
      coordinates[3 * i + k] = fit.scale * coordinates[3 * i + k] + fit.translation[k];
    }
  }
}
