// Raw scan files: every format read as the same triangles, a trial read
// that tells a crash from a failure, and polygons and strips as triangles
// with their points' normals and areas.
#include "testutil.h"

#include "fit/scanfile.h"
#include "fit/surfacetriangles.h"
#include "fit/trialread.h"
#include "surftools/surface.h"

#include <vtkOBJWriter.h>
#include <vtkPLYWriter.h>
#include <vtkSTLWriter.h>
#include <vtkSmartPointer.h>
#include <vtkXMLPolyDataWriter.h>

#include <cstdlib>
#include <new>

using namespace testutil;

TEST(ScanFile, ATrialReadRunsApartAndTellsACrashFromAFailure)
{
  int touched = 0;
  EXPECT_EQ(TrialRead([&touched] {
    touched = 1;
    return true;
  }),
    Trial::Read);
  EXPECT_EQ(touched, 0); // the child's memory, not this process's
  EXPECT_EQ(TrialRead([] { return false; }), Trial::Failed);
  EXPECT_EQ(TrialRead([]() -> bool { std::abort(); }), Trial::Crashed);
  EXPECT_EQ(TrialRead([]() -> bool { throw std::bad_alloc(); }), Trial::Crashed);
  // A crash that a handler turns into an exit (AddressSanitizer's exits with 1).
  EXPECT_EQ(TrialRead([]() -> bool { _exit(1); }), Trial::Crashed);
  EXPECT_EQ(TrialRead([]() -> bool { _exit(0); }), Trial::Crashed);
}

TEST(ScanFile, EveryFormatReadsAsTheSameTriangles)
{
  const std::string dir = ScratchDir();
  WriteSurfaceFile(dir + "/scan.vtk", { { 0, 0, 0 }, { 10, 0, 0 }, { 0, 10, 0 }, { 10, 10, 2 }, { 20, 5, 1 } },
    { { 0, 1, 2 }, { 1, 3, 2 }, { 1, 4, 3 } });
  vtkSmartPointer<vtkPolyData> surface = ReadSurface((dir + "/scan.vtk").c_str());
  ASSERT_NE(surface, nullptr);
  auto write = [surface](auto writer, const std::string& path) {
    writer->SetInputData(surface);
    writer->SetFileName(path.c_str());
    writer->Write();
  };
  write(vtkSmartPointer<vtkSTLWriter>::New(), dir + "/scan.STL");
  // Binary, with a header that begins as ASCII files do (many exporters write so).
  auto binary = vtkSmartPointer<vtkSTLWriter>::New();
  binary->SetFileTypeToBinary();
  binary->SetHeader("solid scan");
  write(binary, dir + "/binary.stl");
  write(vtkSmartPointer<vtkPLYWriter>::New(), dir + "/scan.ply");
  write(vtkSmartPointer<vtkOBJWriter>::New(), dir + "/scan.obj");
  write(vtkSmartPointer<vtkXMLPolyDataWriter>::New(), dir + "/scan.vtp");
  TriangleSurface reference;
  ASSERT_TRUE(ReadScan((dir + "/scan.vtk").c_str(), reference));
  EXPECT_EQ(reference.TriangleCount(), 3u);
  for (const char* name : { "scan.STL", "binary.stl", "scan.ply", "scan.obj", "scan.vtp" })
  {
    TriangleSurface scan;
    ASSERT_TRUE(ReadScan((dir + "/" + name).c_str(), scan)) << name;
    ASSERT_EQ(scan.TriangleCount(), reference.TriangleCount()) << name;
    ASSERT_EQ(scan.PointCount(), reference.PointCount()) << name; // STL's repeated corners merged
    for (size_t t = 0; t < scan.triangles.size(); ++t)
    {
      for (int k = 0; k < 3; ++k)
      {
        EXPECT_NEAR(scan.points[3 * scan.triangles[t] + k], reference.points[3 * reference.triangles[t] + k], 1e-5)
          << name;
      }
    }
  }
}

TEST(ScanFile, PolygonsAndStripsBecomeTrianglesAndPointsShareTheArea)
{
  const std::string dir = ScratchDir();
  WriteText(dir + "/cells.vtk",
    "# vtk DataFile Version 4.2\nx\nASCII\nDATASET POLYDATA\nPOINTS 5 float\n0 0 0 1 0 0 1 1 0 0 1 0 0.5 2 0\n"
    "POLYGONS 1 6\n5 0 1 2 4 3\nTRIANGLE_STRIPS 1 5\n4 0 1 3 2\n");
  vtkSmartPointer<vtkPolyData> surface = ReadSurface((dir + "/cells.vtk").c_str());
  ASSERT_NE(surface, nullptr);
  const TriangleSurface triangles = SurfaceTriangles(surface);
  // The pentagon's fan from its first point, then the strip, every second triangle turned.
  EXPECT_EQ(triangles.triangles, (std::vector<int>{ 0, 1, 2, 0, 2, 4, 0, 4, 3, 0, 1, 3, 1, 2, 3 }));
  std::vector<double> normals;
  std::vector<double> areas;
  PointNormalsAndAreas(triangles, normals, areas);
  double total = 0;
  for (size_t i = 0; i < areas.size(); ++i)
  {
    total += areas[i];
    EXPECT_NEAR(normals[3 * i + 2], 1.0, 1e-12) << i; // every triangle faces +z
  }
  EXPECT_NEAR(total, 1.5 + 1.0, 1e-12); // the pentagon (1.5) and the strip's square (1)
}
