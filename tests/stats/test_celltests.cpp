// The paired t-test (on per-cell moments) and the Benjamini-Hochberg
// adjustment against figures worked out by hand.
#include "stats/celltests.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{
// The changes latest - first of the given pairs at one cell, tested.
PairedTest TestPairs(const std::vector<double>& first, const std::vector<double>& latest)
{
  CellMoments moments(1);
  for (size_t i = 0; i < first.size(); ++i)
  {
    const double change = latest[i] - first[i];
    moments.Add(&change);
  }
  return TestChanges(moments.Mean(0), moments.Deviation(0), moments.Count());
}
}

TEST(StatsCellTests, PairedTTestAgainstClosedForms)
{
  // Changes 1, 2, 3: mean 2, sd 1, t = 2 sqrt(3); with 2 degrees of freedom
  // the two-sided p is 1 - t / sqrt(t^2 + 2).
  const PairedTest two = TestPairs({ 10, 20, 30 }, { 11, 22, 33 });
  const double t = 2.0 * std::sqrt(3.0);
  EXPECT_NEAR(two.t, t, 1e-12);
  EXPECT_NEAR(two.p, 1.0 - t / std::sqrt(t * t + 2.0), 1e-12);
  EXPECT_NEAR(two.p, 0.0741799, 1e-7);
  // Changes 1 and 3 (one degree of freedom, the Cauchy distribution):
  // t = 2, p = 1 - 2 atan(2) / pi.
  const PairedTest one = TestPairs({ 5, 5 }, { 6, 8 });
  EXPECT_NEAR(one.t, 2.0, 1e-12);
  EXPECT_NEAR(one.p, 1.0 - 2.0 * std::atan(2.0) / M_PI, 1e-12);
  // A decrease tests alike, with t negated.
  const PairedTest down = TestPairs({ 11, 22, 33 }, { 10, 20, 30 });
  EXPECT_NEAR(down.t, -t, 1e-12);
  EXPECT_NEAR(down.p, two.p, 1e-12);
  // Equal changes (exactly no deviation: the moments' running update keeps
  // them exact), or a single subject: t is undefined, written 0 with p 1.
  for (const PairedTest& none : { TestPairs({ 1, 2, 3 }, { 2, 3, 4 }), TestPairs({ 1 }, { 3 }) })
  {
    EXPECT_EQ(none.t, 0.0);
    EXPECT_EQ(none.p, 1.0);
  }
}

TEST(StatsCellTests, BenjaminiHochbergByHand)
{
  // Sorted 0.005, 0.01, 0.03, 0.04: p m / rank = 0.02, 0.02, 0.04, 0.04.
  const std::vector<double> q = BenjaminiHochberg({ 0.01, 0.04, 0.03, 0.005 });
  const std::vector<double> expected = { 0.02, 0.04, 0.04, 0.02 };
  for (size_t i = 0; i < q.size(); ++i)
  {
    EXPECT_NEAR(q[i], expected[i], 1e-15) << i;
  }
  // Sorted 0.02, 0.03, 0.04, 0.5: p m / rank = 0.08, 0.06, 0.0533, 0.5; the
  // least from each rank on makes the first three 0.16 / 3.
  const std::vector<double> monotone = BenjaminiHochberg({ 0.5, 0.04, 0.02, 0.03 });
  EXPECT_NEAR(monotone[0], 0.5, 1e-15);
  for (size_t i = 1; i < 4; ++i)
  {
    EXPECT_NEAR(monotone[i], 0.16 / 3.0, 1e-15) << i;
  }
  // Ties share their q; a p that is not a number counts as 1.
  const std::vector<double> ties = BenjaminiHochberg({ 0.01, NAN, 0.01 });
  EXPECT_NEAR(ties[0], 0.015, 1e-15);
  EXPECT_NEAR(ties[2], 0.015, 1e-15);
  EXPECT_EQ(ties[1], 1.0);
  EXPECT_TRUE(BenjaminiHochberg({}).empty());
}
