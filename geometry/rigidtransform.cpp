#include "geometry/rigidtransform.h"

#include "geometry/vector.h"

#include <algorithm>
#include <cmath>

void RigidTransform::Apply(const double in[3], double out[3]) const
{
  double result[3];
  for (int i = 0; i < 3; ++i)
  {
    result[i] = Dot(r[i], in) + t[i];
  }
  std::copy(result, result + 3, out);
}

void RigidTransform::Rotate(const double in[3], double out[3]) const
{
  double result[3];
  for (int i = 0; i < 3; ++i)
  {
    result[i] = Dot(r[i], in);
  }
  std::copy(result, result + 3, out);
}

RigidTransform RigidTransform::Inverse() const
{
  RigidTransform inverse;
  for (int i = 0; i < 3; ++i)
  {
    for (int j = 0; j < 3; ++j)
    {
      inverse.r[i][j] = r[j][i];
    }
  }
  for (int i = 0; i < 3; ++i)
  {
    inverse.t[i] = -Dot(inverse.r[i], t);
  }
  return inverse;
}

RigidTransform AxisRotation(const double axis[3], double angle)
{
  const double c = std::cos(angle);
  const double s = std::sin(angle);
  const double& x = axis[0];
  const double& y = axis[1];
  const double& z = axis[2];
  const double r[3][3] = { { c + x * x * (1 - c), x * y * (1 - c) - z * s, x * z * (1 - c) + y * s },
    { y * x * (1 - c) + z * s, c + y * y * (1 - c), y * z * (1 - c) - x * s },
    { z * x * (1 - c) - y * s, z * y * (1 - c) + x * s, c + z * z * (1 - c) } };
  RigidTransform rotation;
  for (int i = 0; i < 3; ++i)
  {
    std::copy(r[i], r[i] + 3, rotation.r[i]);
  }
  return rotation;
}
