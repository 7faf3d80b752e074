// colorstats: a table of summary statistics of color files, one
// tab-separated row per file, for cohort tables and quality checks.

#include "geometry/statistics.h"
#include "surftools/colorfile.h"
#include "surftools/outputfile.h"
#include "surftools/process.h"

#include <cmath>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace
{
void AddNumber(std::string& row, double value)
{
  char text[kNumberTextSize];
  row += '\t';
  row.append(text, FormatNumber(value, text));
}

void AddCount(std::string& row, long long count)
{
  char text[kNumberTextSize];
  row += '\t';
  row.append(text, FormatInteger(count, text));
}

// The row of a color file read as `contents`: its name, the number of its
// finite values, their minimum, maximum, mean, root mean square and 5th,
// 50th and 95th percentiles (empty fields when there is none), then the
// numbers of masked and of non-finite value lines; with its line end.
// `values` is room for the finite values.
std::string StatisticsRow(const char* path, const ColorFileContents& contents, std::vector<double>& values)
{
  values.clear();
  long long masked = 0;
  long long nonFinite = 0;
  double squares = 0.0;
  for (size_t k = 0; k < contents.values.size(); ++k)
  {
    const double value = contents.values[k];
    if (contents.masked[k])
    {
      ++masked;
    }
    else if (!std::isfinite(value))
    {
      ++nonFinite;
    }
    else
    {
      values.push_back(value);
      squares += value * value;
    }
  }
  std::string row = path;
  const long long n = static_cast<long long>(values.size());
  AddCount(row, n);
  if (n > 0)
  {
    const Summary summary = Summarize(values); // sorts the values
    AddNumber(row, values.front());
    AddNumber(row, summary.largest);
    AddNumber(row, summary.mean);
    AddNumber(row, std::sqrt(squares / static_cast<double>(n)));
    AddNumber(row, Percentile(values, 5));
    AddNumber(row, Percentile(values, 50));
    AddNumber(row, summary.p95);
  }
  else
  {
    row += "\t\t\t\t\t\t\t"; // no values: the seven statistics are left empty
  }
  AddCount(row, masked);
  AddCount(row, nonFinite);
  row += '\n';
  return row;
}
}

int main(int argc, char* argv[])
{
  QuietVtk();
  if (argc < 2)
  {
    std::cout << "Usage: values.clr [more.clr ...]\n"
                 "Inputs: color (.clr) files\n"
                 "Output: on standard output, a header row and one tab-separated row per file:\n"
                 "        file values minimum maximum mean rms p5 p50 p95 masked nonfinite\n"
                 "Performs: statistics of the values of each file; the literal 0.0 lines of cells\n"
                 "          outside a mask and values that are not finite are counted apart.\n";
    return -1;
  }

  // Every file is read before anything is printed: a refused file leaves no
  // partial table behind.
  std::string table = "file\tvalues\tminimum\tmaximum\tmean\trms\tp5\tp50\tp95\tmasked\tnonfinite\n";
  ColorFileContents contents;
  std::vector<double> values;
  for (int a = 1; a < argc; ++a)
  {
    const char* path = argv[a];
    if (std::strpbrk(path, "\t\r\n"))
    {
      std::cout << "Color file " << path << " has a tab or a line break in its name, which would break the table\n";
      return -1;
    }
    const std::string problem = ReadColorFile(path, contents);
    if (!problem.empty())
    {
      std::cout << "Color file " << path << ' ' << problem << '\n';
      return -1;
    }
    table += StatisticsRow(path, contents, values);
  }
  WriteText(std::cout, table.data(), static_cast<std::streamsize>(table.size()));
  std::cout.flush();
  return std::cout ? 0 : -1;
}
