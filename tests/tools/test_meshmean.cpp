#include "testutil.h"

using namespace testutil;

namespace
{
// A marker line that only the diagnostic build prints.
std::string Marker(const char* marker)
{
#ifdef MESHMEAN_DIAGNOSTIC
  return std::string(marker) + "\n";
#else
  (void)marker;
  return "";
#endif
}

// Standard output of a completed run over the given entries.
std::string CompletedOutput(const std::vector<std::string>& entries, const std::string& extra = "")
{
  std::string text;
  for (size_t i = 0; i < entries.size(); ++i)
  {
    text += entries[i] + "\n";
    if (i == 0)
    {
      text += Marker("hej1") + Marker("hejhej2");
    }
  }
  text += std::to_string(entries.size()) + "\n" + Marker("hej3hej3") + Marker("hej4") + Marker("hej5") +
    Marker("hej6") + Marker("hej7") + extra + Marker("hej8");
  return text;
}

// A surface whose first point has the given coordinates, with one triangle.
void WriteFirstPoint(const std::string& path, const Point& first)
{
  WriteSurfaceFile(path, { first, { 1, 0, 0 }, { 0, 1, 0 } }, { { 0, 1, 2 } });
}

// The written average of three points and one triangle 0 1 2.
std::string TriangleFile(const std::string& points)
{
  return "# vtk DataFile Version 4.2\nvtk output\nASCII\nDATASET POLYDATA\nPOINTS 3 float\n" + points +
    " \n\nPOLYGONS 1 4\n3 0 1 2 \n\n";
}

const char* const kUsage =
  "Usage: meshmean listfile.txt average.vtk\n"
  "Performs: average all surfaces listed in the input text file, and output an average surface.\n"
  "Limitation: input surfaces must contain triangles only, and have same number of triangles.\n";
}

TEST(MeshMean, UsageUnlessExactlyTwoArguments)
{
  const std::string dir = ScratchDir();
  const std::vector<std::vector<std::string>> argumentLists = { {}, { "list.txt" }, { "list.txt", "out.vtk", "more" } };
  for (const auto& args : argumentLists)
  {
    const ToolRun run = RunTool("meshmean", args, dir);
    EXPECT_EQ(run.status, 255) << args.size();
    EXPECT_EQ(run.output, kUsage) << args.size();
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir));
}

TEST(MeshMean, MissingListFileEndsWithStatusOne)
{
  const std::string dir = ScratchDir();
  const ToolRun run = RunTool("meshmean", { "nolist.txt", "out.vtk" }, dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "Cannot open input file.\n");
  EXPECT_TRUE(std::filesystem::is_empty(dir));
}

TEST(MeshMean, SingleNameWithoutLineEndWritesTheFirstSurfaceUnchanged)
{
  const std::string dir = ScratchDir();
  WriteSurfaceFile(dir + "/a.vtk", { { 0.5, -2, 3 }, { 1e-7, 123456, 0.1 }, { 7, 8, 9 }, { 1, 1, 1 } },
    { { 0, 1, 2 }, { 1, 3, 2, 0 } });
  WriteText(dir + "/list.txt", "a.vtk");
  const ToolRun run = RunTool("meshmean", { "list.txt", "out.vtk" }, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, CompletedOutput({ "a.vtk" }));
  EXPECT_EQ(ReadText(dir + "/out.vtk"),
    "# vtk DataFile Version 4.2\nvtk output\nASCII\nDATASET POLYDATA\nPOINTS 4 float\n"
    "0.5 -2 3 1e-07 123456 0.1 7 8 9 \n1 1 1 \nPOLYGONS 2 9\n3 0 1 2 \n4 1 3 2 0 \n\n");
}

TEST(MeshMean, RunningMeanPerCoordinate)
{
  const std::string dir = ScratchDir();
  // x = 1 and 2 give 1.5; y and z show that each coordinate is averaged alone.
  WriteFirstPoint(dir + "/a.vtk", { 1, 10, -4 });
  WriteFirstPoint(dir + "/b.vtk", { 2, 20, 4 });
  WriteText(dir + "/two.txt", "a.vtk\nb.vtk");
  ToolRun run = RunTool("meshmean", { "two.txt", "two.vtk" }, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, CompletedOutput({ "a.vtk", "b.vtk" }));
  EXPECT_EQ(ReadText(dir + "/two.vtk"), TriangleFile("1.5 15 0 1 0 0 0 1 0"));

  // x = 0, 0 and 3: 0 after the second surface, then (2 * 0) / 3 + 3 / 3 = 1.
  WriteFirstPoint(dir + "/z.vtk", { 0, 0, 0 });
  WriteFirstPoint(dir + "/t.vtk", { 3, 0, 0 });
  WriteText(dir + "/three.txt", "z.vtk\nz.vtk\nt.vtk");
  run = RunTool("meshmean", { "three.txt", "three.vtk" }, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, CompletedOutput({ "z.vtk", "z.vtk", "t.vtk" }));
  EXPECT_EQ(ReadText(dir + "/three.vtk"), TriangleFile("1 0 0 1 0 0 0 1 0"));
}

TEST(MeshMean, AverageIsRoundedToFloatAfterEverySurface)
{
  const std::string dir = ScratchDir();
  // x: 0.1, 0.2, 3.3 leave the float 1.20000005 (the exact mean would round to
  // 1.19999993; both are written as 1.2). A fourth surface with x = 0.4001
  // shows which one was held: 1.00002503 (written 1.00003), where 1.19999993
  // would have led to 1.00002491 (written 1.00002).
  // y: 123.7, 165.71, 32, 191.328 give 128.184 with float storage between
  // surfaces and double arithmetic; the exact mean, float arithmetic or a
  // double running mean would all give 128.185.
  WriteFirstPoint(dir + "/a.vtk", { 0.1, 123.7, 0 });
  WriteFirstPoint(dir + "/b.vtk", { 0.2, 165.71, 0 });
  WriteFirstPoint(dir + "/c.vtk", { 3.3, 32, 0 });
  WriteFirstPoint(dir + "/d.vtk", { 0.4001, 191.328, 0 });
  WriteText(dir + "/three.txt", "a.vtk\nb.vtk\nc.vtk\n");
  ToolRun run = RunTool("meshmean", { "three.txt", "three.vtk" }, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, CompletedOutput({ "a.vtk", "b.vtk", "c.vtk" }));
  EXPECT_EQ(ReadText(dir + "/three.vtk"), TriangleFile("1.2 107.137 0 1 0 0 0 1 0"));

  WriteText(dir + "/four.txt", "a.vtk\nb.vtk\nc.vtk\nd.vtk\n");
  run = RunTool("meshmean", { "four.txt", "four.vtk" }, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, CompletedOutput({ "a.vtk", "b.vtk", "c.vtk", "d.vtk" }));
  EXPECT_EQ(ReadText(dir + "/four.vtk"), TriangleFile("1.00003 128.184 0 1 0 0 0 1 0"));
}

TEST(MeshMean, OutputKeepsTheTrianglesOfTheFirstSurface)
{
  const std::string dir = ScratchDir();
  const std::vector<Point> points = { { 0, 0, 0 }, { 2, 0, 0 }, { 0, 2, 0 }, { 2, 2, 0 } };
  WriteSurfaceFile(dir + "/a.vtk", points, { { 0, 1, 2 } });
  WriteSurfaceFile(dir + "/b.vtk", points, { { 3, 2, 1 }, { 0, 1, 3 } });
  WriteSurfaceFile(dir + "/c.vtk", { { 3, 0, 0 }, { 2, 0, 0 }, { 0, 2, 0 }, { 2, 2, 6 } }, { { 1, 0, 3 } });
  WriteText(dir + "/list.txt", "a.vtk\nb.vtk\nc.vtk\n");
  const ToolRun run = RunTool("meshmean", { "list.txt", "out.vtk" }, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, CompletedOutput({ "a.vtk", "b.vtk", "c.vtk" }));
  EXPECT_EQ(ReadText(dir + "/out.vtk"),
    "# vtk DataFile Version 4.2\nvtk output\nASCII\nDATASET POLYDATA\nPOINTS 4 float\n"
    "1 0 0 2 0 0 0 2 0 \n2 2 2 \nPOLYGONS 1 4\n3 0 1 2 \n\n");
}

TEST(MeshMean, NamesEndAtTheLineEndAndAreOtherwiseKeptWhole)
{
  const std::string dir = ScratchDir();
  // CR LF line ends; blanks belong to the name; a name longer than 254 characters.
  std::string longName;
  for (int i = 0; i < 3; ++i)
  {
    longName += std::string(120, char('p' + i)) + "/";
  }
  std::filesystem::create_directories(dir + "/" + longName);
  longName += "s.vtk";
  ASSERT_GT(longName.size(), 254u);
  WriteFirstPoint(dir + "/a.vtk", { 1, 0, 0 });
  WriteFirstPoint(dir + "/ b c.vtk ", { 2, 0, 0 });
  WriteFirstPoint(dir + "/" + longName, { 6, 0, 0 });
  WriteText(dir + "/list.txt", "a.vtk\r\n b c.vtk \r\n" + longName + "\r\n");
  const ToolRun run = RunTool("meshmean", { "list.txt", "out.vtk" }, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, CompletedOutput({ "a.vtk", " b c.vtk ", longName }));
  EXPECT_EQ(ReadText(dir + "/out.vtk"), TriangleFile("3 0 0 1 0 0 0 1 0"));
}

TEST(MeshMean, EmptyEntriesAreSkippedAndNotCounted)
{
  const std::string dir = ScratchDir();
  WriteFirstPoint(dir + "/a.vtk", { 1, 0, 0 });
  WriteFirstPoint(dir + "/b.vtk", { 2, 0, 0 });
  WriteText(dir + "/list.txt", "\n\r\na.vtk\n\n\r\nb.vtk\n\n");
  const ToolRun run = RunTool("meshmean", { "list.txt", "out.vtk" }, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, CompletedOutput({ "a.vtk", "b.vtk" }));
  EXPECT_EQ(ReadText(dir + "/out.vtk"), TriangleFile("1.5 0 0 1 0 0 0 1 0"));
}

TEST(MeshMean, RefusesBeforeTheOutputIsTouched)
{
  const std::string dir = ScratchDir();
  WriteFirstPoint(dir + "/a.vtk", { 1, 0, 0 });
  WriteFirstPoint(dir + "/b.vtk", { 2, 0, 0 });
  WriteSurfaceFile(dir + "/fewer.vtk", { { 0, 0, 0 }, { 1, 0, 0 } }, {});
  WriteSurfaceFile(dir + "/more.vtk", { { 0, 0, 0 }, { 1, 0, 0 }, { 0, 1, 0 }, { 1, 1, 0 } }, { { 0, 1, 2 } });
  WriteText(dir + "/broken.vtk", "not a surface\n");
  const std::string started = "a.vtk\n" + Marker("hej1") + Marker("hejhej2");
  struct Case
  {
    std::string list, output;
  };
  const std::vector<Case> cases = {
    { "missing.vtk\na.vtk\n", "missing.vtk\nCannot read surface missing.vtk\n" },
    { "a.vtk\nb.vtk\nmissing.vtk\nb.vtk\n", started + "b.vtk\nmissing.vtk\nCannot read surface missing.vtk\n" },
    { "a.vtk\nbroken.vtk\n", started + "broken.vtk\nCannot read surface broken.vtk\n" },
    { "a.vtk\nfewer.vtk\n", started + "fewer.vtk\nSurface fewer.vtk has 2 points, not 3 as the first surface\n" },
    { "a.vtk\nb.vtk\nmore.vtk",
      started + "b.vtk\nmore.vtk\nSurface more.vtk has 4 points, not 3 as the first surface\n" },
    { "", "No surface named in list file list.txt\n" },
    { "\r\n\n\n", "No surface named in list file list.txt\n" },
  };
  for (const Case& c : cases)
  {
    WriteText(dir + "/list.txt", c.list);
    WriteText(dir + "/out.vtk", "earlier average");
    const ToolRun run = RunTool("meshmean", { "list.txt", "out.vtk" }, dir);
    EXPECT_EQ(run.status, 255) << c.list;
    EXPECT_EQ(run.output, c.output) << c.list;
    EXPECT_EQ(ReadText(dir + "/out.vtk"), "earlier average") << c.list;
  }
}

TEST(MeshMean, OutputThatCannotBeWrittenIsReported)
{
  const std::string dir = ScratchDir();
  WriteFirstPoint(dir + "/a.vtk", { 1, 0, 0 });
  WriteText(dir + "/list.txt", "a.vtk\n");
  const ToolRun run = RunTool("meshmean", { "list.txt", "no/such/folder/out.vtk" }, dir);
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.output, CompletedOutput({ "a.vtk" }, "Cannot write surface no/such/folder/out.vtk\n"));
}
