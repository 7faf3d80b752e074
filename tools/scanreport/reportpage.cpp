#include "tools/scanreport/reportpage.h"

#include "surftools/outputfile.h"

#include <algorithm>
#include <sstream>

namespace
{
// One plain sentence per head-shape measure, in the table's column order.
const char* const kMeaning[kHeadShapeColumns] = {
  "Height above the ear plane of the level where the head is longest, from measured_from up; the measures "
  "down to the CVAI are taken there.",
  "Length of the head from front to back at that level.",
  "Width of the head from side to side at that level.",
  "Cephalic index: the width as a percentage of the length. Higher means a shorter, broader head, lower a "
  "longer, narrower one.",
  "Head circumference at that level, as a tape laid around the head measures it.",
  "The diagonal 30 degrees off the front-back axis that reaches the back on the patient's left (+x).",
  "The diagonal 30 degrees off the front-back axis that reaches the back on the patient's right (-x).",
  "Cranial vault asymmetry: the difference between the two diagonals; 0 for a symmetric head.",
  "Cranial vault asymmetry index: that difference as a percentage of the shorter diagonal.",
  "Plagiocephaly level from the CVAI: 1 within normal limits (below 3.5), 2 mild, 3 moderate, 4 severe, "
  "5 very severe (11 and above).",
  "Volume of the head above the level of measured_from.",
  "Anterior symmetry ratio: the smaller front quarter of the volume as a percentage of the larger; 100 is "
  "balanced.",
  "Posterior symmetry ratio: the same for the two back quarters.",
  "Overall symmetry ratio: the smaller half of the volume (the patient's left or right) as a percentage of the "
  "larger.",
};

// The patient's side of a flattened back of the head, in words.
std::string FlatSideText(const char* side)
{
  const std::string s = side;
  return s == "none" ? "neither side (the back quarters within 1% of each other)"
                     : "the patient's " + s + (s == "right" ? " (-x)" : " (+x)");
}

const char* const kStyle = R"(
:root { color-scheme: light; }
body { font-family: system-ui, -apple-system, "Segoe UI", Roboto, Helvetica, Arial, sans-serif; color: #1d232b;
  margin: 0 auto; max-width: 62rem; padding: 1rem; line-height: 1.45; }
h1 { font-size: 1.6rem; margin: 0.2rem 0; }
h2 { font-size: 1.25rem; margin: 1.6rem 0 0.6rem; border-bottom: 1px solid #c9d0d8; break-after: avoid; }
h3 { font-size: 1.05rem; margin: 1rem 0 0.4rem; break-after: avoid; }
.scans { margin: 0.2rem 0; }
.scans code, td code, li code { font-size: 0.92em; word-break: break-all; }
.date { color: #56606b; }
.wide { overflow-x: auto; }
table { border-collapse: collapse; font-size: 0.9rem; width: 100%; }
th, td { border: 1px solid #c9d0d8; padding: 0.25rem 0.45rem; vertical-align: top; }
th { background: #eef1f4; text-align: left; }
td.n { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
td.meaning { font-size: 0.85rem; color: #39424c; min-width: 14rem; }
figure { margin: 0 0 1.2rem; break-inside: avoid; }
figure img { display: block; width: 100%; height: auto; border: 1px solid #c9d0d8; }
figcaption { font-size: 0.9rem; color: #39424c; margin-top: 0.3rem; }
ol.how li { margin-bottom: 0.4rem; }
@page { size: A4; margin: 12mm; }
@media print { body { max-width: none; padding: 0; font-size: 10pt; } .wide { overflow: visible; }
  td.meaning { min-width: 0; } }
@media (max-width: 40rem) { body { padding: 0.6rem; } h1 { font-size: 1.3rem; } table { font-size: 0.8rem; } }
)";

std::string Escape(const std::string& text)
{
  std::string escaped;
  for (char c : text)
  {
    switch (c)
    {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

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

// The bytes in base64 (RFC 4648, with padding), as data: URIs embed them.
std::string Base64(const std::string& bytes)
{
  static const char* const digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3)
  {
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    unsigned long group = 0;
    for (size_t k = 0; k < 3; ++k)
    {
      group = group << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    }
    for (size_t k = 0; k < 4; ++k)
    {
      text += k <= n ? digits[(group >> (18 - 6 * k)) & 63] : '=';
    }
  }
  return text;
}

std::string ShownCommandLine(const ShownCommand& command)
{
  return Escape(CommandLine(command.tool, command.arguments));
}

// The head with the style, and the page's header: the scans, the day, the
// template and the mask.
void WriteHeader(std::ostringstream& html, const ReportContents& c)
{
  html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
       << "<title>Head-scan report: " << Escape(c.firstScan) << " and " << Escape(c.finalScan) << "</title>\n"
       << "<style>" << kStyle << "</style>\n</head>\n<body>\n";
  html << "<header>\n<h1>Head-scan report</h1>\n<p class=\"scans\">First scan <code>" << Escape(c.firstScan)
       << "</code> and final scan <code>" << Escape(c.finalScan) << "</code></p>\n<p class=\"date\">Made on " << c.date
       << " on the template <code>" << Escape(c.templateMesh) << "</code> with the mask <code>"
       << Escape(c.templateMask) << "</code>.</p>\n</header>\n";
}

// The table of the head-shape measures of both scans and their change.
void WriteMeasures(std::ostringstream& html, const ReportContents& c)
{
  html << "<section>\n<h2>Head-shape measures</h2>\n<p id=\"flat-side\">The back of the head is flatter on "
       << FlatSideText(c.shapes[0].posteriorFlatSide) << " in the first scan, and on "
       << FlatSideText(c.shapes[1].posteriorFlatSide) << " in the final scan.</p>\n"
       << "<div class=\"wide\"><table id=\"measures\">\n"
          "<thead><tr><th>Measure</th><th>Unit</th><th>First scan</th><th>Final scan</th>"
          "<th>Change</th><th>What it means</th></tr></thead>\n<tbody>\n";
  const auto firstValues = HeadShapeValues(c.shapes[0]);
  const auto finalValues = HeadShapeValues(c.shapes[1]);
  for (int k = 0; k < kHeadShapeColumns; ++k)
  {
    html << "<tr><th>" << kHeadShapeColumn[k].name << "</th><td>" << kHeadShapeColumn[k].unit << "</td><td class=\"n\">"
         << NumberText(firstValues[k]) << "</td><td class=\"n\">" << NumberText(finalValues[k])
         << "</td><td class=\"n\">" << NumberText(finalValues[k] - firstValues[k]) << "</td><td class=\"meaning\">"
         << kMeaning[k] << "</td></tr>\n";
  }
  const double fromFirst = c.shapes[0].measuredFrom;
  const double fromFinal = c.shapes[1].measuredFrom;
  html << "<tr><th>measured_from</th><td>mm</td><td class=\"n\">" << NumberText(fromFirst) << "</td><td class=\"n\">"
       << NumberText(fromFinal) << "</td><td class=\"n\">" << NumberText(fromFinal - fromFirst)
       << "</td><td class=\"meaning\">Height above the ear plane of the lowest level searched: 0, or on a head with a "
          "face the nasion's, so that nothing is measured through the face.</td></tr>\n"
       << "<tr><th>posterior_flat_side</th><td></td><td class=\"n\">" << c.shapes[0].posteriorFlatSide
       << "</td><td class=\"n\">" << c.shapes[1].posteriorFlatSide
       << "</td><td class=\"n\"></td><td class=\"meaning\">The patient's side of the smaller back quarter: where the "
          "back of the head is flatter; none where the two are within 1%.</td></tr>\n";
  html << "</tbody>\n</table></div>\n<p>Measured as <code>"
       << ShownCommandLine({ "headshape", { c.firstScan, c.finalScan } })
       << "</code> measures them; the change is the final value minus the first.</p>\n</section>\n";
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

// The extremes of the asymmetry ratios, then the statistics of every picture.
void WriteStatistics(std::ostringstream& html, const ReportContents& c)
{
  html << "<section>\n<h2>Extremes and statistics</h2>\n<h3>Asymmetry ratios</h3>\n"
          "<div class=\"wide\"><table id=\"extremes\">\n<thead><tr>";
  for (const auto& e : c.extremes)
  {
    html << "<th>" << Escape(e.first) << "</th>";
  }
  html << "</tr></thead>\n<tbody><tr>";
  for (const auto& e : c.extremes)
  {
    html << "<td class=\"n\">" << Escape(e.second) << "</td>";
  }
  html
    << "</tr></tbody>\n</table></div>\n<p>The smallest and largest ratio over both scans, and the smallest and "
       "largest change, within the mask, as scancompare reports them.</p>\n"
       "<h3>Statistics of the pictures</h3>\n<div class=\"wide\"><table id=\"statistics\">\n<thead><tr><th>picture</th>";
  const std::vector<std::string>& header = c.statisticsHeader;
  for (size_t f = 1; f < header.size(); ++f)
  {
    html << "<th>" << Escape(header[f]) << "</th>";
  }
  html << "</tr></thead>\n<tbody>\n";
  for (const PagePicture& picture : c.pictures)
  {
    const std::vector<std::string>& fields = picture.statistics;
    html << "<tr><th>" << Escape(picture.title) << "</th>";
    for (size_t f = 1; f < header.size(); ++f)
    {
      html << "<td class=\"n\">" << (f < fields.size() ? Escape(fields[f]) : "") << "</td>";
    }
    html << "</tr>\n";
  }
  html << "</tbody>\n</table></div>\n<p>As colorstats computes them: the number of values, their range, mean, root "
          "mean square and 5th, 50th and 95th percentiles; cells outside the mask and values that are not numbers "
          "are counted apart.</p>\n</section>\n";
}

// The commands that make every picture and its statistics by hand.
void WriteHowMade(std::ostringstream& html, const ReportContents& c)
{
  html << "<section>\n<h2>How the pictures were made</h2>\n<ol class=\"how\">\n";
  for (const PagePicture& picture : c.pictures)
  {
    html << "<li>" << Escape(picture.title) << ": <code>" << ShownCommandLine(picture.made) << "</code>, then <code>"
         << ShownCommandLine(picture.painted) << "</code> and <code>" << ShownCommandLine(picture.counted)
         << "</code>.</li>\n";
  }
  html << "</ol>\n</section>\n";
}
}

std::string ReportPage(const ReportContents& contents)
{
  std::ostringstream html;
  WriteHeader(html, contents);
  WriteMeasures(html, contents);
  WriteMaps(html, contents);
  WriteStatistics(html, contents);
  WriteHowMade(html, contents);
  html << "</body>\n</html>\n";
  return html.str();
}
