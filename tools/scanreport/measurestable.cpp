#include "tools/scanreport/measurestable.h"
#include "surftools/listfile.h"

#include "surftools/outputfile.h"
#include "tools/scanreport/pagetext.h"

#include <cmath>
#include <filesystem>
#include <fstream>

namespace
{
// Where the columns after the visit's names, age and scan begin: the
// head-shape ones, measured_from and posterior_flat_side, then the fit's
// four figures and the check text.
constexpr size_t kFirstShapeField = 4;
constexpr size_t kFirstFitField = kFirstShapeField + kHeadShapeColumns + 2;
constexpr size_t kCheckField = kFirstFitField + 4;
// A table written before the growth standard's columns ends at the check;
// one of now has the sex, hc_z and hc_percentile after it.
constexpr size_t kFieldsWithoutGrowth = kCheckField + 1;
constexpr size_t kFields = kFieldsWithoutGrowth + 3;

std::string Line(size_t line)
{
  return "line " + std::to_string(line);
}

// The header's names of the fields.
const std::vector<std::string>& ColumnNames()
{
  static const std::vector<std::string> names = TabFields(MeasuresHeaderRow());
  return names;
}

// The header row: exactly the columns of MeasuresHeaderRow, or those before
// the growth standard's (a table written before they were added).
std::string CheckHeader(const std::vector<std::string>& header)
{
  const std::vector<std::string>& names = ColumnNames();
  for (size_t f = 0; f < names.size() && f < header.size(); ++f)
  {
    if (header[f] != names[f])
    {
      return "its header's column " + std::to_string(f + 1) + " is \"" + header[f] + "\", not \"" + names[f] + "\"";
    }
  }
  if (header.size() != names.size() && header.size() != kFieldsWithoutGrowth)
  {
    return "its header has " + std::to_string(header.size()) + " columns, not " + std::to_string(names.size());
  }
  return "";
}

// The number in field `f` (finite, taking the whole field, as numbers are
// written everywhere) into `value`. Returns an empty text, or the reason.
std::string NumberField(const std::vector<std::string>& fields, size_t f, size_t line, double& value)
{
  const std::string& text = fields[f];
  if (FieldNumber(text, value) && std::isfinite(value))
  {
    return "";
  }
  return Line(line) + ": " + ColumnNames()[f] + " \"" + text + "\" is not a number";
}

// The sex and the growth standard's z-score and percentile, where the row
// has them: the sex female, male or empty, the two numbers both given or
// both empty.
std::string GrowthFields(const std::vector<std::string>& fields, size_t line, std::string& sex, Visit& visit)
{
  if (fields.size() == kFieldsWithoutGrowth)
  {
    return "";
  }
  sex = fields[kFieldsWithoutGrowth];
  if (sex != "female" && sex != "male" && !sex.empty())
  {
    return Line(line) + ": sex \"" + sex + "\" is not female, male or empty";
  }
  const size_t z = kFieldsWithoutGrowth + 1;
  if (fields[z].empty() && fields[z + 1].empty())
  {
    return "";
  }
  visit.growthKnown = true;
  std::string problem = NumberField(fields, z, line, visit.hcZ);
  return problem.empty() ? NumberField(fields, z + 1, line, visit.hcPercentile) : problem;
}

// The age: empty, or a whole number of days (digits only, at most nine).
std::string AgeField(const std::string& text, size_t line, int& days)
{
  days = -1;
  if (text.empty())
  {
    return "";
  }
  if (text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
  {
    return Line(line) + ": age_days \"" + text + "\" is not a whole number of days";
  }
  days = std::stoi(text);
  return "";
}

// The plagiocephaly level: a whole number from 1 to 5, the level of the
// row's CVAI. The CVAI is written to six digits, so that one written as a
// level's lower edge may have lain just below it, and carry the level below.
std::string CheckLevel(const Visit& visit, size_t line)
{
  const double level = Measure(visit, "plagiocephaly_level");
  const double cvai = Measure(visit, "cvai");
  if (level != std::floor(level) || level < 1 || level > 5)
  {
    return Line(line) + ": plagiocephaly_level " + NumberText(level) + " is not a level from 1 to 5";
  }
  if (level != PlagiocephalyLevel(cvai) && level != PlagiocephalyLevel(cvai * (1 - 5e-6)))
  {
    return Line(line) + ": plagiocephaly_level " + NumberText(level) + " is not the level of the CVAI " +
      NumberText(cvai) + " (" + std::to_string(PlagiocephalyLevel(cvai)) + ")";
  }
  return "";
}

// The fit's figures: all four numbers, or all four empty.
std::string FitFields(const std::vector<std::string>& fields, size_t line, FitFigures& fit)
{
  size_t empty = 0;
  for (size_t f = kFirstFitField; f < kFirstFitField + 4; ++f)
  {
    empty += fields[f].empty() ? 1 : 0;
  }
  if (empty == 4)
  {
    return "";
  }
  fit.fitted = true;
  double* figures[4] = { &fit.landmarkRms, &fit.landmarkLargest, &fit.distanceMean, &fit.unmatchedPercent };
  for (size_t k = 0; k < 4; ++k)
  {
    const std::string problem = NumberField(fields, kFirstFitField + k, line, *figures[k]);
    if (!problem.empty())
    {
      return empty == 0 ? problem : Line(line) + " has some of the fit's figures and not all four";
    }
  }
  return "";
}

// One visit's row, on line `line` of the file, whose header has `columns`
// columns; the child's sex into `sex`.
std::string ReadVisit(
  const std::vector<std::string>& fields, size_t line, size_t columns, Visit& visit, std::string& sex)
{
  if (fields.size() != columns)
  {
    return Line(line) + " has " + std::to_string(fields.size()) + " fields, not " + std::to_string(columns);
  }
  visit.name = fields[1];
  visit.scan = fields[3];
  visit.flatSide = fields[kFirstFitField - 1];
  visit.check = fields[kCheckField];
  if (fields[0].empty() || visit.name.empty())
  {
    return Line(line) + " has no " + (fields[0].empty() ? "subject" : "visit name");
  }
  std::string problem = AgeField(fields[2], line, visit.ageDays);
  for (size_t k = 0; k < kHeadShapeColumns && problem.empty(); ++k)
  {
    problem = NumberField(fields, kFirstShapeField + k, line, visit.values[k]);
  }
  if (problem.empty())
  {
    problem = NumberField(fields, kFirstShapeField + kHeadShapeColumns, line, visit.measuredFrom);
  }
  if (problem.empty())
  {
    problem = CheckLevel(visit, line);
  }
  if (problem.empty() && visit.flatSide != "right" && visit.flatSide != "left" && visit.flatSide != "none")
  {
    problem = Line(line) + ": posterior_flat_side \"" + visit.flatSide + "\" is not right, left or none";
  }
  problem = problem.empty() ? FitFields(fields, line, visit.fit) : problem;
  return problem.empty() ? GrowthFields(fields, line, sex, visit) : problem;
}

// What holds across the rows: one subject, at least two visits (or, with
// `oneVisit`, one), each named once, ages on every row or on none, and
// increasing.
std::string CheckCourse(const VisitTable& table, const std::vector<std::string>& subjects, bool oneVisit)
{
  const std::vector<Visit>& visits = table.visits;
  const std::string held = "it holds " + std::to_string(visits.size()) + " visit" + (visits.size() == 1 ? "" : "s");
  if (oneVisit && visits.size() != 1)
  {
    return held + ", and the page of one scan takes one";
  }
  if (!oneVisit && visits.size() < 2)
  {
    return held + ", and a course needs at least two";
  }
  for (size_t v = 1; v < visits.size(); ++v)
  {
    const std::string line = Line(v + 2);
    if (subjects[v] != subjects[0])
    {
      return line + " names the subject \"" + subjects[v] + "\", line 2 \"" + subjects[0] + "\"";
    }
    for (size_t u = 0; u < v; ++u)
    {
      if (visits[u].name == visits[v].name)
      {
        return line + " repeats the visit \"" + visits[v].name + "\" of " + Line(u + 2);
      }
    }
    if ((visits[v].ageDays < 0) != (visits[0].ageDays < 0))
    {
      return "ages are given on some lines and not on others: line 2 has " +
        (visits[0].ageDays < 0 ? "none, " + line + " one" : "one, " + line + " none");
    }
    if (visits[v].ageDays >= 0 && visits[v].ageDays <= visits[v - 1].ageDays)
    {
      return "the ages do not increase: " + line + " (" + std::to_string(visits[v].ageDays) + " days) follows " +
        Line(v + 1) + " (" + std::to_string(visits[v - 1].ageDays) + " days)";
    }
  }
  return "";
}
}

std::string MeasuresHeaderRow()
{
  std::string shape = HeadShapeHeaderRow();
  shape = shape.substr(shape.find('\t') + 1); // after "file"
  shape.pop_back();                           // the line feed
  return "subject\tvisit\tage_days\tscan\t" + shape +
    "\tfit_landmark_rms\tfit_landmark_largest\tfit_distance_mean\tfit_unmatched_percent\tcheck\tsex\thc_z\thc_percentile";
}

std::string ReadMeasuresTable(const std::string& path, VisitTable& table, bool oneVisit)
{
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open() || std::filesystem::is_directory(path))
  {
    return "it cannot be opened";
  }
  std::vector<std::string> subjects;
  size_t number = 0;
  size_t columns = 0;
  for (std::string line; std::getline(in, line);)
  {
    if (!line.empty() && line.back() == '\r')
    {
      line.pop_back();
    }
    const std::vector<std::string> fields = TabFields(line);
    std::string problem;
    if (++number == 1)
    {
      problem = CheckHeader(fields);
      columns = fields.size();
    }
    else
    {
      table.visits.emplace_back();
      std::string sex;
      problem = ReadVisit(fields, number, columns, table.visits.back(), sex);
      if (problem.empty() && number > 2 && sex != table.sex)
      {
        problem = Line(number) + " gives the sex \"" + sex + "\", line 2 \"" + table.sex + "\"";
      }
      table.sex = sex;
      subjects.push_back(fields[0]);
    }
    if (!problem.empty())
    {
      return problem;
    }
  }
  if (in.bad() || number == 0)
  {
    return in.bad() ? "it cannot be read" : "it is empty";
  }
  const std::string problem = CheckCourse(table, subjects, oneVisit);
  table.subject = subjects.empty() ? "" : subjects[0];
  table.agesKnown = problem.empty() && table.visits[0].ageDays >= 0;
  return problem;
}

int HeadShapeColumnIndex(const std::string& name)
{
  for (int k = 0; k < kHeadShapeColumns; ++k)
  {
    if (name == kHeadShapeColumn[k].name)
    {
      return k;
    }
  }
  return -1;
}

double AgeInMonths(const Visit& visit)
{
  return visit.ageDays / 30.4375;
}

double Measure(const Visit& visit, const char* column)
{
  return visit.values[static_cast<size_t>(HeadShapeColumnIndex(column))];
}

bool HoldsMeasures(const Visit& visit, const HeadShape& shape)
{
  const auto values = HeadShapeValues(shape);
  for (size_t k = 0; k < values.size(); ++k)
  {
    if (NumberText(values[k]) != NumberText(visit.values[k]))
    {
      return false;
    }
  }
  return NumberText(shape.measuredFrom) == NumberText(visit.measuredFrom) && visit.flatSide == shape.posteriorFlatSide;
}
