#include "testutil.h"

#include <vtkCellData.h>
#include <vtkFieldData.h>
#include <vtkFloatArray.h>
#include <vtkPolyData.h>
#include <vtkPolyDataReader.h>
#include <vtkSmartPointer.h>
#include <vtkStringArray.h>
#include <vtkXMLPolyDataReader.h>

#include <cmath>

using namespace testutil;

namespace
{
// Three triangles (an odd count) and one more mesh of two.
const std::vector<std::array<Point, 3>> kThree = {
  { Point{ 0, 0, 0 }, Point{ 1, 0, 0 }, Point{ 0, 1, 0 } },
  { Point{ 1, 0, 0 }, Point{ 1, 1, 0 }, Point{ 0, 1, 0 } },
  { Point{ 0, 0, 1 }, Point{ 1, 0, 1 }, Point{ 0, 1, 1 } },
};

std::vector<float> Values(vtkPolyData* surface, const char* name)
{
  std::vector<float> values;
  auto* array = vtkFloatArray::SafeDownCast(surface->GetCellData()->GetAbstractArray(name));
  if (array)
  {
    for (vtkIdType i = 0; i < array->GetNumberOfTuples(); ++i)
    {
      values.push_back(array->GetValue(i));
    }
  }
  return values;
}

std::vector<std::string> Texts(vtkPolyData* surface, const char* name)
{
  std::vector<std::string> texts;
  auto* array = vtkStringArray::SafeDownCast(surface->GetFieldData()->GetAbstractArray(name));
  if (array)
  {
    for (vtkIdType i = 0; i < array->GetNumberOfValues(); ++i)
    {
      texts.push_back(array->GetValue(i));
    }
  }
  return texts;
}

// Checks a surface written from kThree with dist.clr (one value per cell) and
// sub/pairs.clr (two values: the last cell gets none).
void ExpectColoredThree(vtkPolyData* surface)
{
  ASSERT_NE(surface, nullptr);
  EXPECT_EQ(surface->GetNumberOfPoints(), 9);
  EXPECT_EQ(surface->GetNumberOfPolys(), 3);
  ASSERT_EQ(surface->GetCellData()->GetNumberOfArrays(), 2);
  EXPECT_STREQ(surface->GetCellData()->GetArrayName(0), "dist");
  EXPECT_STREQ(surface->GetCellData()->GetArrayName(1), "pairs");
  EXPECT_STREQ(surface->GetCellData()->GetScalars()->GetName(), "dist");
  EXPECT_EQ(Values(surface, "dist"), (std::vector<float>{ -1.5f, 0.000123f, 2.5e6f }));
  const std::vector<float> pairs = Values(surface, "pairs");
  ASSERT_EQ(pairs.size(), 3u);
  EXPECT_EQ(pairs[0], 0.25f);
  EXPECT_EQ(pairs[1], -0.25f);
  EXPECT_TRUE(std::isnan(pairs[2]));
  EXPECT_EQ(Texts(surface, "dist_range"), (std::vector<std::string>{ "5.000", "-5" }));
  EXPECT_EQ(Texts(surface, "dist_colormap"), (std::vector<std::string>{ "rainbow" }));
  EXPECT_EQ(Texts(surface, "pairs_range"), (std::vector<std::string>{ "-0.25", "0.25" }));
  EXPECT_EQ(Texts(surface, "pairs_colormap"), (std::vector<std::string>{ "rainbow_symmetric_whitemid" }));
}

std::string ColoredThree()
{
  const std::string dir = ScratchDir();
  WriteTriangles(dir + "/mesh.vtk", kThree);
  WriteText(dir + "/dist.clr", ColorFile("5.000 -5", "rainbow", { "-1.5", "0.000123", "2.5e+06" }));
  std::filesystem::create_directory(dir + "/sub");
  WriteText(dir + "/sub/pairs.clr", ColorFile("-0.25 0.25", "rainbow_symmetric_whitemid", { "0.25", "-0.25" }));
  return dir;
}
}

TEST(ColorSurface, UsageOnFewerThanThreeArguments)
{
  const std::string dir = ScratchDir();
  const ToolRun run = RunTool("colorsurface", { "mesh.vtk", "out.vtp" }, dir);
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.output,
    "Usage: surface.vtk output.vtp|output.vtk values.clr [more.clr ...]\n"
    "Inputs: surface.vtk, color (.clr) files with one value per cell of it\n"
    "Output: output.vtp (VTK XML) or output.vtk (legacy VTK): the surface with one cell\n"
    "        array per color file, named after the file, and its range and color map\n"
    "Performs: attaches the values of every color file to the cells of the surface.\n");
  EXPECT_TRUE(std::filesystem::is_empty(dir));
}

TEST(ColorSurface, XmlFileHoldsOneNamedCellArrayPerColorFileWithRangeAndKeyword)
{
  const std::string dir = ColoredThree();
  const ToolRun run = RunTool("colorsurface", { "mesh.vtk", "colored.VTP", "dist.clr", "sub/pairs.clr" }, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "");
  auto reader = vtkSmartPointer<vtkXMLPolyDataReader>::New();
  reader->SetFileName((dir + "/colored.VTP").c_str());
  reader->Update();
  ExpectColoredThree(reader->GetOutput());
}

TEST(ColorSurface, LegacyFileIsTextUnlessAValueIsNotFinite)
{
  const std::string dir = ColoredThree();
  // With the NaN of the last cell: binary, which VTK's legacy reader reads back.
  ToolRun run = RunTool("colorsurface", { "mesh.vtk", "colored.vtk", "dist.clr", "sub/pairs.clr" }, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(ReadLines(dir + "/colored.vtk").at(2), "BINARY");
  auto reader = vtkSmartPointer<vtkPolyDataReader>::New();
  reader->SetFileName((dir + "/colored.vtk").c_str());
  reader->Update();
  ExpectColoredThree(reader->GetOutput());

  // Finite values only: the text layout of version 4.2, as every surface the tools write.
  run = RunTool("colorsurface", { "mesh.vtk", "text.vtk", "dist.clr" }, dir);
  EXPECT_EQ(run.status, 0);
  const std::vector<std::string> lines = ReadLines(dir + "/text.vtk");
  EXPECT_EQ(lines.at(0), "# vtk DataFile Version 4.2");
  EXPECT_EQ(lines.at(2), "ASCII");
  reader->SetFileName((dir + "/text.vtk").c_str());
  reader->Update();
  vtkPolyData* surface = reader->GetOutput();
  EXPECT_EQ(Values(surface, "dist"), (std::vector<float>{ -1.5f, 0.000123f, 2.5e6f }));
  EXPECT_EQ(Texts(surface, "dist_range"), (std::vector<std::string>{ "5.000", "-5" }));
  EXPECT_EQ(surface->GetCellData()->GetNumberOfArrays(), 1);
}

TEST(ColorSurface, InputAttributesStayBehind)
{
  const std::string dir = ColoredThree();
  ASSERT_EQ(RunTool("colorsurface", { "mesh.vtk", "once.vtk", "dist.clr" }, dir).status, 0);
  // Coloring a colored surface again gives only the new arrays.
  WriteText(dir + "/other.clr", ColorFile("0 1", "rainbow", { "7", "8", "9" }));
  ASSERT_EQ(RunTool("colorsurface", { "once.vtk", "twice.vtp", "other.clr" }, dir).status, 0);
  auto reader = vtkSmartPointer<vtkXMLPolyDataReader>::New();
  reader->SetFileName((dir + "/twice.vtp").c_str());
  reader->Update();
  vtkPolyData* surface = reader->GetOutput();
  EXPECT_EQ(surface->GetCellData()->GetNumberOfArrays(), 1);
  EXPECT_EQ(surface->GetFieldData()->GetNumberOfArrays(), 2);
  EXPECT_EQ(Values(surface, "other"), (std::vector<float>{ 7, 8, 9 }));
}

TEST(ColorSurface, RefusesBadInputsWithOneLineAndNoOutput)
{
  const std::string dir = ColoredThree();
  WriteTriangles(dir + "/four.vtk", { kThree[0], kThree[1], kThree[2], kThree[0] });
  WriteText(dir + "/short.clr", ColorFile("0 1", "rainbow", { "1" }));
  WriteText(dir + "/long.clr", ColorFile("0 1", "rainbow", { "1", "2", "3", "4" }));
  WriteText(dir + "/word.clr", ColorFile("0 1", "rainbow", { "1", "two", "3" }));
  WriteText(dir + "/a&b.clr", ColorFile("0 1", "rainbow", { "1", "2", "3" }));
  std::filesystem::create_directory(dir + "/other");
  WriteText(dir + "/other/dist.clr", ColorFile("0 1", "rainbow", { "1", "2", "3" }));
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
    { { "mesh.vtk", "out.ply", "dist.clr" }, "Output file out.ply must end in .vtp (VTK XML) or .vtk (legacy VTK)\n" },
    { { "mesh.vtk", "vtp", "dist.clr" }, "Output file vtp must end in .vtp (VTK XML) or .vtk (legacy VTK)\n" },
    { { "none.vtk", "out.vtp", "dist.clr" }, "Cannot read surface none.vtk\n" },
    { { "four.vtk", "out.vtp", "sub/pairs.clr" },
      "Color file sub/pairs.clr has 2 value lines, which do not fit the 4 cells of surface four.vtk\n" },
    { { "mesh.vtk", "out.vtp", "dist.clr", "short.clr" },
      "Color file short.clr has 1 value line, which does not fit the 3 cells of surface mesh.vtk\n" },
    { { "mesh.vtk", "out.vtk", "long.clr" },
      "Color file long.clr has 4 value lines, which do not fit the 3 cells of surface mesh.vtk\n" },
    { { "mesh.vtk", "out.vtp", "word.clr" }, "Color file word.clr has no number on line 5\n" },
    { { "mesh.vtk", "out.vtp", "none.clr" }, "Color file none.clr cannot be opened\n" },
    { { "mesh.vtk", "out.vtp", "mesh.vtk" },
      "Color file mesh.vtk is not a scalar color file: line 1 is not its header\n" },
    { { "mesh.vtk", "out.vtp", "a&b.clr" },
      "Color file a&b.clr gives the array name a&b, which a .vtp file cannot hold (it has a \", < or & or a control character)\n" },
    { { "mesh.vtk", "out.vtp", "dist.clr", "other/dist.clr" },
      "Color files dist.clr and other/dist.clr would give two arrays named dist\n" },
  };
  for (const auto& [args, message] : cases)
  {
    const ToolRun run = RunTool("colorsurface", args, dir);
    EXPECT_EQ(run.status, 255) << message;
    EXPECT_EQ(run.output, message);
    EXPECT_FALSE(std::filesystem::exists(dir + "/" + args[1])) << message;
  }
  // The legacy layout holds any name.
  EXPECT_EQ(RunTool("colorsurface", { "mesh.vtk", "out.vtk", "a&b.clr" }, dir).status, 0);
  auto reader = vtkSmartPointer<vtkPolyDataReader>::New();
  reader->SetFileName((dir + "/out.vtk").c_str());
  reader->Update();
  EXPECT_EQ(Values(reader->GetOutput(), "a&b"), (std::vector<float>{ 1, 2, 3 }));

  const ToolRun run = RunTool("colorsurface", { "mesh.vtk", "missing/out.vtp", "dist.clr" }, dir);
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.output, "Cannot create output file missing/out.vtp\n");
}
