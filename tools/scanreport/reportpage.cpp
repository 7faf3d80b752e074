#include "tools/scanreport/reportpage.h"

#include "surftools/listfile.h"
#include "tools/scanreport/coursepage.h"
#include "tools/scanreport/pagetext.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <initializer_list>
#include <sstream>

namespace
{
// The patient's side of a flattened back of the head, in words.
std::string FlatSideText(const char* side)
{
  const std::string s = side;
  return s == "none" ? "neither side (the back quarters within 1% of each other)"
                     : PatientSideText(s) + (s == "right" ? " (-x)" : " (+x)");
}

const char* const kStyle = R"(
:root { color-scheme: light; }
body { font-family: system-ui, -apple-system, "Segoe UI", Roboto, Helvetica, Arial, sans-serif; color: #1d232b;
  margin: 0 auto; max-width: 62rem; padding: 1rem; line-height: 1.45; }
h1 { font-size: 1.6rem; margin: 0.2rem 0; overflow-wrap: anywhere; }
h2 { font-size: 1.25rem; margin: 1.6rem 0 0.6rem; border-bottom: 1px solid #c9d0d8; break-after: avoid; }
h3 { font-size: 1.05rem; margin: 1rem 0 0.4rem; break-after: avoid; }
.visits, .date { color: #56606b; margin: 0.2rem 0; }
.summary { font-size: 1.1rem; background: #eef4fb; border-left: 4px solid #2f6db5; padding: 0.5rem 0.8rem;
  margin: 0.8rem 0; }
code { font-size: 0.92em; overflow-wrap: anywhere; }
table { border-collapse: collapse; font-size: 0.9rem; width: 100%; margin: 0.4rem 0; }
th, td { border: 1px solid #c9d0d8; padding: 0.25rem 0.45rem; vertical-align: top; }
thead th { background: #eef1f4; text-align: left; }
tbody th { text-align: left; }
td.n { text-align: right; font-variant-numeric: tabular-nums; }
tbody th, .check { overflow-wrap: break-word; }
#visits tbody th, #fits tbody th { min-width: 6rem; }
.unit, .meaning, .scan { font-weight: normal; color: #56606b; }
.meaning, .scan { display: block; font-size: 0.85em; }
.scan { overflow-wrap: anywhere; }
.check { display: block; font-weight: 600; color: #9a3c00; }
tr.marked > * { background: #fff1df; }
td.over { color: #a12a00; font-weight: 700; }
.note { font-size: 0.85rem; color: #39424c; }
.charts { display: grid; grid-template-columns: repeat(auto-fit, minmax(20rem, 1fr)); gap: 0.6rem 1.5rem; }
figure { margin: 0 0 1.2rem; break-inside: avoid; }
figure img { display: block; box-sizing: border-box; width: 100%; height: auto; border: 1px solid #c9d0d8; }
figcaption { font-size: 0.9rem; color: #39424c; margin-top: 0.3rem; }
figure.chart { margin: 0.4rem 0; }
figure.chart figcaption { font-weight: 600; color: inherit; margin: 0 0 0.2rem; }
svg.chart { display: block; width: 100%; height: auto; }
svg.chart text { font-size: 12px; fill: #1d232b; }
svg.chart .tick, svg.chart .band-label { fill: #39424c; }
svg.chart .band-label { font-size: 10px; }
svg.chart .plot { fill: #fff; }
svg.chart .grid { stroke: #e3e7eb; }
svg.chart .axis { stroke: #56606b; }
svg.chart .level1 { fill: #e2f1df; } svg.chart .level2 { fill: #fbf1c7; } svg.chart .level3 { fill: #fbdcbc; }
svg.chart .level4 { fill: #f6c4b9; } svg.chart .level5 { fill: #e8b0c6; }
svg.chart .course { fill: none; stroke: #2f6db5; stroke-width: 2; }
svg.chart .point { fill: #2f6db5; stroke: #fff; stroke-width: 1.5; }
svg.chart .point.marked { fill: #fff; stroke: #c25400; stroke-width: 2.5; }
svg.chart .value { font-size: 11px; font-weight: 600; paint-order: stroke; stroke: #fff; stroke-width: 3px; }
svg.chart .centile { fill: none; stroke: #7d8a96; stroke-width: 1; stroke-dasharray: 4 3; }
svg.chart .centile.median { stroke-dasharray: none; }
svg.chart .centile-label { font-size: 9px; fill: #56606b; }
ol.how li { margin-bottom: 0.4rem; }
@page { size: A4; margin: 12mm; }
@media print { body { max-width: none; padding: 0; font-size: 10pt; } table { font-size: 9pt; }
  th, td { padding: 0.15rem 0.3rem; } .charts { grid-template-columns: 1fr 1fr; } }
@media (max-width: 40rem) { body { padding: 0.6rem; } h1 { font-size: 1.3rem; } table { font-size: 0.8rem; }
  th, td { padding: 0.2rem 0.3rem; }
  table.cards thead { display: none; }
  table.cards, table.cards tbody, table.cards tr, table.cards th, table.cards td { display: block; }
  table.cards tr { border: 1px solid #c9d0d8; margin-bottom: 0.5rem; }
  table.cards th, table.cards td { border: 0; border-top: 1px solid #e3e7eb; }
  table.cards tr > :first-child { border-top: 0; }
  table.cards td { display: flex; justify-content: space-between; gap: 1rem; }
  table.cards td::before { content: attr(data-label); color: #56606b; text-align: left; } }
)";

// A command line as a reader would type it: the tool, then its arguments,
// quoted where the shell needs it.
std::string CommandLine(const std::string& tool, const std::vector<std::string>& arguments)
{
  std::string line = tool;
  for (const std::string& a : arguments)
  {
    const bool plain = !a.empty() &&
      a.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                          "0123456789_-+.,/:=@%") == std::string::npos;
    line += ' ';
    if (plain)
    {
      line += a;
    }
    else
    {
      line += '\'';
      for (char c : a)
      {
        line += c == '\'' ? std::string("'\\''") : std::string(1, c);
      }
      line += '\'';
    }
  }
  return line;
}

std::string ShownCommandLine(const ShownCommand& command)
{
  return Escape(CommandLine(command.tool, command.arguments));
}

// With a course, " (visit NAME)" for the first (0) or the final scan (1).
std::string VisitOf(const ReportContents& c, int scan)
{
  return c.course ? " (visit " + Escape((scan == 0 ? c.course->visits.front() : c.course->visits.back()).name) + ")"
                  : "";
}

// The scan's column heading in the measures' table: with a course, with its
// visit's name.
std::string ScanHeading(const ReportContents& c, int scan)
{
  return std::string(c.OneScan() ? "Scan"
             : scan == 0         ? "First scan"
                                 : "Final scan") +
    " <span class=\"unit\">" + VisitOf(c, scan) + "</span>";
}

// A line for a scan whose measures are not those of its visit's row in the
// measures table (a table of other scans?).
void WriteDisagreement(std::ostringstream& html, const ReportContents& c)
{
  for (int s = 0; s < c.ScanCount(); ++s)
  {
    const Visit& visit = s == 0 ? c.course->visits.front() : c.course->visits.back();
    if (!HoldsMeasures(visit, c.shapes[s]))
    {
      html << "<p class=\"check\">The "
           << (c.OneScan() ? ""
                  : s == 0 ? "first "
                           : "final ")
           << "scan's measures are not those of visit " << Escape(visit.name) << " in the measures table (CVAI "
           << Rounded(c.shapes[s].cvai) << " here, " << Rounded(Measure(visit, "cvai"))
           << " there): check that the table and the scans belong together.</p>\n";
    }
  }
}

// The head with the style, and the page's header: the subject or the scans
// by name, with a course its visits and summary, the day, the template and
// the mask.
void WriteHeader(std::ostringstream& html, const ReportContents& c)
{
  const std::string name = c.course ? c.course->subject
    : c.OneScan()                   ? FileName(c.firstScan)
                                    : FileName(c.firstScan) + " and " + FileName(c.finalScan);
  html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
       << "<title>Head-scan report: " << Escape(name) << "</title>\n"
       << "<style>" << kStyle << "</style>\n</head>\n<body>\n<header>\n<h1>Head-scan report: " << Escape(name)
       << "</h1>\n";
  if (c.course)
  {
    html << CourseHeader(*c.course, c.found);
    WriteDisagreement(html, c);
  }
  html << "<p class=\"date\">Made on " << c.date << " from the " << (c.OneScan() ? "" : "first ") << "scan <code>"
       << Escape(FileName(c.firstScan)) << "</code>" << VisitOf(c, 0);
  if (!c.OneScan())
  {
    html << " and the final scan <code>" << Escape(FileName(c.finalScan)) << "</code>" << VisitOf(c, 1);
  }
  html << ", on the template <code>" << Escape(FileName(c.templateMesh)) << "</code> with the mask <code>"
       << Escape(FileName(c.templateMask))
       << "</code>; the files' full names are in the commands at the end.</p>\n</header>\n";
}

// A value as the measures' table shows it, and the change between two such:
// the difference of the shown values, signed, so that the columns add up.
double ShownValue(double value, int decimals)
{
  const std::string text = Rounded(value, decimals);
  double shown = 0;
  std::from_chars(text.data(), text.data() + text.size(), shown);
  return shown;
}

std::string ChangeText(double first, double final, int decimals)
{
  const std::string change = Rounded(ShownValue(final, decimals) - ShownValue(first, decimals), decimals);
  return change.find_first_not_of("0.") == std::string::npos || change[0] == '-' ? change : '+' + change;
}

// One row of the measures' table: the measure in words with its unit and
// meaning, then the cells (the first `shown` of them).
void WriteMeasureRow(std::ostringstream& html, const char* name, const std::string& words, const std::string& unit,
  const std::string& meaning, const std::vector<std::string>& cells, size_t shown)
{
  html << "<tr data-measure=\"" << name << "\"><th scope=\"row\">" << words
       << (unit.empty() ? "" : " <span class=\"unit\">(" + unit + ")</span>") << "<span class=\"meaning\">" << meaning
       << "</span></th>";
  for (size_t k = 0; k < shown; ++k)
  {
    html << "<td class=\"n\">" << cells[k] << "</td>";
  }
  html << "</tr>\n";
}

// The head of the measures' section: its title, the flatter side at the
// back and the table's column headings.
void WriteMeasuresHead(std::ostringstream& html, const ReportContents& c)
{
  if (c.OneScan())
  {
    html << "<section>\n<h2>Head-shape measures of the scan</h2>\n<p id=\"flat-side\">The back of the head is "
            "flatter on "
         << FlatSideText(c.shapes[0].posteriorFlatSide) << " in the scan.</p>\n"
         << "<table id=\"measures\">\n<thead><tr><th>Measure</th><th>" << ScanHeading(c, 0)
         << "</th></tr></thead>\n<tbody>\n";
    return;
  }
  html << "<section>\n<h2>Head-shape measures of the first and the final scan</h2>\n<p id=\"flat-side\">The back "
          "of the head is flatter on "
       << FlatSideText(c.shapes[0].posteriorFlatSide) << " in the first scan, and on "
       << FlatSideText(c.shapes[1].posteriorFlatSide) << " in the final scan.</p>\n"
       << "<table id=\"measures\">\n<thead><tr><th>Measure</th><th>" << ScanHeading(c, 0) << "</th><th>"
       << ScanHeading(c, 1) << "</th><th>Change</th></tr></thead>\n<tbody>\n";
}

// The table of the head-shape measures of both scans and their change (of
// one scan, its measures).
void WriteMeasures(std::ostringstream& html, const ReportContents& c)
{
  WriteMeasuresHead(html, c);
  const size_t shown = c.OneScan() ? 1 : 3;
  const auto first = HeadShapeValues(c.shapes[0]);
  const auto final = HeadShapeValues(c.shapes[1]);
  for (int k = 0; k < kHeadShapeColumns; ++k)
  {
    const bool level = k == HeadShapeColumnIndex("plagiocephaly_level");
    const int decimals = level ? 0 : 1;
    auto text = [&](double value) {
      return level ? Rounded(value, 0) + ' ' + LevelWord(static_cast<int>(value)) : Rounded(value, decimals);
    };
    WriteMeasureRow(html, kHeadShapeColumn[k].name, kMeasureText[k].words, kHeadShapeColumn[k].unit, MeasureMeaning(k),
      { text(first[k]), text(final[k]), ChangeText(first[k], final[k], decimals) }, shown);
  }
  const double from[2] = { c.shapes[0].measuredFrom, c.shapes[1].measuredFrom };
  WriteMeasureRow(html, "measured_from", "Measured from", "mm",
    "Height above the ear plane of the lowest level measured: 0, or on a head with a face the nasion's, so that "
    "nothing is measured through the face.",
    { Rounded(from[0]), Rounded(from[1]), ChangeText(from[0], from[1], 1) }, shown);
  WriteMeasureRow(html, "posterior_flat_side", "Flatter side at the back", "",
    "The patient's side of the smaller back quarter, where the back of the head is flatter; none where the two "
    "are within 1%.",
    { c.shapes[0].posteriorFlatSide, c.shapes[1].posteriorFlatSide, "" }, shown);
  html << "</tbody>\n</table>\n<p class=\"note\">Rounded for reading"
       << (c.OneScan() ? "" : "; the change is the final value minus the first as shown")
       << ". The exact values are those that <code>"
       << ShownCommandLine({ "headshape",
            c.OneScan() ? std::vector<std::string>{ c.firstScan }
                        : std::vector<std::string>{ c.firstScan, c.finalScan } })
       << "</code> prints.</p>\n</section>\n";
}

// Every picture with its title and caption.
void WriteMaps(std::ostringstream& html, const ReportContents& c)
{
  html << "<section>\n<h2>Maps</h2>\n<p>Each picture shows the head from the front, the back, the top, the "
          "patient's right (-x) and the patient's left (+x), with the color legend in the last tile.</p>\n";
  for (const PagePicture& picture : c.pictures)
  {
    html << "<figure>\n<h3>" << Escape(picture.title) << "</h3>\n<img alt=\"" << Escape(picture.title)
         << "\" width=\"1200\" height=\"800\" src=\"data:image/png;base64," << Base64(picture.png)
         << "\">\n<figcaption>" << Escape(picture.caption) << "</figcaption>\n</figure>\n";
  }
  html << "</section>\n";
}

// The subject against the reference group: its distance and percentile, and
// the picture of its z-scores.
void WriteScore(std::ostringstream& html, const ReportContents& c)
{
  const PageScore& score = *c.score;
  const double distance = score.figures.distance;
  const std::string title = "Z-scores against the reference group";
  html << "<section>\n<h2>Against the reference group</h2>\n<p>How the shape of <code>"
       << Escape(FileName(score.figures.file))
       << "</code> stands against a reference group of heads on the same template, as shapestats scores it.</p>\n"
          "<table id=\"score\">\n<thead><tr><th>Distance from the group</th><th>Percentile</th></tr></thead>\n"
          "<tbody><tr><td class=\"n\">"
       << (std::isinf(distance) ? std::string("infinite") : Rounded(distance, 1)) << "</td><td class=\"n\">"
       << Rounded(score.figures.percentile, 0)
       << "</td></tr></tbody>\n</table>\n<p class=\"note\">The distance is the Mahalanobis distance from the "
          "group's mean shape, in standard deviations, along the group's leading modes of variation (those that "
          "explain 95% of its variance). The percentile is the share of the group's members that lie closer to "
          "the others than this head lies to the group (each member measured against the others): 50 is a typical "
          "head of the group, near 100 an unusual one.</p>\n<figure>\n<h3>"
       << title << "</h3>\n<img alt=\"" << title << "\" width=\"1200\" height=\"800\" src=\"data:image/png;base64,"
       << Base64(score.png)
       << "\">\n<figcaption>Each cell's departure from the group's mean surface along its normal, in standard "
          "deviations of the members' departures: positive where this head lies further out than the group, "
          "negative where it lies further in; painted on the first scan, from -3 to 3.</figcaption>\n</figure>\n"
          "</section>\n";
}

// A number that a tool wrote, rounded for reading; a text that is no number
// (an empty field) as it is.
std::string RoundedText(const std::string& text, int decimals)
{
  double value = 0;
  return FieldNumber(text, value) ? Rounded(value, decimals) : Escape(text);
}

// A name of a tool's table in words, from pairs of name and words; the name
// itself where it has none.
std::string InWords(const std::string& name, std::initializer_list<std::pair<const char*, const char*>> words)
{
  for (const auto& [known, text] : words)
  {
    if (name == known)
    {
      return text;
    }
  }
  return Escape(name);
}

// The extremes of the asymmetry ratios as scancompare reports them.
void WriteExtremes(std::ostringstream& html, const ReportContents& c)
{
  html << "<h3>Asymmetry ratios</h3>\n<table id=\"extremes\">\n<thead><tr>";
  for (const auto& e : c.extremes)
  {
    html << "<th>"
         << InWords(e.first,
              { { "min ratio", "Smallest ratio" }, { "max ratio", "Largest ratio" }, { "min sub", "Smallest change" },
                { "max sub", "Largest change" } })
         << "</th>";
  }
  html << "</tr></thead>\n<tbody><tr>";
  for (const auto& e : c.extremes)
  {
    html << "<td class=\"n\">" << RoundedText(e.second, 3) << "</td>";
  }
  html << "</tr></tbody>\n</table>\n<p class=\"note\">The smallest and largest ratio over both scans, and the "
          "smallest and largest change, within the mask, as scancompare reports them (ratios between -1 and 1, 0 "
          "for a balanced pair of cells).</p>\n";
}

// The statistics of every picture: a column per picture, a row per figure;
// with two scans, first the extremes of the asymmetry ratios.
void WriteStatistics(std::ostringstream& html, const ReportContents& c)
{
  if (c.OneScan())
  {
    html << "<section>\n<h2>Statistics</h2>\n";
  }
  else
  {
    html << "<section>\n<h2>Extremes and statistics</h2>\n";
    WriteExtremes(html, c);
  }
  html << "<h3>Statistics of the pictures</h3>\n<table id=\"statistics\" class=\"cards\">\n<thead><tr><th></th>";
  for (const PagePicture& picture : c.pictures)
  {
    html << "<th>" << Escape(picture.shortTitle) << "</th>";
  }
  html << "</tr></thead>\n<tbody>\n";
  const std::vector<std::string>& header = c.statisticsHeader;
  for (size_t f = 1; f < header.size(); ++f)
  {
    const bool count = header[f] == "values" || header[f] == "masked" || header[f] == "nonfinite";
    html << "<tr data-statistic=\"" << Escape(header[f]) << "\"><th scope=\"row\">"
         << InWords(header[f],
              { { "values", "Values" }, { "minimum", "Smallest" }, { "maximum", "Largest" }, { "mean", "Mean" },
                { "rms", "Root mean square" }, { "p5", "5th percentile" }, { "p50", "Median" },
                { "p95", "95th percentile" }, { "masked", "Outside the mask" }, { "nonfinite", "Not a number" } })
         << "</th>";
    for (const PagePicture& picture : c.pictures)
    {
      const std::string field = f < picture.statistics.size() ? picture.statistics[f] : "";
      html << "<td class=\"n\" data-label=\"" << Escape(picture.shortTitle) << "\">"
           << (count ? Escape(field) : RoundedText(field, picture.decimals)) << "</td>";
    }
    html << "</tr>\n";
  }
  html << "</tbody>\n</table>\n<p class=\"note\">As colorstats computes them, rounded for reading: the number of "
          "values, their range, mean, root mean square and 5th, 50th and 95th percentiles; cells outside the mask "
          "and values that are not numbers are counted apart.</p>\n</section>\n";
}

// The commands that make every picture and its statistics by hand, and the
// measures table of the course.
void WriteHowMade(std::ostringstream& html, const ReportContents& c)
{
  html << "<section>\n<h2>How the pictures were made</h2>\n<ol class=\"how\">\n";
  for (const PagePicture& picture : c.pictures)
  {
    html << "<li>" << Escape(picture.title) << ": <code>" << ShownCommandLine(picture.made) << "</code>, then <code>"
         << ShownCommandLine(picture.painted) << "</code> and <code>" << ShownCommandLine(picture.counted)
         << "</code>.</li>\n";
  }
  if (c.score)
  {
    html << "<li>"
         << "Z-scores against the reference group: <code>shapestats score</code> wrote the folder <code>"
         << Escape(c.score->figures.folder) << "</code>, then <code>" << ShownCommandLine(c.score->painted)
         << "</code>.</li>\n";
  }
  html << "</ol>\n";
  if (c.course)
  {
    html << "<p>The course over the visits is that of the measures table <code>" << Escape(c.measuresTable)
         << "</code>, one row per visit as the cohort workflow writes it.</p>\n";
  }
  html << "</section>\n";
}
}

std::string ReportPage(const ReportContents& contents)
{
  std::ostringstream html;
  WriteHeader(html, contents);
  if (contents.course)
  {
    html << CourseSection(*contents.course, contents.found);
  }
  WriteMeasures(html, contents);
  WriteMaps(html, contents);
  if (contents.score)
  {
    WriteScore(html, contents);
  }
  WriteStatistics(html, contents);
  WriteHowMade(html, contents);
  html << "</body>\n</html>\n";
  return html.str();
}
