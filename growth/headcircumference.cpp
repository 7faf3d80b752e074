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

bool HeadCircumferenceLms(Sex sex, double ageDays, GrowthLms& lms)
{
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
