// scanreport: one self-contained HTML page that shows a first and a final
// scan side by side: their head-shape measures and the change, pictures of
// the distance between them, of the asymmetry of each and of the change of
// the asymmetry ratios, with the statistics of every picture. The pictures
// and their numbers come from the tools themselves (celldist, mirrorasym,
// scancompare, colorsnap, colorstats), run beside this one in a scratch
// folder (as many at once as it may use cores), so that the page shows
// exactly what they write.

#include "surftools/colorfile.h"
#include "measure/headshape.h"
#include "surftools/outputfile.h"
#include "parallel/parallel.h"
#include "render/renderdisplay.h"
#include "surftools/surface.h"
#include "tools/scanreport/toolruns.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <X11/Xlib.h>

namespace fs = std::filesystem;

namespace
{
// One plain sentence per head-shape measure, in the table's column order.
const char* const kMeaning[kHeadShapeColumns] = {
  "Height above the ear plane of the level where the head is longest; the measures down to the CVAI are "
  "taken there.",
  "Length of the head from front to back at that level.",
  "Width of the head from side to side at that level.",
  "Cephalic index: the width as a percentage of the length. Higher means a shorter, broader head, lower a "
  "longer, narrower one.",
  "Head circumference at that level, as a tape laid around the head measures it.",
  "The diagonal 30 degrees off the front-back axis that reaches the back on the +x side.",
  "The diagonal 30 degrees off the front-back axis that reaches the back on the -x side.",
  "Cranial vault asymmetry: the difference between the two diagonals; 0 for a symmetric head.",
  "Cranial vault asymmetry index: that difference as a percentage of the shorter diagonal.",
  "Plagiocephaly level from the CVAI: 1 within normal limits (below 3.5), 2 mild, 3 moderate, 4 severe, "
  "5 very severe (11 and above).",
  "Volume of the head above the ear plane.",
  "Anterior symmetry ratio: the smaller front quarter of the volume as a percentage of the larger; 100 is "
  "balanced.",
  "Posterior symmetry ratio: the same for the two back quarters.",
  "Overall symmetry ratio: the smaller half of the volume (left or right) as a percentage of the larger.",
};

std::string Escape(const std::string& text)
{
  std::string escaped;
  for (char c : text)
  {
    switch (c)
    {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&#39;"; break;
      default: escaped += c;
    }
  }
  return escaped;
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

std::vector<std::string> Split(const std::string& text, char separator)
{
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(text);
  while (std::getline(in, field, separator))
  {
    fields.push_back(field);
  }
  return fields;
}

// A command line as a reader would type it: the tool, then its arguments,
// quoted where the shell needs it.
std::string CommandLine(const std::string& tool, const std::vector<std::string>& arguments)
{
  std::string line = tool;
  for (const std::string& a : arguments)
  {
    const bool plain = !a.empty() && a.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
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
}

int main(int argc, char* argv[])
{
  UseWorkThreads();
  if (argc != 6)
  {
    std::cout << "Usage: scanreport first.vtk final.vtk template.vtk template_mask.clr report.html\n"
                 "Inputs: a first and a final scan on the template mesh, the mirror-symmetric template and a\n"
                 "        template mask (1 in the region whose asymmetry ratios count, 0 elsewhere)\n"
                 "Output: report.html, one self-contained page (pictures embedded)\n"
                 "Performs: head-shape measures of both scans and their change; pictures of the distance\n"
                 "          between the scans, of the asymmetry of each and of the change of the asymmetry\n"
                 "          ratios, with their statistics. Renders off screen: needs an X display\n"
                 "          (without one: xvfb-run -a scanreport ...).\n";
    return -1;
  }
  const std::string firstPath = argv[1];
  const std::string finalPath = argv[2];
  const std::string templatePath = argv[3];
  const std::string maskPath = argv[4];
  const char* reportPath = argv[5];

  // Every input is checked before any tool runs.
  vtkSmartPointer<vtkPolyData> first = ReadSurface(firstPath.c_str());
  if (!first)
  {
    return -1;
  }
  vtkSmartPointer<vtkPolyData> finalScan = ReadSurface(finalPath.c_str());
  if (!finalScan)
  {
    return -1;
  }
  vtkSmartPointer<vtkPolyData> templ = ReadSurface(templatePath.c_str());
  if (!templ)
  {
    return -1;
  }
  const vtkIdType cells = templ->GetNumberOfCells();
  if (first->GetNumberOfCells() != cells || finalScan->GetNumberOfCells() != cells)
  {
    std::cout << "Scans " << firstPath << " and " << finalPath << " do not lie on the mesh of template " << templatePath
              << ": they have " << first->GetNumberOfCells() << ", " << finalScan->GetNumberOfCells() << " and "
              << cells << " cells\n";
    return -1;
  }
  if (cells == 0 || cells % 2 != 0)
  {
    std::cout << "Template " << templatePath << " has " << cells
              << " cells, which do not form mirror pairs of two halves\n";
    return -1;
  }
  {
    std::vector<float> mask(cells);
    vtkIdType badLine = 0;
    const ColorReadStatus status = ReadColorValues(maskPath.c_str(), cells, mask.data(), &badLine);
    if (status != ColorReadStatus::Ok)
    {
      std::cout << MaskRefusal(status, maskPath.c_str(), cells, badLine);
      return -1;
    }
  }
  HeadShape shapes[2];
  for (int s = 0; s < 2; ++s)
  {
    const std::string problem = MeasureHeadShape(s == 0 ? first : finalScan, shapes[s]);
    if (!problem.empty())
    {
      std::cout << "Cannot measure scan " << (s == 0 ? firstPath : finalPath) << ": it " << problem << '\n';
      return -1;
    }
  }
  for (const char* tool : { "celldist", "mirrorasym", "scancompare", "colorsnap", "colorstats" })
  {
    if (ToolPath(tool).empty())
    {
      std::cout << "Cannot find the tool " << tool << " beside scanreport, which runs it for the report\n";
      return -1;
    }
  }
  {
    const fs::path folder = fs::absolute(reportPath).parent_path();
    if (!fs::is_directory(folder) || access(folder.c_str(), W_OK) != 0 || fs::is_directory(reportPath))
    {
      std::cout << "Cannot create output file " << reportPath << '\n';
      return -1;
    }
  }
  Display* display = OpenRenderDisplay("scanreport", reportPath);
  if (!display)
  {
    return -1;
  }
  XCloseDisplay(display); // each picture opens its own

  // The tools run in a scratch folder, which links to the inputs under fixed
  // names; the commands shown on the page name the inputs as the user did.
  std::error_code noTemp;
  const fs::path temp = fs::temp_directory_path(noTemp);
  std::string scratchName = (temp / "scanreport-XXXXXX").string();
  if (noTemp || !mkdtemp(scratchName.data()))
  {
    const char* named = std::getenv("TMPDIR");
    std::cout << "Cannot create a scratch folder in " << (noTemp ? std::string(named ? named : "") : temp.string())
              << " (TMPDIR)\n";
    return -1;
  }
  const fs::path scratch = scratchName;
  auto fail = [&](const std::string& problem) {
    std::cout << "Cannot make the report " << reportPath << ": " << problem << '\n';
    fs::remove_all(scratch);
    return -1;
  };
  const std::vector<std::pair<std::string, std::string>> inputs = { { "first.vtk", firstPath },
    { "final.vtk", finalPath }, { "template.vtk", templatePath }, { "template_mask.clr", maskPath } };
  for (const auto& [name, path] : inputs)
  {
    std::error_code error;
    fs::create_symlink(fs::absolute(path), scratch / name, error);
    if (error)
    {
      return fail("cannot link " + path + " into the scratch folder " + scratch.string());
    }
  }
  auto shown = [&](std::vector<std::string> arguments) {
    for (std::string& a : arguments)
    {
      for (const auto& [name, path] : inputs)
      {
        if (a == name)
        {
          a = path;
          break;
        }
      }
    }
    return arguments;
  };

  const std::string pairs = std::to_string(cells / 2);
  auto asymmetry = [&](const std::string& scan) {
    const std::string base = "asymmetry_" + scan;
    return std::vector<std::string>{ scan + ".vtk", "template.vtk", base + ".clr", base + "_abs.clr", base + "_x.clr",
      base + "_y.clr", base + "_z.clr", "-5", "5", pairs };
  };
  struct Made
  {
    std::string tool;
    std::vector<std::string> arguments;
    int status; // of a completed run
  };
  const std::vector<Made> made = {
    { "celldist", { "final.vtk", "first.vtk", "distance.clr", "5", "-5", "distance_x.clr", "distance_y.clr", "distance_z.clr" }, 1 },
    { "mirrorasym", asymmetry("first"), 1 },
    { "mirrorasym", asymmetry("final"), 1 },
    { "scancompare", { "first.vtk", "final.vtk", "template_mask.clr", "ratio_change.clr", "ratio_first.clr", "ratio_final.clr", "y" }, 0 },
  };
  std::vector<Job> jobs;
  for (const Made& m : made)
  {
    jobs.push_back({ m.tool, m.arguments, m.status });
  }
  std::vector<std::string> outputs;
  std::string problem = RunJobs(jobs, scratch, outputs);
  if (!problem.empty())
  {
    return fail(problem);
  }

  // A picture: a color file of one of those runs, painted on a surface.
  struct Picture
  {
    std::string title;
    std::string caption;
    std::string colorFile;
    std::string surface;
    Made made;
  };
  const std::vector<Picture> pictures = {
    { "Distance from the first to the final scan",
      "Signed distance of each cell of the first scan to the same cell of the final scan (mm): negative where "
      "the final scan lies outside the first (growth), positive where it lies inside.",
      "distance.clr", "first.vtk", made[0] },
    { "Asymmetry of the first scan",
      "Signed left-right asymmetry of each cell pair of the first scan against the symmetric template (mm): "
      "positive where a side bulges outward more than its mirror side.",
      "asymmetry_first.clr", "first.vtk", made[1] },
    { "Asymmetry of the final scan", "The same for the final scan (mm).", "asymmetry_final.clr", "final.vtk",
      made[2] },
    { "Change of the asymmetry ratios",
      "For each mirror pair of cells in the template mask: the asymmetry ratio of the first scan minus that of "
      "the final scan, in absolute values; positive where the asymmetry shrank. Gray cells lie outside the mask.",
      "ratio_change.clr", "template.vtk", made[3] },
  };
  jobs.clear();
  for (const Picture& p : pictures)
  {
    const std::string png = p.colorFile.substr(0, p.colorFile.size() - 4) + ".png";
    jobs.push_back({ "colorsnap", { p.surface, p.colorFile, png }, 0 });
  }
  std::vector<std::string> statsArguments;
  for (const Picture& p : pictures)
  {
    statsArguments.push_back(p.colorFile);
  }
  jobs.push_back({ "colorstats", statsArguments, 0 });
  problem = RunJobs(jobs, scratch, outputs);
  if (!problem.empty())
  {
    return fail(problem);
  }
  const std::vector<std::string> statsLines = Split(outputs.back(), '\n');
  if (statsLines.size() != pictures.size() + 1)
  {
    return fail("colorstats printed no row for every picture");
  }
  // The report block that scancompare appended: its name line, then four
  // lines "name :value".
  std::vector<std::pair<std::string, std::string>> extremes;
  for (const std::string& line : Split(ReadWhole(scratch / "Range_values.txt"), '\n'))
  {
    const size_t colon = line.find(" :");
    if (colon != std::string::npos)
    {
      extremes.push_back({ line.substr(0, colon), line.substr(colon + 2) });
    }
  }
  if (extremes.size() != 4)
  {
    return fail("scancompare reported no extremes");
  }

  // The page.
  char date[16];
  const std::time_t now = std::time(nullptr);
  std::strftime(date, sizeof date, "%Y-%m-%d", std::localtime(&now));
  std::ostringstream html;
  html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
       << "<title>Head-scan report: " << Escape(firstPath) << " and " << Escape(finalPath) << "</title>\n"
       << "<style>" << kStyle << "</style>\n</head>\n<body>\n";
  html << "<header>\n<h1>Head-scan report</h1>\n<p class=\"scans\">First scan <code>" << Escape(firstPath)
       << "</code> and final scan <code>" << Escape(finalPath) << "</code></p>\n<p class=\"date\">Made on " << date
       << " on the template <code>" << Escape(templatePath) << "</code> with the mask <code>" << Escape(maskPath)
       << "</code>.</p>\n</header>\n";

  html << "<section>\n<h2>Head-shape measures</h2>\n<div class=\"wide\"><table id=\"measures\">\n"
          "<thead><tr><th>Measure</th><th>Unit</th><th>First scan</th><th>Final scan</th>"
          "<th>Change</th><th>What it means</th></tr></thead>\n<tbody>\n";
  const auto firstValues = HeadShapeValues(shapes[0]);
  const auto finalValues = HeadShapeValues(shapes[1]);
  for (int c = 0; c < kHeadShapeColumns; ++c)
  {
    html << "<tr><th>" << kHeadShapeColumn[c].name << "</th><td>" << kHeadShapeColumn[c].unit << "</td><td class=\"n\">"
         << NumberText(firstValues[c]) << "</td><td class=\"n\">" << NumberText(finalValues[c]) << "</td><td class=\"n\">"
         << NumberText(finalValues[c] - firstValues[c]) << "</td><td class=\"meaning\">" << kMeaning[c] << "</td></tr>\n";
  }
  html << "</tbody>\n</table></div>\n<p>Measured as <code>" << Escape(CommandLine("headshape", { firstPath, finalPath }))
       << "</code> measures them; the change is the final value minus the first.</p>\n</section>\n";

  html << "<section>\n<h2>Maps</h2>\n<p>Each picture shows the head from the front, the back, the top, the left "
          "(-x) and the right (+x), with the color legend in the last tile.</p>\n";
  for (size_t p = 0; p < pictures.size(); ++p)
  {
    const std::string png = pictures[p].colorFile.substr(0, pictures[p].colorFile.size() - 4) + ".png";
    html << "<figure>\n<h3>" << Escape(pictures[p].title) << "</h3>\n<img alt=\"" << Escape(pictures[p].title)
         << "\" width=\"1200\" height=\"800\" src=\"data:image/png;base64," << Base64(ReadWhole(scratch / png))
         << "\">\n<figcaption>" << Escape(pictures[p].caption) << "</figcaption>\n</figure>\n";
  }
  html << "</section>\n";

  html << "<section>\n<h2>Extremes and statistics</h2>\n<h3>Asymmetry ratios</h3>\n"
          "<div class=\"wide\"><table id=\"extremes\">\n<thead><tr>";
  for (const auto& e : extremes)
  {
    html << "<th>" << Escape(e.first) << "</th>";
  }
  html << "</tr></thead>\n<tbody><tr>";
  for (const auto& e : extremes)
  {
    html << "<td class=\"n\">" << Escape(e.second) << "</td>";
  }
  html << "</tr></tbody>\n</table></div>\n<p>The smallest and largest ratio over both scans, and the smallest and "
          "largest change, within the mask, as scancompare reports them.</p>\n"
          "<h3>Statistics of the pictures</h3>\n<div class=\"wide\"><table id=\"statistics\">\n<thead><tr><th>picture</th>";
  const std::vector<std::string> statsHeader = Split(statsLines[0], '\t');
  for (size_t f = 1; f < statsHeader.size(); ++f)
  {
    html << "<th>" << Escape(statsHeader[f]) << "</th>";
  }
  html << "</tr></thead>\n<tbody>\n";
  for (size_t p = 0; p < pictures.size(); ++p)
  {
    const std::vector<std::string> fields = Split(statsLines[p + 1], '\t');
    html << "<tr><th>" << Escape(pictures[p].title) << "</th>";
    for (size_t f = 1; f < statsHeader.size(); ++f)
    {
      html << "<td class=\"n\">" << (f < fields.size() ? Escape(fields[f]) : "") << "</td>";
    }
    html << "</tr>\n";
  }
  html << "</tbody>\n</table></div>\n<p>As colorstats computes them: the number of values, their range, mean, root "
          "mean square and 5th, 50th and 95th percentiles; cells outside the mask and values that are not numbers "
          "are counted apart.</p>\n</section>\n";

  html << "<section>\n<h2>How the pictures were made</h2>\n<ol class=\"how\">\n";
  for (const Picture& p : pictures)
  {
    const std::string png = p.colorFile.substr(0, p.colorFile.size() - 4) + ".png";
    html << "<li>" << Escape(p.title) << ": <code>" << Escape(CommandLine(p.made.tool, shown(p.made.arguments)))
         << "</code>, then <code>" << Escape(CommandLine("colorsnap", shown({ p.surface, p.colorFile, png })))
         << "</code> and <code>"
         << Escape(CommandLine("colorstats", { p.colorFile })) << "</code>.</li>\n";
  }
  html << "</ol>\n</section>\n</body>\n</html>\n";

  fs::remove_all(scratch);
  const std::string page = html.str();
  return WriteOutputFile(reportPath, page.data(), page.size()) ? 0 : -1;
}
