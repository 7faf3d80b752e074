// The border's loops are walked over its edges without regard to their
// direction (a scan whose triangles do not all face one way has border
// edges that do not run head to tail), each edge once; a walk that meets a
// point where several loops touch takes the first unused edge there. A
// loop's vector area, half the sum of p_i x p_(i+1) along it (the closing
// edge included), does not depend on where it starts, and is the area of
// the loop's projection onto the plane across it.
#include "fit/scanopening.h"

#include "geometry/vector.h"

#include <cmath>
#include <unordered_map>
#include <utility>
#include <vector>

namespace
{
const double kPi = 3.14159265358979323846;

// The border edges as pairs of point ids, and for each point on the border
// the edges that meet there.
struct Border
{
  std::vector<std::pair<int, int>> edges;
  std::unordered_map<int, std::vector<size_t>> at;
};

Border BorderOf(const TriangleSurface& scan, const TriangleTree& tree)
{
  Border border;
  for (size_t t = 0; t < scan.TriangleCount(); ++t)
  {
    for (int k = 0; k < 3; ++k)
    {
      if (tree.BorderEdge(static_cast<int>(t), k))
      {
        const int a = scan.triangles[3 * t + k];
        const int b = scan.triangles[3 * t + (k + 1) % 3];
        border.at[a].push_back(border.edges.size());
        border.at[b].push_back(border.edges.size());
        border.edges.emplace_back(a, b);
      }
    }
  }
  return border;
}

// The points of the loop that starts with edge `first`, in walking order;
// marks its edges used.
std::vector<int> WalkLoop(const Border& border, size_t first, std::vector<char>& used)
{
  std::vector<int> loop = { border.edges[first].first };
  used[first] = 1;
  int point = border.edges[first].second;
  for (bool moved = true; moved;)
  {
    loop.push_back(point);
    moved = false;
    for (size_t e : border.at.at(point))
    {
      if (!used[e])
      {
        used[e] = 1;
        point = border.edges[e].first == point ? border.edges[e].second : border.edges[e].first;
        moved = true;
        break;
      }
    }
  }
  if (loop.size() > 1 && loop.back() == loop.front())
  {
    loop.pop_back();
  }
  return loop;
}

// The loop's vector area and its centre by edge length.
void LoopFigures(const TriangleSurface& scan, const std::vector<int>& loop, double area[3], double centre[3])
{
  double length = 0;
  for (int k = 0; k < 3; ++k)
  {
    area[k] = centre[k] = 0;
  }
  for (size_t i = 0; i < loop.size(); ++i)
  {
    const double* p = &scan.points[3 * static_cast<size_t>(loop[i])];
    const double* q = &scan.points[3 * static_cast<size_t>(loop[(i + 1) % loop.size()])];
    double c[3];
    Cross(p, q, c);
    const double edge = Distance(p, q);
    for (int k = 0; k < 3; ++k)
    {
      area[k] += 0.5 * c[k];
      centre[k] += 0.5 * edge * (p[k] + q[k]);
    }
    length += edge;
  }
  for (int k = 0; k < 3 && length > 0; ++k)
  {
    centre[k] /= length;
  }
}
}

ScanOpening FindOpening(const TriangleSurface& scan, const TriangleTree& tree, const double centre[3])
{
  ScanOpening opening;
  const Border border = BorderOf(scan, tree);
  std::vector<char> used(border.edges.size(), 0);
  double largest = 0;
  for (size_t e = 0; e < border.edges.size(); ++e)
  {
    if (used[e])
    {
      continue;
    }
    double area[3];
    double middle[3];
    LoopFigures(scan, WalkLoop(border, e, used), area, middle);
    const double size = Norm(area);

    if (size > largest)
    {
      largest = size;
      double away[3];
      Subtract(middle, centre, away);
      const double sign = Dot(area, away) < 0 ? -1.0 : 1.0;
      for (int k = 0; k < 3; ++k)
      {
        opening.out[k] = sign * area[k] / size;
        opening.centre[k] = middle[k];
      }
      opening.radius = std::sqrt(size / kPi);
      opening.found = true;
    }
  }
  return opening;
}
