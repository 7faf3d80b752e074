// Every tool on every hostile file of tests/hostile that fits its arguments
// (truncated, inconsistent, binary and empty files, NaN coordinates, bad
// masks, curves and lists), on a folder given as a file, on paths in a
// missing folder, and with each output path unwritable: each run must end
// with its defined message and status, never a crash or a hang, and leave
// no output behind where none may be created.
#include "testutil.h"

#include <functional>

using namespace testutil;

namespace
{
// A scratch folder holding the hostile files, a good surface (two triangles,
// a mirror pair), a good mask and curve, and an empty folder "folder". The
// tools run in it, so paths are as short as the test writes them.
std::string Arena()
{
  const std::string dir = ScratchDir();
  for (const auto& entry : std::filesystem::directory_iterator(HOSTILE_DIR))
  {
    std::filesystem::copy_file(entry.path(), dir + "/" + entry.path().filename().string());
  }
  WriteSurfaceFile(
    dir + "/good.vtk", { { 0, 0, 0 }, { 10, 0, 0 }, { 0, 10, 0 }, { 10, 10, 5 } }, { { 0, 1, 2 }, { 1, 3, 2 } });
  WriteText(dir + "/mask.clr", ColorFile("0 1", "rainbow", { "1", "1" }));
  WriteText(dir + "/curve.crv", "1 1 5\n1 1 -5\n");
  std::filesystem::create_directory(dir + "/folder");
  return dir;
}

struct Inputs
{
  std::string first = "good.vtk";
  std::string second = "good.vtk";
  std::string mask = "mask.clr";
  std::string curve = "curve.crv";
};

// A tool, the outputs of a run and the arguments that name them.
struct Tool
{
  std::string name;
  int status;       // exit status of a run that completes
  bool twoSurfaces; // reads Inputs::second too
  std::string flag; // the line that every run prints first
  std::vector<std::string> outputs;
  std::function<std::vector<std::string>(const Inputs&, const std::vector<std::string>&)> arguments;
};

const std::vector<Tool>& Tools()
{
  static const std::vector<Tool> tools = {
    { "celldist", 1, true, "", { "d.clr", "x.clr", "y.clr", "z.clr" },
      [](const Inputs& in, const std::vector<std::string>& o) {
        return std::vector<std::string>{ in.first, in.second, o[0], "5", "-5", o[1], o[2], o[3] };
      } },
    { "mirrorasym", 1, true, "", { "s.clr", "a.clr", "x.clr", "y.clr", "z.clr" },
      [](const Inputs& in, const std::vector<std::string>& o) {
        return std::vector<std::string>{ in.first, in.second, o[0], o[1], o[2], o[3], o[4], "-1", "1", "2" };
      } },
    { "scancompare", 0, true, "", { "sub.clr", "first.clr", "final.clr", "Range_values.txt" },
      [](const Inputs& in, const std::vector<std::string>& o) {
        return std::vector<std::string>{ in.first, in.second, in.mask, o[0], o[1], o[2], "y" };
      } },
    // The list file names the two surfaces.
    { "meshmean", 0, true, "", { "mean.vtk" },
      [](const Inputs&, const std::vector<std::string>& o) {
        return std::vector<std::string>{ "list.txt", o[0] };
      } },
    { "curvesnap", 0, false, "", { "snapped.crv" },
      [](const Inputs& in, const std::vector<std::string>& o) {
        return std::vector<std::string>{ in.first, in.curve, o[0] };
      } },
    { "lineintersect", 0, false, "", { "marks.log" },
      [](const Inputs& in, const std::vector<std::string>& o) {
        return std::vector<std::string>{ in.first, in.curve, o[0] };
      } },
    { "helmetdiff", 0, true, "y\n", { "x.clr", "y.clr", "z.clr", "r.clr", "scaled.vtk" },
      [](const Inputs& in, const std::vector<std::string>& o) {
        return std::vector<std::string>{ in.first, in.second, o[0], "-1", "1", o[1], "-1", "1", o[2], "-1", "1", o[3],
          "-1", "1", in.mask, o[4], "y" };
      } },
  };
  return tools;
}

// Runs the tool in the arena on the inputs, its outputs at the given paths
// (the tool's own names when empty; scancompare's report always goes to
// Range_values.txt), after removing what an earlier run left.
ToolRun RunOn(const std::string& dir, const Tool& tool, const Inputs& in, std::vector<std::string> outputs = {})
{
  if (outputs.empty())
  {
    outputs = tool.outputs;
  }
  for (const std::string& name : tool.outputs)
  {
    std::filesystem::remove(dir + "/" + name);
  }
  if (tool.name == "meshmean")
  {
    WriteText(dir + "/list.txt", in.first + "\n" + in.second + "\n");
  }
  return RunTool(tool.name, tool.arguments(in, outputs), dir);
}

void ExpectNoOutputs(const std::string& dir, const Tool& tool, const std::string& context)
{
  for (const std::string& name : tool.outputs)
  {
    EXPECT_FALSE(std::filesystem::exists(dir + "/" + name)) << context << ": " << name;
  }
}

// Unreadable surfaces and the line that refuses each ("%" stands for the
// path).
const std::vector<std::pair<std::string, std::string>> kUnreadableSurfaces = {
  { "truncated-points-ascii.vtk", "Cannot read surface %: a section holds less than its header declares" },
  { "truncated-points-binary.vtk", "Cannot read surface %: a section holds less than its header declares" },
  { "truncated-polygons-ascii.vtk", "Cannot read surface %: a cell section holds less than its header declares" },
  { "truncated-polygons-binary.vtk", "Cannot read surface %: a cell section holds less than its header declares" },
  { "missing-point.vtk", "Surface % has a cell that names a point that does not exist" },
  { "negative-point.vtk", "Surface % has a cell that names a point that does not exist" },
  { "cell-overrun.vtk", "Cannot read surface %: a cell section's point counts do not add up to its size" },
  { "nan-ascii.vtk", "Cannot read surface %: a section holds a value that cannot be read as a number of its type" },
  { "huge-declared.vtk", "Cannot read surface %: a section holds less than its header declares" },
  { "variant-points.vtk", "Cannot read surface %: a section names a data type that is not known" },
  { "random.bin", "Cannot read surface %" },
  { "empty", "Cannot read surface %" },
  { "folder", "Cannot read surface %: it is a folder" },
  { "missing/none.vtk", "Cannot read surface %" },
};

#ifdef MESHMEAN_DIAGNOSTIC
const std::string kFirstMarkers = "hej1\nhejhej2\n";
#else
const std::string kFirstMarkers;
#endif

std::string Named(std::string message, const std::string& path)
{
  return message.replace(message.find('%'), 1, path);
}
}

TEST(Hostile, EveryToolRefusesEveryUnreadableSurfaceInEachPlaceAndCreatesNothing)
{
  const std::string dir = Arena();
  for (const Tool& tool : Tools())
  {
    for (int place = 0; place < (tool.twoSurfaces ? 2 : 1); ++place)
    {
      for (const auto& [path, message] : kUnreadableSurfaces)
      {
        Inputs in;
        (place == 0 ? in.first : in.second) = path;
        const std::string context = tool.name + " with " + path + " as surface " + std::to_string(place + 1);
        const ToolRun run = RunOn(dir, tool, in);
        EXPECT_EQ(run.status, 255) << context;
        // meshmean prints each name of its list before reading it (the
        // diagnostic build marks the average made after the first).
        const std::string names = tool.name != "meshmean" ? ""
          : place == 0                                    ? path + "\n"
                                                          : "good.vtk\n" + kFirstMarkers + path + "\n";
        EXPECT_EQ(run.output, tool.flag + names + Named(message, path) + "\n") << context;
        ExpectNoOutputs(dir, tool, context);
      }
    }
  }
}

TEST(Hostile, NanAndInfiniteCoordinatesInABinaryFileAreReadAndEveryToolCompletes)
{
  // VTK reads NaN and infinite floats from a binary file as they are (the
  // text "nan" in an ASCII file it refuses): the results are not numbers,
  // and every tool still completes and writes every output.
  const std::string dir = Arena();
  Inputs in;
  in.first = in.second = "nan-binary.vtk";
  for (const Tool& tool : Tools())
  {
    const ToolRun run = RunOn(dir, tool, in);
    EXPECT_EQ(run.status, tool.status) << tool.name << ": " << run.output;
    for (const std::string& name : tool.outputs)
    {
      EXPECT_TRUE(std::filesystem::exists(dir + "/" + name)) << tool.name << ": " << name;
      if (name.size() > 4 && name.substr(name.size() - 4) == ".clr")
      {
        EXPECT_EQ(ReadLines(dir + "/" + name).size(), 5u) << tool.name << ": " << name;
      }
    }
    EXPECT_EQ(run.output.find("Cannot"), std::string::npos) << tool.name << ": " << run.output;
  }
  // The NaN cell's distance is no number; the whole cell reads so.
  EXPECT_EQ(ReadLines(dir + "/x.clr").back(), "nan");
  EXPECT_EQ(ReadLines(dir + "/snapped.crv").size(), 2u);
}

TEST(Hostile, BadMasksStopScancompareWithHeaderOnlyFilesAndHelmetdiffIgnoresThem)
{
  const std::string dir = Arena();
  const Tool& scancompare = Tools()[2];
  const Tool& helmetdiff = Tools()[6];
  const ToolRun reference = RunOn(dir, helmetdiff, Inputs{});
  ASSERT_EQ(reference.status, 0);
  const std::string referenceRadial = ReadText(dir + "/r.clr");
  const std::vector<std::pair<std::string, std::string>> masks = {
    { "mask-letters.clr", "Template mask % has no number on line 5\n" },
    { "mask-short.clr", "Template mask % has fewer value lines than the 2 cells of the scans\n" },
    { "random.bin", "Template mask % has no number on line 4\n" },
    { "empty", "Template mask % has fewer value lines than the 2 cells of the scans\n" },
    { "folder", "Unable to open file\n" },
    { "missing/none.clr", "Unable to open file\n" },
  };
  for (const auto& [path, message] : masks)
  {
    Inputs in;
    in.mask = path;
    const ToolRun run = RunOn(dir, scancompare, in);
    EXPECT_EQ(run.status, 255) << path;
    EXPECT_EQ(run.output, message.find('%') == std::string::npos ? message : Named(message, path)) << path;
    EXPECT_EQ(ReadText(dir + "/sub.clr"), ColorFile("-0.11 0.11", "rainbow_whitemid", {})) << path;
    EXPECT_EQ(ReadText(dir + "/first.clr"), ColorFile("-0.25 0.25", "rainbow_symmetric_whitemid", {})) << path;
    EXPECT_FALSE(std::filesystem::exists(dir + "/Range_values.txt")) << path;

    const ToolRun helmet = RunOn(dir, helmetdiff, in);
    EXPECT_EQ(helmet.status, 0) << path;
    EXPECT_EQ(helmet.output, reference.output) << path;
    EXPECT_EQ(ReadText(dir + "/r.clr"), referenceRadial) << path;
  }
}

TEST(Hostile, CurveFilesOfAnyBytesAreReadAndOnesThatCannotBeReadEndTheRunBeforeItsOutput)
{
  const std::string dir = Arena();
  for (int t : { 4, 5 })
  {
    const Tool& tool = Tools()[t];
    const bool snap = tool.name == "curvesnap";
    for (const std::string path : { "curve-long-line.crv", "random.bin", "empty", "mask-letters.clr" })
    {
      // Every line feed ends a point, and the rest after the last one is
      // one more.
      const std::string text = ReadText(dir + "/" + path);
      const long points = static_cast<long>(std::count(text.begin(), text.end(), '\n')) + 1;
      Inputs in;
      in.curve = path;
      const ToolRun run = RunOn(dir, tool, in);
      EXPECT_EQ(run.status, 0) << tool.name << " " << path;
      EXPECT_EQ(run.output, "npoints: " + std::to_string(snap ? points - 1 : points) + "\n")
        << tool.name << " " << path;
      EXPECT_EQ(static_cast<long>(ReadLines(dir + "/" + tool.outputs[0]).size()), snap ? points - 1 : points / 2)
        << tool.name << " " << path;
    }
    for (const std::string path : { "folder", "missing/none.crv" })
    {
      Inputs in;
      in.curve = path;
      const ToolRun run = RunOn(dir, tool, in);
      EXPECT_EQ(run.status, 1) << tool.name << " " << path;
      EXPECT_EQ(run.output, snap ? "Error opening file" : "Error opening file " + path + "\n") << tool.name;
      ExpectNoOutputs(dir, tool, tool.name + " " + path);
    }
  }
}

TEST(Hostile, ListFilesThatNameNoReadableSurfaceCreateNoAverage)
{
  const std::string dir = Arena();
  const std::vector<std::string> args = { "", "mean.vtk" };
  struct Case
  {
    std::string list;
    int status;
    std::string output; // "%" is the list file's path; empty: see below
  };
  const std::vector<Case> cases = {
    { "empty", 255, "No surface named in list file %\n" },
    { "folder", 255, "Cannot read list file %\n" },
    { "missing/none.txt", 1, "Cannot open input file.\n" },
    { "random.bin", 255, "" },
  };
  for (const Case& c : cases)
  {
    const ToolRun run = RunTool("meshmean", { c.list, "mean.vtk" }, dir);
    EXPECT_EQ(run.status, c.status) << c.list;
    if (!c.output.empty())
    {
      EXPECT_EQ(run.output, c.output.find('%') == std::string::npos ? c.output : Named(c.output, c.list)) << c.list;
    }
    else
    {
      // Its first line names a surface that does not exist.
      EXPECT_NE(run.output.find("\nCannot read surface "), std::string::npos) << run.output;
    }
    EXPECT_FALSE(std::filesystem::exists(dir + "/mean.vtk")) << c.list;
  }
}

TEST(Hostile, EachOutputInAMissingFolderOrOnAFolderIsNamedAndTheOthersAreWritten)
{
  const std::string dir = Arena();
  for (const Tool& tool : Tools())
  {
    const ToolRun reference = RunOn(dir, tool, Inputs{});
    ASSERT_EQ(reference.status, tool.status) << tool.name;
    std::vector<std::string> written;
    for (const std::string& name : tool.outputs)
    {
      written.push_back(ReadText(dir + "/" + name));
    }
    const size_t placed = tool.name == "scancompare" ? tool.outputs.size() - 1 : tool.outputs.size();
    for (size_t k = 0; k < placed; ++k)
    {
      for (const std::string bad : { "missing/out.txt", "folder" })
      {
        std::vector<std::string> outputs = tool.outputs;
        outputs[k] = bad;
        const std::string context = tool.name + " with output " + std::to_string(k + 1) + " at " + bad;
        const ToolRun run = RunOn(dir, tool, Inputs{}, outputs);
        EXPECT_EQ(run.status, 255) << context;
        const bool surface =
          bad.size() > 0 && tool.outputs[k].size() > 4 && tool.outputs[k].substr(tool.outputs[k].size() - 4) == ".vtk";
        const std::string line = (surface ? "Cannot write surface " : "Cannot create output file ") + bad + "\n";
        EXPECT_NE(run.output.find(line), std::string::npos) << context << ": " << run.output;
        for (size_t j = 0; j < tool.outputs.size(); ++j)
        {
          if (j != k)
          {
            EXPECT_EQ(ReadText(dir + "/" + tool.outputs[j]), written[j]) << context << ": " << tool.outputs[j];
          }
        }
        EXPECT_TRUE(std::filesystem::is_directory(dir + "/folder")) << context;
      }
    }
  }
  // scancompare's report cannot be appended to a folder of its name.
  const Tool& scancompare = Tools()[2];
  std::filesystem::remove(dir + "/Range_values.txt");
  std::filesystem::create_directory(dir + "/Range_values.txt");
  const ToolRun run = RunTool("scancompare", scancompare.arguments(Inputs{}, scancompare.outputs), dir);
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.output, "Cannot create output file Range_values.txt\n");
}

TEST(Hostile, HeadshapeRefusesUnreadableAndUnmeasurableSurfacesWithOneLine)
{
  const std::string dir = Arena();
  std::vector<std::pair<std::string, std::string>> cases = kUnreadableSurfaces;
  cases.push_back({ "nan-binary.vtk", "Cannot measure scan %: it has a point that is not a finite number" });
  cases.push_back({ "good.vtk", "Cannot measure scan %: it has nothing above the ear plane (no level plane cuts it)" });
  for (const auto& [path, message] : cases)
  {
    const ToolRun run = RunTool("headshape", { path }, dir);
    EXPECT_EQ(run.status, 255) << path;
    EXPECT_EQ(run.output, Named(message, path) + "\n");
  }
}

TEST(Hostile, ScanreportRefusesEveryUnreadableSurfaceInEachPlaceAndWritesNothing)
{
  const std::string dir = Arena();
  for (int place = 0; place < 3; ++place)
  {
    for (const auto& [path, message] : kUnreadableSurfaces)
    {
      std::vector<std::string> args = { "good.vtk", "good.vtk", "good.vtk", "mask.clr", "report.html" };
      args[place] = path;
      const ToolRun run = RunTool("scanreport", args, dir);
      EXPECT_EQ(run.status, 255) << path << " in place " << place;
      EXPECT_EQ(run.output, Named(message, path) + "\n") << path << " in place " << place;
      EXPECT_FALSE(std::filesystem::exists(dir + "/report.html"));
    }
  }
}

TEST(Hostile, FittemplateRefusesEveryUnreadableTemplateAndScanWithOneLineAndWritesNothing)
{
  const std::string dir = Arena();
  WriteText(dir + "/three.crv", "0 0 0\n10 0 0\n0 10 0\n");
  for (int place = 0; place < 2; ++place)
  {
    for (const auto& [path, message] : kUnreadableSurfaces)
    {
      std::vector<std::string> args = { "good.vtk", "good.vtk", "three.crv", "three.crv", "fitted.vtk" };
      args[place] = path;
      // A scan is read by its extension: a name without .vtk is no surface of a known format.
      const bool known = path.size() > 4 && path.compare(path.size() - 4, 4, ".vtk") == 0;
      const std::string expected = place == 1 && !known
        ? "Cannot read scan " + path + ": its name ends in none of .vtk, .vtp, .stl, .ply, .obj"
        : Named(message, path);
      const ToolRun run = RunTool("fittemplate", args, dir);
      EXPECT_EQ(run.status, 255) << path << " in place " << place;
      EXPECT_EQ(run.output, expected + "\n") << path << " in place " << place;
      EXPECT_FALSE(std::filesystem::exists(dir + "/fitted.vtk"));
    }
  }
}
