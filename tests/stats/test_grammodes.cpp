// Modes and distances through the Gram matrix, on four vectors in the plane
// whose covariance is worked out by hand: (±3, 0) and (0, ±1), moved far from
// the origin.
#include "geometry/statistics.h"
#include "stats/grammodes.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{
const double kOffset[2] = { 100, 50 };

// The four vectors, less their mean when `centred` (as the tool subtracts it).
CoordinateRows Plane(bool centred)
{
  CoordinateRows rows(4, 2);
  rows << 3, 0, -3, 0, 0, 1, 0, -1;
  if (!centred)
  {
    rows.col(0).array() += kOffset[0];
    rows.col(1).array() += kOffset[1];
  }
  return rows;
}

// The Gram matrix of the four vectors and a probe, all less the group's mean.
Eigen::MatrixXd WithProbe(double x, double y)
{
  CoordinateRows rows(5, 2);
  rows.topRows(4) = Plane(true);
  rows.row(4) << x, y;
  return GramMatrix(rows);
}
}

TEST(StatsGramModes, ModesOfFourVectors)
{
  // Covariance diag(18 / 3, 2 / 3): modes along x and y.
  for (bool centred : { true, false })
  {
    const CoordinateRows rows = Plane(centred);
    const GramModes modes = ModesFromGram(GramMatrix(rows));
    ASSERT_EQ(modes.Count(), 2);
    EXPECT_NEAR(modes.variance(0), 6.0, 1e-9);
    EXPECT_NEAR(modes.variance(1), 2.0 / 3.0, 1e-9);
    EXPECT_NEAR(modes.total, 20.0 / 3.0, 1e-9);
    const Eigen::MatrixXd vectors = ModeVectors(rows, modes, 2);
    EXPECT_NEAR(std::abs(vectors(0, 0)), 1.0, 1e-9);
    EXPECT_NEAR(vectors(1, 0), 0.0, 1e-9);
    EXPECT_NEAR(std::abs(vectors(1, 1)), 1.0, 1e-9);
    // Member 0 lies 3 / sqrt(6) standard deviations along mode 1.
    EXPECT_NEAR(std::abs(modes.weights(0, 0)) * std::sqrt(3.0), 3.0 / std::sqrt(6.0), 1e-9);
  }
  // Vectors all alike have no mode.
  CoordinateRows same(3, 2);
  same.setConstant(7.0);
  EXPECT_EQ(ModesFromGram(GramMatrix(same)).Count(), 0);
  // ... and lie at no distance from a vector like them, infinitely far from any other.
  CoordinateRows probed(4, 2);
  probed << 0, 0, 0, 0, 0, 0, 0, 0;
  EXPECT_EQ(ModeDistance(GramMatrix(probed), { 0, 1, 2 }, 3, 0.95), 0.0);
  probed(3, 1) = 1;
  EXPECT_TRUE(std::isinf(ModeDistance(GramMatrix(probed), { 0, 1, 2 }, 3, 0.95)));
}

TEST(StatsGramModes, DistanceInTheLeadingModes)
{
  const std::vector<Eigen::Index> group = { 0, 1, 2, 3 };
  // (3, 1): 3 along x (variance 6), 1 along y (variance 2/3): d^2 = 1.5 + 1.5.
  const Eigen::MatrixXd gram = WithProbe(3, 1);
  EXPECT_NEAR(ModeDistance(gram, group, 4, 0.95), std::sqrt(3.0), 1e-9);
  // Mode 1 alone explains 90%, enough for a share of 0.5.
  EXPECT_NEAR(ModeDistance(gram, group, 4, 0.5), std::sqrt(1.5), 1e-9);
  // Each member left out: (3, 0) from the other three (mean (-1, 0),
  // covariance diag(3, 1)) lies 4 / sqrt(3) off; (0, 1) from its others
  // (mean (0, -1/3), covariance diag(9, 1/3)) lies 4/3 off along y, a mode
  // that is not needed for 95% (x explains 96.4%) but is for all of it.
  const std::vector<double> loo = LeaveOneOutDistances(gram, 4, 0.95);
  ASSERT_EQ(loo.size(), 4u);
  EXPECT_NEAR(loo[0], 4.0 / std::sqrt(3.0), 1e-9);
  EXPECT_NEAR(loo[1], 4.0 / std::sqrt(3.0), 1e-9);
  EXPECT_NEAR(loo[2], 0.0, 1e-9);
  EXPECT_NEAR(loo[3], 0.0, 1e-9);
  EXPECT_NEAR(LeaveOneOutDistances(gram, 4, 1.0)[2], 4.0 / std::sqrt(3.0), 1e-9);
  // The percentile rank of a distance among the members' own.
  EXPECT_DOUBLE_EQ(PercentRank(loo, 3.0), 100.0);
  EXPECT_DOUBLE_EQ(PercentRank({ 1, 2, 3, 4 }, 2.0), 37.5);
  EXPECT_DOUBLE_EQ(PercentRank({}, 2.0), 0.0);
}
