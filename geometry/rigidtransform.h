// Rigid motions of 3-space: a rotation R and a translation t, x -> R x + t.
//
// Inputs and outputs are double[3] (`in` and `out` may be the same array).
// Nothing here fails; R is taken to be a rotation as given.
#pragma once

struct RigidTransform
{
  double r[3][3] = { { 1, 0, 0 }, { 0, 1, 0 }, { 0, 0, 1 } };
  double t[3] = { 0, 0, 0 };

  // x -> R x + t.
  void Apply(const double in[3], double out[3]) const;
  // x -> R x, for directions.
  void Rotate(const double in[3], double out[3]) const;
  // The motion back: R^T and -R^T t.
  RigidTransform Inverse() const;
};

// The rotation by `angle` radians about the unit vector `axis`
// (right-handed: counterclockwise seen from the tip of the axis), with no
// translation.
RigidTransform AxisRotation(const double axis[3], double angle);
