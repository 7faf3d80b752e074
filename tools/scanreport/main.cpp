// scanreport: one self-contained HTML page that shows a first and a final
// scan side by side: their head-shape measures and the change, pictures of
// the distance between them (as it is, and beyond growth: the final scan
// first brought to the first's size and place), of the asymmetry of each
// and of the change of the asymmetry ratios, with the statistics of every
// picture. With "-" for
// the final scan, the page of one scan (a child's one visit): its measures
// and the picture of its asymmetry. Given the subject's measures table, the
// page opens with the course over every visit, and where a visit's
// landmarks were found on its raw scan (the workflow's fit.txt beside the
// table: foundlandmarks.h), shows them marked on the visit's fitted surface
// for checking; given also the subject's score folder (shapestats score), it
// shows the subject against the reference group.
// The pictures and their numbers come from the tools themselves (celldist,
// mirrorasym, scancompare, colorsnap, colorstats), run beside this one in a
// scratch folder (as many at once as it may use cores), so that the page
// shows exactly what they write.

#include "measure/headshape.h"
#include "parallel/parallel.h"
#include "render/renderdisplay.h"
#include "stats/sizefit.h"
#include "surftools/colorfile.h"
#include "surftools/listfile.h"
#include "surftools/outputfile.h"
#include "surftools/process.h"
#include "surftools/surface.h"
#include "tools/scanreport/foundlandmarks.h"
#include "tools/scanreport/reportpage.h"
#include "tools/scanreport/toolruns.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <vtkNew.h>
#include <vtkPoints.h>

#include <unistd.h>

namespace fs = std::filesystem;

namespace
{
// An input under its fixed name in the scratch folder, and its path as the
// user named it.
struct Input
{
  std::string name;
  std::string path;
};

// The final scan brought to the first scan's size and place, in the
// scratch folder.
const char* const kBeyondGrowth = "final_beyond_growth.vtk";

// A picture: a color file that one of the runs made, painted on a surface.
struct Picture
{
  std::string title;
  std::string shortTitle;
  std::string caption;
  int decimals; // as the page rounds its values: mm to one place, ratios to three
  std::string colorFile;
  std::string surface;
  Job made;
};

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

// The scans and the template read, and checked to be surfaces of one mesh
// of `cells` cells (the page of one scan reads its scan twice). False after
// printing the line that refuses them.
bool ReadScans(const ReportContents& report, vtkSmartPointer<vtkPolyData> (&scans)[2], vtkIdType& cells)
{
  scans[0] = ReadSurface(report.firstScan.c_str());
  if (!scans[0])
  {
    return false;
  }
  scans[1] = report.OneScan() ? scans[0] : ReadSurface(report.finalScan.c_str());
  vtkSmartPointer<vtkPolyData> templ = scans[1] ? ReadSurface(report.templateMesh.c_str()) : nullptr;
  if (!templ)
  {
    return false;
  }
  cells = templ->GetNumberOfCells();
  if (scans[0]->GetNumberOfCells() == cells && scans[1]->GetNumberOfCells() == cells)
  {
    return true;
  }
  if (report.OneScan())
  {
    std::cout << "Scan " << report.firstScan << " does not lie on the mesh of template " << report.templateMesh
              << ": it has " << scans[0]->GetNumberOfCells() << " cells, the template " << cells << '\n';
    return false;
  }
  std::cout << "Scans " << report.firstScan << " and " << report.finalScan << " do not lie on the mesh of template "
            << report.templateMesh << ": they have " << scans[0]->GetNumberOfCells() << ", "
            << scans[1]->GetNumberOfCells() << " and " << cells << " cells\n";
  return false;
}

// Reads and checks the inputs of `report` (the scans into `scans`): the scans and the template are
// surfaces of one mesh, `cells` cells in mirror pairs; the mask has a number
// for every cell; the measures table, where one is given, holds a course
// (into report.course) of one visit for the page of one scan, of two or more
// for two; the scans can be measured (into report.shapes). False after
// printing the line that refuses them.
bool CheckInputs(ReportContents& report, vtkIdType& cells, vtkSmartPointer<vtkPolyData> (&scans)[2])
{
  if (!ReadScans(report, scans, cells))
  {
    return false;
  }
  if (cells == 0 || cells % 2 != 0)
  {
    std::cout << "Template " << report.templateMesh << " has " << cells
              << " cells, which do not form mirror pairs of two halves\n";
    return false;
  }
  std::vector<float> mask(cells);
  vtkIdType badLine = 0;
  const ColorReadStatus status = ReadColorValues(report.templateMask.c_str(), cells, mask.data(), &badLine);
  if (status != ColorReadStatus::Ok)
  {
    std::cout << MaskRefusal(status, report.templateMask.c_str(), cells, badLine);
    return false;
  }
  if (!report.measuresTable.empty())
  {
    report.course.emplace();
    const std::string problem = ReadMeasuresTable(report.measuresTable, *report.course, report.OneScan());
    if (!problem.empty())
    {
      std::cout << "Cannot read the measures table " << report.measuresTable << ": " << problem << '\n';
      return false;
    }
  }
  for (int s = 0; s < report.ScanCount(); ++s)
  {
    const std::string problem = MeasureHeadShape(scans[s], report.shapes[s]);
    if (!problem.empty())
    {
      std::cout << "Cannot measure scan " << (s == 0 ? report.firstScan : report.finalScan) << ": it " << problem
                << '\n';
      return false;
    }
  }
  return true;
}

// Reads the fits of the measures table's visits whose landmarks were found
// (into report.found), with their fitted surfaces, each of the template's
// `cells` cells. False after printing the line that refuses them.
bool CheckFoundFits(ReportContents& report, vtkIdType cells)
{
  const std::string problem = report.course ? ReadFoundFits(report.measuresTable, *report.course, report.found) : "";
  if (!problem.empty())
  {
    std::cout << "Cannot read the landmarks found on a visit's scan: " << problem << '\n';
    return false;
  }
  for (FoundFit& fit : report.found)
  {
    const std::string path = FittedSurface(fit);
    fit.fitted = ReadSurface(path.c_str());
    if (!fit.fitted)
    {
      return false;
    }
    if (fit.fitted->GetNumberOfCells() != cells)
    {
      std::cout << "Fitted surface " << path << " does not lie on the mesh of template " << report.templateMesh
                << ": it has " << fit.fitted->GetNumberOfCells() << " cells, the template " << cells << '\n';
      return false;
    }
  }
  return true;
}

// What the report needs besides its inputs: the tools beside this one, a
// folder to write the page into and a display with OpenGL for the pictures.
// False after printing the line that says what is missing.
bool CheckSurroundings(const char* reportPath)
{
  for (const char* tool : { "celldist", "mirrorasym", "scancompare", "colorsnap", "colorstats" })
  {
    if (ToolPath(tool).empty())
    {
      std::cout << "Cannot find the tool " << tool << " beside scanreport, which runs it for the report\n";
      return false;
    }
  }
  const fs::path folder = fs::absolute(reportPath).parent_path();
  if (!fs::is_directory(folder) || access(folder.c_str(), W_OK) != 0 || fs::is_directory(reportPath))
  {
    std::cout << "Cannot create output file " << reportPath << '\n';
    return false;
  }
  Display* display = OpenRenderDisplay("scanreport", reportPath);
  if (!display)
  {
    return false;
  }
  CloseRenderDisplay(display); // each picture opens its own
  return true;
}

// Reads the score folder, where one is given (into report.score), and checks
// it against the scans' `cells` cells. False after printing the line that
// refuses it.
bool CheckScore(ReportContents& report, const char* folder, vtkIdType cells)
{
  if (!folder)
  {
    return true;
  }
  report.score.emplace();
  const std::string problem = ReadScoreFolder(folder, cells, report.score->figures);
  if (!problem.empty())
  {
    std::cout << "Cannot read the score folder " << folder << ": " << problem << '\n';
    return false;
  }
  return true;
}

// A new scratch folder in the temporary folder (TMPDIR). False after
// printing the line that says it cannot be made.
bool MakeScratchFolder(fs::path& scratch)
{
  std::error_code noTemp;
  const fs::path temp = fs::temp_directory_path(noTemp);
  std::string scratchName = (temp / "scanreport-XXXXXX").string();
  if (noTemp || !mkdtemp(scratchName.data()))
  {
    const char* named = std::getenv("TMPDIR");
    std::cout << "Cannot create a scratch folder in " << (noTemp ? std::string(named ? named : "") : temp.string())
              << " (TMPDIR)\n";
    return false;
  }
  scratch = scratchName;
  return true;
}

// Links every input into the scratch folder under its name there. Returns
// an empty text, or what could not be linked.
std::string LinkInputs(const fs::path& scratch, const std::vector<Input>& inputs)
{
  for (const Input& input : inputs)
  {
    std::error_code error;
    fs::create_symlink(fs::absolute(input.path), scratch / input.name, error);
    if (error)
    {
      return "cannot link " + input.path + " into the scratch folder " + scratch.string();
    }
  }
  return "";
}

// The arguments with every input's scratch name replaced by its path.
std::vector<std::string> Shown(std::vector<std::string> arguments, const std::vector<Input>& inputs)
{
  for (std::string& a : arguments)
  {
    for (const Input& input : inputs)
    {
      if (a == input.name)
      {
        a = input.path;
        break;
      }
    }
  }
  return arguments;
}

// Writes the final scan brought to the first scan's size and place (its
// growth taken out: stats/sizefit.h, fitted on the cells' centroids, which
// correspond on one mesh) as `path`; its growth factor into `growth`.
// Returns an empty text, or what could not be written.
std::string WriteBeyondGrowth(vtkPolyData* first, vtkPolyData* final, const fs::path& path, double& growth)
{
  const vtkIdType cells = first->GetNumberOfCells();
  std::vector<double> before(3 * static_cast<size_t>(cells)), after(before.size());
  for (vtkIdType c = 0; c < cells; ++c)
  {
    CellCentroid(first, c, &before[3 * static_cast<size_t>(c)]);
    CellCentroid(final, c, &after[3 * static_cast<size_t>(c)]);
  }
  const SizeFit fit = FitSize(before.data(), after.data(), static_cast<size_t>(cells));
  growth = fit.growth;
  vtkNew<vtkPolyData> sized;
  sized->DeepCopy(final);
  vtkPoints* points = sized->GetPoints();
  for (vtkIdType i = 0; i < points->GetNumberOfPoints(); ++i)
  {
    double point[3];
    points->GetPoint(i, point);
    ApplySize(fit, point, 1);
    points->SetPoint(i, point);
  }
  return WriteSurface(sized, path.c_str()) ? "" : "cannot write " + path.string();
}

// The runs that make the color files of the pictures, on a template of
// `cells` cells: of one scan, its asymmetry alone.
std::vector<Job> ColorFileRuns(vtkIdType cells, bool oneScan)
{
  const std::string pairs = std::to_string(cells / 2);
  auto asymmetry = [&](const std::string& scan) {
    const std::string base = "asymmetry_" + scan;
    return std::vector<std::string>{ scan + ".vtk", "template.vtk", base + ".clr", base + "_abs.clr", base + "_x.clr",
      base + "_y.clr", base + "_z.clr", "-5", "5", pairs };
  };
  if (oneScan)
  {
    return { { "mirrorasym", asymmetry("first"), 1 } };
  }
  return {
    { "celldist",
      { "final.vtk", "first.vtk", "distance.clr", "5", "-5", "distance_x.clr", "distance_y.clr", "distance_z.clr" },
      1 },
    { "mirrorasym", asymmetry("first"), 1 },
    { "mirrorasym", asymmetry("final"), 1 },
    { "scancompare",
      { "first.vtk", "final.vtk", "template_mask.clr", "ratio_change.clr", "ratio_first.clr", "ratio_final.clr", "y" },
      0 },
    { "celldist",
      { kBeyondGrowth, "first.vtk", "distance_beyond_growth.clr", "5", "-5", "distance_beyond_growth_x.clr",
        "distance_beyond_growth_y.clr", "distance_beyond_growth_z.clr" },
      1 },
  };
}

// The pictures of the page, in order, from the color files of `made`
// (ColorFileRuns); `growth` is the final head's size against the first's.
std::vector<Picture> Pictures(const std::vector<Job>& made, double growth)
{
  if (made.size() == 1)
  {
    return { { "Asymmetry of the scan", "Asymmetry (mm)",
      "Signed left-right asymmetry of each cell pair of the scan against the symmetric template (mm): positive "
      "where a side bulges outward more than its mirror side.",
      1, "asymmetry_first.clr", "first.vtk", made[0] } };
  }
  return {
    { "Distance from the first to the final scan", "Distance (mm)",
      "Signed distance of each cell of the first scan to the same cell of the final scan (mm): negative where "
      "the final scan lies outside the first (growth), positive where it lies inside.",
      1, "distance.clr", "first.vtk", made[0] },
    { "Distance beyond growth", "Distance beyond growth (mm)",
      "The same distance after the final scan was brought to the first scan's size and place (" +
        std::string(kBeyondGrowth) + ", which scanreport makes: the head grew by a factor of " + NumberText(growth) +
        " between the scans): what changed in shape, not in size. Negative where the head came out further than "
        "its growth took it (a flattening rounding out), positive where it stayed behind.",
      1, "distance_beyond_growth.clr", "first.vtk", made[4] },
    { "Asymmetry of the first scan", "Asymmetry, first (mm)",
      "Signed left-right asymmetry of each cell pair of the first scan against the symmetric template (mm): "
      "positive where a side bulges outward more than its mirror side.",
      1, "asymmetry_first.clr", "first.vtk", made[1] },
    { "Asymmetry of the final scan", "Asymmetry, final (mm)", "The same for the final scan (mm).", 1,
      "asymmetry_final.clr", "final.vtk", made[2] },
    { "Change of the asymmetry ratios", "Change of the ratios",
      "For each mirror pair of cells in the template mask: the asymmetry ratio of the first scan minus that of "
      "the final scan, in absolute values; positive where the asymmetry shrank. Gray cells lie outside the mask.",
      3, "ratio_change.clr", "template.vtk", made[3] },
  };
}

// The PNG file of a picture: its color file's name with .png for .clr.
std::string PngName(const Picture& picture)
{
  return picture.colorFile.substr(0, picture.colorFile.size() - 4) + ".png";
}

// colorsnap's run that paints the z-scores of a score folder.
const Job kZScorePicture = { "colorsnap", { "first.vtk", "zscore.clr", "zscore.png" }, 0 };

// The folder in the scratch folder of the k-th visit whose landmarks were
// found: its fitted surface linked as fitted.vtk, the marks of its landmarks
// as landmarks_found.clr (the legend's title) and their picture.
std::string FoundFolder(size_t k)
{
  return "found" + std::to_string(k);
}

// Writes the marks of the landmarks found on each visit (LandmarkMarks, over
// the rainbow map from 0 to 4) into its folder, adds its fitted surface to
// the inputs to link there, and the colorsnap run that paints them to
// `painted`. Returns an empty text, or what could not be written.
std::string WriteMarks(
  const fs::path& scratch, const ReportContents& report, std::vector<Input>& inputs, std::vector<Job>& painted)
{
  for (size_t k = 0; k < report.found.size(); ++k)
  {
    const std::string folder = FoundFolder(k);
    const std::string marks = (scratch / folder / "landmarks_found.clr").string();
    std::error_code error;
    fs::create_directory(scratch / folder, error);
    OutputFile out = OpenColorFile(marks.c_str());
    WriteColorHeader(out, "0", "4", "rainbow");
    for (double mark : LandmarkMarks(report.found[k]))
    {
      WriteColorValue(out, mark);
    }
    if (error || !CloseOutputFile(out, marks.c_str()))
    {
      return "cannot write " + marks;
    }
    inputs.push_back({ folder + "/fitted.vtk", FittedSurface(report.found[k]) });
    painted.push_back(
      { "colorsnap", { folder + "/fitted.vtk", folder + "/landmarks_found.clr", folder + "/landmarks_found.png" }, 0 });
  }
  return "";
}

// Runs the tools in the scratch folder: first those that make the color
// files, then colorsnap for every picture and the runs of `painted` (the
// z-scores, the landmarks found) beside one colorstats of the pictures',
// whose table lands in `statistics`. Returns an empty text, or the line
// about the first run that failed.
std::string RunTools(const fs::path& scratch, const std::vector<Job>& made, const std::vector<Picture>& pictures,
  const std::vector<Job>& painted, std::string& statistics)
{
  std::vector<Job> jobs = made;
  std::vector<std::string> outputs;
  std::string problem = RunJobs(jobs, scratch, outputs);
  if (!problem.empty())
  {
    return problem;
  }
  jobs.clear();
  std::vector<std::string> statsArguments;
  for (const Picture& p : pictures)
  {
    jobs.push_back({ "colorsnap", { p.surface, p.colorFile, PngName(p) }, 0 });
    statsArguments.push_back(p.colorFile);
  }
  jobs.insert(jobs.end(), painted.begin(), painted.end());
  jobs.push_back({ "colorstats", statsArguments, 0 });
  problem = RunJobs(jobs, scratch, outputs);
  statistics = outputs.back();
  return problem;
}

// Fills the page's pictures, statistics and extremes from what the tools
// left in the scratch folder. Returns an empty text, or what is missing.
std::string CollectResults(const fs::path& scratch, const std::vector<Input>& inputs,
  const std::vector<Picture>& pictures, const std::string& statistics, ReportContents& report)
{
  const std::vector<std::string> statsLines = Split(statistics, '\n');
  if (statsLines.size() != pictures.size() + 1)
  {
    return "colorstats printed no row for every picture";
  }
  // The report block that scancompare appended (of two scans): its name
  // line, then four lines "name :value".
  for (const std::string& line : Split(ReadWhole(scratch / "Range_values.txt"), '\n'))
  {
    const size_t colon = line.find(" :");
    if (colon != std::string::npos)
    {
      report.extremes.push_back({ line.substr(0, colon), line.substr(colon + 2) });
    }
  }
  if (report.extremes.size() != (report.OneScan() ? 0 : 4))
  {
    return "scancompare reported no extremes";
  }
  report.statisticsHeader = TabFields(statsLines[0]);
  for (size_t p = 0; p < pictures.size(); ++p)
  {
    const Picture& picture = pictures[p];
    report.pictures.push_back(
      { picture.title, picture.shortTitle, picture.caption, picture.decimals, ReadWhole(scratch / PngName(picture)),
        TabFields(statsLines[p + 1]), { picture.made.tool, Shown(picture.made.arguments, inputs) },
        { "colorsnap", Shown({ picture.surface, picture.colorFile, PngName(picture) }, inputs) },
        { "colorstats", { picture.colorFile } } });
  }
  if (report.score)
  {
    report.score->png = ReadWhole(scratch / "zscore.png");
    report.score->painted = { kZScorePicture.tool, Shown(kZScorePicture.arguments, inputs) };
  }
  for (size_t k = 0; k < report.found.size(); ++k)
  {
    report.found[k].png = ReadWhole(scratch / FoundFolder(k) / "landmarks_found.png");
  }
  return "";
}

std::string Today()
{
  char date[16];
  const std::time_t now = std::time(nullptr);
  std::strftime(date, sizeof date, "%Y-%m-%d", std::localtime(&now));
  return date;
}
void PrintUsage()
{
  std::cout << "Usage: scanreport first.vtk final.vtk template.vtk template_mask.clr report.html [measures.tsv]\n"
               "       scanreport first.vtk final.vtk template.vtk template_mask.clr report.html measures.tsv "
               "score_folder\n"
               "       scanreport scan.vtk - template.vtk template_mask.clr report.html [measures.tsv [score_folder]]\n"
               "Inputs: a first and a final scan on the template mesh (or one scan and -), the mirror-symmetric\n"
               "        template, a template mask (1 in the region whose asymmetry ratios count, 0 elsewhere)\n"
               "        and, optionally, the subject's measures table from the cohort workflow (one row per\n"
               "        visit, by age; the scans are those of its first and last rows; of one scan, one row)\n"
               "Output: report.html, one self-contained page (pictures embedded)\n"
               "Performs: head-shape measures of both scans and their change; pictures of the distance\n"
               "          between the scans, of the asymmetry of each and of the change of the asymmetry\n"
               "          ratios, with their statistics; with the table, the course over every visit in a\n"
               "          sentence, a table and charts. Of one scan: its measures and the picture of its\n"
               "          asymmetry, with its statistics. Renders off screen: needs an X display\n"
               "          (without one: xvfb-run -a scanreport ...). With the score folder that shapestats\n"
               "          score wrote of the subject (score.tsv, zscore.clr), its distance from the reference\n"
               "          group with the percentile and a picture of its z-scores on the first scan.\n"
               "          Where the workflow found a visit's landmarks (VISIT/fit.txt beside the table lists\n"
               "          them), they are named and marked on a picture of VISIT/fitted.vtk, to be checked.\n";
}
}

int main(int argc, char* argv[])
{
  QuietVtk();
  UseWorkThreads();
  if (argc < 6 || argc > 8)
  {
    PrintUsage();
    return -1;
  }
  ReportContents report;
  report.firstScan = argv[1];
  report.finalScan = argv[2];
  report.templateMesh = argv[3];
  report.templateMask = argv[4];
  report.measuresTable = argc >= 7 ? argv[6] : "";
  const char* reportPath = argv[5];

  // Every input is checked before any tool runs.
  vtkIdType cells = 0;
  vtkSmartPointer<vtkPolyData> scans[2];
  if (!CheckInputs(report, cells, scans) || !CheckScore(report, argc == 8 ? argv[7] : nullptr, cells) ||
    !CheckFoundFits(report, cells) || !CheckSurroundings(reportPath))
  {
    return -1;
  }

  // The tools run in a scratch folder, which links to the inputs under fixed
  // names; the commands shown on the page name the inputs as the user did.
  fs::path scratch;
  if (!MakeScratchFolder(scratch))
  {
    return -1;
  }
  std::vector<Input> inputs = { { "first.vtk", report.firstScan }, { "template.vtk", report.templateMesh },
    { "template_mask.clr", report.templateMask } };
  if (!report.OneScan())
  {
    inputs.push_back({ "final.vtk", report.finalScan });
  }
  if (report.score)
  {
    inputs.push_back({ "zscore.clr", report.score->figures.folder + "/zscore.clr" });
  }
  double growth = 1;
  std::string problem = report.OneScan() ? "" : WriteBeyondGrowth(scans[0], scans[1], scratch / kBeyondGrowth, growth);
  const std::vector<Job> made = ColorFileRuns(cells, report.OneScan());
  const std::vector<Picture> pictures = Pictures(made, growth);
  std::string statistics;
  std::vector<Job> painted = report.score ? std::vector<Job>{ kZScorePicture } : std::vector<Job>{};
  if (problem.empty())
  {
    problem = WriteMarks(scratch, report, inputs, painted);
  }
  if (problem.empty())
  {
    problem = LinkInputs(scratch, inputs);
  }
  if (problem.empty())
  {
    problem = RunTools(scratch, made, pictures, painted, statistics);
  }
  if (problem.empty())
  {
    problem = CollectResults(scratch, inputs, pictures, statistics, report);
  }
  if (!problem.empty())
  {
    std::cout << "Cannot make the report " << reportPath << ": " << problem << '\n';
    fs::remove_all(scratch);
    return -1;
  }

  // The page.
  report.date = Today();
  const std::string page = ReportPage(report);
  fs::remove_all(scratch);
  return WriteOutputFile(reportPath, page.data(), page.size()) ? 0 : -1;
}
