// The cells of a surface file read without VTK's reader, for the check that
// a scan lies on the template's mesh: every layout VTK's writers save (4.2
// and 5.1, ASCII and binary, and XML through VTK's reader) gives the cells
// VTK reads; two corners swapped in one cell, a point more, or the same ids
// cut into other cells are found, whatever the layouts compared.
#include "surfacefiles.h"
#include "surftools/meshcells.h"
#include "testsurfaces.h"
#include "testutil.h"

#include <vtkFieldData.h>
#include <vtkStringArray.h>
#include <vtkXMLPolyDataReader.h>

using namespace testutil;
using surfacefiles::Layout;

namespace
{
const Layout kLegacyLayouts[] = { Layout::Ascii42, Layout::Binary42, Layout::Ascii51, Layout::Binary51 };

// A strip of 300 points (ids above 255, so that binary ids take more than a
// byte) in triangles, with one quad among them.
vtkSmartPointer<vtkPolyData> Strip(vtkIdType swapCell = -1, bool quadFirst = false)
{
  std::vector<double> xyz;
  for (int i = 0; i < 300; ++i)
  {
    xyz.insert(xyz.end(), { static_cast<double>(i / 2), static_cast<double>(i % 2), 0.1 * (i % 7) });
  }
  vtkSmartPointer<vtkPolyData> surface;
  surface.TakeReference(testsurfaces::MakeSurface(xyz, {}));
  auto polys = vtkSmartPointer<vtkCellArray>::New();
  // The quad 0 1 3 2 and the triangle 2 3 4 or, with `quadFirst`, the same
  // ids as the triangle 0 1 3 and the quad 2 2 3 4.
  const vtkIdType quad[] = { 0, 1, 3, 2 }, triangle[] = { 2, 3, 4 }, shifted[] = { 0, 1, 3 }, rest[] = { 2, 2, 3, 4 };
  polys->InsertNextCell(quadFirst ? 3 : 4, quadFirst ? shifted : quad);
  polys->InsertNextCell(quadFirst ? 4 : 3, quadFirst ? rest : triangle);
  for (vtkIdType i = 3; i + 2 < 300; ++i)
  {
    vtkIdType ids[] = { i, i + 1, i + 2 };
    if (polys->GetNumberOfCells() == swapCell)
    {
      std::swap(ids[1], ids[2]);
    }
    polys->InsertNextCell(3, ids);
  }
  surface->SetPolys(polys);
  return surface;
}

MeshCells Read(const std::string& path)
{
  MeshCells cells;
  std::string problem;
  EXPECT_EQ(ReadLegacyCells(path.c_str(), cells, problem), LegacyCellsRead::Read) << path << ": " << problem;
  return cells;
}
}

TEST(MeshCells, EveryLayoutGivesTheCellsVtkReads)
{
  const std::string dir = ScratchDir();
  const vtkSmartPointer<vtkPolyData> strip = Strip();
  const MeshCells template42 = SurfaceCells(strip);
  ASSERT_EQ(template42.offsets.size(), 298u);
  for (const Layout layout : kLegacyLayouts)
  {
    const std::string path = dir + "/strip" + std::to_string(static_cast<int>(layout)) + ".vtk";
    ASSERT_TRUE(surfacefiles::Save(strip, path, layout));
    const MeshCells read = Read(path);
    EXPECT_EQ(read.points, 300);
    EXPECT_EQ(read.offsets, template42.offsets) << path;
    EXPECT_EQ(read.connectivity, template42.connectivity) << path;
    EXPECT_EQ(MeshDifference(read, template42), "") << path;
  }
  ASSERT_TRUE(surfacefiles::Save(strip, dir + "/strip.vtp", Layout::Xml));
  auto reader = vtkSmartPointer<vtkXMLPolyDataReader>::New();
  reader->SetFileName((dir + "/strip.vtp").c_str());
  reader->Update();
  EXPECT_EQ(MeshDifference(SurfaceCells(reader->GetOutput()), Read(dir + "/strip0.vtk")), "");
}

TEST(MeshCells, ADifferenceIsFoundAcrossLayouts)
{
  const std::string dir = ScratchDir();
  ASSERT_TRUE(surfacefiles::Save(Strip(), dir + "/template.vtk", Layout::Binary51));
  const MeshCells templ = Read(dir + "/template.vtk");
  const std::vector<std::pair<vtkSmartPointer<vtkPolyData>, std::string>> cases = {
    { Strip(200), "its cell 200 joins the points 201 203 202, the template's 201 202 203" },
    { Strip(-1, true), "its cell 0 joins the points 0 1 3, the template's 0 1 3 2" },
  };
  for (const auto& [surface, difference] : cases)
  {
    for (const Layout layout : kLegacyLayouts)
    {
      ASSERT_TRUE(surfacefiles::Save(surface, dir + "/scan.vtk", layout));
      EXPECT_EQ(MeshDifference(Read(dir + "/scan.vtk"), templ), difference) << static_cast<int>(layout);
    }
  }
  const vtkSmartPointer<vtkPolyData> more = Strip();
  more->GetPoints()->InsertNextPoint(0, 0, 1);
  ASSERT_TRUE(surfacefiles::Save(more, dir + "/more.vtk", Layout::Ascii42));
  EXPECT_EQ(MeshDifference(Read(dir + "/more.vtk"), templ), "it has 301 points, the template 300");
}

TEST(MeshCells, LeavesToVtkWhatTheCheckDoesNotReachAndRefusesWhatItRefuses)
{
  const std::string dir = ScratchDir();
  // A field of strings before the cells: the check stops there.
  const vtkSmartPointer<vtkPolyData> strip = Strip();
  auto names = vtkSmartPointer<vtkStringArray>::New();
  names->SetName("names");
  names->InsertNextValue("a b");
  strip->GetFieldData()->AddArray(names);
  ASSERT_TRUE(surfacefiles::Save(strip, dir + "/field.vtk", Layout::Ascii51));
  MeshCells cells;
  std::string problem;
  EXPECT_EQ(ReadLegacyCells((dir + "/field.vtk").c_str(), cells, problem), LegacyCellsRead::Unknown);
  ASSERT_TRUE(surfacefiles::Save(Strip(), dir + "/plain.vtk", Layout::Ascii51));
  const std::string text = ReadText(dir + "/plain.vtk");
  WriteText(dir + "/short.vtk", text.substr(0, text.rfind("CONNECTIVITY") + 40));
  EXPECT_EQ(ReadLegacyCells((dir + "/short.vtk").c_str(), cells, problem), LegacyCellsRead::Refused);
  EXPECT_EQ(problem, "a section holds less than its header declares");
}
