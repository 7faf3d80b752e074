// fittemplate end to end: one fit of a synthetic raw scan with every
// output checked, and the refusals.
#include "testutil.h"

#include "fit/surfacetriangles.h"
#include "fit/testshapes.h"
#include "geometry/vector.h"
#include "measure/headshape.h"
#include "rawscan.h"
#include "surftools/surface.h"

#include <vtkSmartPointer.h>

#include <algorithm>
#include <filesystem>

using namespace testutil;

namespace
{
// A small sample template (12 rings of 100 points a half: 4,600 cells).
std::string SmallTemplate(const std::string& dir)
{
  const std::string command =
    Quote(std::string(TOOLS_DIR) + "/../sample/makesample") + " " + Quote(dir) + " 12 100 >/dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0);
  return dir + "/template.vtk";
}

// The length, width and circumference of fitted surface `a` within
// `share` of those of `b`.
void ExpectMeasuresWithin(const std::string& a, const std::string& b, double share)
{
  HeadShape shapeA, shapeB;
  ASSERT_EQ(MeasureHeadShape(ReadSurface(a.c_str()), shapeA), "");
  ASSERT_EQ(MeasureHeadShape(ReadSurface(b.c_str()), shapeB), "");
  const auto valuesA = HeadShapeValues(shapeA), valuesB = HeadShapeValues(shapeB);
  for (int c = 0; c < kHeadShapeColumns; ++c)
  {
    const std::string column = kHeadShapeColumn[c].name;
    if (column == "length" || column == "width" || column == "circumference")
    {
      EXPECT_NEAR(valuesA[c], valuesB[c], share * valuesB[c]) << column;
    }
  }
}

const std::vector<std::string> kArguments = { "template.vtk", "scan.stl", "template_landmarks.crv",
  "scan_landmarks.crv", "fitted.vtk" };
}

TEST(FitTemplate, FitsASyntheticRawScanOntoTheTemplateMesh)
{
  const std::string dir = ScratchDir();
  vtkSmartPointer<vtkPolyData> templ = ReadSurface(SmallTemplate(dir).c_str());
  ASSERT_NE(templ, nullptr);
  ASSERT_TRUE(WriteFitCase(templ, dir, 2, 6000));
  const ToolRun run = RunTool("fittemplate", kArguments, dir);
  ASSERT_EQ(run.status, 0) << run.output;
  const std::vector<std::string> lines = Lines(run.output);
  ASSERT_EQ(lines.size(), 10u) << run.output;
  EXPECT_EQ(lines[0], "Rigid transform, scan to template:");
  EXPECT_EQ(lines[4], "0 0 0 1");
  EXPECT_EQ(lines[5].rfind("Template scaled to the scan's landmarks by ", 0), 0u);
  EXPECT_EQ(lines[6].rfind("Landmark residuals after alignment (mm): ", 0), 0u);
  EXPECT_EQ(lines[7].rfind("Landmark residuals after the fit (mm): ", 0), 0u);
  EXPECT_EQ(lines[8].rfind("Distance from the fitted template points to the scan (mm): mean ", 0), 0u);
  EXPECT_EQ(lines[9].rfind("Template points without a match on the scan: ", 0), 0u);
  // The printed transform is a rotation.
  RigidTransform transform;
  ASSERT_TRUE(ParseTransform(run.output, transform));
  for (int i = 0; i < 3; ++i)
  {
    for (int j = 0; j < 3; ++j)
    {
      const double dot = transform.r[0][i] * transform.r[0][j] + transform.r[1][i] * transform.r[1][j] +
        transform.r[2][i] * transform.r[2][j];
      EXPECT_NEAR(dot, i == j ? 1.0 : 0.0, 1e-5);
    }
  }

  // The template's cells in their order, with points moved, written as every surface is.
  vtkSmartPointer<vtkPolyData> fitted = ReadSurface((dir + "/fitted.vtk").c_str());
  ASSERT_NE(fitted, nullptr);
  ASSERT_EQ(fitted->GetNumberOfPoints(), templ->GetNumberOfPoints());
  ASSERT_EQ(fitted->GetNumberOfCells(), templ->GetNumberOfCells());
  for (vtkIdType c = 0; c < templ->GetNumberOfCells(); ++c)
  {
    vtkIdType n1, n2;
    const vtkIdType* ids1;
    const vtkIdType* ids2;
    templ->GetCellPoints(c, n1, ids1);
    fitted->GetCellPoints(c, n2, ids2);
    ASSERT_EQ(n1, n2);
    ASSERT_TRUE(std::equal(ids1, ids1 + n1, ids2)) << c;
  }
  EXPECT_EQ(ReadText(dir + "/fitted.vtk").rfind("# vtk DataFile Version 4.2\n", 0), 0u);

  // Where the scan has surface, the fitted points lie on it, near their true places.
  const FitErrors errors = ScoreFit(dir, fitted, transform);
  EXPECT_GT(errors.covered, 0.6);
  // At this small size the template's triangles are 5 to 9 mm long, and the
  // points near the scan's borders that find no trusted match stay a little
  // off it (at full size the mean is below 0.02 mm).
  EXPECT_LT(errors.onScan, 0.4);
  EXPECT_LT(errors.mean, 2.5);
  EXPECT_LT(errors.p95, 4.0);
  EXPECT_LT(errors.scanMean, 2.5);

  // The same run again, on one thread, writes the same file, to the last bit.
  ASSERT_EQ(RunToolWith("env SURFTOOLS_THREADS=1", "fittemplate",
              { "template.vtk", "scan.stl", "template_landmarks.crv", "scan_landmarks.crv", "again.vtk" }, dir)
              .output,
    run.output);
  EXPECT_EQ(ReadText(dir + "/again.vtk"), ReadText(dir + "/fitted.vtk"));
}

namespace
{
// Inputs that fittemplate refuses, beside a case in `dir`.
void WriteRefusedInputs(const std::string& dir)
{
  WriteText(dir + "/four.crv", "0 0 0\n10 0 0\n0 10 0\n0 0 10\n");
  WriteText(dir + "/two.crv", "0 0 0\n10 0 0\n");
  WriteText(dir + "/line.crv", "0 0 0\n10 10 10\n20 20 20\n30 30 30\n40 40 40\n");
  WriteText(dir + "/garbage.stl", "solid nothing\nthis is no facet\n");
  WriteText(dir + "/scan.txt", "1 2 3\n");
  WriteText(
    dir + "/cloud.vtk", "# vtk DataFile Version 4.2\nx\nASCII\nDATASET POLYDATA\nPOINTS 3 float\n0 0 0 1 0 0 0 1 0\n");
  // A scan of something else: a square of a head's size far from any head.
  WriteTriangles(dir + "/box.vtk",
    { { Point{ 1000, 1000, 1000 }, Point{ 1200, 1000, 1000 }, Point{ 1000, 1200, 1000 } },
      { Point{ 1200, 1000, 1000 }, Point{ 1200, 1200, 1000 }, Point{ 1000, 1200, 1000 } } });
  std::filesystem::create_directory(dir + "/folder.ply");
  // Counts that VTK's readers would trust: a PLY header declaring a billion
  // points, binary STLs declaring two billion triangles in a few bytes, one
  // of them with a header that begins with "solid" as ASCII files do.
  WriteText(dir + "/big.ply", "ply\nformat ascii 1.0\nelement vertex 999999999\nproperty float x\nend_header\n1\n");
  WriteText(dir + "/short.stl", std::string(80, '\0') + std::string("\xff\xff\xff\x7f", 4));
  WriteText(
    dir + "/solid.stl", "solid" + std::string(75, ' ') + std::string("\xff\xff\xff\x7f", 4) + std::string(20, '\0'));
}

// A refused run: its arguments and the start of the one line it prints.
struct Refusal
{
  std::vector<std::string> arguments;
  std::string line;
};

std::vector<Refusal> Refusals()
{
  return {
    { { "template.vtk", "scan.stl", "template_landmarks.crv", "four.crv", "out.vtk" },
      "The landmark files hold different numbers of landmarks: 5 in template_landmarks.crv, 4 in four.crv" },
    { { "template.vtk", "scan.stl", "two.crv", "two.crv", "out.vtk" },
      "Cannot align with the landmarks of two.crv: fewer than 3 landmarks" },
    { { "template.vtk", "scan.stl", "template_landmarks.crv", "line.crv", "out.vtk" },
      "Cannot align with the landmarks of line.crv: landmarks on one line" },
    { { "template.vtk", "missing.stl", "template_landmarks.crv", "scan_landmarks.crv", "out.vtk" },
      "Cannot read scan missing.stl: no such file" },
    { { "template.vtk", "garbage.stl", "template_landmarks.crv", "scan_landmarks.crv", "out.vtk" },
      "Cannot read scan garbage.stl" },
    { { "template.vtk", "folder.ply", "template_landmarks.crv", "scan_landmarks.crv", "out.vtk" },
      "Cannot read scan folder.ply: it is not a regular file" },
    { { "template.vtk", "big.ply", "template_landmarks.crv", "scan_landmarks.crv", "out.vtk" },
      "Cannot read scan big.ply: it declares more elements than it holds" },
    { { "template.vtk", "short.stl", "template_landmarks.crv", "scan_landmarks.crv", "out.vtk" },
      "Cannot read scan short.stl: it declares more triangles than it holds" },
    { { "template.vtk", "solid.stl", "template_landmarks.crv", "scan_landmarks.crv", "out.vtk" },
      "Cannot read scan solid.stl: it declares more triangles than it holds" },
    { { "template.vtk", "scan.txt", "template_landmarks.crv", "scan_landmarks.crv", "out.vtk" },
      "Cannot read scan scan.txt: its name ends in none of .vtk, .vtp, .stl, .ply, .obj" },
    { { "template.vtk", "cloud.vtk", "template_landmarks.crv", "scan_landmarks.crv", "out.vtk" },
      "Cannot read scan cloud.vtk: it holds no triangle" },
    { { "missing.vtk", "scan.stl", "template_landmarks.crv", "scan_landmarks.crv", "out.vtk" },
      "Cannot read surface missing.vtk" },
    { { "template.vtk", "box.vtk", "template_landmarks.crv", "scan_landmarks.crv", "out.vtk" }, "The fit failed: " },
  };
}

// The landmarks of another head: the scan's landmarks of the case in `dir`
// shuffled, into other.crv.
void WriteOtherLandmarks(const std::string& dir)
{
  std::vector<std::string> rows = ReadLines(dir + "/scan_landmarks.crv");
  std::rotate(rows.begin(), rows.begin() + 2, rows.end());
  std::string shuffled;
  for (const std::string& row : rows)
  {
    shuffled += row + "\n";
  }
  WriteText(dir + "/other.crv", shuffled);
}
}

TEST(FitTemplate, RefusesWithOneLineAndWritesNothing)
{
  const std::string dir = ScratchDir();
  vtkSmartPointer<vtkPolyData> templ = ReadSurface(SmallTemplate(dir).c_str());
  ASSERT_NE(templ, nullptr);
  ASSERT_TRUE(WriteFitCase(templ, dir, 3, 3000));
  WriteRefusedInputs(dir);
  for (const Refusal& c : Refusals())
  {
    const ToolRun run = RunTool("fittemplate", c.arguments, dir);
    EXPECT_EQ(run.status, 255) << run.output;
    // A refused input is one line; a failed fit ends with its line, after the figures that showed it.
    const std::vector<std::string> lines = Lines(run.output);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind(c.line, 0), 0u) << run.output;
    EXPECT_EQ(run.output.back(), '\n');
    if (c.line != "The fit failed: ")
    {
      EXPECT_EQ(lines.size(), 1u) << run.output;
    }
    EXPECT_FALSE(std::filesystem::exists(dir + "/out.vtk")) << c.line;
  }
  WriteOtherLandmarks(dir);
  const ToolRun other =
    RunTool("fittemplate", { "template.vtk", "scan.stl", "template_landmarks.crv", "other.crv", "out.vtk" }, dir);
  EXPECT_EQ(other.status, 255) << other.output;
  EXPECT_EQ(Lines(other.output).back().rfind("The fit failed: ", 0), 0u) << other.output;
  EXPECT_FALSE(std::filesystem::exists(dir + "/out.vtk"));

  const ToolRun usage = RunTool("fittemplate", { "template.vtk", "scan.stl" }, dir);
  EXPECT_EQ(usage.status, 255);
  EXPECT_EQ(usage.output.rfind("Usage: template.vtk scan.(vtk|vtp|stl|ply|obj) ", 0), 0u);
}

TEST(FitTemplate, LandmarksInTheWrongOrderAndScansInAnotherUnitAreRefusedWithAHint)
{
  // The sample's raw scan, its landmarks with the tragi swapped: the
  // refusal says so.
  const std::string dir = ScratchDir();
  SmallTemplate(dir);
  std::vector<std::string> rows = ReadLines(dir + "/rawscan_landmarks.crv");
  ASSERT_EQ(rows.size(), 5u);
  std::swap(rows[1], rows[2]);
  WriteText(dir + "/swapped.crv", rows[0] + '\n' + rows[1] + '\n' + rows[2] + '\n' + rows[3] + '\n' + rows[4] + '\n');
  const ToolRun swapped = RunTool("fittemplate",
    { "template.vtk", "rawscan.stl", "rawscan_template_landmarks.crv", "swapped.crv", "fitted.vtk" }, dir);
  EXPECT_EQ(swapped.status, 255);
  EXPECT_NE(swapped.output.find("the scan's landmarks fit much better in the order 1 3 2 4 5 (the patient's right and "
                                "left tragus swapped)\n"),
    std::string::npos)
    << swapped.output;
  EXPECT_FALSE(std::filesystem::exists(dir + "/fitted.vtk"));

  // The template itself given in metres and in centimetres.
  for (const auto& [scale, unit] : { std::pair{ 0.001, "metres" }, { 0.01, "centimetres" } })
  {
    vtkSmartPointer<vtkPolyData> scan = ReadSurface((dir + "/template.vtk").c_str());
    ASSERT_NE(scan, nullptr);
    for (vtkIdType i = 0; i < scan->GetNumberOfPoints(); ++i)
    {
      double p[3];
      scan->GetPoint(i, p);
      scan->GetPoints()->SetPoint(i, p[0] * scale, p[1] * scale, p[2] * scale);
    }
    ASSERT_TRUE(WriteSurface(scan, (dir + "/small.vtk").c_str()));
    const ToolRun run = RunTool("fittemplate",
      { "template.vtk", "small.vtk", "rawscan_template_landmarks.crv", "rawscan_landmarks.crv", "fitted.vtk" }, dir);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.output.rfind("Cannot fit scan small.vtk: it is ", 0), 0u) << run.output;
    EXPECT_NE(run.output.find(std::string("the size of a head in ") + unit + "; the scan must be in millimetres"),
      std::string::npos)
      << run.output;
  }
}

TEST(FitTemplate, WithoutTheScansLandmarksPrintsThoseFoundAndFitsWithThem)
{
  // The sample's raw scan: the landmarks found, printed as named curve rows in
  // the template file's order, lie near those it was made with, and the fit
  // from them measures as the fit from the given ones does.
  const std::string dir = ScratchDir();
  SmallTemplate(dir);
  std::vector<Landmark> given;
  ASSERT_TRUE(ReadLandmarks((dir + "/rawscan_landmarks.crv").c_str(), given));
  ASSERT_EQ(given.size(), 5u);
  const char* const names[5] = { "nasion", "right_tragus", "left_tragus", "vertex", "opisthocranion" };
  const ToolRun run =
    RunTool("fittemplate", { "template.vtk", "rawscan.stl", "rawscan_template_landmarks.crv", "found.vtk" }, dir);
  EXPECT_EQ(run.status, 0) << run.output;
  std::vector<std::string> lines = Lines(run.output);
  ASSERT_GE(lines.size(), 8u) << run.output;
  EXPECT_EQ(lines[0], "Landmarks found on the scan (x y z name certainty):");
  WriteText(
    dir + "/found.crv", lines[1] + '\n' + lines[2] + '\n' + lines[3] + '\n' + lines[4] + '\n' + lines[5] + '\n');
  std::vector<Landmark> found;
  ASSERT_TRUE(ReadLandmarks((dir + "/found.crv").c_str(), found));
  ASSERT_EQ(found.size(), 5u);
  for (size_t row = 0; row < 5; ++row)
  {
    EXPECT_NE(lines[1 + row].find(std::string(" ") + names[row] + " "), std::string::npos) << lines[1 + row];
    EXPECT_LT(Distance(found[row].data(), given[row].data()), 15.0) << names[row] << '\n' << run.output;
  }
  EXPECT_EQ(lines[6].rfind("Found by: mirror plane ", 0), 0u);
  EXPECT_EQ(lines[7], "Rigid transform, scan to template:");
  const ToolRun byHand = RunTool("fittemplate",
    { "template.vtk", "rawscan.stl", "rawscan_template_landmarks.crv", "rawscan_landmarks.crv", "given.vtk" }, dir);
  ASSERT_EQ(byHand.status, 0) << byHand.output;
  ExpectMeasuresWithin(dir + "/found.vtk", dir + "/given.vtk", 0.01);

  // The three midline landmarks of the template: their three rows.
  const std::vector<std::string> rows = ReadLines(dir + "/rawscan_template_landmarks.crv");
  WriteText(dir + "/midline.crv", rows[0] + '\n' + rows[3] + '\n' + rows[4] + '\n');
  const ToolRun midline = RunTool("fittemplate", { "template.vtk", "rawscan.stl", "midline.crv", "midline.vtk" }, dir);
  lines = Lines(midline.output);
  ASSERT_GE(lines.size(), 6u) << midline.output;
  EXPECT_EQ(lines[1], Lines(run.output)[1]);
  EXPECT_EQ(lines[2], Lines(run.output)[4]);
  EXPECT_EQ(lines[3], Lines(run.output)[5]);
  // Its certainty is the least of the three printed.
  auto lastNumber = [](const std::string& line) { return std::stod(line.substr(line.rfind(' ') + 1)); };
  EXPECT_EQ(lastNumber(lines[4]), std::min({ lastNumber(lines[1]), lastNumber(lines[2]), lastNumber(lines[3]) }))
    << midline.output;

  // Four template landmarks, or five out of order, cannot be found; a sphere
  // shows no pose. Each is one line.
  WriteText(dir + "/four.crv", rows[0] + '\n' + rows[1] + '\n' + rows[2] + '\n' + rows[3] + '\n');
  WriteText(dir + "/swapped.crv", rows[0] + '\n' + rows[2] + '\n' + rows[1] + '\n' + rows[3] + '\n' + rows[4] + '\n');
  const double centre[3] = { 100, 100, 60 };
  ASSERT_TRUE(WriteBinaryStl(PolyDataOf(testshapes::Sphere(75, centre, 40, 80)), dir + "/sphere.stl"));
  const std::pair<std::vector<std::string>, std::string> refusals[3] = {
    { { "template.vtk", "rawscan.stl", "four.crv", "fitted.vtk" }, "Cannot find landmarks to go with four.crv: " },
    { { "template.vtk", "rawscan.stl", "swapped.crv", "fitted.vtk" },
      "Cannot find landmarks to go with swapped.crv: its landmark 2 lies " },
    { { "template.vtk", "sphere.stl", "rawscan_template_landmarks.crv", "fitted.vtk" },
      "Cannot find the landmarks of scan sphere.stl: no clear plane of symmetry" },
  };
  for (const auto& [arguments, line] : refusals)
  {
    const ToolRun refused = RunTool("fittemplate", arguments, dir);
    EXPECT_EQ(refused.status, 255);
    EXPECT_EQ(Lines(refused.output).size(), 1u) << refused.output;
    EXPECT_EQ(refused.output.rfind(line, 0), 0u) << refused.output;
  }
  EXPECT_FALSE(std::filesystem::exists(dir + "/fitted.vtk"));
  EXPECT_TRUE(std::filesystem::exists(dir + "/found.vtk"));
}
