#include "fit/posesteps.h"

#include <algorithm>

std::vector<size_t> PoseSamples(const std::vector<double>& areas)
{
  std::vector<size_t> samples;
  for (size_t i = 0; i < areas.size(); ++i)
  {
    if (areas[i] > 0)
    {
      samples.push_back(i);
    }
  }
  const size_t stride = samples.size() / kMaxPoseSamples + 1;
  std::vector<size_t> kept;
  for (size_t i = 0; i < samples.size(); i += stride)
  {
    kept.push_back(samples[i]);
  }
  return kept;
}

std::vector<double> FewerSamples(const std::vector<double>& areas, size_t count)
{
  std::vector<double> fewer(areas.size(), 0.0);
  size_t onTriangles = 0;
  for (double a : areas)
  {
    onTriangles += a > 0 ? 1 : 0;
  }
  const size_t stride = std::max<size_t>(1, onTriangles / std::max<size_t>(1, count));
  size_t seen = 0;
  for (size_t i = 0; i < areas.size(); ++i)
  {
    if (areas[i] > 0 && seen++ % stride == 0)
    {
      fewer[i] = areas[i];
    }
  }
  return fewer;
}

Eigen::Matrix3d RotationOf(const Eigen::Vector3d& w)
{
  const double angle = w.norm();
  if (angle == 0)
  {
    return Eigen::Matrix3d::Identity();
  }
  return Eigen::AngleAxisd(angle, w / angle).toRotationMatrix();
}
