// The WHO Child Growth Standards' head circumference-for-age: the L, M and S
// parameters of a girl's or a boy's head circumference at an age, from the
// table in reference/ (birth to 60 months, by completed month), and a
// circumference's z-score and percentile against them, and the
// circumferences of the standard's centiles.
//
// Inputs: the sex and the age in days; a circumference in mm; a percentile.
// Outputs: L, M (in mm) and S at that age, interpolated linearly between the
// two months around it (month = days / 30.4375); z, 100 Phi(z), the
// circumference at a centile. HeadCircumferenceLms fails (false) for an age
// that is not a number, below 0 or past 60 months; SexOf for a word other
// than "female", "male" or "". Nothing else fails: a circumference that is
// not a positive number gives a z that is not a number.
#pragma once

#include <string>

enum class Sex
{
  Female,
  Male,
  Unknown
};

// "female", "male", or "" for unknown; false for any other word.
bool SexOf(const std::string& word, Sex& sex);

struct GrowthLms
{
  double l = 1;
  double m = 0; // the median, mm
  double s = 0;
};

// Days in a month of the standard.
constexpr double kDaysPerMonth = 30.4375;
// The standard's last age: 60 months, 1826.25 days.
constexpr double kLastAgeDays = 60 * kDaysPerMonth;

bool HeadCircumferenceLms(Sex sex, double ageDays, GrowthLms& lms);

// z = ((X / M)^L - 1) / (L S), or ln(X / M) / S where L is 0.
double GrowthZ(const GrowthLms& lms, double circumference);

// 100 Phi(z), Phi the standard normal distribution function.
double GrowthPercentile(double z);

// The circumference at the percentile p (0 < p < 100): M (1 + L S z)^(1/L)
// with z = Phi^-1(p / 100), or M exp(S z) where L is 0.
double CentileCircumference(const GrowthLms& lms, double percentile);

// The centiles of the standard's chart: 3, 15, 50, 85 and 97.
constexpr double kChartCentiles[5] = { 3, 15, 50, 85, 97 };

// A percentile as a clinician reads it: "48th", "1st", "2nd", "23rd",
// "below the 3rd" below the 3rd centile, "above the 97th" above the 97th.
std::string PercentileText(double percentile);
