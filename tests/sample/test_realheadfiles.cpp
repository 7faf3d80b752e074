// The readers of the real heads' files (sample/realheads.h) on small files
// written here: what they read, and the malformed files they refuse, each
// with its reason.
#include "realheads.h"

#include "testutil.h"

#include <array>
#include <cstring>
#include <type_traits>

namespace
{
// A FIF file built tag by tag, big-endian.
struct FifFile
{
  std::string bytes;
  void Int(int32_t value)
  {
    for (int shift = 24; shift >= 0; shift -= 8)
    {
      bytes += static_cast<char>((static_cast<uint32_t>(value) >> shift) & 0xff);
    }
  }
  void Float(float value)
  {
    int32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    Int(bits);
  }
  void Header(int32_t kind, int32_t type, int32_t size, int32_t next = 0)
  {
    Int(kind);
    Int(type);
    Int(size);
    Int(next);
  }
  // A matrix tag of rows of three values, its dimensions after them.
  template <class Value>
  void Matrix(int32_t kind, int32_t type, const std::vector<Value>& values, int32_t declaredRows = -1)
  {
    Header(kind, type, static_cast<int32_t>(4 * values.size() + 12));
    for (Value v : values)
    {
      if constexpr (std::is_same_v<Value, float>)
      {
        Float(v);
      }
      else
      {
        Int(v);
      }
    }
    Int(3);
    Int(declaredRows >= 0 ? declaredRows : static_cast<int32_t>(values.size() / 3));
    Int(2);
  }
  void DigPoint(int32_t ident, float x, float y, float z)
  {
    Header(213, 33, 20);
    Int(1);
    Int(ident);
    Float(x);
    Float(y);
    Float(z);
  }
};

constexpr int32_t kFloatMatrix = 0x40000004;
constexpr int32_t kIntMatrix = 0x40000003;
const std::vector<float> kNodes = { 0, 0, 0, 0.1f, 0, 0, 0, 0.1f, 0, 0, 0, 0.1f }; // metres

// A file id, then a tetrahedron's nodes and triangles (by default facing outward).
std::string Tetrahedron(const std::vector<int32_t>& triangles = { 1, 3, 2, 1, 2, 4, 1, 4, 3, 2, 3, 4 })
{
  FifFile file;
  file.Header(100, 31, 0); // a file id without data
  file.Matrix(3105, kFloatMatrix, kNodes);
  file.Matrix(3106, kIntMatrix, triangles);
  return file.bytes;
}

// The reason `read` refuses `bytes` written to a file `name` (empty when it
// reads them), without the path that it begins with.
std::string ReadProblem(
  const char* name, const std::string& bytes, vtkSmartPointer<vtkPolyData> (*read)(const std::string&, std::string&))
{
  const std::string path = testutil::ScratchDir() + "/" + name;
  testutil::WriteText(path, bytes);
  std::string problem;
  const bool readIt = read(path, problem) != nullptr;
  EXPECT_NE(readIt, !problem.empty() && problem.find(path) == 0) << problem;
  return readIt ? "" : problem.substr(path.size() + 2);
}

std::string FifProblem(const std::string& bytes)
{
  return ReadProblem("surface.fif", bytes, ReadFifSurface);
}

std::string OffProblem(const std::string& text)
{
  return ReadProblem("surface.off", text, ReadOffSurface);
}
}

TEST(RealHeadFiles, OffPolygonsBecomeFans)
{
  const std::string path = testutil::ScratchDir() + "/square.off";
  testutil::WriteText(path,
    "OFF\n# a square and a triangle\n5 2 0\n0 0 0\n1 0 0\n1 1 0\n0 1 0 0.5 0.5 0.5\n"
    "2 2 1\n4 0 1 2 3\n3 2 4 3 255 0 0\n");
  std::string problem;
  const vtkSmartPointer<vtkPolyData> surface = ReadOffSurface(path, problem);
  ASSERT_TRUE(surface) << problem;
  ASSERT_EQ(surface->GetNumberOfCells(), 3);
  const vtkIdType expected[3][3] = { { 0, 1, 2 }, { 0, 2, 3 }, { 2, 4, 3 } };
  for (vtkIdType c = 0; c < 3; ++c)
  {
    for (vtkIdType k = 0; k < 3; ++k)
    {
      EXPECT_EQ(surface->GetCell(c)->GetPointId(k), expected[c][k]);
    }
  }
}

TEST(RealHeadFiles, MalformedOffIsRefusedWithItsReason)
{
  const std::string points = "0 0 0\n1 0 0\n0 1 0\n";
  EXPECT_EQ(OffProblem("OFF 3 1 0\n" + points + "3 0 1 2\n"), "");
  EXPECT_EQ(OffProblem("3 1 0\n" + points + "3 0 1 2\n"), "not an OFF file (no header with counts)");
  EXPECT_EQ(OffProblem("OFF\n3 1 0\n0 0 0\n1 0 0\n"), "declares more than it holds");
  EXPECT_EQ(OffProblem("OFF\n3 1 0\n0 0 0\n1 0 0\n# the last point and the face are missing\n"),
    "ends after 2 of its 3 points");
  EXPECT_EQ(OffProblem("OFF\n3 2 0\n" + points + "3 0 1 2\n\n\n\n\n\n\n\n"), "ends after 1 of its 2 faces");
  EXPECT_EQ(OffProblem("OFF\n3 1 0\n0 0 0\n1 nan 0\n0 1 0\n3 0 1 2\n"), "point 1 is not three finite numbers");
  EXPECT_EQ(OffProblem("OFF\n3 1 0\n" + points + "3 0 1 3\n"), "face 0 names a point that does not exist");
  EXPECT_EQ(OffProblem("OFF\n3 1 0\n" + points + "3 0 1\n"), "face 0 names a point that does not exist");
  EXPECT_EQ(OffProblem("OFF\n3 1 0\n" + points + "2 0 1\n"), "face 0 does not have 3 to 3 corners");
  EXPECT_EQ(OffProblem("OFF\n3 1 0\n" + points + "2000000000 0 1 2\n"), "face 0 does not have 3 to 3 corners");
  EXPECT_EQ(OffProblem("OFF\n3000000000 1 0\n"), "declares more than it holds");
}

TEST(RealHeadFiles, FifSurfaceInMillimetresFromNodeOne)
{
  const std::string path = testutil::ScratchDir() + "/surface.fif";
  testutil::WriteText(path, Tetrahedron());
  std::string problem;
  const vtkSmartPointer<vtkPolyData> surface = ReadFifSurface(path, problem);
  ASSERT_TRUE(surface) << problem;
  ASSERT_EQ(surface->GetNumberOfPoints(), 4);
  ASSERT_EQ(surface->GetNumberOfCells(), 4);
  double p[3];
  surface->GetPoint(3, p);
  EXPECT_NEAR(p[2], 100, 1e-5);
  EXPECT_EQ(surface->GetCell(0)->GetPointId(1), 2);
}

TEST(RealHeadFiles, MalformedFifIsRefusedWithItsReason)
{
  const std::string good = Tetrahedron();
  EXPECT_EQ(FifProblem(good), "");
  EXPECT_EQ(FifProblem(good.substr(0, good.size() - 4)), "the tag at byte 92 runs past the end of the file");
  EXPECT_EQ(FifProblem(good + "abc"), "ends inside the tag at byte " + std::to_string(good.size()));
  EXPECT_EQ(FifProblem(Tetrahedron({ 1, 3, 2, 1, 2, 5, 1, 4, 3, 2, 3, 4 })), "triangle 2 names node 5 of 4");
  EXPECT_EQ(FifProblem(Tetrahedron({ 0, 3, 2, 1, 2, 4, 1, 4, 3, 2, 3, 4 })), "triangle 1 names node 0 of 4");
  FifFile noTriangles;
  noTriangles.Matrix(3105, kFloatMatrix, kNodes);
  EXPECT_EQ(FifProblem(noTriangles.bytes), "holds no surface (its nodes and triangles)");
  // Rows declared past the data, a matrix of ints for the nodes, a tag that
  // points back to the first, a size past the end.
  FifFile tooManyRows;
  tooManyRows.Matrix(3105, kFloatMatrix, kNodes, 1000000);
  tooManyRows.Matrix(3106, kIntMatrix, std::vector<int32_t>{ 1, 2, 3 });
  EXPECT_EQ(FifProblem(tooManyRows.bytes), "tag 3105 does not hold rows of 3 values");
  FifFile intNodes;
  intNodes.Matrix(3105, kIntMatrix, std::vector<int32_t>(12, 0));
  intNodes.Matrix(3106, kIntMatrix, std::vector<int32_t>{ 1, 2, 3 });
  EXPECT_EQ(FifProblem(intNodes.bytes), "tag 3105 is not a matrix of the expected type");
  FifFile loop;
  loop.Header(100, 31, 0);
  loop.Header(101, 31, 0);
  loop.Header(102, 31, 0, 16);
  EXPECT_EQ(FifProblem(loop.bytes), "the tag at byte 32 points to byte 16, not forward within the file");
  FifFile huge;
  huge.Header(3105, kFloatMatrix, 0x7fffffff);
  EXPECT_EQ(FifProblem(huge.bytes), "the tag at byte 0 runs past the end of the file");
  FifFile negative;
  negative.Header(3105, kFloatMatrix, -16);
  EXPECT_EQ(FifProblem(negative.bytes), "the tag at byte 0 runs past the end of the file");
}

TEST(RealHeadFiles, FiducialsNeedAllThree)
{
  const std::string dir = testutil::ScratchDir();
  FifFile file;
  file.DigPoint(1, -0.08f, 0, 0);
  file.DigPoint(3, 0.08f, 0, 0);
  testutil::WriteText(dir + "/two.fif", file.bytes);
  file.DigPoint(2, 0, 0.09f, 0);
  testutil::WriteText(dir + "/three.fif", file.bytes);
  std::array<Landmark, 3> fiducials;
  std::string problem;
  EXPECT_FALSE(ReadFifFiducials(dir + "/two.fif", fiducials, problem));
  EXPECT_EQ(problem, dir + "/two.fif: lacks a finite nasion or preauricular point");
  ASSERT_TRUE(ReadFifFiducials(dir + "/three.fif", fiducials, problem)) << problem;
  EXPECT_NEAR(fiducials[0][0], -80, 1e-4);
  EXPECT_NEAR(fiducials[1][1], 90, 1e-4);
  EXPECT_NEAR(fiducials[2][0], 80, 1e-4);
}

TEST(RealHeadFiles, TruncatedRealFilesAreRefused)
{
  const std::string dir = testutil::ScratchDir();
  std::string problem;
  for (const char* name : { "head.off", "fsaverage-head.fif" })
  {
    const std::string whole = testutil::ReadText(std::string(REALHEADS_DIR) + "/" + name);
    ASSERT_GT(whole.size(), 1000u) << name << " is missing: run scripts/setup.sh, which fetches the real head meshes";
    const std::string path = dir + "/" + name;
    testutil::WriteText(path, whole.substr(0, whole.size() / 2));
    const bool read = std::string(name).find(".off") != std::string::npos ? ReadOffSurface(path, problem) != nullptr
                                                                          : ReadFifSurface(path, problem) != nullptr;
    EXPECT_FALSE(read) << name;
    EXPECT_EQ(problem.find(path), 0u) << problem;
  }
}
