// The closest point of a triangle to a point, by the regions of the
// triangle's plane, and which of its corners, edges or face holds it.
#pragma once

#include "geometry/vector.h"

#include <algorithm>

// The dot product of two 3-vectors: Dot's other name, which the triangle
// tree still uses.
inline double Dot3(const double a[3], const double b[3])
{
  return Dot(a, b);
}

// Where on a triangle its closest point to a query lies.
enum class TriangleFeature
{
  Face,
  VertexA,
  VertexB,
  VertexC,
  EdgeAB,
  EdgeBC,
  EdgeCA
};

// The closest point of triangle abc to p, by the regions of the triangle's
// plane (vertex, edge and face regions in turn).
inline TriangleFeature ClosestOnTriangle(
  const double p[3], const double a[3], const double b[3], const double c[3], double out[3])
{
  double ab[3], ac[3], ap[3];
  for (int k = 0; k < 3; ++k)
  {
    ab[k] = b[k] - a[k];
    ac[k] = c[k] - a[k];
    ap[k] = p[k] - a[k];
  }
  const double d1 = Dot(ab, ap);
  const double d2 = Dot(ac, ap);
  if (d1 <= 0 && d2 <= 0)
  {
    std::copy(a, a + 3, out);
    return TriangleFeature::VertexA;
  }
  double bp[3];
  for (int k = 0; k < 3; ++k)
  {
    bp[k] = p[k] - b[k];
  }
  const double d3 = Dot(ab, bp);
  const double d4 = Dot(ac, bp);
  if (d3 >= 0 && d4 <= d3)
  {
    std::copy(b, b + 3, out);
    return TriangleFeature::VertexB;
  }
  const double vc = d1 * d4 - d3 * d2;
  if (vc <= 0 && d1 >= 0 && d3 <= 0)
  {
    const double v = d1 / (d1 - d3);
    for (int k = 0; k < 3; ++k)
    {
      out[k] = a[k] + v * ab[k];
    }
    return TriangleFeature::EdgeAB;
  }
  double cp[3];
  for (int k = 0; k < 3; ++k)
  {
    cp[k] = p[k] - c[k];
  }
  const double d5 = Dot(ab, cp);
  const double d6 = Dot(ac, cp);
  if (d6 >= 0 && d5 <= d6)
  {
    std::copy(c, c + 3, out);
    return TriangleFeature::VertexC;
  }
  const double vb = d5 * d2 - d1 * d6;
  if (vb <= 0 && d2 >= 0 && d6 <= 0)
  {
    const double w = d2 / (d2 - d6);
    for (int k = 0; k < 3; ++k)
    {
      out[k] = a[k] + w * ac[k];
    }
    return TriangleFeature::EdgeCA;
  }
  const double va = d3 * d6 - d5 * d4;
  if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0)
  {
    const double w = (d4 - d3) / ((d4 - d3) + (d5 - d6));
    for (int k = 0; k < 3; ++k)
    {
      out[k] = b[k] + w * (c[k] - b[k]);
    }
    return TriangleFeature::EdgeBC;
  }
  const double sum = va + vb + vc;
  if (!(sum > 0))
  {
    // A degenerate triangle whose regions did not settle: its first corner.
    std::copy(a, a + 3, out);
    return TriangleFeature::VertexA;
  }
  const double v = vb / sum;
  const double w = vc / sum;
  for (int k = 0; k < 3; ++k)
  {
    out[k] = a[k] + ab[k] * v + ac[k] * w;
  }
  return TriangleFeature::Face;
}

// The squared distance from p to triangle abc.
inline double PointTriangleDistance2(const double p[3], const double a[3], const double b[3], const double c[3])
{
  double q[3];
  ClosestOnTriangle(p, a, b, c, q);
  return (p[0] - q[0]) * (p[0] - q[0]) + (p[1] - q[1]) * (p[1] - q[1]) + (p[2] - q[2]) * (p[2] - q[2]);
}
