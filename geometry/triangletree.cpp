#include "geometry/triangletree.h"

#include "geometry/triangleclosest.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

namespace
{
constexpr int kLeafSize = 8;

}

TriangleTree::TriangleTree(const std::vector<double>& points, const std::vector<int>& triangles)
  : points_(points)
  , triangles_(triangles)
{
  const int count = TriangleCount();
  normals_.assign(triangles_.size(), 0.0);
  std::vector<double> areas(static_cast<size_t>(count)); // twice each triangle's area
  for (int t = 0; t < count; ++t)
  {
    const double* a = &points_[3 * static_cast<size_t>(triangles_[3 * t])];
    const double* b = &points_[3 * static_cast<size_t>(triangles_[3 * t + 1])];
    const double* c = &points_[3 * static_cast<size_t>(triangles_[3 * t + 2])];
    const double e1[3] = { b[0] - a[0], b[1] - a[1], b[2] - a[2] };
    const double e2[3] = { c[0] - a[0], c[1] - a[1], c[2] - a[2] };
    double* n = &normals_[3 * static_cast<size_t>(t)];
    n[0] = e1[1] * e2[2] - e1[2] * e2[1];
    n[1] = e1[2] * e2[0] - e1[0] * e2[2];
    n[2] = e1[0] * e2[1] - e1[1] * e2[0];
    const double length = std::sqrt(Dot3(n, n));
    areas[static_cast<size_t>(t)] = length;
    if (length > 0)
    {
      for (int k = 0; k < 3; ++k)
      {
        n[k] /= length;
      }
    }
  }

  // Border edges: those that one triangle alone has. Every edge once per
  // triangle, sorted by its points, so that equal edges stand together.
  std::vector<std::tuple<int, int, int>> edges; // lower point, higher point, 3 * triangle + k
  edges.reserve(triangles_.size());
  for (int t = 0; t < count; ++t)
  {
    for (int k = 0; k < 3; ++k)
    {
      const int p = triangles_[3 * t + k];
      const int q = triangles_[3 * t + (k + 1) % 3];
      edges.emplace_back(std::min(p, q), std::max(p, q), 3 * t + k);
    }
  }
  std::sort(edges.begin(), edges.end());
  border_.assign(triangles_.size() / 3, 0);
  borderPoint_.assign(points_.size() / 3, 0);
  // Edges that two triangles have, and those of them that both run through
  // in the same direction: the two face opposite ways.
  size_t shared = 0;
  size_t opposed = 0;
  auto forward = [&](size_t e) {
    const int entry = std::get<2>(edges[e]);
    return triangles_[static_cast<size_t>(entry)] == std::get<0>(edges[e]);
  };
  for (size_t i = 0; i < edges.size();)
  {
    size_t j = i + 1;
    while (j < edges.size() && std::get<0>(edges[j]) == std::get<0>(edges[i]) &&
      std::get<1>(edges[j]) == std::get<1>(edges[i]))
    {
      ++j;
    }
    if (j == i + 2)
    {
      ++shared;
      opposed += forward(i) == forward(i + 1) ? 1 : 0;
    }
    if (j == i + 1)
    {
      const int entry = std::get<2>(edges[i]);
      border_[entry / 3] |= static_cast<unsigned char>(1 << (entry % 3));
      borderPoint_[std::get<0>(edges[i])] = 1;
      borderPoint_[std::get<1>(edges[i])] = 1;
    }
    i = j;
  }
  if (opposed * 100 <= shared)
  {
    SmoothNormals(areas);
  }
  Build();
}

void TriangleTree::SmoothNormals(const std::vector<double>& areas)
{
  constexpr int kRounds = 3;
  const int count = TriangleCount();
  // The triangles at each point.
  std::vector<int> firstAt(points_.size() / 3 + 1, 0);
  for (int t = 0; t < count; ++t)
  {
    for (int k = 0; k < 3; ++k)
    {
      ++firstAt[static_cast<size_t>(triangles_[3 * t + k]) + 1];
    }
  }
  for (size_t p = 1; p < firstAt.size(); ++p)
  {
    firstAt[p] += firstAt[p - 1];
  }
  std::vector<int> at(static_cast<size_t>(firstAt.back()));
  std::vector<int> fill(firstAt.begin(), firstAt.end() - 1);
  for (int t = 0; t < count; ++t)
  {
    for (int k = 0; k < 3; ++k)
    {
      at[static_cast<size_t>(fill[static_cast<size_t>(triangles_[3 * t + k])]++)] = t;
    }
  }
  const std::vector<double> own = normals_;
  std::vector<double> next(normals_.size());
  for (int round = 0; round < kRounds; ++round)
  {
    for (int t = 0; t < count; ++t)
    {
      double sum[3] = { 0, 0, 0 };
      for (int k = 0; k < 3; ++k)
      {
        const size_t p = static_cast<size_t>(triangles_[3 * t + k]);
        for (int j = firstAt[p]; j < firstAt[p + 1]; ++j)
        {
          const size_t u = static_cast<size_t>(at[static_cast<size_t>(j)]);
          for (int c = 0; c < 3; ++c)
          {
            sum[c] += areas[u] * normals_[3 * u + c];
          }
        }
      }
      const double length = std::sqrt(Dot3(sum, sum));
      double* n = &next[3 * static_cast<size_t>(t)];
      for (int c = 0; c < 3; ++c)
      {
        n[c] = length > 0 ? sum[c] / length : own[3 * static_cast<size_t>(t) + c];
      }
    }
    normals_.swap(next);
  }
}

void TriangleTree::Build()
{
  const int count = TriangleCount();
  order_.resize(triangles_.size() / 3);
  std::vector<double> centers(triangles_.size());
  for (int t = 0; t < count; ++t)
  {
    order_[t] = t;
    for (int k = 0; k < 3; ++k)
    {
      centers[3 * t + k] = (points_[3 * static_cast<size_t>(triangles_[3 * t]) + k] +
                             points_[3 * static_cast<size_t>(triangles_[3 * t + 1]) + k] +
                             points_[3 * static_cast<size_t>(triangles_[3 * t + 2]) + k]) /
        3.0;
    }
  }
  nodes_.clear();
  nodes_.reserve(2 * static_cast<size_t>(count / kLeafSize + 1) + 1);
  nodes_.push_back(Node{});
  // Nodes still to split: node index, range of order_.
  std::vector<std::tuple<int, int, int>> pending = { { 0, 0, count } };
  while (!pending.empty())
  {
    const auto [index, first, end] = pending.back();
    pending.pop_back();
    Node node;
    for (int k = 0; k < 3; ++k)
    {
      node.lo[k] = std::numeric_limits<double>::infinity();
      node.hi[k] = -std::numeric_limits<double>::infinity();
    }
    double centerLo[3] = { node.lo[0], node.lo[1], node.lo[2] };
    double centerHi[3] = { node.hi[0], node.hi[1], node.hi[2] };
    for (int i = first; i < end; ++i)
    {
      const int t = order_[i];
      for (int v = 0; v < 3; ++v)
      {
        const double* p = &points_[3 * static_cast<size_t>(triangles_[3 * t + v])];
        for (int k = 0; k < 3; ++k)
        {
          node.lo[k] = std::min(node.lo[k], p[k]);
          node.hi[k] = std::max(node.hi[k], p[k]);
        }
      }
      for (int k = 0; k < 3; ++k)
      {
        centerLo[k] = std::min(centerLo[k], centers[3 * t + k]);
        centerHi[k] = std::max(centerHi[k], centers[3 * t + k]);
      }
    }
    if (end - first <= kLeafSize)
    {
      node.first = first;
      node.count = end - first;
      nodes_[index] = node;
      continue;
    }
    // Split at the median centre along the longest extent of the centres.
    int axis = 0;
    for (int k = 1; k < 3; ++k)
    {
      if (centerHi[k] - centerLo[k] > centerHi[axis] - centerLo[axis])
      {
        axis = k;
      }
    }
    const int middle = first + (end - first) / 2;
    std::nth_element(
      order_.begin() + first, order_.begin() + middle, order_.begin() + end, [&centers, axis](int a, int b) {
        const double ca = centers[3 * a + axis];
        const double cb = centers[3 * b + axis];
        return ca < cb || (ca == cb && a < b);
      });
    node.first = static_cast<int>(nodes_.size());
    node.count = 0;
    nodes_[index] = node;
    nodes_.push_back(Node{});
    nodes_.push_back(Node{});
    pending.emplace_back(node.first, first, middle);
    pending.emplace_back(node.first + 1, middle, end);
  }
}

double TriangleTree::BoxDistance2(const Node& node, const double q[3]) const
{
  double sum = 0;
  for (int k = 0; k < 3; ++k)
  {
    const double d = q[k] < node.lo[k] ? node.lo[k] - q[k] : (q[k] > node.hi[k] ? q[k] - node.hi[k] : 0.0);
    sum += d * d;
  }
  return sum;
}

TriangleTree::Hit TriangleTree::Closest(const double query[3], double maxDistance) const
{
  Hit hit;
  if (order_.empty() || !(maxDistance >= 0))
  {
    return hit;
  }
  double best2 = maxDistance * maxDistance;
  TriangleFeature bestFeature = TriangleFeature::Face;
  int stack[128];
  int top = 0;
  stack[top++] = 0;
  while (top > 0)
  {
    const Node& node = nodes_[stack[--top]];
    if (BoxDistance2(node, query) > best2)
    {
      continue;
    }
    if (node.count > 0)
    {
      for (int i = node.first; i < node.first + node.count; ++i)
      {
        const int t = order_[i];
        double p[3];
        const TriangleFeature feature = ClosestOnTriangle(query, &points_[3 * static_cast<size_t>(triangles_[3 * t])],
          &points_[3 * static_cast<size_t>(triangles_[3 * t + 1])],
          &points_[3 * static_cast<size_t>(triangles_[3 * t + 2])], p);
        const double d[3] = { p[0] - query[0], p[1] - query[1], p[2] - query[2] };
        const double distance2 = Dot3(d, d);
        if (distance2 < best2 || (!hit.found && distance2 <= best2))
        {
          best2 = distance2;
          hit.found = true;
          hit.triangle = t;
          bestFeature = feature;
          std::copy(p, p + 3, hit.point);
        }
      }
      continue;
    }
    // The nearer child is visited first: it goes on the stack last.
    const double near0 = BoxDistance2(nodes_[node.first], query);
    const double near1 = BoxDistance2(nodes_[node.first + 1], query);
    if (top + 2 > 128)
    {
      continue; // deeper than any tree of a surface that fits in memory
    }
    if (near0 <= near1)
    {
      stack[top++] = node.first + 1;
      stack[top++] = node.first;
    }
    else
    {
      stack[top++] = node.first;
      stack[top++] = node.first + 1;
    }
  }
  if (hit.found)
  {
    hit.distance = std::sqrt(best2);
    hit.onBorder = OnBorder(hit.triangle, bestFeature);
  }
  return hit;
}

bool TriangleTree::OnBorder(int triangle, TriangleFeature feature) const
{
  const int* t = &triangles_[3 * static_cast<size_t>(triangle)];
  switch (feature)
  {
    case TriangleFeature::Face:
      return false;
    case TriangleFeature::VertexA:
      return borderPoint_[t[0]] != 0;
    case TriangleFeature::VertexB:
      return borderPoint_[t[1]] != 0;
    case TriangleFeature::VertexC:
      return borderPoint_[t[2]] != 0;
    case TriangleFeature::EdgeAB:
      return BorderEdge(triangle, 0);
    case TriangleFeature::EdgeBC:
      return BorderEdge(triangle, 1);
    case TriangleFeature::EdgeCA:
      return BorderEdge(triangle, 2);
  }
  return false;
}
