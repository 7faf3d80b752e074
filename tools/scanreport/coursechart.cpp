#include "tools/scanreport/coursechart.h"

#include "growth/headcircumference.h"
#include "surftools/outputfile.h"
#include "tools/scanreport/pagetext.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <vector>

namespace
{
// The chart's frame in SVG units: the whole picture and the plot within it.
constexpr double kWidth = 400;
constexpr double kHeight = 230;
constexpr double kLeft = 44;
constexpr double kRight = kWidth - 12;
constexpr double kTop = 14;
constexpr double kBottom = kHeight - 48;
constexpr double kCentileMargin = 26; // right of the plot, for the centile curves' labels

// An axis: from `from` to `to`, ticks every `step` from `firstTick` on.
struct Axis
{
  double from;
  double to;
  double step;
  double firstTick;
};

// A step of 1, 2 or 5 times a power of ten that cuts `span` into at most
// `parts` parts.
double NiceStep(double span, double parts)
{
  const double raw = span / parts;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : { 1.0, 2.0, 5.0 })
  {
    if (m * power >= raw * (1 - 1e-9))
    {
      return m * power;
    }
  }
  return 10 * power;
}

// An axis around the values from `low` to `high`, a little beyond them, from
// and to whole steps.
Axis AxisAround(double low, double high)
{
  if (high - low < 1e-9 * (1 + std::abs(high)))
  {
    low -= 1;
    high += 1;
  }
  const double pad = 0.08 * (high - low);
  const double step = NiceStep(high - low + 2 * pad, 5);
  const double from = std::floor((low - pad) / step) * step;
  return { from, std::ceil((high + pad) / step) * step, step, from };
}

double X(const Axis& axis, double value)
{
  return kLeft + (value - axis.from) / (axis.to - axis.from) * (kRight - kLeft);
}

double Y(const Axis& axis, double value)
{
  return kBottom - (value - axis.from) / (axis.to - axis.from) * (kBottom - kTop);
}

// A coordinate as SVG text: two decimals are a hundredth of a unit.
std::string At(double coordinate)
{
  return Rounded(coordinate, 2);
}

// The visits' places along x: the age in months, or the visit's number.
std::vector<double> Abscissae(const VisitTable& table)
{
  std::vector<double> x;
  for (size_t v = 0; v < table.visits.size(); ++v)
  {
    x.push_back(table.agesKnown ? AgeInMonths(table.visits[v]) : static_cast<double>(v + 1));
  }
  return x;
}

Axis XAxis(const VisitTable& table, const std::vector<double>& x)
{
  if (table.agesKnown)
  {
    return AxisAround(x.front(), x.back());
  }
  const double n = static_cast<double>(x.size());
  return { 0.5, n + 0.5, std::max(1.0, NiceStep(n, 8)), 1 };
}

// The CVAI's axis reaches into the last level's band; the others fit their
// values.
Axis YAxis(const char* column, const std::vector<double>& y)
{
  const auto [low, high] = std::minmax_element(y.begin(), y.end());
  if (std::string(column) != "cvai")
  {
    return AxisAround(*low, *high);
  }
  const double top = std::max(*high * 1.1, kPlagiocephalyLevelFrom[4] + 1);
  const double step = NiceStep(top, 6);
  return { 0, std::ceil(top / step) * step, step, 0 };
}

// The ticks of an axis.
std::vector<double> Ticks(const Axis& axis)
{
  std::vector<double> ticks;
  for (int i = 0; axis.firstTick + i * axis.step <= axis.to + 1e-9 * axis.step; ++i)
  {
    ticks.push_back(axis.firstTick + i * axis.step);
  }
  return ticks;
}

// The ticks, grid lines and labels of both axes, and the x axis's title.
void WriteAxes(std::ostringstream& svg, const Axis& x, const Axis& y, const std::string& xTitle)
{
  for (double t : Ticks(y))
  {
    svg << "<line class=\"grid\" x1=\"" << At(kLeft) << "\" x2=\"" << At(kRight) << "\" y1=\"" << At(Y(y, t))
        << "\" y2=\"" << At(Y(y, t)) << "\"/><text class=\"tick\" x=\"" << At(kLeft - 6) << "\" y=\"" << At(Y(y, t) + 4)
        << "\" text-anchor=\"end\">" << NumberText(t) << "</text>\n";
  }
  for (double t : Ticks(x))
  {
    svg << "<line class=\"axis\" x1=\"" << At(X(x, t)) << "\" x2=\"" << At(X(x, t)) << "\" y1=\"" << At(kBottom)
        << "\" y2=\"" << At(kBottom + 5) << "\"/><text class=\"tick\" x=\"" << At(X(x, t)) << "\" y=\""
        << At(kBottom + 19) << "\" text-anchor=\"middle\">" << NumberText(t) << "</text>\n";
  }
  svg << "<line class=\"axis\" x1=\"" << At(kLeft) << "\" x2=\"" << At(kRight) << "\" y1=\"" << At(kBottom)
      << "\" y2=\"" << At(kBottom) << "\"/><line class=\"axis\" x1=\"" << At(kLeft) << "\" x2=\"" << At(kLeft)
      << "\" y1=\"" << At(kTop) << "\" y2=\"" << At(kBottom) << "\"/>\n<text class=\"title\" x=\""
      << At((kLeft + kRight) / 2) << "\" y=\"" << At(kHeight - 10) << "\" text-anchor=\"middle\">" << xTitle
      << "</text>\n";
}

// The five plagiocephaly levels as bands across the plot into `bands`, and
// the labels of those tall enough, with their word and range, into `labels`
// (drawn over the grid).
void WriteLevelBands(std::ostringstream& bands, std::ostringstream& labels, const Axis& y)
{
  for (int level = 1; level <= 5; ++level)
  {
    const double from = kPlagiocephalyLevelFrom[level - 1];
    const double to = level < 5 ? kPlagiocephalyLevelFrom[level] : y.to;
    if (from >= y.to)
    {
      break;
    }
    const double top = Y(y, std::min(to, y.to));
    const double bottom = Y(y, from);
    bands << "<rect class=\"band level" << level << "\" data-level=\"" << level << "\" x=\"" << At(kLeft) << "\" y=\""
          << At(top) << "\" width=\"" << At(kRight - kLeft) << "\" height=\"" << At(bottom - top) << "\"/>\n";
    if (bottom - top >= 11)
    {
      const std::string range = level == 1 ? "below " + NumberText(to)
        : level == 5                       ? NumberText(from) + " and above"
                                           : NumberText(from) + "\u2013" + NumberText(to);
      labels << "<text class=\"band-label\" x=\"" << At(kRight - 4) << "\" y=\"" << At((top + bottom) / 2 + 3.5)
             << "\" text-anchor=\"end\">" << LevelWord(level) << ", " << range << "</text>\n";
    }
  }
}

// The growth standard's centile curves of the child's sex across the x
// axis (in months, from birth to 60 months at most), sampled every tenth of
// a month: per centile, the ages and circumferences.
struct Centiles
{
  std::vector<double> months;
  std::vector<double> curves[5];
};

Centiles CentileCurves(const VisitTable& table, const Axis& x)
{
  Centiles centiles;
  Sex sex;
  if (!DrawsCentiles(table) || !SexOf(table.sex, sex))
  {
    return centiles;
  }
  const double to = std::min(x.to, kLastAgeDays / kDaysPerMonth);
  for (double month = std::max(0.0, x.from); month <= to + 1e-9; month += 0.1)
  {
    GrowthLms lms;
    if (HeadCircumferenceLms(sex, std::min(month, to) * kDaysPerMonth, lms))
    {
      centiles.months.push_back(std::min(month, to));
      for (int c = 0; c < 5; ++c)
      {
        centiles.curves[c].push_back(CentileCircumference(lms, kChartCentiles[c]));
      }
    }
  }
  return centiles;
}

// The centile curves, each labelled at its right end, outside the plot
// (where no visit's value label can cover it).
void WriteCentiles(std::ostringstream& svg, const Centiles& centiles, const Axis& xAxis, const Axis& yAxis)
{
  if (centiles.months.empty())
  {
    return;
  }
  for (int c = 0; c < 5; ++c)
  {
    svg << "<polyline class=\"centile" << (c == 2 ? " median" : "") << "\" data-centile=\""
        << NumberText(kChartCentiles[c]) << "\" points=\"";
    for (size_t i = 0; i < centiles.months.size(); ++i)
    {
      svg << (i ? " " : "") << At(X(xAxis, centiles.months[i])) << ',' << At(Y(yAxis, centiles.curves[c][i]));
    }
    svg << "\"/>\n<text class=\"centile-label\" x=\"" << At(X(xAxis, centiles.months.back()) + 3) << "\" y=\""
        << At(Y(yAxis, centiles.curves[c].back()) + 3) << "\">" << PercentileText(kChartCentiles[c]) << "</text>\n";
  }
}

// The visits' points joined by a line, each labelled with its value; a
// visit marked for checking drawn hollow and labelled so.
void WritePoints(std::ostringstream& svg, const VisitTable& table, const char* column, const std::vector<double>& x,
  const Axis& xAxis, const Axis& yAxis)
{
  svg << "<polyline class=\"course\" points=\"";
  for (size_t v = 0; v < x.size(); ++v)
  {
    svg << (v ? " " : "") << At(X(xAxis, x[v])) << ',' << At(Y(yAxis, Measure(table.visits[v], column)));
  }
  svg << "\"/>\n";
  for (size_t v = 0; v < x.size(); ++v)
  {
    const Visit& visit = table.visits[v];
    const double value = Measure(visit, column);
    const bool marked = !visit.check.empty();
    const double cx = X(xAxis, x[v]);
    const double cy = Y(yAxis, value);
    svg << "<circle class=\"point" << (marked ? " marked" : "") << "\" data-visit=\"" << Escape(visit.name)
        << "\" data-value=\"" << NumberText(value) << "\" cx=\"" << At(cx) << "\" cy=\"" << At(cy)
        << "\" r=\"4.5\"><title>" << Escape(visit.name) << ": " << Rounded(value) << (marked ? " (to be checked)" : "")
        << "</title></circle>\n<text class=\"value\" x=\"" << At(cx) << "\" y=\"" << At(cy - 9)
        << "\" text-anchor=\"middle\">" << Rounded(value) << (marked ? " (check)" : "") << "</text>\n";
  }
}
}

std::string CourseChart(const VisitTable& table, const char* column)
{
  const int k = HeadShapeColumnIndex(column);
  const std::string unit = kHeadShapeColumn[k].unit;
  const std::vector<double> x = Abscissae(table);
  std::vector<double> y;
  for (const Visit& visit : table.visits)
  {
    y.push_back(Measure(visit, column));
  }
  const Axis xAxis = XAxis(table, x);
  const Centiles centiles = std::string(column) == "circumference" ? CentileCurves(table, xAxis) : Centiles();
  std::vector<double> shown = y;
  for (const std::vector<double>& curve : centiles.curves)
  {
    shown.insert(shown.end(), curve.begin(), curve.end());
  }
  const Axis yAxis = YAxis(column, shown);
  std::ostringstream svg;
  svg << "<figure class=\"chart\">\n<figcaption>" << kMeasureText[k].words << (unit.empty() ? "" : ", " + unit)
      << "</figcaption>\n<svg class=\"chart\" id=\"chart-" << column << "\" data-measure=\"" << column
      << "\" viewBox=\"0 0 " << kWidth + (centiles.months.empty() ? 0 : kCentileMargin) << ' ' << kHeight
      << "\" role=\"img\" aria-label=\"" << kMeasureText[k].words << " by " << (table.agesKnown ? "age" : "visit")
      << "\" data-x-from=\"" << NumberText(xAxis.from) << "\" data-x-to=\"" << NumberText(xAxis.to)
      << "\" data-y-from=\"" << NumberText(yAxis.from) << "\" data-y-to=\"" << NumberText(yAxis.to)
      << "\">\n<rect class=\"plot\" x=\"" << At(kLeft) << "\" y=\"" << At(kTop) << "\" width=\"" << At(kRight - kLeft)
      << "\" height=\"" << At(kBottom - kTop) << "\"/>\n";
  std::ostringstream labels;
  if (std::string(column) == "cvai")
  {
    WriteLevelBands(svg, labels, yAxis);
  }
  WriteAxes(svg, xAxis, yAxis, table.agesKnown ? "Age (months)" : "Visit (in order; ages not known)");
  svg << labels.str();
  WriteCentiles(svg, centiles, xAxis, yAxis);
  WritePoints(svg, table, column, x, xAxis, yAxis);
  svg << "</svg>\n</figure>\n";
  return svg.str();
}

bool DrawsCentiles(const VisitTable& table)
{
  return !table.sex.empty() && table.agesKnown && !table.visits.empty() && table.visits.front().ageDays <= kLastAgeDays;
}
