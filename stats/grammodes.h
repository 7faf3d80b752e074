// Principal components of a few vectors of many coordinates (n surfaces of
// 3p coordinates each) through their n x n Gram matrix, so that memory grows
// with n x p and never with p^2; and the Mahalanobis distance of one vector
// from a group of them, in the space of the group's leading modes, found
// from the Gram matrix alone. Pure arithmetic: nothing fails; a group
// without variance has no modes.
#pragma once

#include <Eigen/Core>

#include <vector>

// One surface's coordinates a row.
using CoordinateRows = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

// The inner products of every pair of rows (rows × rows^T). Subtract a
// common point (the group's mean) from the rows first: the products of
// coordinates far from the origin would lose the deviations' digits.
Eigen::MatrixXd GramMatrix(const CoordinateRows& rows);

// The modes of a group of n vectors: the eigenvectors of the Gram matrix of
// their deviations from their mean, in order of decreasing variance. Mode k
// is the unit vector sum_j a_k[j] (x_j - mean) / sqrt(mu_k), mu_k the
// eigenvalue of a_k, and its variance mu_k / (n - 1); a vector's score on it
// in standard deviations is a_k[j] sqrt(n - 1) for the group's own member j.
// Modes whose variance is at most 1e-12 of the total (rounding, or fewer
// independent vectors than n - 1) are left out.
struct GramModes
{
  Eigen::VectorXd variance; // per mode, decreasing
  Eigen::MatrixXd weights;  // n x modes: column k is a_k, of unit length
  double total = 0;         // the variance of all modes together (sum of squared deviations / (n - 1))
  Eigen::Index Count() const { return this->variance.size(); }
};

// The modes of the group whose Gram matrix (of its vectors less any common
// point) is `gram`; it is centred on the group's mean here.
GramModes ModesFromGram(const Eigen::MatrixXd& gram);

// The first `count` modes as unit vectors, one a column: sum_j a_k[j] x_j
// / sqrt(mu_k) over the rows (any common point subtracted from the rows
// drops out, since each a_k sums to zero).
Eigen::MatrixXd ModeVectors(const CoordinateRows& rows, const GramModes& modes, Eigen::Index count);

// The Mahalanobis distance of vector `probe` from the group `members`
// (indices into `gram`, the Gram matrix of all the vectors less one common
// point): sqrt(sum_k s_k^2 / variance_k) over the group's leading modes that
// together explain at least `share` of its variance, s_k the probe's
// deviation from the group's mean along mode k. A group without variance
// has no modes: the distance is then 0 for a probe at the group's mean and
// infinite for any other. `modesUsed`, when given, receives how many modes
// the distance took.
double ModeDistance(const Eigen::MatrixXd& gram, const std::vector<Eigen::Index>& members, Eigen::Index probe,
  double share, Eigen::Index* modesUsed = nullptr);

// The distance of each of the first `count` vectors of `gram` from the
// others among them (each left out in turn), as ModeDistance.
std::vector<double> LeaveOneOutDistances(const Eigen::MatrixXd& gram, Eigen::Index count, double share);
