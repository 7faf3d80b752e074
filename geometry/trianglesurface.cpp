#include "geometry/trianglesurface.h"

#include "geometry/vector.h"

#include <algorithm>
#include <cmath>
#include <limits>

void PointNormalsAndAreas(const TriangleSurface& surface, std::vector<double>& normals, std::vector<double>& areas)
{
  normals.assign(surface.points.size(), 0.0);
  areas.assign(surface.PointCount(), 0.0);
  const double* p = surface.points.data();
  for (size_t t = 0; t < surface.triangles.size(); t += 3)
  {
    const double* corners[3];
    for (int v = 0; v < 3; ++v)
    {
      corners[v] = p + 3 * static_cast<size_t>(surface.triangles[t + v]);
    }
    // The triangle's normal (B - A) x (C - A), twice its area long.
    double ab[3];
    double ac[3];
    double n[3];
    Subtract(corners[1], corners[0], ab);
    Subtract(corners[2], corners[0], ac);
    Cross(ab, ac, n);
    const double third = Norm(n) / 6.0;
    for (int v = 0; v < 3; ++v)
    {
      const size_t id = static_cast<size_t>(surface.triangles[t + v]);
      for (int k = 0; k < 3; ++k)
      {
        normals[3 * id + k] += n[k];
      }
      areas[id] += third;
    }
  }
  for (size_t i = 0; i < areas.size(); ++i)
  {
    double* n = &normals[3 * i];
    const double length = Norm(n);
    if (length > 0)
    {
      for (int k = 0; k < 3; ++k)
      {
        n[k] /= length;
      }
    }
  }
}

bool FarthestCrossing(const TriangleSurface& surface, const double origin[3], const double direction[3], double at[3])
{
  double best = -std::numeric_limits<double>::infinity();
  for (size_t t = 0; t < surface.triangles.size(); t += 3)
  {
    const double* a = &surface.points[3 * static_cast<size_t>(surface.triangles[t])];
    const double* b = &surface.points[3 * static_cast<size_t>(surface.triangles[t + 1])];
    const double* c = &surface.points[3 * static_cast<size_t>(surface.triangles[t + 2])];
    // Moller and Trumbore: origin + s direction = a + u (b - a) + v (c - a).
    double ab[3], ac[3], h[3], q[3], from[3];
    Subtract(b, a, ab);
    Subtract(c, a, ac);
    Cross(direction, ac, h);
    const double det = Dot(ab, h);
    if (det == 0)
    {
      continue;
    }
    Subtract(origin, a, from);
    const double u = Dot(from, h) / det;
    Cross(from, ab, q);
    const double v = Dot(direction, q) / det;
    if (u >= 0 && v >= 0 && u + v <= 1)
    {
      best = std::max(best, Dot(ac, q) / det);
    }
  }
  for (int k = 0; k < 3; ++k)
  {
    at[k] = origin[k] + best * direction[k];
  }
  return std::isfinite(best);
}

std::vector<std::array<double, 3>> MidlineCrossings(const TriangleSurface& surface, double x)
{
  std::vector<std::array<double, 3>> points;
  for (size_t t = 0; t < surface.triangles.size(); t += 3)
  {
    for (int k = 0; k < 3; ++k)
    {
      const double* a = &surface.points[3 * surface.triangles[t + k]];
      const double* b = &surface.points[3 * surface.triangles[t + (k + 1) % 3]];
      if ((a[0] - x) * (b[0] - x) > 0 || a[0] == b[0])
      {
        continue;
      }
      const double s = (x - a[0]) / (b[0] - a[0]);
      points.push_back({ x, a[1] + s * (b[1] - a[1]), a[2] + s * (b[2] - a[2]) });
    }
  }
  return points;
}

TriangleSurface Moved(const TriangleSurface& surface, const RigidTransform& transform)
{
  TriangleSurface moved = surface;
  for (size_t i = 0; i < moved.PointCount(); ++i)
  {
    transform.Apply(&surface.points[3 * i], &moved.points[3 * i]);
  }
  return moved;
}
