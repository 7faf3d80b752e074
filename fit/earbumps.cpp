// The side's lateral outline is sampled by lines along x from the midline
// plane (FarthestCrossing on the triangles that reach the window), so that
// it is the same on a coarse scan and a fine one. The side of a skull about
// an ear is smooth and curved in both directions, within a window of half
// a head's length a quadratic to about a millimetre; the auricle stands out
// of it by 5 to 25 mm, a cap over it by a few. Cells where the line misses
// the side (a hole of the scan) are left out of the fit and of the bump.
#include "fit/earbumps.h"

#include "geometry/headframe.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace
{
constexpr double kCell = 1.0 / 40;   // of the size: the grid's cells
constexpr double kAhead = 0.12;      // of the size: the window in front of `around`
constexpr double kBehind = 0.3;      // behind it
constexpr double kBelow = 0.15;      // below it
constexpr double kAbove = 0.25;      // above it
constexpr double kRest = 0.013;      // of the size: cells further out of a fit are left out of the next
constexpr double kStandsOut = 0.02;  // of the size: cells further out of the last fit are the bump's
constexpr double kEarArea = 0.0067;  // of the size squared: the least area of an ear's bump
constexpr double kEarHeight = 0.033; // of the size: the least an ear stands out
constexpr int kRounds = 3;

// The window's grid of lateral outlines: NaN where the line misses the side.
struct Outline
{
  int ny = 0, nz = 0;
  double y0 = 0, z0 = 0, cell = 0;
  std::vector<double> e; // per cell, row by row in z
  double Y(int i) const { return y0 + (i + 0.5) * cell; }
  double Z(int j) const { return z0 + (j + 0.5) * cell; }
};

// The triangles of `head` that reach the window on the side.
TriangleSurface InWindow(const TriangleSurface& head, int side, const Outline& o)
{
  TriangleSurface window;
  window.points = head.points;
  const double y1 = o.y0 + o.ny * o.cell, z1 = o.z0 + o.nz * o.cell;
  for (size_t t = 0; t < head.TriangleCount(); ++t)
  {
    double lo[3] = { 1e300, 1e300, 1e300 }, hi[3] = { -1e300, -1e300, -1e300 };
    for (int c = 0; c < 3; ++c)
    {
      const double* p = &head.points[3 * static_cast<size_t>(head.triangles[3 * t + c])];
      for (int k = 0; k < 3; ++k)
      {
        lo[k] = std::min(lo[k], p[k]);
        hi[k] = std::max(hi[k], p[k]);
      }
    }
    const double across = side > 0 ? hi[0] - kMirrorX : kMirrorX - lo[0];
    if (across > 0 && hi[1] >= o.y0 && lo[1] <= y1 && hi[2] >= o.z0 && lo[2] <= z1)
    {
      window.triangles.insert(window.triangles.end(), &head.triangles[3 * t], &head.triangles[3 * t] + 3);
    }
  }
  return window;
}

Outline OutlineOf(const TriangleSurface& head, int side, const double around[2], double size)
{
  Outline o;
  o.cell = kCell * size;
  o.ny = static_cast<int>(std::lround((kAhead + kBehind) / kCell));
  o.nz = static_cast<int>(std::lround((kBelow + kAbove) / kCell));
  o.y0 = around[0] - kAhead * size;
  o.z0 = around[1] - kBelow * size;
  const TriangleSurface window = InWindow(head, side, o);
  o.e.assign(static_cast<size_t>(o.ny * o.nz), std::numeric_limits<double>::quiet_NaN());
  const double direction[3] = { static_cast<double>(side), 0, 0 };
  for (int j = 0; j < o.nz; ++j)
  {
    for (int i = 0; i < o.ny; ++i)
    {
      const double origin[3] = { kMirrorX, o.Y(i), o.Z(j) };
      double at[3];
      if (FarthestCrossing(window, origin, direction, at) && side * (at[0] - kMirrorX) > 0)
      {
        o.e[static_cast<size_t>(j * o.ny + i)] = side * (at[0] - kMirrorX);
      }
    }
  }
  return o;
}

// The quadratic in y and z fitted to the outline, robustly (three rounds,
// the cells more than kRest * size out of the last fit left out), and how
// far each cell stands out of it (NaN where the outline is); `cells` the
// cells of the last round.
struct SideFit
{
  Eigen::Matrix<double, 6, 1> fit = Eigen::Matrix<double, 6, 1>::Zero();
  std::vector<double> out;
  int cells = 0;
};

Eigen::Matrix<double, 6, 1> Basis(double u, double v)
{
  Eigen::Matrix<double, 6, 1> b;
  b << 1, u, v, u * u, u * v, v * v;
  return b;
}

SideFit StandingOut(const Outline& o, double size)
{
  SideFit side;
  side.out.assign(o.e.size(), std::numeric_limits<double>::quiet_NaN());
  std::vector<char> kept(o.e.size());
  for (size_t c = 0; c < o.e.size(); ++c)
  {
    kept[c] = std::isfinite(o.e[c]);
  }
  auto basis = [&](size_t c) {
    return Basis((o.Y(static_cast<int>(c) % o.ny) - o.y0) / size, (o.Z(static_cast<int>(c) / o.ny) - o.z0) / size);
  };
  for (int round = 0; round < kRounds; ++round)
  {
    Eigen::Matrix<double, 6, 6> normal = Eigen::Matrix<double, 6, 6>::Zero();
    Eigen::Matrix<double, 6, 1> right = Eigen::Matrix<double, 6, 1>::Zero();
    side.cells = 0;
    for (size_t c = 0; c < o.e.size(); ++c)
    {
      if (kept[c])
      {
        normal += basis(c) * basis(c).transpose();
        right += o.e[c] * basis(c);
        ++side.cells;
      }
    }
    side.fit = normal.ldlt().solve(right);
    for (size_t c = 0; c < o.e.size(); ++c)
    {
      side.out[c] = o.e[c] - basis(c).dot(side.fit);
      kept[c] = std::isfinite(o.e[c]) && side.out[c] <= kRest * size;
    }
  }
  return side;
}
}

bool EarBump::SkullAt(double y, double z, double& across) const
{
  if (!skull)
  {
    return false;
  }
  across =
    Basis((y - origin[0]) / size, (z - origin[1]) / size).dot(Eigen::Map<const Eigen::Matrix<double, 6, 1>>(fit));
  return std::isfinite(across);
}

EarBump FindEarBump(const TriangleSurface& head, int side, const double around[2], double size)
{
  EarBump bump;
  const Outline o = OutlineOf(head, side, around, size);
  const SideFit fitted = StandingOut(o, size);
  const std::vector<double>& out = fitted.out;
  bump.skull = fitted.cells >= kSkullCells;
  bump.origin[0] = o.y0;
  bump.origin[1] = o.z0;
  bump.size = size;
  for (int k = 0; k < 6; ++k)
  {
    bump.fit[k] = fitted.fit[k];
  }
  size_t top = 0;
  for (size_t c = 0; c < out.size(); ++c)
  {
    top = std::isfinite(out[c]) && (!std::isfinite(out[top]) || out[c] > out[top]) ? c : top;
  }
  if (out.empty() || !(out[top] > kStandsOut * size))
  {
    return bump;
  }
  // The cells standing out, joined to the top one through their sides.
  std::vector<char> in(out.size(), 0);
  std::vector<size_t> stack = { top };
  in[top] = 1;
  double weight = 0, area = 0;
  while (!stack.empty())
  {
    const size_t c = stack.back();
    stack.pop_back();
    const int i = static_cast<int>(c) % o.ny, j = static_cast<int>(c) / o.ny;
    weight += out[c];
    bump.centre[0] += out[c] * o.Y(i);
    bump.centre[1] += out[c] * o.Z(j);
    area += o.cell * o.cell;
    const int next[4][2] = { { i - 1, j }, { i + 1, j }, { i, j - 1 }, { i, j + 1 } };
    for (const auto& n : next)
    {
      const size_t d = static_cast<size_t>(n[1] * o.ny + n[0]);
      if (n[0] >= 0 && n[0] < o.ny && n[1] >= 0 && n[1] < o.nz && !in[d] && out[d] > kStandsOut * size)
      {
        in[d] = 1;
        stack.push_back(d);
      }
    }
  }
  bump.centre[0] /= weight;
  bump.centre[1] /= weight;
  bump.height = out[top];
  bump.found = area >= kEarArea * size * size && bump.height >= kEarHeight * size;
  return bump;
}
