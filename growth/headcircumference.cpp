#include "growth/headcircumference.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

extern const char* const kWhoHeadCircumferenceTable;

namespace
{
// The table's rows of one sex, by month from 0.
struct SexTable
{
  std::vector<GrowthLms> months;
};

// Reads the built-in table once: the header line, then "sex month L M_cm S"
// rows in order of month within each sex.
const SexTable& Table(Sex sex)
{
  static const std::vector<SexTable> tables = [] {
    std::vector<SexTable> read(2);
    std::istringstream in(kWhoHeadCircumferenceTable);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line))
    {
      std::istringstream row(line);
      std::string name;
      double month, l, m, s;
      if (row >> name >> month >> l >> m >> s)
      {
        read[name == "male" ? 1 : 0].months.push_back({ l, 10.0 * m, s });
      }
    }
    return read;
  }();
  return tables[sex == Sex::Male ? 1 : 0];
}
}

bool SexOf(const std::string& word, Sex& sex)
{
  if (word == "female" || word == "male" || word.empty())
  {
    sex = word == "female" ? Sex::Female : word == "male" ? Sex::Male : Sex::Unknown;
    return true;
  }
  return false;
}

bool HeadCircumferenceLms(Sex sex, double ageDays, GrowthLms& lms)
{
  if (sex == Sex::Unknown)
  {
    return false;
  }
  const std::vector<GrowthLms>& months = Table(sex).months;
  const double month = ageDays / kDaysPerMonth;
  if (!(month >= 0.0) || months.empty() || month > static_cast<double>(months.size() - 1))
  {
    return false;
  }
  const size_t below = std::min(static_cast<size_t>(month), months.size() - 2);
  const double w = month - static_cast<double>(below);
  const GrowthLms& a = months[below];
  const GrowthLms& b = months[below + 1];
  lms.l = a.l + w * (b.l - a.l);
  lms.m = a.m + w * (b.m - a.m);
  lms.s = a.s + w * (b.s - a.s);
  return true;
}

double GrowthZ(const GrowthLms& lms, double circumference)
{
  const double ratio = circumference / lms.m;
  if (!(ratio > 0))
  {
    return std::nan("");
  }
  return lms.l == 0 ? std::log(ratio) / lms.s : (std::pow(ratio, lms.l) - 1.0) / (lms.l * lms.s);
}

double GrowthPercentile(double z)
{
  return 50.0 * std::erfc(-z / std::sqrt(2.0));
}

double CentileCircumference(const GrowthLms& lms, double percentile)
{
  // Phi^-1 by halving: Phi rises, and the chart's centiles lie well within
  // z = -8 to 8.
  double low = -8.0;
  double high = 8.0;
  for (int step = 0; step < 100; ++step)
  {
    const double middle = 0.5 * (low + high);
    (GrowthPercentile(middle) < percentile ? low : high) = middle;
  }
  const double z = 0.5 * (low + high);
  return lms.l == 0 ? lms.m * std::exp(lms.s * z) : lms.m * std::pow(1.0 + lms.l * lms.s * z, 1.0 / lms.l);
}

std::string PercentileText(double percentile)
{
  if (percentile < kChartCentiles[0])
  {
    return "below the 3rd";
  }
  if (percentile > kChartCentiles[4])
  {
    return "above the 97th";
  }
  const long whole = std::lround(percentile);
  const long last = whole % 10;
  const bool teen = whole % 100 >= 11 && whole % 100 <= 13;
  const char* suffix = teen ? "th" : last == 1 ? "st" : last == 2 ? "nd" : last == 3 ? "rd" : "th";
  return std::to_string(whole) + suffix;
}
