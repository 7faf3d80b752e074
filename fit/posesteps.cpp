#include "fit/posesteps.h"

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

Eigen::Matrix3d RotationOf(const Eigen::Vector3d& w)
{
  const double angle = w.norm();
  if (angle == 0)
  {
    return Eigen::Matrix3d::Identity();
  }
  return Eigen::AngleAxisd(angle, w / angle).toRotationMatrix();
}
