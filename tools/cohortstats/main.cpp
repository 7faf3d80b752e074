// cohortstats: the cohort's head-shape measures at the first and the latest
// visit of every subject, and their change: a table of one row per measure
// from the table of every visit that the cohort workflow writes.
//
// Each subject's first visit is its first row, its latest its last (the
// workflow lists the visits by age). A visit marked for checking (a text in
// `check`) is left out of every figure. Per measure: the count, mean and
// standard deviation at the first and at the latest visit; over the subjects
// with both, the mean change and its standard deviation, the paired t
// statistic and its two-sided p-value; and the mean change per month of age
// over the subjects whose two ages are given and differ. The head
// circumference's z-score against the WHO growth standard (hc_z) counts
// only the visits that have one.

#include "stats/celltests.h"
#include "surftools/listfile.h"
#include "surftools/outputfile.h"
#include "surftools/process.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace
{
const char* const kMeasures[] = { "length", "width", "ci", "circumference", "diagonal_a", "diagonal_b", "cva", "cvai",
  "volume", "asr", "psr", "osr", "hc_z" };
const int kMeasureCount = sizeof(kMeasures) / sizeof(kMeasures[0]);
// The head circumference's z-score against the WHO growth standard: empty
// where the child's sex is unknown or its age past the standard (and no
// column at all in a table written before it), so a visit may lack it.
const int kGrowthMeasure = kMeasureCount - 1;
const double kDaysPerMonth = 365.25 / 12.0;

// One visit as the statistics take it.
struct VisitRow
{
  std::string subject;
  bool marked = false; // marked for checking: left out
  bool aged = false;   // its age is given
  double age = 0;      // in days
  double values[kMeasureCount];
  bool given[kMeasureCount]; // the measure is given (only hc_z may not be)
};

// The column of every name the statistics need; "" or what is missing.
std::string FindColumns(const std::vector<std::string>& header, std::map<std::string, size_t>& column)
{
  for (size_t k = 0; k < header.size(); ++k)
  {
    column.emplace(header[k], k);
  }
  std::vector<std::string> needed = { "subject", "age_days", "check" };
  needed.insert(needed.end(), kMeasures, kMeasures + kGrowthMeasure);
  for (const std::string& name : needed)
  {
    if (column.count(name) == 0)
    {
      return "its header has no column " + name;
    }
  }
  return "";
}

// One row of the table; "" or what is wrong with it.
std::string ReadRow(const std::vector<std::string>& fields, const std::map<std::string, size_t>& column, VisitRow& row)
{
  row.subject = fields[column.at("subject")];
  row.marked = !fields[column.at("check")].empty();
  const std::string& age = fields[column.at("age_days")];
  row.aged = !age.empty();
  if (row.aged && !(FieldNumber(age, row.age) && std::isfinite(row.age)))
  {
    return "the age_days '" + age + "' is not a number";
  }
  for (int m = 0; m < kMeasureCount; ++m)
  {
    const auto at = column.find(kMeasures[m]);
    const std::string text = at == column.end() ? "" : fields[at->second];
    row.given[m] = !(m == kGrowthMeasure && text.empty());
    if (row.given[m] && !(FieldNumber(text, row.values[m]) && std::isfinite(row.values[m])))
    {
      return "the " + std::string(kMeasures[m]) + " '" + text + "' is not a number";
    }
  }
  return "";
}

// Every row of the table at `path`; "" or why it cannot be read.
std::string ReadTable(const char* path, std::vector<VisitRow>& rows)
{
  std::ifstream in(path, std::ios::binary);
  std::string line;
  if (!in || !std::getline(in, line))
  {
    return "it cannot be read or is empty";
  }
  const std::vector<std::string> header = TabFields(line);
  std::map<std::string, size_t> column;
  const std::string missing = FindColumns(header, column);
  if (!missing.empty())
  {
    return missing;
  }
  for (int number = 2; std::getline(in, line); ++number)
  {
    const std::vector<std::string> fields = TabFields(line);
    if (fields.size() != header.size())
    {
      return "line " + std::to_string(number) + " has " + std::to_string(fields.size()) + " fields, not " +
        std::to_string(header.size());
    }
    rows.emplace_back();
    const std::string problem = ReadRow(fields, column, rows.back());
    if (!problem.empty())
    {
      return "line " + std::to_string(number) + ": " + problem;
    }
  }
  return rows.empty() ? "it has no visit" : "";
}

// Each subject's first and last row, in the order the subjects first appear.
std::vector<std::pair<size_t, size_t>> SubjectRows(const std::vector<VisitRow>& rows)
{
  std::vector<std::pair<size_t, size_t>> spans;
  std::map<std::string, size_t> index;
  for (size_t r = 0; r < rows.size(); ++r)
  {
    const auto found = index.emplace(rows[r].subject, spans.size());
    if (found.second)
    {
      spans.emplace_back(r, r);
    }
    spans[found.first->second].second = r;
  }
  return spans;
}

// Appends a tab and a number, or only the tab where `given` is false.
void AddField(std::string& row, double value, bool given = true)
{
  char text[kNumberTextSize];
  row += '\t';
  if (given)
  {
    row.append(text, FormatNumber(value, text));
  }
}

void AddMoments(std::string& row, const CellMoments& moments)
{
  char text[kNumberTextSize];
  row += '\t';
  row.append(text, FormatInteger(static_cast<long long>(moments.Count()), text));
  AddField(row, moments.Mean(0), moments.Count() > 0);
  AddField(row, moments.Deviation(0), moments.Count() > 1);
}

// The row of measure m.
std::string MeasureRow(const std::vector<VisitRow>& rows, const std::vector<std::pair<size_t, size_t>>& spans, int m)
{
  CellMoments first(1), latest(1), change(1), perMonth(1);
  for (const auto& [a, b] : spans)
  {
    const VisitRow& from = rows[a];
    const VisitRow& to = rows[b];
    if (!from.marked && from.given[m])
    {
      first.Add(&from.values[m]);
    }
    if (b == a || to.marked || !to.given[m])
    {
      continue;
    }
    latest.Add(&to.values[m]);
    if (from.marked || !from.given[m])
    {
      continue;
    }
    const double difference = to.values[m] - from.values[m];
    change.Add(&difference);
    if (from.aged && to.aged && to.age != from.age)
    {
      const double monthly = difference / ((to.age - from.age) / kDaysPerMonth);
      perMonth.Add(&monthly);
    }
  }
  std::string row = kMeasures[m];
  AddMoments(row, first);
  AddMoments(row, latest);
  AddMoments(row, change);
  const bool tested = change.Count() > 1 && change.Deviation(0) > 0;
  const PairedTest test = TestChanges(change.Mean(0), change.Deviation(0), change.Count());
  AddField(row, test.t, tested);
  AddField(row, test.p, tested);
  AddField(row, perMonth.Mean(0), perMonth.Count() > 0);
  return row + '\n';
}
}

int main(int argc, char* argv[])
{
  QuietVtk();
  if (argc != 2)
  {
    std::cout << "Usage: cohortstats cohort_measures.tsv\n"
                 "Input: the table of every visit's head-shape measures that the cohort workflow writes\n"
                 "Output: on standard output, a table of one row per measure: at the first and at the latest\n"
                 "        visit the count, mean and standard deviation; over the subjects with both, the mean\n"
                 "        change, its standard deviation, the paired t statistic, its two-sided p-value and\n"
                 "        the mean change per month of age. Visits marked for checking are left out.\n";
    return -1;
  }
  std::vector<VisitRow> rows;
  const std::string problem = ReadTable(argv[1], rows);
  if (!problem.empty())
  {
    std::cout << "Cannot read the measures table " << argv[1] << ": " << problem << '\n';
    return -1;
  }
  const std::vector<std::pair<size_t, size_t>> spans = SubjectRows(rows);
  std::string table = "measure\tfirst_n\tfirst_mean\tfirst_sd\tlatest_n\tlatest_mean\tlatest_sd\tchange_n\t"
                      "change_mean\tchange_sd\tt\tp\tchange_per_month\n";
  for (int m = 0; m < kMeasureCount; ++m)
  {
    table += MeasureRow(rows, spans, m);
  }
  std::cout << table;
  return 0;
}
