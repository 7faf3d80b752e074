#include "fit/deformationgraph.h"

#include "geometry/vector.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <unordered_map>

namespace deformation
{
std::vector<size_t> PickNodes(const TriangleSurface& templ, const std::vector<double>& areas, double spacing)
{
  std::vector<size_t> candidates;
  for (size_t i = 0; i < areas.size(); ++i)
  {
    if (areas[i] > 0)
    {
      candidates.push_back(i);
    }
  }
  std::mt19937_64 random(20240611);
  for (size_t i = candidates.size(); i > 1; --i)
  {
    std::swap(candidates[i - 1], candidates[random() % i]);
  }
  // A hash grid of cells `spacing` wide holds the nodes picked so far.
  std::unordered_map<int64_t, std::vector<size_t>> grid;
  auto cellOf = [spacing](const double* p, int k) { return static_cast<int64_t>(std::floor(p[k] / spacing)); };
  auto key = [](int64_t x, int64_t y, int64_t z) { return (x * 73856093) ^ (y * 19349663) ^ (z * 83492791); };
  std::vector<size_t> nodes;
  const double spacing2 = spacing * spacing;
  for (size_t i : candidates)
  {
    const double* p = &templ.points[3 * i];
    const int64_t c[3] = { cellOf(p, 0), cellOf(p, 1), cellOf(p, 2) };
    bool free = true;
    for (int64_t dx = -1; dx <= 1 && free; ++dx)
    {
      for (int64_t dy = -1; dy <= 1 && free; ++dy)
      {
        for (int64_t dz = -1; dz <= 1 && free; ++dz)
        {
          const auto found = grid.find(key(c[0] + dx, c[1] + dy, c[2] + dz));
          if (found == grid.end())
          {
            continue;
          }
          for (size_t n : found->second)
          {
            if (Distance2(&templ.points[3 * n], p) < spacing2)
            {
              free = false;
              break;
            }
          }
        }
      }
    }
    if (free)
    {
      nodes.push_back(i);
      grid[key(c[0], c[1], c[2])].push_back(i);
    }
  }
  std::sort(nodes.begin(), nodes.end());
  return nodes;
}

Binding Bind(const double* p, const std::vector<double>& nodePositions)
{
  const int nodeCount = static_cast<int>(nodePositions.size() / 3);
  // The kNeighbours + 1 nearest, by insertion into a short sorted list.
  constexpr int kList = kNeighbours + 1;
  double best[kList];
  int bestNode[kList];
  int found = 0;
  for (int n = 0; n < nodeCount; ++n)
  {
    const double d = Distance2(p, &nodePositions[3 * static_cast<size_t>(n)]);
    if (found == kList && d >= best[kList - 1])
    {
      continue;
    }
    int at = found < kList ? found++ : kList - 1;
    while (at > 0 && best[at - 1] > d)
    {
      best[at] = best[at - 1];
      bestNode[at] = bestNode[at - 1];
      --at;
    }
    best[at] = d;
    bestNode[at] = n;
  }
  Binding binding;
  binding.count = std::min(found, kNeighbours);
  const double far = found > kNeighbours ? std::sqrt(best[kNeighbours]) : 0.0;
  double sum = 0;
  for (int k = 0; k < binding.count; ++k)
  {
    const double w = far > 0 ? 1.0 - std::sqrt(best[k]) / far : 1.0;
    binding.node[k] = bestNode[k];
    binding.weight[k] = w * w;
    sum += binding.weight[k];
  }
  for (int k = 0; k < binding.count; ++k)
  {
    binding.weight[k] = sum > 0 ? binding.weight[k] / sum : 1.0 / binding.count;
  }
  // Ascending node ids, so that a pair of them names its block in one order.
  for (int a = 1; a < binding.count; ++a)
  {
    for (int b = a; b > 0 && binding.node[b - 1] > binding.node[b]; --b)
    {
      std::swap(binding.node[b - 1], binding.node[b]);
      std::swap(binding.weight[b - 1], binding.weight[b]);
    }
  }
  return binding;
}

// Where the field of the nodes' maps takes point p.
void Deformed(const double* p, const Binding& binding, const std::vector<double>& nodePositions,
  const std::vector<double>& theta, double out[3])
{
  double x[3] = { 0, 0, 0 };
  for (int k = 0; k < binding.count; ++k)
  {
    const size_t n = static_cast<size_t>(binding.node[k]);
    const double* g = &nodePositions[3 * n];
    const double* map = &theta[kParameters * n];
    double u[3];
    Subtract(p, g, u);
    for (int a = 0; a < 3; ++a)
    {
      const double* row = map + 4 * a;
      x[a] += binding.weight[k] * (Dot(row, u) + row[3] + g[a]);
    }
  }
  std::copy(x, x + 3, out);
}

std::vector<double> IdentityMaps(int nodeCount)
{
  std::vector<double> theta(static_cast<size_t>(nodeCount) * kParameters, 0.0);
  for (int n = 0; n < nodeCount; ++n)
  {
    for (int a = 0; a < 3; ++a)
    {
      theta[static_cast<size_t>(n) * kParameters + 4 * a + a] = 1.0;
    }
  }
  return theta;
}
}
