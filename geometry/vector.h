// Small helpers on 3-vectors held as double[3].
//
// Sums run x, then y, then z, left to right, unless a name says otherwise:
// results that are written out depend on the order, and these helpers give
// exactly the figures of the expressions they stand for.
#pragma once

#include <cmath>

// a . b, summed x, y, z.
inline double Dot(const double a[3], const double b[3])
{
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// |v|^2 and |v|, summed x, y, z.
inline double Norm2(const double v[3])
{
  return Dot(v, v);
}
inline double Norm(const double v[3])
{
  return std::sqrt(Norm2(v));
}

// |v|, summed z, y, x: sqrt((z^2 + y^2) + x^2).
inline double NormZYX(const double v[3])
{
  return std::sqrt((v[2] * v[2] + v[1] * v[1]) + v[0] * v[0]);
}

// a - b.
inline void Subtract(const double a[3], const double b[3], double out[3])
{
  out[0] = a[0] - b[0];
  out[1] = a[1] - b[1];
  out[2] = a[2] - b[2];
}

// a x b.
inline void Cross(const double a[3], const double b[3], double out[3])
{
  out[0] = a[1] * b[2] - a[2] * b[1];
  out[1] = a[2] * b[0] - a[0] * b[2];
  out[2] = a[0] * b[1] - a[1] * b[0];
}

// |a - b|^2 and |a - b|, summed x, y, z.
inline double Distance2(const double a[3], const double b[3])
{
  const double d[3] = { a[0] - b[0], a[1] - b[1], a[2] - b[2] };
  return Norm2(d);
}
inline double Distance(const double a[3], const double b[3])
{
  return std::sqrt(Distance2(a, b));
}
