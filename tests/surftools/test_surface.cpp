#include "surftools/surface.h"
#include "testutil.h"

#include <vtkCellArray.h>
#include <vtkPointData.h>
#include <vtkPolyDataWriter.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <tuple>

using namespace testutil;

TEST(Surface, CentroidSumsFromTheThirdCornerAndMultipliesByOneThird)
{
  const double corners[3][3] = { { 1, 0, 0 }, { 2, 3, 0 }, { 4, 0, 0 } };
  double centroid[3];
  CellCentroid(corners, centroid);
  EXPECT_EQ(centroid[0], 2.333333333333333); // a division by 3 gives 2.3333333333333335
  EXPECT_EQ(centroid[1], 1.0);
  float single[3];
  CellCentroid(corners, single);
  EXPECT_EQ(single[0], 2.3333333f);

  // The sum order shows: (0.1 + 0.2) + 0.3 and (0.3 + 0.2) + 0.1 differ in the last bit.
  const double order[3][3] = { { 0.3, 0, 0 }, { 0.2, 0, 0 }, { 0.1, 0, 0 } };
  CellCentroid(order, centroid);
  EXPECT_EQ(centroid[0], ((0.1 + 0.2) + 0.3) * 0.3333333333333333);
  EXPECT_NE(centroid[0], ((0.3 + 0.2) + 0.1) * 0.3333333333333333);
}

TEST(Surface, SideTestAgreesWithTheAngleEverywhere)
{
  // Around the threshold's cosine (2.68e-8), at the ends of [-1, 1], and
  // beyond them: the test gives what acos(cosine) > 1.5707963 gives.
  std::vector<double> cosines = { -1.0, 1.0, -0.0, 0.0, -1.0000000000000002, 1.0000000000000002, 2.0, -2.0,
    std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), 1e-8, 1e-7, 0.5, -0.5 };
  for (double c = 2.0e-8; c < 3.5e-8; c += 1.0e-11)
  {
    cosines.push_back(c);
  }
  for (double step = 1e-9; step < 1.0; step *= 1.7)
  {
    cosines.push_back(step);
    cosines.push_back(-step);
  }
  int beyond = 0;
  for (double c : cosines)
  {
    EXPECT_EQ(BeyondRightAngle(c), std::acos(c) > 1.5707963) << c;
    beyond += BeyondRightAngle(c);
  }
  EXPECT_GT(beyond, 100);
}

TEST(Surface, ReadsCornersOfFirstThreeIdsOfEveryCell)
{
  const std::string dir = ScratchDir();
  const std::string path = dir + "/quad.vtk";
  WriteSurfaceFile(path, { { 0, 0, 0 }, { 3, 0, 0 }, { 3, 3, 0 }, { 0, 3, 0 } }, { { 0, 1, 3, 2 }, { 2, 3, 1 } });
  vtkSmartPointer<vtkPolyData> surface = ReadSurface(path.c_str());
  ASSERT_NE(surface, nullptr);
  double corners[3][3];
  CellCorners(surface, 0, corners);
  EXPECT_EQ(corners[2][0], 0.0);
  EXPECT_EQ(corners[2][1], 3.0);
  float centroid[3];
  CellCentroid(surface, 0, centroid);
  EXPECT_EQ(centroid[0], 1.0f);
  EXPECT_EQ(centroid[1], 1.0f);
  CellCentroid(surface, 1, centroid);
  EXPECT_EQ(centroid[0], 2.0f);
  EXPECT_EQ(centroid[1], 2.0f);
}

TEST(Surface, RefusesUnreadableAndBrokenFilesWithOneLine)
{
  const std::string dir = ScratchDir();
  struct Case
  {
    std::string name, content, message;
  };
  const std::string head =
    "# vtk DataFile Version 4.2\nx\nASCII\nDATASET POLYDATA\nPOINTS 3 float\n0 0 0 1 0 0 0 1 0\n";
  const std::vector<Case> cases = {
    { "missing.vtk", "", "Cannot read surface " },
    { "empty.vtk", "", "Cannot read surface " },
    { "garbage.vtk", "hello\nworld\n", "Cannot read surface " },
    { "grid.vtk",
      "# vtk DataFile Version 4.2\nx\nASCII\nDATASET STRUCTURED_POINTS\nDIMENSIONS 2 2 1\nSPACING 1 1 1\nORIGIN 0 0 0\n",
      "Cannot read surface " },
    { "shortpoints.vtk", "# vtk DataFile Version 4.2\nx\nASCII\nDATASET POLYDATA\nPOINTS 3 float\n0 0 0 1 0\n",
      "Cannot read surface " },
    { "shortpolys.vtk", head + "POLYGONS 2 8\n3 0 1 2\n", "a cell section holds less than its header declares" },
    { "wordinpolys.vtk", head + "POLYGONS 1 4\n3 0 1 x\n", "a cell section holds less than its header declares" },
    { "shortlines.vtk", head + "LINES 1 4\n3 0 1\n", "a cell section holds less than its header declares" },
    { "shortbinary.vtk",
      std::string("# vtk DataFile Version 4.2\nx\nBINARY\nDATASET POLYDATA\nPOINTS 3 float\n") + std::string(36, '\0') +
        "\nPOLYGONS 1 4\n" + std::string("\0\0\0\3\0\0\0\0", 8),
      "a cell section holds less than its header declares" },
    { "offsets.vtk",
      "# vtk DataFile Version 5.1\nx\nASCII\nDATASET POLYDATA\nPOINTS 3 float\n0 0 0 1 0 0 0 1 0\n"
      "POLYGONS 2 3\nOFFSETS vtktypeint64\n0 5\nCONNECTIVITY vtktypeint64\n0 1 2\n",
      "has a cell list whose offsets do not fit its point ids" },
    { "twoids.vtk", head + "POLYGONS 1 3\n2 0 1\n", "has a cell with fewer than three points" },
    { "badid.vtk", head + "POLYGONS 1 4\n3 0 1 7\n", "has a cell that names a point that does not exist" },
    { "negid.vtk", head + "POLYGONS 1 4\n3 0 -1 2\n", "has a cell that names a point that does not exist" },
    { "vertex.vtk", head + "VERTICES 1 2\n1 0\nPOLYGONS 1 4\n3 0 1 2\n", "has a cell with fewer than three points" },
  };
  for (const Case& c : cases)
  {
    const std::string path = dir + "/" + c.name;
    if (c.name != "missing.vtk")
    {
      WriteText(path, c.content);
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(ReadSurface(path.c_str()), nullptr) << c.name;
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find(c.message), std::string::npos) << c.name << ": " << out;
    EXPECT_NE(out.find(path), std::string::npos) << c.name;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << c.name;
  }
  // A folder given as a surface file.
  std::filesystem::create_directories(dir + "/folder.vtk");
  testing::internal::CaptureStdout();
  EXPECT_EQ(ReadSurface((dir + "/folder.vtk").c_str()), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cannot read surface " + dir + "/folder.vtk: it is a folder\n");

  // A complete binary file passes the check of its sections.
  WriteText(dir + "/binary.vtk",
    std::string("# vtk DataFile Version 4.2\nx\nBINARY\nDATASET POLYDATA\nPOINTS 3 float\n") + std::string(36, '\0') +
      "\nPOLYGONS 1 4\n" + std::string("\0\0\0\3\0\0\0\0\0\0\0\1\0\0\0\2\n", 17));
  testing::internal::CaptureStdout();
  EXPECT_NE(ReadSurface((dir + "/binary.vtk").c_str()), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  // Points without cells are a readable surface.
  WriteText(dir + "/nocells.vtk", head);
  vtkSmartPointer<vtkPolyData> surface = ReadSurface((dir + "/nocells.vtk").c_str());
  ASSERT_NE(surface, nullptr);
  EXPECT_EQ(surface->GetNumberOfCells(), 0);
}

TEST(Surface, BuiltSurfaceKeepsItsTrianglesAcrossARereadAndIsWrittenIn42Layout)
{
  const std::string dir = ScratchDir();
  WriteSurfaceFile(dir + "/a.vtk", { { 0, 0, 0 }, { 1, 0, 0 }, { 0, 1, 0 }, { 1, 1, 0 } }, { { 0, 1, 2 } });
  WriteSurfaceFile(
    dir + "/b.vtk", { { 5, 5, 5 }, { 6, 5, 5 }, { 5, 6, 5 }, { 6, 6, 5 } }, { { 1, 3, 2 }, { 0, 1, 2 } });
  vtkPolyDataReader* reader = vtkPolyDataReader::New();
  ASSERT_TRUE(ReadSurfaceWith(reader, (dir + "/a.vtk").c_str()));
  vtkPoints* points = vtkPoints::New();
  points->SetNumberOfPoints(4);
  for (vtkIdType i = 0; i < 4; ++i)
  {
    points->SetPoint(i, 0.5 * i, 0.25, -1.5);
  }
  vtkSmartPointer<vtkPolyData> built = BuildSurface(points, reader->GetOutput());
  ASSERT_TRUE(ReadSurfaceWith(reader, (dir + "/b.vtk").c_str()));
  ASSERT_TRUE(WriteSurface(built, (dir + "/out.vtk").c_str()));
  EXPECT_EQ(ReadText(dir + "/out.vtk"),
    "# vtk DataFile Version 4.2\nvtk output\nASCII\nDATASET POLYDATA\nPOINTS 4 float\n"
    "0 0.25 -1.5 0.5 0.25 -1.5 1 0.25 -1.5 \n1.5 0.25 -1.5 \nPOLYGONS 1 4\n3 0 1 2 \n\n");
  vtkSmartPointer<vtkPolyData> back = ReadSurface((dir + "/out.vtk").c_str());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->GetNumberOfCells(), 1);
  EXPECT_EQ(back->GetPointData()->GetNumberOfArrays(), 0);

  testing::internal::CaptureStdout();
  EXPECT_FALSE(WriteSurface(built, (dir + "/no/such/folder/out.vtk").c_str()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cannot write surface " + dir + "/no/such/folder/out.vtk\n");
}

namespace
{
std::vector<SurfaceStep> reportedSteps;
void RecordStep(SurfaceStep step)
{
  reportedSteps.push_back(step);
}
}

TEST(Surface, StepHookFollowsBuildingAndWritingInOrder)
{
  const std::string dir = ScratchDir();
  WriteSurfaceFile(dir + "/a.vtk", { { 0, 0, 0 }, { 1, 0, 0 }, { 0, 1, 0 } }, { { 0, 1, 2 } });
  vtkSmartPointer<vtkPolyData> source = ReadSurface((dir + "/a.vtk").c_str());
  ASSERT_NE(source, nullptr);
  reportedSteps.clear();
  vtkSmartPointer<vtkPolyData> built = BuildSurface(source->GetPoints(), source, RecordStep);
  EXPECT_EQ(reportedSteps, (std::vector<SurfaceStep>{ SurfaceStep::SurfaceMade, SurfaceStep::PointsAttached }));
  reportedSteps.clear();
  testing::internal::CaptureStdout();
  EXPECT_FALSE(WriteSurface(built, (dir + "/no/folder/out.vtk").c_str(), RecordStep));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(reportedSteps,
    (std::vector<SurfaceStep>{
      SurfaceStep::WriterMade, SurfaceStep::InputSet, SurfaceStep::FileNameSet, SurfaceStep::Written }));
  EXPECT_TRUE(WriteSurface(built, (dir + "/out.vtk").c_str()));
  EXPECT_EQ(reportedSteps.size(), 4u);
}
