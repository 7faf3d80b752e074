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
