// The readers of the real heads' files: OFF surfaces and FIF files of
// boundary-element surfaces and digitizer points.
//
// A FIF file is a run of tags, each a header of four big-endian int32
// (kind, type, size, next) and `size` bytes of data. `next` is 0 for the tag
// that follows, -1 for the last, else the byte offset of the next tag; only
// offsets forward are followed, so that a file cannot send the walk round a
// loop. A matrix tag holds its values, then its dimensions as int32, last
// dimension first, then the number of dimensions as the very last int32.
#include "realheads.h"

#include "surftools/curvefile.h"

#include <vtkCellArray.h>
#include <vtkPoints.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include <sys/stat.h>

namespace
{
// FIF tag kinds and types.
constexpr int32_t kFifDigPoint = 213;
constexpr int32_t kFifBemNodes = 3105;
constexpr int32_t kFifBemTriangles = 3106;
constexpr int32_t kFifDigPointType = 33;
constexpr int32_t kFifIntMatrix = 0x40000003;
constexpr int32_t kFifFloatMatrix = 0x40000004;
constexpr int32_t kFifCardinalPoint = 1; // a digitizer point's kind: nasion or a preauricular point

// The largest file read whole: far larger than any head mesh (the bust's
// file has 0.8 MB).
constexpr long long kLargestFile = 256LL << 20;

// Reads a regular file of at most kLargestFile bytes into `bytes`.
bool ReadBytes(const std::string& path, std::string& bytes, std::string& problem)
{
  struct stat status;
  if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
  {
    problem = path + ": no such file";
    return false;
  }
  if (status.st_size > kLargestFile)
  {
    problem = path + ": larger than any head mesh (" + std::to_string(status.st_size) + " bytes)";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  bytes = text.str();
  if (!in && !in.eof())
  {
    problem = path + ": cannot be read";
    return false;
  }
  return true;
}

// The next line of `in` holding more than a comment, the comment cut off;
// false at the end.
bool NextLine(std::istringstream& in, std::string& line)
{
  while (std::getline(in, line))
  {
    line = line.substr(0, line.find('#'));
    if (line.find_first_not_of(" \t\r") != std::string::npos)
    {
      return true;
    }
  }
  return false;
}

vtkSmartPointer<vtkPolyData> MakeSurface(vtkPoints* points, vtkCellArray* triangles)
{
  auto surface = vtkSmartPointer<vtkPolyData>::New();
  surface->SetPoints(points);
  surface->SetPolys(triangles);
  return surface;
}

// An OFF file's points, one a line, into `points`.
bool ReadOffPoints(std::istringstream& in, long long count, vtkPoints* points, std::string& problem)
{
  points->SetNumberOfPoints(static_cast<vtkIdType>(count));
  std::string line;
  for (long long i = 0; i < count; ++i)
  {
    double p[3];
    if (!NextLine(in, line))
    {
      problem = "ends after " + std::to_string(i) + " of its " + std::to_string(count) + " points";
      return false;
    }
    std::istringstream numbers(line);
    if (!(numbers >> p[0] >> p[1] >> p[2]) || !std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2]))
    {
      problem = "point " + std::to_string(i) + " is not three finite numbers";
      return false;
    }
    points->SetPoint(static_cast<vtkIdType>(i), p);
  }
  return true;
}

// An OFF file's faces, one a line, as triangle fans into `triangles`.
bool ReadOffFaces(
  std::istringstream& in, long long count, long long pointCount, vtkCellArray* triangles, std::string& problem)
{
  std::string line;
  for (long long f = 0; f < count; ++f)
  {
    if (!NextLine(in, line))
    {
      problem = "ends after " + std::to_string(f) + " of its " + std::to_string(count) + " faces";
      return false;
    }
    std::istringstream numbers(line);
    long long corners = 0;
    if (!(numbers >> corners) || corners < 3 || corners > pointCount)
    {
      problem = "face " + std::to_string(f) + " does not have 3 to " + std::to_string(pointCount) + " corners";
      return false;
    }
    std::vector<vtkIdType> ids;
    for (long long k = 0; k < corners; ++k)
    {
      long long id = -1;
      if (!(numbers >> id) || id < 0 || id >= pointCount)
      {
        problem = "face " + std::to_string(f) + " names a point that does not exist";
        return false;
      }
      ids.push_back(static_cast<vtkIdType>(id));
    }
    for (size_t k = 1; k + 1 < ids.size(); ++k)
    {
      const vtkIdType triangle[3] = { ids[0], ids[k], ids[k + 1] };
      triangles->InsertNextCell(3, triangle);
    }
  }
  return true;
}
}

vtkSmartPointer<vtkPolyData> ReadOffSurface(const std::string& path, std::string& problem)
{
  std::string bytes;
  if (!ReadBytes(path, bytes, problem))
  {
    return nullptr;
  }
  std::istringstream in(bytes);
  std::string line;
  long long points = -1;
  long long faces = -1;
  // The counts follow "OFF" on its line or stand on the next.
  if (NextLine(in, line) && line.compare(0, 3, "OFF") == 0)
  {
    std::istringstream counts(line.substr(3));
    long long p = 0;
    long long f = 0;
    if ((counts >> p >> f) || (NextLine(in, line) && (std::istringstream(line) >> p >> f)))
    {
      points = p;
      faces = f;
    }
  }
  // Each point's line takes at least 6 bytes ("0 0 0\n"), each face's 8.
  if (points < 0 || faces < 0 || points * 6 + faces * 8 > static_cast<long long>(bytes.size()))
  {
    problem = path + ": " + (points < 0 ? "not an OFF file (no header with counts)" : "declares more than it holds");
    return nullptr;
  }
  auto pointList = vtkSmartPointer<vtkPoints>::New();
  pointList->SetDataTypeToDouble();
  auto triangles = vtkSmartPointer<vtkCellArray>::New();
  if (!ReadOffPoints(in, points, pointList, problem) || !ReadOffFaces(in, faces, points, triangles, problem))
  {
    problem = path + ": " + problem;
    return nullptr;
  }
  return MakeSurface(pointList, triangles);
}

namespace
{
int32_t BigEndianInt(const std::string& bytes, size_t at)
{
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data() + at);
  return static_cast<int32_t>((uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3]);
}

double BigEndianFloat(const std::string& bytes, size_t at)
{
  const uint32_t bits = static_cast<uint32_t>(BigEndianInt(bytes, at));
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

struct FifTag
{
  int32_t kind;
  int32_t type;
  size_t data; // offset of the data
  size_t size;
};

// Every tag of a FIF file, in the order the walk meets them.
bool FifTags(const std::string& bytes, std::vector<FifTag>& tags, std::string& problem)
{
  size_t at = 0;
  while (at < bytes.size())
  {
    if (bytes.size() - at < 16)
    {
      problem = "ends inside the tag at byte " + std::to_string(at);
      return false;
    }
    const FifTag tag{ BigEndianInt(bytes, at), BigEndianInt(bytes, at + 4), at + 16,
      static_cast<size_t>(static_cast<uint32_t>(BigEndianInt(bytes, at + 8))) };
    const int32_t next = BigEndianInt(bytes, at + 12);
    if (BigEndianInt(bytes, at + 8) < 0 || tag.size > bytes.size() - tag.data)
    {
      problem = "the tag at byte " + std::to_string(at) + " runs past the end of the file";
      return false;
    }
    tags.push_back(tag);
    if (next == -1)
    {
      return true;
    }
    if (next != 0 && (next < 0 || static_cast<size_t>(next) <= at || static_cast<size_t>(next) > bytes.size()))
    {
      problem = "the tag at byte " + std::to_string(at) + " points to byte " + std::to_string(next) +
        ", not forward within the file";
      return false;
    }
    at = next == 0 ? tag.data + tag.size : static_cast<size_t>(next);
  }
  return true;
}

// A matrix tag of `type` with rows of `columns` values: its row count, and
// the offset of its first value.
bool FifMatrix(
  const std::string& bytes, const FifTag& tag, int32_t type, int columns, size_t& rows, std::string& problem)
{
  // The values, the two dimensions (columns, then rows) and their count.
  if (tag.type != type || tag.size < 12 || BigEndianInt(bytes, tag.data + tag.size - 4) != 2)
  {
    problem = "tag " + std::to_string(tag.kind) + " is not a matrix of the expected type";
    return false;
  }
  const int32_t declaredColumns = BigEndianInt(bytes, tag.data + tag.size - 12);
  const int32_t declaredRows = BigEndianInt(bytes, tag.data + tag.size - 8);
  if (declaredColumns != columns || declaredRows < 0 ||
    static_cast<unsigned long long>(declaredRows) * columns * 4 != tag.size - 12)
  {
    problem = "tag " + std::to_string(tag.kind) + " does not hold rows of " + std::to_string(columns) + " values";
    return false;
  }
  rows = static_cast<size_t>(declaredRows);
  return true;
}

// A BEM surface's nodes (metres) as points in millimetres.
bool FifNodes(const std::string& bytes, const FifTag& tag, vtkPoints* points, std::string& problem)
{
  size_t rows = 0;
  if (!FifMatrix(bytes, tag, kFifFloatMatrix, 3, rows, problem))
  {
    return false;
  }
  points->SetNumberOfPoints(static_cast<vtkIdType>(rows));
  for (size_t i = 0; i < rows; ++i)
  {
    double p[3];
    for (int k = 0; k < 3; ++k)
    {
      p[k] = 1000.0 * BigEndianFloat(bytes, tag.data + 12 * i + 4 * k);
    }
    if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2]))
    {
      problem = "node " + std::to_string(i + 1) + " is not finite";
      return false;
    }
    points->SetPoint(static_cast<vtkIdType>(i), p);
  }
  return true;
}

// A BEM surface's triangles, node numbers from 1.
bool FifTriangles(
  const std::string& bytes, const FifTag& tag, vtkIdType nodes, vtkCellArray* triangles, std::string& problem)
{
  size_t rows = 0;
  if (!FifMatrix(bytes, tag, kFifIntMatrix, 3, rows, problem))
  {
    return false;
  }
  for (size_t t = 0; t < rows; ++t)
  {
    vtkIdType ids[3];
    for (int k = 0; k < 3; ++k)
    {
      const int32_t node = BigEndianInt(bytes, tag.data + 12 * t + 4 * k);
      if (node < 1 || node > nodes)
      {
        problem =
          "triangle " + std::to_string(t + 1) + " names node " + std::to_string(node) + " of " + std::to_string(nodes);
        return false;
      }
      ids[k] = node - 1;
    }
    triangles->InsertNextCell(3, ids);
  }
  return true;
}

// The tags of a FIF file at `path`, its bytes in `bytes`.
bool ReadFifTags(const std::string& path, std::string& bytes, std::vector<FifTag>& tags, std::string& problem)
{
  if (!ReadBytes(path, bytes, problem))
  {
    return false;
  }
  if (!FifTags(bytes, tags, problem))
  {
    problem = path + ": " + problem;
    return false;
  }
  return true;
}

// The first tag of `kind`, or null.
const FifTag* FirstTag(const std::vector<FifTag>& tags, int32_t kind)
{
  for (const FifTag& tag : tags)
  {
    if (tag.kind == kind)
    {
      return &tag;
    }
  }
  return nullptr;
}
}

vtkSmartPointer<vtkPolyData> ReadFifSurface(const std::string& path, std::string& problem)
{
  std::string bytes;
  std::vector<FifTag> tags;
  if (!ReadFifTags(path, bytes, tags, problem))
  {
    return nullptr;
  }
  const FifTag* nodes = FirstTag(tags, kFifBemNodes);
  const FifTag* triangles = FirstTag(tags, kFifBemTriangles);
  if (!nodes || !triangles)
  {
    problem = path + ": holds no surface (its nodes and triangles)";
    return nullptr;
  }
  auto points = vtkSmartPointer<vtkPoints>::New();
  points->SetDataTypeToDouble();
  auto cells = vtkSmartPointer<vtkCellArray>::New();
  if (!FifNodes(bytes, *nodes, points, problem) ||
    !FifTriangles(bytes, *triangles, points->GetNumberOfPoints(), cells, problem))
  {
    problem = path + ": " + problem;
    return nullptr;
  }
  return MakeSurface(points, cells);
}

bool ReadFifFiducials(const std::string& path, std::array<Landmark, 3>& fiducials, std::string& problem)
{
  std::string bytes;
  std::vector<FifTag> tags;
  if (!ReadFifTags(path, bytes, tags, problem))
  {
    return false;
  }
  // A digitizer point: int kind, int ident (1 the left preauricular point,
  // 2 the nasion, 3 the right), float r[3] in metres.
  bool found[3] = { false, false, false };
  for (const FifTag& tag : tags)
  {
    if (tag.kind != kFifDigPoint || tag.type != kFifDigPointType || tag.size < 20 ||
      BigEndianInt(bytes, tag.data) != kFifCardinalPoint)
    {
      continue;
    }
    const int32_t ident = BigEndianInt(bytes, tag.data + 4);
    if (ident >= 1 && ident <= 3)
    {
      for (int k = 0; k < 3; ++k)
      {
        fiducials[ident - 1][k] = 1000.0 * BigEndianFloat(bytes, tag.data + 8 + 4 * k);
      }
      found[ident - 1] = IsFinitePoint(fiducials[ident - 1].data());
    }
  }
  if (!found[0] || !found[1] || !found[2])
  {
    problem = path + ": lacks a finite nasion or preauricular point";
    return false;
  }
  return true;
}
