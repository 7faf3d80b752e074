// The WHO head circumference standard as the table in reference/ gives it:
// whole months as printed, ages between two months interpolated, no value
// outside birth to 60 months.
#include "growth/headcircumference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(HeadCircumference, WholeMonthsAsPrintedAndAgesBetweenInterpolated)
{
  GrowthLms lms;
  // The table's rows for boys at 6 months and girls at 12 months.
  ASSERT_TRUE(HeadCircumferenceLms(Sex::Male, 6 * kDaysPerMonth, lms));
  EXPECT_DOUBLE_EQ(lms.m, 433.306);
  EXPECT_DOUBLE_EQ(lms.s, 0.02817);
  EXPECT_DOUBLE_EQ(lms.l, 1.0);
  ASSERT_TRUE(HeadCircumferenceLms(Sex::Female, 12 * kDaysPerMonth, lms));
  EXPECT_DOUBLE_EQ(lms.m, 448.965);
  // A quarter of the way from 3 to 4 months for boys.
  ASSERT_TRUE(HeadCircumferenceLms(Sex::Male, 3.25 * kDaysPerMonth, lms));
  EXPECT_NEAR(lms.m, 405.135 + 0.25 * (416.317 - 405.135), 1e-9);
  EXPECT_NEAR(lms.s, 0.02918 + 0.25 * (0.02868 - 0.02918), 1e-12);
  // Birth and 60 months are the table's ends.
  ASSERT_TRUE(HeadCircumferenceLms(Sex::Female, 0, lms));
  EXPECT_DOUBLE_EQ(lms.m, 338.787);
  EXPECT_TRUE(HeadCircumferenceLms(Sex::Male, 60 * kDaysPerMonth, lms));
  // Nothing outside them, nor for an age that is not a number.
  EXPECT_FALSE(HeadCircumferenceLms(Sex::Male, 60 * kDaysPerMonth + 1, lms));
  EXPECT_FALSE(HeadCircumferenceLms(Sex::Female, -1, lms));
  EXPECT_FALSE(HeadCircumferenceLms(Sex::Female, std::numeric_limits<double>::quiet_NaN(), lms));
}

TEST(HeadCircumference, ZScoresPercentilesAndCentilesAsWorkedOutByHand)
{
  GrowthLms lms;
  ASSERT_TRUE(HeadCircumferenceLms(Sex::Female, 9 * kDaysPerMonth, lms));
  // The median itself, and M (1 + 2 S): z = 2, the 97.7th percentile.
  EXPECT_NEAR(GrowthZ(lms, lms.m), 0.0, 1e-12);
  EXPECT_NEAR(GrowthPercentile(0.0), 50.0, 1e-12);
  EXPECT_NEAR(GrowthZ(lms, lms.m * (1 + 2 * lms.s)), 2.0, 1e-12);
  EXPECT_NEAR(GrowthPercentile(2.0), 97.725, 0.001);
  EXPECT_NEAR(GrowthPercentile(-1.0), 15.866, 0.001);
  // By hand from the table: a boy of 4.5 months, 42.0 cm; M and S halfway
  // between months 4 and 5.
  ASSERT_TRUE(HeadCircumferenceLms(Sex::Male, 4.5 * kDaysPerMonth, lms));
  const double m = 0.5 * (41.6317 + 42.5576);
  const double s = 0.5 * (0.02868 + 0.02837);
  EXPECT_NEAR(GrowthZ(lms, 420.0), (42.0 / m - 1) / s, 1e-9);
  // The centiles of the chart lie at their z-scores.
  EXPECT_NEAR(CentileCircumference(lms, 50), lms.m, 1e-9);
  EXPECT_NEAR(CentileCircumference(lms, 97), lms.m * (1 + lms.s * 1.880794), 1e-3);
  EXPECT_NEAR(CentileCircumference(lms, 3), lms.m * (1 - lms.s * 1.880794), 1e-3);
  EXPECT_NEAR(GrowthPercentile(GrowthZ(lms, CentileCircumference(lms, 15))), 15.0, 1e-9);
  // No standard for an unknown sex; no z for a circumference of nothing.
  EXPECT_FALSE(HeadCircumferenceLms(Sex::Unknown, 100, lms));
  EXPECT_TRUE(std::isnan(GrowthZ(lms, 0.0)));
}

TEST(HeadCircumference, SexesAndPercentilesInWords)
{
  Sex sex = Sex::Male;
  EXPECT_TRUE(SexOf("female", sex));
  EXPECT_EQ(sex, Sex::Female);
  EXPECT_TRUE(SexOf("", sex));
  EXPECT_EQ(sex, Sex::Unknown);
  EXPECT_FALSE(SexOf("Male", sex));
  EXPECT_FALSE(SexOf("m", sex));
  EXPECT_EQ(PercentileText(47.6), "48th");
  EXPECT_EQ(PercentileText(3.0), "3rd");
  EXPECT_EQ(PercentileText(21.2), "21st");
  EXPECT_EQ(PercentileText(12.4), "12th");
  EXPECT_EQ(PercentileText(62.0), "62nd");
  EXPECT_EQ(PercentileText(2.9), "below the 3rd");
  EXPECT_EQ(PercentileText(97.2), "above the 97th");
}
