// The WHO Child Growth Standards' head circumference-for-age: the L, M and S
// parameters of a girl's or a boy's head circumference at an age, from the
// table in reference/ (birth to 60 months, by completed month).
//
// Inputs: the sex and the age in days. Output: L, M (in mm) and S at that
// age, interpolated linearly between the two months around it (month = days /
// 30.4375). Fails (false) for an age that is not a number, below 0 or past
// 60 months.
#pragma once

enum class Sex
{
  Female,
  Male
};

struct GrowthLms
{
  double l = 1;
  double m = 0; // the median, mm
  double s = 0;
};

// Days in a month of the standard.
constexpr double kDaysPerMonth = 30.4375;

bool HeadCircumferenceLms(Sex sex, double ageDays, GrowthLms& lms);
