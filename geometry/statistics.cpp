#include "geometry/statistics.h"

#include <algorithm>

double Percentile(const std::vector<double>& sorted, long long percent)
{
  const long long n = static_cast<long long>(sorted.size());
  const long long scaled = (n - 1) * percent;
  const long long lo = scaled / 100;
  const double fraction = static_cast<double>(scaled % 100) / 100.0;
  if (lo + 1 >= n)
  {
    return sorted[lo];
  }
  return sorted[lo] + fraction * (sorted[lo + 1] - sorted[lo]);
}

Summary Summarize(std::vector<double>& values)
{
  Summary summary;
  if (values.empty())
  {
    return summary;
  }
  double sum = 0;
  for (double v : values)
  {
    sum += v;
  }
  summary.mean = sum / static_cast<double>(values.size());
  std::sort(values.begin(), values.end());
  summary.p95 = Percentile(values, 95);
  summary.largest = values.back();
  return summary;
}

double PercentRank(const std::vector<double>& values, double value)
{
  if (values.empty())
  {
    return 0.0;
  }
  double below = 0;
  for (double v : values)
  {
    below += v < value ? 1.0 : (v == value ? 0.5 : 0.0);
  }
  return 100.0 * below / static_cast<double>(values.size());
}
