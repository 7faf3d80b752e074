#include "stats/grammodes.h"

#include <Eigen/Eigenvalues>

#include <cmath>
#include <limits>

namespace
{
// The Gram matrix of the vectors less their mean, from that of the vectors:
// (x_i - m).(x_j - m) = x_i.x_j - x_i.m - x_j.m + m.m.
Eigen::MatrixXd Centred(const Eigen::MatrixXd& gram)
{
  const Eigen::VectorXd withMean = gram.rowwise().mean();
  const double meanWithMean = withMean.mean();
  Eigen::MatrixXd centred = gram;
  centred.colwise() -= withMean;
  centred.rowwise() -= withMean.transpose();
  centred.array() += meanWithMean;
  return centred;
}
}

Eigen::MatrixXd GramMatrix(const CoordinateRows& rows)
{
  Eigen::MatrixXd gram = Eigen::MatrixXd::Zero(rows.rows(), rows.rows());
  gram.selfadjointView<Eigen::Lower>().rankUpdate(rows);
  return gram.selfadjointView<Eigen::Lower>();
}

GramModes ModesFromGram(const Eigen::MatrixXd& gram)
{
  GramModes modes;
  const Eigen::Index n = gram.rows();
  if (n < 2)
  {
    return modes;
  }
  const Eigen::MatrixXd centred = Centred(gram);
  const double squares = std::max(0.0, centred.trace());
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(centred);
  // Eigenvalues come in increasing order: the modes are taken from the last.
  const Eigen::VectorXd& values = solver.eigenvalues();
  Eigen::Index count = 0;
  while (count < n && values(n - 1 - count) > 1e-12 * squares)
  {
    ++count;
  }
  const double degrees = static_cast<double>(n - 1);
  modes.total = squares / degrees;
  modes.variance.resize(count);
  modes.weights.resize(n, count);
  for (Eigen::Index k = 0; k < count; ++k)
  {
    modes.variance(k) = values(n - 1 - k) / degrees;
    modes.weights.col(k) = solver.eigenvectors().col(n - 1 - k);
  }
  return modes;
}

Eigen::MatrixXd ModeVectors(const CoordinateRows& rows, const GramModes& modes, Eigen::Index count)
{
  Eigen::MatrixXd vectors = rows.transpose() * modes.weights.leftCols(count);
  const double degrees = static_cast<double>(rows.rows() - 1);
  for (Eigen::Index k = 0; k < count; ++k)
  {
    vectors.col(k) /= std::sqrt(modes.variance(k) * degrees);
  }
  return vectors;
}

double ModeDistance(const Eigen::MatrixXd& gram, const std::vector<Eigen::Index>& members, Eigen::Index probe,
  double share, Eigen::Index* modesUsed)
{
  const Eigen::MatrixXd group = gram(members, members);
  const Eigen::VectorXd withProbe = gram(members, probe);
  // (x_j - m).(y - m) = x_j.y - m.y - x_j.m + m.m
  const Eigen::VectorXd withMean = group.rowwise().mean();
  const Eigen::VectorXd deviation =
    (withProbe.array() - withProbe.mean() - withMean.array() + withMean.mean()).matrix();
  const GramModes modes = ModesFromGram(group);
  if (modes.Count() == 0)
  {
    if (modesUsed)
    {
      *modesUsed = 0;
    }
    // |y - m|^2 = y.y - 2 m.y + m.m
    const double away = gram(probe, probe) - 2.0 * withProbe.mean() + withMean.mean();
    return away > 0.0 ? std::numeric_limits<double>::infinity() : 0.0;
  }
  const double degrees = static_cast<double>(members.size() - 1);
  double squares = 0;
  double explained = 0;
  Eigen::Index k = 0;
  for (; k < modes.Count() && explained < share * modes.total; ++k)
  {
    // The probe's score along mode k: a_k.deviation / sqrt(mu_k).
    const double score = modes.weights.col(k).dot(deviation) / std::sqrt(modes.variance(k) * degrees);
    squares += score * score / modes.variance(k);
    explained += modes.variance(k);
  }
  if (modesUsed)
  {
    *modesUsed = k;
  }
  return std::sqrt(squares);
}

std::vector<double> LeaveOneOutDistances(const Eigen::MatrixXd& gram, Eigen::Index count, double share)
{
  std::vector<double> distances(static_cast<size_t>(count));
  std::vector<Eigen::Index> others;
  for (Eigen::Index left = 0; left < count; ++left)
  {
    others.clear();
    for (Eigen::Index j = 0; j < count; ++j)
    {
      if (j != left)
      {
        others.push_back(j);
      }
    }
    distances[static_cast<size_t>(left)] = ModeDistance(gram, others, left, share);
  }
  return distances;
}
