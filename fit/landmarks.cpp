#include "fit/landmarks.h"

#include "surftools/curvefile.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <cstdio>

bool ReadLandmarks(const char* path, std::vector<Landmark>& landmarks)
{
  vtkSmartPointer<vtkPoints> points;
  if (!ReadCurveFile(path, points))
  {
    return false;
  }
  // A file whose last line ends with a line feed reads one point more, a
  // repeat of the last: that is no landmark.
  bool finalFeed = false;
  if (std::FILE* file = std::fopen(path, "rb"))
  {
    if (std::fseek(file, -1, SEEK_END) == 0)
    {
      finalFeed = std::fgetc(file) == '\n';
    }
    std::fclose(file);
  }
  vtkIdType count = points->GetNumberOfPoints();
  if (finalFeed && count > 0)
  {
    --count;
  }
  landmarks.assign(static_cast<size_t>(count), Landmark());
  for (vtkIdType i = 0; i < count; ++i)
  {
    points->GetPoint(i, landmarks[static_cast<size_t>(i)].data());
  }
  return true;
}

const char* LandmarkProblem(const std::vector<Landmark>& landmarks)
{
  if (landmarks.size() < 3)
  {
    return "fewer than 3 landmarks";
  }
  for (const Landmark& l : landmarks)
  {
    if (!IsFinitePoint(l.data()))
    {
      return "a landmark that is not a finite number";
    }
  }
  Eigen::Vector3d mean = Eigen::Vector3d::Zero();
  for (const Landmark& l : landmarks)
  {
    mean += Eigen::Vector3d(l[0], l[1], l[2]);
  }
  mean /= static_cast<double>(landmarks.size());
  Eigen::Matrix3d scatter = Eigen::Matrix3d::Zero();
  for (const Landmark& l : landmarks)
  {
    const Eigen::Vector3d d = Eigen::Vector3d(l[0], l[1], l[2]) - mean;
    scatter += d * d.transpose();
  }
  Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver(scatter);
  const Eigen::Vector3d axis = solver.eigenvectors().col(2);
  double spread = 0;
  double offLine = 0;
  for (const Landmark& l : landmarks)
  {
    const Eigen::Vector3d d = Eigen::Vector3d(l[0], l[1], l[2]) - mean;
    const double along = d.dot(axis);
    spread = std::max(spread, std::abs(along));
    offLine = std::max(offLine, (d - along * axis).norm());
  }
  if (!(offLine > 0.01 * 2.0 * spread))
  {
    return "landmarks on one line";
  }
  return nullptr;
}
