// Summary statistics of samples.
#pragma once

#include <vector>

// The percent-th percentile of sorted values by linear interpolation between
// the closest ranks: rank (n - 1) * percent / 100 counted from 0, its whole
// part found exactly in integers, then x[lo] + f * (x[lo + 1] - x[lo]).
// `sorted` must hold at least one value.
double Percentile(const std::vector<double>& sorted, long long percent);

// The mean, the 95th percentile (as Percentile) and the largest of samples.
struct Summary
{
  double mean = 0;
  double p95 = 0;
  double largest = 0;
};

// The summary of `values`, which it sorts; all zero when there are none.
Summary Summarize(std::vector<double>& values);

// The percentile rank of `value` among `values` (in any order): the
// percentage of them that lie below it, those equal to it counted half; 0
// when there are none.
double PercentRank(const std::vector<double>& values, double value);
