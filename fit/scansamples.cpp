#include "fit/scansamples.h"

#include "geometry/statistics.h"
#include "geometry/vector.h"

#include <algorithm>
#include <cmath>

namespace
{
// The centroid of triangle t and twice its area; its normal (B - A) x (C - A) in `n`.
double Centroid(const TriangleSurface& scan, size_t t, double c[3], double n[3])
{
  const double* a = &scan.points[3 * static_cast<size_t>(scan.triangles[3 * t])];
  const double* b = &scan.points[3 * static_cast<size_t>(scan.triangles[3 * t + 1])];
  const double* d = &scan.points[3 * static_cast<size_t>(scan.triangles[3 * t + 2])];
  double ab[3], ad[3];
  Subtract(b, a, ab);
  Subtract(d, a, ad);
  Cross(ab, ad, n);
  for (int k = 0; k < 3; ++k)
  {
    c[k] = (a[k] + b[k] + d[k]) / 3.0;
  }
  return Norm(n);
}
}

ScanSamples SampleScan(const TriangleSurface& scan, const TriangleTree* tree, size_t count)
{
  ScanSamples samples;
  const size_t triangles = scan.TriangleCount();
  double total = 0;
  double first[3] = { 0, 0, 0 };
  double second = 0;
  for (size_t t = 0; t < triangles; ++t)
  {
    double c[3], n[3];
    const double area = 0.5 * Centroid(scan, t, c, n);
    total += area;
    for (int k = 0; k < 3; ++k)
    {
      first[k] += area * c[k];
    }
    second += area * Norm2(c);
  }
  if (!(total > 0))
  {
    return samples;
  }
  for (int k = 0; k < 3; ++k)
  {
    samples.centre[k] = first[k] / total;
  }
  samples.radius = std::sqrt(std::max(0.0, second / total - Norm2(samples.centre)));
  const size_t stride = std::max<size_t>(1, triangles / std::max<size_t>(1, count));
  for (size_t t = 0; t < triangles; t += stride)
  {
    double c[3], own[3];
    const double twice = Centroid(scan, t, c, own);
    const double area = 0.5 * twice * static_cast<double>(stride);
    const double* n = tree ? tree->Normal(static_cast<int>(t)) : own;
    if (!(area > 0) || Norm2(n) == 0)
    {
      continue;
    }
    for (int k = 0; k < 3 && !tree; ++k)
    {
      own[k] /= twice;
    }
    samples.points.insert(samples.points.end(), c, c + 3);
    samples.normals.insert(samples.normals.end(), n, n + 3);
    samples.areas.push_back(area);
  }
  return samples;
}

void SampleExtent(const ScanSamples& samples, const double direction[3], long long percent, double& low, double& high)
{
  std::vector<double> offsets;
  for (size_t i = 0; i < samples.Count(); ++i)
  {
    double u[3];
    Subtract(&samples.points[3 * i], samples.centre, u);
    offsets.push_back(Dot(u, direction));
  }
  low = high = 0;
  if (offsets.empty())
  {
    return;
  }
  std::sort(offsets.begin(), offsets.end());
  low = Percentile(offsets, percent);
  high = Percentile(offsets, 100 - percent);
}
