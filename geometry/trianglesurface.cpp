#include "geometry/trianglesurface.h"

#include "geometry/vector.h"

#include <cmath>

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
