// Summary statistics of samples.
#pragma once

#include <vector>

// The percent-th percentile of sorted values by linear interpolation between
// the closest ranks: rank (n - 1) * percent / 100 counted from 0, its whole
// part found exactly in integers, then x[lo] + f * (x[lo + 1] - x[lo]).
// `sorted` must hold at least one value.
double Percentile(const std::vector<double>& sorted, long long percent);
