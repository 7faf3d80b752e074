#include "geometry/rigidtransform.h"

#include "geometry/vector.h"

#include <algorithm>

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
