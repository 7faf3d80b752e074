#include "fit/landmarkcheck.h"

#include "fit/rigidalign.h"
#include "geometry/vector.h"

#include <algorithm>
#include <cmath>
#include <numeric>

std::vector<double> LandmarkResiduals(const std::vector<Landmark>& from, const std::vector<Landmark>& to)
{
  // The similarity: the rigid fit's rotation, about the means, times the scale.
  const RigidTransform motion = FitLandmarks(from, to);
  const double scale = LandmarkScale(from, to);
  double meanFrom[3] = { 0, 0, 0 };
  double meanTo[3] = { 0, 0, 0 };
  for (size_t i = 0; i < from.size(); ++i)
  {
    for (int k = 0; k < 3; ++k)
    {
      meanFrom[k] += from[i][k] / static_cast<double>(from.size());
      meanTo[k] += to[i][k] / static_cast<double>(from.size());
    }
  }
  std::vector<double> residuals(from.size());
  for (size_t i = 0; i < from.size(); ++i)
  {
    double moved[3];
    for (int a = 0; a < 3; ++a)
    {
      moved[a] = meanTo[a];
      for (int k = 0; k < 3; ++k)
      {
        moved[a] += scale * motion.r[a][k] * (from[i][k] - meanFrom[k]);
      }
    }
    residuals[i] = Distance(moved, to[i].data());
  }
  return residuals;
}

double RootMeanSquare(const std::vector<double>& values)
{
  double sum = 0;
  for (double v : values)
  {
    sum += v * v;
  }
  return values.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(values.size()));
}

namespace
{
double OrderedFit(const std::vector<Landmark>& from, const std::vector<Landmark>& to, const std::vector<int>& order)
{
  std::vector<Landmark> ordered(from.size());
  for (size_t i = 0; i < order.size(); ++i)
  {
    ordered[i] = from[static_cast<size_t>(order[i])];
  }
  return RootMeanSquare(LandmarkResiduals(ordered, to));
}

// Calls visit(order) for every order tried: all of them for up to seven
// landmarks, every swap of two beyond.
template <class Visit>
void TryOrders(size_t count, Visit visit)
{
  std::vector<int> order(count);
  std::iota(order.begin(), order.end(), 0);
  if (count <= 7)
  {
    while (std::next_permutation(order.begin(), order.end()))
    {
      visit(order);
    }
    return;
  }
  for (size_t i = 0; i < count; ++i)
  {
    for (size_t j = i + 1; j < count; ++j)
    {
      std::swap(order[i], order[j]);
      visit(order);
      std::swap(order[i], order[j]);
    }
  }
}
}

std::vector<int> BetterLandmarkOrder(const std::vector<Landmark>& from, const std::vector<Landmark>& to, double limit)
{
  std::vector<int> given(from.size());
  std::iota(given.begin(), given.end(), 0);
  double best = std::min(limit, 0.5 * OrderedFit(from, to, given));
  std::vector<int> better;
  TryOrders(from.size(), [&](const std::vector<int>& order) {
    const double rms = OrderedFit(from, to, order);
    if (rms < best)
    {
      best = rms;
      better = order;
    }
  });
  return better;
}

std::string RecommendedLandmarkName(size_t i, size_t count)
{
  static const char* const kNames[5] = { "the nasion", "the patient's right tragus", "the patient's left tragus",
    "the vertex", "the opisthocranion" };
  static const char* const kMidline[3] = { "the nasion", "the vertex", "the opisthocranion" };
  return count == 5 && i < 5 ? kNames[i] : count == 3 && i < 3 ? kMidline[i] : "";
}
