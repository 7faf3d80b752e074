// When a fit that held is to be checked, in words.
#include "fit/fitcheck.h"

#include <gtest/gtest.h>

TEST(FitCheck, ReasonsPastEitherLimitAndNoneWithin)
{
  EXPECT_EQ(FitCheckReasons(40, 5), "");
  EXPECT_EQ(FitCheckReasons(45.24, 1), "45.2% of the template unmatched (over 40%)");
  EXPECT_EQ(FitCheckReasons(12, 6.06), "a landmark 6.1 mm off after the fit (over 5 mm)");
  EXPECT_EQ(FitCheckReasons(61, 7),
    "61.0% of the template unmatched (over 40%); a landmark 7.0 mm off after the fit (over 5 mm)");
}
