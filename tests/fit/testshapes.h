// Shapes for the fit's tests: a latitude-longitude sphere, growth about a
// centre, triangles kept by a test, and landmarks about a sphere's equator.
#pragma once

#include "geometry/trianglesurface.h"

#include <array>
#include <cmath>
#include <functional>
#include <vector>

namespace testshapes
{
// A latitude-longitude sphere of radius r about c: rows of points between
// the poles, the poles themselves, triangles facing outward.
inline TriangleSurface Sphere(double r, const double c[3], int rows, int columns)
{
  TriangleSurface sphere;
  const double pi = 3.14159265358979323846;
  auto add = [&sphere](double x, double y, double z) {
    sphere.points.push_back(x);
    sphere.points.push_back(y);
    sphere.points.push_back(z);
  };
  add(c[0], c[1], c[2] - r);
  for (int i = 1; i < rows; ++i)
  {
    const double polar = pi * i / rows;
    for (int j = 0; j < columns; ++j)
    {
      const double azimuth = 2 * pi * j / columns;
      add(c[0] + r * std::sin(polar) * std::cos(azimuth), c[1] + r * std::sin(polar) * std::sin(azimuth),
        c[2] - r * std::cos(polar));
    }
  }
  add(c[0], c[1], c[2] + r);
  const int top = static_cast<int>(sphere.PointCount()) - 1;
  auto at = [columns](int row, int j) { return 1 + (row - 1) * columns + (j % columns); };
  for (int j = 0; j < columns; ++j)
  {
    sphere.triangles.insert(sphere.triangles.end(), { 0, at(1, j + 1), at(1, j) });
    sphere.triangles.insert(sphere.triangles.end(), { top, at(rows - 1, j), at(rows - 1, j + 1) });
    for (int i = 1; i + 1 < rows; ++i)
    {
      sphere.triangles.insert(sphere.triangles.end(), { at(i, j), at(i, j + 1), at(i + 1, j) });
      sphere.triangles.insert(sphere.triangles.end(), { at(i, j + 1), at(i + 1, j + 1), at(i + 1, j) });
    }
  }
  return sphere;
}

// Where growing by `factor` about c takes p.
inline std::array<double, 3> Grown(const double* p, const double c[3], double factor)
{
  return { c[0] + factor * (p[0] - c[0]), c[1] + factor * (p[1] - c[1]), c[2] + factor * (p[2] - c[2]) };
}

// Keeps the triangles whose first corner passes `keep`.
inline void KeepTriangles(TriangleSurface& surface, const std::function<bool(const double*)>& keep)
{
  std::vector<int> kept;
  for (size_t t = 0; t < surface.triangles.size(); t += 3)
  {
    if (keep(&surface.points[3 * static_cast<size_t>(surface.triangles[t])]))
    {
      kept.insert(kept.end(), surface.triangles.begin() + t, surface.triangles.begin() + t + 3);
    }
  }
  surface.triangles.swap(kept);
}

// Three landmarks about the equator of an 80 mm sphere about `center`, and
// where growing by `factor` takes them.
struct SphereLandmarks
{
  std::vector<std::array<double, 3>> landmarks = { { 180, 100, 80 }, { 100, 180, 80 }, { 20, 100, 80 } };
  std::vector<std::array<double, 3>> targets;

  SphereLandmarks(const double center[3], double factor)
  {
    for (const auto& l : landmarks)
    {
      targets.push_back(Grown(l.data(), center, factor));
    }
  }
};
}
