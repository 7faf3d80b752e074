// hcstandard: a table of visits with each head circumference's z-score and
// percentile against the WHO Child Growth Standards (growth/), for the
// child's sex at its age: the table as it was read, two columns more.
//
//   hcstandard table.tsv
//
// The table is tab-separated with one header row naming its columns; those
// read are age_days (whole days, or empty), sex (female, male, or empty for
// unknown) and circumference (mm). The columns hc_z and hc_percentile are
// added at the end of every row, empty where the sex is unknown, the age
// not given or past the standard's 60 months.

#include "growth/headcircumference.h"
#include "surftools/listfile.h"
#include "surftools/outputfile.h"

#include <cmath>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace
{
const char* const kRead[] = { "age_days", "sex", "circumference" };

int Refuse(const std::string& path, const std::string& why)
{
  std::cout << "Cannot read the table " << path << ": " << why << '\n';
  return -1;
}

// The two added fields of a row whose age, sex and circumference are
// `fields` (as the table holds them); an empty text, or why the row cannot
// be read.
std::string GrowthFields(const std::vector<std::string>& fields, std::string& added)
{
  added = "\t";
  Sex sex;
  if (!SexOf(fields[1], sex))
  {
    return "sex \"" + fields[1] + "\" is not female, male or empty";
  }
  const std::string& age = fields[0];
  if (age.size() > 9 || age.find_first_not_of("0123456789") != std::string::npos)
  {
    return "age_days \"" + age + "\" is not a whole number of days";
  }
  double circumference;
  if (!FieldNumber(fields[2], circumference) || !(circumference > 0) || !std::isfinite(circumference))
  {
    return "circumference \"" + fields[2] + "\" is not a length";
  }
  GrowthLms lms;
  if (age.empty() || !HeadCircumferenceLms(sex, std::stod(age), lms))
  {
    return "";
  }
  const double z = GrowthZ(lms, circumference);
  char text[kNumberTextSize];
  added = std::string(text, FormatNumber(z, text)) + '\t';
  added.append(text, FormatNumber(GrowthPercentile(z), text));
  return "";
}
}

int main(int argc, char* argv[])
{
  if (argc != 2)
  {
    std::cout << "Usage: hcstandard table.tsv\n"
                 "Input: a tab-separated table of visits with a header row and the columns age_days (days),\n"
                 "       sex (female, male or empty) and circumference (mm)\n"
                 "Output: on standard output, the table with two columns more, hc_z and hc_percentile: the\n"
                 "        head circumference's z-score and percentile against the WHO Child Growth\n"
                 "        Standards, empty where the sex is unknown or the age past 60 months.\n";
    return -1;
  }
  const std::string path = argv[1];
  std::ifstream in(path, std::ios::binary);
  std::string line;
  if (!in || !std::getline(in, line))
  {
    return Refuse(path, "it cannot be opened, or it is empty");
  }
  std::vector<std::string> header = TabFields(line);
  std::map<std::string, size_t> column;
  for (size_t k = 0; k < header.size(); ++k)
  {
    column.emplace(header[k], k);
  }
  for (const char* name : kRead)
  {
    if (column.count(name) == 0)
    {
      return Refuse(path, std::string("its header has no column ") + name);
    }
  }
  std::string table = line + "\thc_z\thc_percentile\n";
  for (size_t number = 2; std::getline(in, line); ++number)
  {
    const std::vector<std::string> fields = TabFields(line);
    if (fields.size() != header.size())
    {
      return Refuse(path,
        "line " + std::to_string(number) + " has " + std::to_string(fields.size()) + " fields, not " +
          std::to_string(header.size()));
    }
    std::string added;
    const std::string problem =
      GrowthFields({ fields[column["age_days"]], fields[column["sex"]], fields[column["circumference"]] }, added);
    if (!problem.empty())
    {
      return Refuse(path, "line " + std::to_string(number) + ": " + problem);
    }
    table += line + '\t' + added + '\n';
  }
  WriteText(std::cout, table.data(), static_cast<std::streamsize>(table.size()));
  std::cout.flush();
  return std::cout ? 0 : -1;
}
