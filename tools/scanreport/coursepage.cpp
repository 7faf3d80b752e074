#include "tools/scanreport/coursepage.h"

#include "fit/fitcheck.h"
#include "growth/headcircumference.h"
#include "surftools/outputfile.h"
#include "tools/scanreport/coursechart.h"
#include "tools/scanreport/pagetext.h"

#include <cmath>
#include <filesystem>
#include <sstream>
#include <vector>

namespace
{
// A change of the posterior symmetry ratio smaller than this (percentage
// points) leaves the flattening unchanged.
constexpr double kPsrChange = 1.0;

// The measures of the visits' table, in its order after the age.
const char* const kVisitColumns[] = { "ci", "cvai", "plagiocephaly_level", "circumference", "volume", "asr", "psr",
  "osr" };

// When a visit was, for the summary: "at 4 months", or "at the first visit"
// and "at the latest visit" ("at the visit" of one) where ages are not known.
std::string When(const VisitTable& table, size_t v)
{
  if (!table.agesKnown)
  {
    return table.visits.size() == 1 ? "at the visit" : v == 0 ? "at the first visit" : "at the latest visit";
  }
  const long months = std::lround(AgeInMonths(table.visits[v]));
  return "at " + std::to_string(months) + (months == 1 ? " month" : " months");
}

std::string LevelText(const Visit& visit)
{
  const int level = static_cast<int>(Measure(visit, "plagiocephaly_level"));
  return std::to_string(level) + ' ' + LevelWord(level);
}

// "A", "A and B", "A, B and C".
std::string Enumeration(const std::vector<std::string>& names)
{
  std::string text;
  for (size_t n = 0; n < names.size(); ++n)
  {
    text += (n == 0 ? "" : n + 1 == names.size() ? " and " : ", ") + names[n];
  }
  return text;
}

// The names of the visits that must be checked.
std::vector<std::string> MarkedVisits(const VisitTable& table)
{
  std::vector<std::string> marked;
  for (const Visit& visit : table.visits)
  {
    if (!visit.check.empty())
    {
      marked.push_back(visit.name);
    }
  }
  return marked;
}

// The flattening of the back of the head from the first to the latest visit
// (at the one visit, where there is one).
std::string Flattening(const VisitTable& table)
{
  const Visit& first = table.visits.front();
  const Visit& latest = table.visits.back();
  if (table.visits.size() == 1)
  {
    return first.flatSide == "none" ? "no posterior flattening"
                                    : "posterior flattening on " + PatientSideText(first.flatSide);
  }
  if (first.flatSide == "none")
  {
    return "no posterior flattening " + When(table, 0) +
      (latest.flatSide == "none"
          ? ""
          : ", flattening on " + PatientSideText(latest.flatSide) + ' ' + When(table, table.visits.size() - 1));
  }
  const double change = Measure(latest, "psr") - Measure(first, "psr");
  const char* trend = change >= kPsrChange ? "lessened" : change <= -kPsrChange ? "grew" : "unchanged";
  return "posterior flattening on " + PatientSideText(first.flatSide) + ", " + trend +
    (latest.flatSide == "none" || latest.flatSide == first.flatSide
        ? ""
        : " (now on " + PatientSideText(latest.flatSide) + ")");
}

// The table's name cell of a visit: its name, its scan's file name as a detail and,
// where it must be checked, why.
std::string VisitCell(const Visit& visit)
{
  const std::string reason = visit.check;
  return "<th scope=\"row\">" + Escape(visit.name) + "<span class=\"scan\">" +
    Escape(std::filesystem::path(visit.scan).filename().string()) + "</span>" +
    (reason.empty() ? "" : "<span class=\"check\">check: " + Escape(reason) + "</span>") + "</th>";
}

// A number cell with its column's name for narrow screens.
std::string NumberCell(
  const std::string& label, const std::string& measure, const std::string& text, const std::string& more = "")
{
  return "<td class=\"n" + more + "\" data-label=\"" + label + "\" data-measure=\"" + measure + "\">" + text + "</td>";
}

std::string ColumnHeader(const char* column)
{
  const int k = HeadShapeColumnIndex(column);
  const std::string unit = kHeadShapeColumn[k].unit;
  return std::string(kMeasureText[k].shortName) + (unit.empty() ? "" : " (" + unit + ")");
}

// The column of the head circumference's percentile, after the
// circumference's.
const char* const kPercentileHeader = "HC percentile (WHO)";

// A visit's head circumference percentile against the WHO standard, in
// words ("48th", "below the 3rd"); a dash where there is none.
std::string PercentileCell(const Visit& visit)
{
  return NumberCell(
    kPercentileHeader, "hc_percentile", visit.growthKnown ? PercentileText(visit.hcPercentile) : "\u2013");
}

// Every visit's measures by age.
void WriteVisits(std::ostringstream& html, const VisitTable& table)
{
  const char* when = table.agesKnown ? "Age (months)" : "Visit number";
  html << "<table id=\"visits\" class=\"cards\">\n<thead><tr><th>Visit</th><th>" << when << "</th>";
  for (const char* column : kVisitColumns)
  {
    html << "<th>" << ColumnHeader(column) << "</th>"
         << (std::string(column) == "circumference" ? std::string("<th>") + kPercentileHeader + "</th>" : "");
  }
  html << "</tr></thead>\n<tbody>\n";
  for (size_t v = 0; v < table.visits.size(); ++v)
  {
    const Visit& visit = table.visits[v];
    html << "<tr data-visit=\"" << Escape(visit.name) << "\"" << (visit.check.empty() ? "" : " class=\"marked\"") << ">"
         << VisitCell(visit)
         << (table.agesKnown ? NumberCell(when, "age", Rounded(AgeInMonths(visit)))
                             : NumberCell(when, "number", std::to_string(v + 1)));
    for (const char* column : kVisitColumns)
    {
      const bool level = std::string(column) == "plagiocephaly_level";
      html << NumberCell(ColumnHeader(column), column, level ? LevelText(visit) : Rounded(Measure(visit, column)))
           << (std::string(column) == "circumference" ? PercentileCell(visit) : "");
    }
    html << "</tr>\n";
  }
  html << "</tbody>\n</table>\n<p class=\"note\">CI: cephalic index (width as a percentage of length). CVAI: cranial "
          "vault asymmetry index, with its level: "
       << LevelScaleText()
       << ". ASR, PSR, OSR: anterior, posterior and overall symmetry ratios (100 is balanced). Each is explained "
          "with the "
       << (table.visits.size() == 1 ? "scan's" : "first and the final scan's") << " measures below.</p>\n";
}

// What the circumference and its percentiles are, and why a percentile is
// missing where one is.
void WriteGrowthNote(std::ostringstream& html, const VisitTable& table)
{
  html << "<p class=\"note\" id=\"growth\">The head circumference is the occipitofrontal circumference a tape "
          "measure takes around the head above the brows and the ears, here measured on the scan's surface: over a "
          "cap or hair where the scan has them. ";
  if (table.sex.empty())
  {
    html << "No percentile is shown: the child's sex is not given (the sex column of the cohort's visits), and "
            "the WHO growth standard differs for girls and boys.</p>\n";
    return;
  }
  html << "Its percentiles are those of head circumference-for-age for " << (table.sex == "female" ? "girls" : "boys")
       << " of the WHO Child Growth Standards (World Health Organization, 2006)"
       << (DrawsCentiles(table) && table.visits.size() > 1
              ? ", whose 3rd, 15th, 50th, 85th and 97th centiles the circumference chart draws"
              : "")
       << ".";
  for (const Visit& visit : table.visits)
  {
    if (!visit.growthKnown)
    {
      html << (table.agesKnown ? " The standard ends at 60 months: there is no percentile past it."
                               : " There is no percentile where the ages are not known.");
      break;
    }
  }
  html << "</p>\n";
}

// The visits whose head circumference lies below the standard's 3rd or above
// its 97th centile, for the summary: "; head circumference below the 3rd
// percentile at 4 months", or nothing.
std::string GrowthSummary(const VisitTable& table)
{
  std::string text;
  for (size_t v = 0; v < table.visits.size(); ++v)
  {
    const Visit& visit = table.visits[v];
    if (visit.growthKnown && (visit.hcPercentile < kChartCentiles[0] || visit.hcPercentile > kChartCentiles[4]))
    {
      text += "; head circumference " + PercentileText(visit.hcPercentile) + " percentile " + When(table, v);
    }
  }
  return text;
}

// A fit's figure, marked where it lies beyond the workflow's limit.
std::string FitCell(const std::string& label, double value, double limit)
{
  return NumberCell(label, "", Rounded(value), value > limit ? " over" : "");
}

// The fits of the visits whose scans were raw scans fitted onto the template.
void WriteFits(std::ostringstream& html, const VisitTable& table)
{
  html << "<h3>Fits of raw scans onto the template</h3>\n<table id=\"fits\" class=\"cards\">\n<thead><tr>"
          "<th>Visit</th><th>Landmarks after the fit, rms (mm)</th><th>Largest landmark residual (mm)</th>"
          "<th>Mean distance to the scan (mm)</th><th>Template without a match (%)</th><th>Verdict</th></tr></thead>"
          "\n<tbody>\n";
  for (const Visit& visit : table.visits)
  {
    if (!visit.fit.fitted)
    {
      continue;
    }
    const FitFigures& fit = visit.fit;
    const std::string reason = visit.check;
    html << "<tr data-visit=\"" << Escape(visit.name) << "\"" << (reason.empty() ? "" : " class=\"marked\"")
         << "><th scope=\"row\">" << Escape(visit.name) << "</th>"
         << NumberCell("Landmarks, rms (mm)", "", Rounded(fit.landmarkRms))
         << FitCell("Largest landmark residual (mm)", fit.landmarkLargest, kCheckLandmarkMm)
         << NumberCell("Mean distance to the scan (mm)", "", Rounded(fit.distanceMean))
         << FitCell("Template without a match (%)", fit.unmatchedPercent, kCheckUnmatchedPercent)
         << "<td data-label=\"Verdict\">"
         << (reason.empty() ? "within the limits" : "<span class=\"check\">check: " + Escape(reason) + "</span>")
         << "</td></tr>\n";
  }
  html << "</tbody>\n</table>\n<p class=\"note\">A fit is to be checked when more than "
       << NumberText(kCheckUnmatchedPercent) << "% of the template found no match on the scan or a landmark lies more "
       << "than " << NumberText(kCheckLandmarkMm) << " mm off after the fit; figures beyond a limit are marked.</p>\n";
}

// The marks' colors of the landmarks found, for the picture's caption:
// "blue: nasion (0), ..., red: opisthocranion (4)".
std::string MarkColors(const FoundFit& fit)
{
  std::vector<std::string> colors;
  for (const ListedLandmark& landmark : fit.landmarks)
  {
    colors.push_back(std::string(MarkColor(landmark.index)) + ": " + LandmarkWords(landmark.index) + " (" +
      std::to_string(landmark.index) + ")");
  }
  return Enumeration(colors);
}

// The landmarks found on a visit's scan: the sentence that says what they
// are and what to do where they are off, their table and the picture that
// marks them on the visit's fitted surface.
void WriteFound(std::ostringstream& html, const FoundFit& fit)
{
  const std::string title = "Landmarks found on the scan of visit " + fit.visit;
  html << "<div class=\"found\" data-visit=\"" << Escape(fit.visit) << "\">\n<h3>" << Escape(title)
       << "</h3>\n<p class=\"check\">These landmarks were found on the scan automatically, not given, and the fit "
          "was made from them: check them on the picture, and where one is off, copy <code>"
       << Escape(fit.folder + "/found_landmarks.crv")
       << "</code> into the cohort folder, correct its row there (x y z in the scan's coordinates) and name the "
          "copy as the visit's landmarks in visits.tsv, so that the visit is fitted again from them.</p>\n"
          "<table class=\"cards\">\n<thead><tr><th>Landmark</th><th>Marked in</th>"
          "<th>Certainty (0 to 1)</th><th>On the scan, x y z (mm)</th></tr></thead>\n<tbody>\n";
  for (const ListedLandmark& landmark : fit.landmarks)
  {
    html << "<tr data-landmark=\"" << LandmarkWords(landmark.index) << "\"><th scope=\"row\">"
         << LandmarkWords(landmark.index) << "</th><td data-label=\"Marked in\">" << MarkColor(landmark.index)
         << "</td>" << NumberCell("Certainty", "", Rounded(landmark.certainty, 2))
         << "<td data-label=\"On the scan (mm)\">" << Escape(landmark.position) << "</td></tr>\n";
  }
  html << "</tbody>\n</table>\n<figure>\n<img alt=\"" << Escape(title)
       << "\" width=\"1200\" height=\"800\" src=\"data:image/png;base64," << Base64(fit.png)
       << "\">\n<figcaption>The visit's fitted surface (the template moved onto the scan: the scan's shape in the "
          "template's frame) from the front, the back, the top and both sides, the cells within "
       << NumberText(kMarkMm) << " mm of each landmark found painted in its color: " << MarkColors(fit)
       << ", the numbers of the legend's bar; gray is the rest of the head. The certainty says how clearly the "
          "scan showed what placed a landmark: the lower, the more it needs checking. The nasion is mostly "
          "found within about 6 mm; the tragi, the vertex and the opisthocranion can be 10 to 25 mm "
          "off.</figcaption>\n</figure>\n</div>\n";
}
}

std::string CourseSummary(const VisitTable& table, const std::vector<FoundFit>& found)
{
  const size_t last = table.visits.size() - 1;
  auto cvaiAt = [&](size_t v) {
    const Visit& visit = table.visits[v];
    const int level = static_cast<int>(Measure(visit, "plagiocephaly_level"));
    return Rounded(Measure(visit, "cvai")) + "% (" + LevelWord(level) + ") " + When(table, v);
  };
  const std::vector<std::string> marked = MarkedVisits(table);
  const std::string checking = marked.empty() ? ""
                                              : "; visit" + std::string(marked.size() == 1 ? " " : "s ") +
      Enumeration(marked) + (marked.size() == 1 ? " is" : " are") + " marked for checking";
  std::vector<std::string> foundIn;
  for (const FoundFit& fit : found)
  {
    foundIn.push_back(fit.visit);
  }
  const std::string landmarks = foundIn.empty()
    ? ""
    : "; the landmarks of visit" + std::string(foundIn.size() == 1 ? " " : "s ") + Enumeration(foundIn) +
      " were found on the scan, not given: check them under the fits";
  return "CVAI " + cvaiAt(0) + (last == 0 ? "" : ", " + cvaiAt(last)) + "; " + Flattening(table) +
    GrowthSummary(table) + checking + landmarks + ".";
}

std::string CourseHeader(const VisitTable& table, const std::vector<FoundFit>& found)
{
  std::vector<std::string> visits;
  for (const Visit& visit : table.visits)
  {
    visits.push_back(Escape(visit.name) + (table.agesKnown ? " (" + Rounded(AgeInMonths(visit)) + " months)" : ""));
  }
  return std::string("<p class=\"visits\">Visit") + (visits.size() == 1 ? " " : "s ") + Enumeration(visits) +
    ".</p>\n<p id=\"summary\" class=\"summary\">" + Escape(CourseSummary(table, found)) + "</p>\n";
}

std::string CourseSection(const VisitTable& table, const std::vector<FoundFit>& found)
{
  std::ostringstream html;
  html << "<section id=\"course\">\n<h2>Course over the visits</h2>\n";
  WriteVisits(html, table);
  // Charts of a course of two visits or more.
  if (table.visits.size() > 1)
  {
    html << "<div class=\"charts\">\n";
    for (const char* column : { "ci", "cvai", "circumference" })
    {
      html << CourseChart(table, column);
    }
    html << "</div>\n";
  }
  WriteGrowthNote(html, table);
  if (!MarkedVisits(table).empty())
  {
    html << "<p class=\"note\">Hollow orange points: visits marked for checking; their values may not be "
            "sound.</p>\n";
  }
  for (const Visit& visit : table.visits)
  {
    if (visit.fit.fitted)
    {
      WriteFits(html, table);
      break;
    }
  }
  for (const FoundFit& fit : found)
  {
    WriteFound(html, fit);
  }
  html << "</section>\n";
  return html.str();
}
