#include "surftools/legacycheck.h"
#include "surftools/surface.h"
#include "testutil.h"

#include <vtkBitArray.h>
#include <vtkCellArray.h>
#include <vtkCellData.h>
#include <vtkCharArray.h>
#include <vtkDoubleArray.h>
#include <vtkFieldData.h>
#include <vtkFloatArray.h>
#include <vtkIdTypeArray.h>
#include <vtkIntArray.h>
#include <vtkLookupTable.h>
#include <vtkPointData.h>
#include <vtkPolyDataWriter.h>
#include <vtkShortArray.h>
#include <vtkSmartPointer.h>
#include <vtkStringArray.h>
#include <vtkTypeInt64Array.h>
#include <vtkUnsignedCharArray.h>
#include <vtkVariant.h>

#include <random>

using namespace testutil;

namespace
{
template <class Array>
vtkSmartPointer<Array> Filled(const char* name, int components, vtkIdType tuples)
{
  auto array = vtkSmartPointer<Array>::New();
  array->SetName(name);
  array->SetNumberOfComponents(components);
  array->SetNumberOfTuples(tuples);
  for (vtkIdType i = 0; i < tuples * components; ++i)
  {
    array->SetVariantValue(i, vtkVariant(static_cast<int>(i % 7)));
  }
  return array;
}

// Four points, one cell of each kind, and every kind of attribute that VTK's
// legacy writer writes.
vtkSmartPointer<vtkPolyData> EverythingSurface()
{
  auto surface = vtkSmartPointer<vtkPolyData>::New();
  auto points = vtkSmartPointer<vtkPoints>::New();
  points->InsertNextPoint(0, 0, 0);
  points->InsertNextPoint(1, 0, 0);
  points->InsertNextPoint(0, 1, 0);
  points->InsertNextPoint(1, 1, 0.5);
  surface->SetPoints(points);
  const vtkIdType triangle[] = { 0, 1, 2 };
  const vtkIdType strip[] = { 0, 1, 2, 3 };
  const vtkIdType line[] = { 1, 3 };
  const vtkIdType vertex[] = { 3 };
  auto polys = vtkSmartPointer<vtkCellArray>::New();
  polys->InsertNextCell(3, triangle);
  auto strips = vtkSmartPointer<vtkCellArray>::New();
  strips->InsertNextCell(4, strip);
  auto lines = vtkSmartPointer<vtkCellArray>::New();
  lines->InsertNextCell(2, line);
  auto verts = vtkSmartPointer<vtkCellArray>::New();
  verts->InsertNextCell(1, vertex);
  surface->SetPolys(polys);
  surface->SetStrips(strips);
  surface->SetLines(lines);
  surface->SetVerts(verts);

  vtkPointData* pointData = surface->GetPointData();
  auto scalars = Filled<vtkFloatArray>("s", 2, 4);
  auto table = vtkSmartPointer<vtkLookupTable>::New();
  table->SetNumberOfTableValues(3);
  table->Build();
  scalars->SetLookupTable(table);
  pointData->SetScalars(scalars);
  pointData->SetNormals(Filled<vtkFloatArray>("n", 3, 4));
  pointData->SetTCoords(Filled<vtkDoubleArray>("t", 2, 4));
  pointData->SetTensors(Filled<vtkDoubleArray>("tensor", 9, 4));
  pointData->SetGlobalIds(Filled<vtkIdTypeArray>("g", 1, 4));
  pointData->AddArray(Filled<vtkShortArray>("short", 3, 4));
  pointData->AddArray(Filled<vtkBitArray>("bits", 1, 4));
  auto names = vtkSmartPointer<vtkStringArray>::New();
  names->SetName("names");
  for (const char* name : { "one", "two words", "", "four" })
  {
    names->InsertNextValue(name);
  }
  pointData->AddArray(names);

  vtkCellData* cellData = surface->GetCellData();
  cellData->SetScalars(Filled<vtkUnsignedCharArray>("colors", 4, 4));
  cellData->SetVectors(Filled<vtkDoubleArray>("v", 3, 4));
  cellData->AddArray(Filled<vtkTypeInt64Array>("big", 2, 4));
  cellData->AddArray(Filled<vtkCharArray>("chars", 1, 4));

  auto field = vtkSmartPointer<vtkFieldData>::New();
  field->AddArray(Filled<vtkIntArray>("ints", 5, 3));
  field->AddArray(Filled<vtkDoubleArray>("empty", 1, 0));
  surface->SetFieldData(field);
  return surface;
}

std::string WriteLegacy(vtkPolyData* surface, const std::string& path, bool binary, int version)
{
  auto writer = vtkSmartPointer<vtkPolyDataWriter>::New();
  writer->SetInputData(surface);
  writer->SetFileName(path.c_str());
  writer->SetFileVersion(version);
  if (binary)
  {
    writer->SetFileTypeToBinary();
  }
  EXPECT_EQ(writer->Write(), 1) << path;
  return ReadText(path);
}
}

TEST(LegacyCheck, PassesEveryLayoutThatVtkWrites)
{
  const std::string dir = ScratchDir();
  vtkSmartPointer<vtkPolyData> surface = EverythingSurface();
  for (bool binary : { false, true })
  {
    for (int version :
      { vtkPolyDataWriter::VTK_LEGACY_READER_VERSION_4_2, vtkPolyDataWriter::VTK_LEGACY_READER_VERSION_5_1 })
    {
      const std::string path = dir + "/all-" + std::to_string(binary) + "-" + std::to_string(version) + ".vtk";
      const std::string text = WriteLegacy(surface, path, binary, version);
      EXPECT_EQ(LegacySectionProblem(path.c_str()), nullptr) << path;
      // A cut through the last value of the polygons (a one-digit id in an
      // ASCII file) leaves them short.
      const size_t polygons = text.find("POLYGONS");
      ASSERT_NE(polygons, std::string::npos);
      const size_t next = text.find("TRIANGLE_STRIPS", polygons);
      ASSERT_NE(next, std::string::npos);
      WriteText(path, text.substr(0, binary ? next - 2 : text.find_last_of("0123456789", next)));
      EXPECT_NE(LegacySectionProblem(path.c_str()), nullptr) << path;
    }
  }
  // A surface of triangles only, as the tools write them, reads back.
  auto triangles = vtkSmartPointer<vtkPolyData>::New();
  triangles->SetPoints(surface->GetPoints());
  triangles->SetPolys(surface->GetPolys());
  triangles->GetPointData()->ShallowCopy(surface->GetPointData());
  triangles->GetCellData()->SetScalars(Filled<vtkFloatArray>("c", 1, 1));
  for (bool binary : { false, true })
  {
    const std::string path = dir + "/triangles-" + std::to_string(binary) + ".vtk";
    WriteLegacy(triangles, path, binary, vtkPolyDataWriter::VTK_LEGACY_READER_VERSION_4_2);
    testing::internal::CaptureStdout();
    vtkSmartPointer<vtkPolyData> read = ReadSurface(path.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << path;
    ASSERT_NE(read, nullptr) << path;
    EXPECT_EQ(read->GetNumberOfCells(), 1);
    EXPECT_EQ(read->GetPointData()->GetNumberOfArrays(), surface->GetPointData()->GetNumberOfArrays());
  }
}

namespace
{
struct DeclaredSizeCase
{
  std::string name, content, problem;
};

// The smallest ASCII surface head: three points, no cells.
const std::string kThreePoints =
  "# vtk DataFile Version 4.2\nx\nASCII\nDATASET POLYDATA\nPOINTS 3 float\n0 0 0 1 0 0 0 1 0\n";

// Files whose headers declare more, or other, than they hold, and what the
// check says of each.
std::vector<DeclaredSizeCase> DeclaredSizeCases()
{
  const std::string ascii = kThreePoints;
  const std::string binary =
    "# vtk DataFile Version 4.2\nx\nBINARY\nDATASET POLYDATA\nPOINTS 1 float\n" + std::string(12, '\0') + "\n";
  const std::string cells = "a cell section's point counts do not add up to its size";
  const std::string section = "a section holds less than its header declares";
  return {
    // Point counts that run past the section (VTK reads past its buffer) or
    // go backwards.
    { "past.vtk", ascii + "POLYGONS 1 4\n9 0 1 2\n", cells },
    { "under.vtk", ascii + "POLYGONS 1 4\n2 0 1 2\n", cells },
    { "negative.vtk", ascii + "POLYGONS 1 4\n-1 0 1 2\n", cells },
    { "binarypast.vtk", binary + "POLYGONS 1 4\n" + std::string("\0\0\0\4\0\0\0\0\0\0\0\0\0\0\0\0\n", 17), cells },
    { "binaryhuge.vtk", binary + "POLYGONS 1 4\n" + std::string("JJJJ\0\0\0\0\0\0\0\0\0\0\0\0\n", 17), cells },
    // A number that VTK's reader cannot read as int: it then works on
    // values it never read.
    { "bigid.vtk", ascii + "POLYGONS 1 4\n3 0 1 4294967296\n",
      "a cell section holds a number too large for a point count or id" },
    // Sizes far beyond the file: VTK would allocate (and byte-swap) them.
    { "points.vtk", "# vtk DataFile Version 4.2\nx\nBINARY\nDATASET POLYDATA\nPOINTS 2000000000 float\n0000\n",
      section },
    { "scalars.vtk", ascii + "POINT_DATA 3\nSCALARS s float 2000000000\nLOOKUP_TABLE default\n0\n", section },
    { "binaryscalars.vtk", binary + "POINT_DATA 1\nSCALARS s double 3\nLOOKUP_TABLE default\n" + std::string(23, '\0'),
      section },
    { "field.vtk", binary + "FIELD FieldData 1\nname 1000 2000000 float\n0000\n", section },
    { "celldatafield.vtk", ascii + "CELL_DATA 1\nFIELD f 2\na 1 1 int\n7\nb 2 2 double\n1 2 3\n", section },
    { "table.vtk", ascii + "POINT_DATA 3\nLOOKUP_TABLE t 1000\n0 0 0 0\n", section },
    { "normals.vtk", binary + "POINT_DATA 1\nNORMALS n float\n" + std::string(11, '\0'), section },
    { "offsets.vtk",
      "# vtk DataFile Version 5.1\nx\nBINARY\nDATASET POLYDATA\nPOINTS 1 float\n" + std::string(12, '\0') +
        "\nPOLYGONS 2000000000 2000000000\nOFFSETS vtktypeint64\n" + std::string(8, '\0') + "\n",
      section },
    // A size that is not a plain count: VTK's reader would take the "3" of
    // "3x" and read on from the middle of the word.
    { "sizeword.vtk", ascii + "LINES 1 3x\n2 0 1\n", "a section header declares a size that is not a count" },
    { "negativesize.vtk", ascii + "POLYGONS 1 -4\n3 0 1 2\n", "a section header declares a size that is not a count" },
    { "fieldsize.vtk", ascii + "FIELD f 1\na 1 1.5 float\n1\n",
      "a section header declares a size that is not a count" },
    // A type that VTK's reader does not know: it fails on it without a
    // message and reads on from nothing.
    { "fieldtype.vtk", ascii + "FIELD f 1\na 1 1 polydata\n1\n", "a section names a data type that is not known" },
    { "pointstype.vtk", "# vtk DataFile Version 4.2\nx\nASCII\nDATASET POLYDATA\nPOINTS 1 real\n0 0 0\n",
      "a section names a data type that is not known" },
    // A version that VTK's reader cannot take: it reads the old layout.
    { "version.vtk",
      "# vtk DataFile Version\xf9"
      "5.1\nx\nASCII\nDATASET POLYDATA\nPOINTS 3 float\n0 0 0 1 0 0 0 1 0\n"
      "POLYGONS 2 3\n0 3 0 1 2\n",
      cells },
    { "longversion.vtk",
      "# vtk DataFile Version" + std::string(240, 'x') +
        " 5.1\nx\nASCII\nDATASET POLYDATA\n"
        "POINTS 3 float\n0 0 0 1 0 0 0 1 0\nPOLYGONS 2 3\n0 3 0 1 2\n",
      cells },
    { "versionword.vtk",
      "# vtk DataFile Version& 5.1\nx\nASCII\nDATASET POLYDATA\nPOINTS 3 float\n0 0 0 1 0 0 0 1 0\n"
      "POLYGONS 2 3\n0 3 0 1 2\n",
      cells },
    { "versiononly.vtk",
      "# vtk DataFile Version 5\nx\nASCII\nDATASET POLYDATA\nPOINTS 3 float\n0 0 0 1 0 0 0 1 0\n"
      "POLYGONS 2 3\n0 3 0 1 2\n",
      cells },
    { "binaryword.vtk", "# vtk DataFile Version 4.2\nx\nBINARYASCII\nDATASET POLYDATA\nPOINTS 1 float\n0 0 0\n",
      section },
    { "chartype.vtk",
      "# vtk DataFile Version 4.2\nx\nBINARY\nDATASET POLYDATA\nPOINTS 1 chars\n" + std::string(3, '\0') + "\n",
      "a section names a data type that is not known" },
    // Keywords count by their start, as VTK reads them, and sections may
    // share lines.
    { "prefix.vtk", ascii + "POLYGONSX 1 4\n4 0 1 2\n", cells },
    { "oneline.vtk", ascii + "POLYGONS 1 4 3 0 1 2 POINT_DATA 3 SCALARS s float 1 LOOKUP_TABLE default 1 2\n",
      section },
  };
}
}

TEST(LegacyCheck, RefusesDeclaredSizesTheFileDoesNotHold)
{
  const std::string dir = ScratchDir();
  for (const DeclaredSizeCase& c : DeclaredSizeCases())
  {
    const std::string path = dir + "/" + c.name;
    WriteText(path, c.content);
    const char* problem = LegacySectionProblem(path.c_str());
    EXPECT_EQ(problem ? problem : "", c.problem) << c.name;
  }
}

TEST(LegacyCheck, ReadsValuesAsAStreamDoesAndPassesWhatVtkReadsWhole)
{
  const std::string dir = ScratchDir();
  const std::string ascii = kThreePoints;
  // Values are read as a stream reads numbers: "1-1" is two of them, so the
  // points below are complete, and the cells after them are read from
  // where the points end.
  WriteText(dir + "/joined.vtk",
    "# vtk DataFile Version 4.2\nx\nASCII\nDATASET POLYDATA\nPOINTS 3 float\n"
    "0 0 0 1-1 0 0 1.0.5\nPOLYGONS 1 4\n3 0 1 2\n");
  EXPECT_EQ(LegacySectionProblem((dir + "/joined.vtk").c_str()), nullptr);
  WriteText(dir + "/joined.vtk",
    "# vtk DataFile Version 4.2\nx\nASCII\nDATASET POLYDATA\nPOINTS 3 float\n"
    "0 0 0 1-1 0 0 1.0.5\nPOLYGONS 1 4\n3 0 1 POINTS\n");
  EXPECT_STREQ(
    LegacySectionProblem((dir + "/joined.vtk").c_str()), "a cell section holds less than its header declares");
  // Numbers that a stream cannot read into the type: VTK's reader would fail
  // on them in the middle of a field and go on from nothing.
  for (const char* value : { "nan", "1e39", "1e", "-.", "x" })
  {
    WriteText(dir + "/value.vtk", ascii + "FIELD f 1\na 1 2 float\n1 " + value + "\n");
    EXPECT_STREQ(LegacySectionProblem((dir + "/value.vtk").c_str()),
      "a section holds a value that cannot be read as a number of its type")
      << value;
  }
  for (const char* value : { "1e39", "1.5e300", "2147483648", "-7e-400" })
  {
    WriteText(dir + "/value.vtk", ascii + "FIELD f 1\na 1 1 double\n" + value + "\n");
    EXPECT_EQ(LegacySectionProblem((dir + "/value.vtk").c_str()), nullptr) << value;
  }
  WriteText(dir + "/value.vtk", ascii + "FIELD f 1\na 1 2 short\n-32768 32768\n");
  EXPECT_NE(LegacySectionProblem((dir + "/value.vtk").c_str()), nullptr);
  WriteText(dir + "/value.vtk", ascii + "FIELD f 1\na 1 2 short\n-32768 32767\n");
  EXPECT_EQ(LegacySectionProblem((dir + "/value.vtk").c_str()), nullptr);

  // A file that ends within its title line.
  WriteText(dir + "/title.vtk", "# vtk DataFile Version 4.2\ntitle");
  EXPECT_EQ(LegacySectionProblem((dir + "/title.vtk").c_str()), nullptr);

  WriteText(
    dir + "/fine.vtk", ascii + "POLYGONS 1 4 3 0 1 2 POINT_DATA 3 SCALARS s float 1 LOOKUP_TABLE default 1 2 3\n");
  EXPECT_EQ(LegacySectionProblem((dir + "/fine.vtk").c_str()), nullptr);
  testing::internal::CaptureStdout();
  EXPECT_NE(ReadSurface((dir + "/fine.vtk").c_str()), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  // A folder is no surface; VTK alone would be made to allocate its size.
  testing::internal::CaptureStdout();
  EXPECT_EQ(ReadSurface(dir.c_str()), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cannot read surface " + dir + ": it is a folder\n");
}

TEST(LegacyCheck, LongPlainSectionsReadAsValueByValue)
{
  // Long sections of plain numbers are read many bytes at a time: each file
  // here, with oddities at random places among plain values, must be judged
  // exactly as the same file whose spaces are vertical tabs (blanks to a
  // stream, but never plain), which is read one value at a time.
  std::mt19937 random(21);
  const char* const oddPoints[] = { "1.2.3", "1-2", "-", ".5", "-.5", "7.", "1e3", "1e999", "+4", "12345678901234",
    "--1", "0x10", "5..", "1.2.-3" };
  const char* const oddIds[] = { "12345678901", "2147483648", "2147483647", "-1", "+3", "1.5", "0009", "x", "99999",
    "4294967296" };
  int judged = 0;
  for (int round = 0; round < 300; ++round)
  {
    const int points = 40 + static_cast<int>(random() % 40);
    const int cells = 30 + static_cast<int>(random() % 40);
    std::string text = "POINTS " + std::to_string(points) + (round % 2 ? " float\n" : " double\n");
    for (int i = 0; i < 3 * points; ++i)
    {
      if (random() % 60 == 0)
      {
        text += oddPoints[random() % (sizeof oddPoints / sizeof *oddPoints)];
      }
      else
      {
        const int digits = static_cast<int>(random() % 9);
        text += (random() % 3 == 0 ? "-" : "") + std::to_string(random() % 100000) +
          (digits ? "." + std::to_string(random() % 1000000).substr(0, digits) : "");
      }
      text += i % 9 == 8 ? "\n" : (random() % 10 == 0 ? "  " : " ");
    }
    const int size = random() % 10 == 0 ? 4 * cells - 1 : 4 * cells;
    text += "\nPOLYGONS " + std::to_string(cells) + " " + std::to_string(size) + "\n";
    for (int c = 0; c < cells; ++c)
    {
      const int count = random() % 25 == 0 ? 4 : 3;
      text += std::to_string(count);
      for (int v = 0; v < 3; ++v)
      {
        text += " ";
        text += random() % 80 == 0 ? oddIds[random() % (sizeof oddIds / sizeof *oddIds)]
                                   : std::to_string(random() % static_cast<unsigned>(points));
      }
      text += random() % 7 == 0 ? "\r\n" : "\n";
    }
    std::string slow = text;
    for (char& c : slow)
    {
      if (c == ' ')
      {
        c = '\v';
      }
    }
    const std::string head = "# vtk DataFile Version 4.2\nvtk output\nASCII\nDATASET POLYDATA\n";
    const std::string dir = ScratchDir();
    WriteText(dir + "/plain.vtk", head + text);
    WriteText(dir + "/slow.vtk", head + slow);
    const char* plain = LegacySectionProblem((dir + "/plain.vtk").c_str());
    const char* expected = LegacySectionProblem((dir + "/slow.vtk").c_str());
    ASSERT_EQ(plain ? std::string(plain) : "", expected ? std::string(expected) : "") << text;
    judged += expected != nullptr;
  }
  // Both outcomes occur.
  EXPECT_GT(judged, 30);
  EXPECT_LT(judged, 270);
}
