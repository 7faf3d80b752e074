#include "fit/scanfile.h"

#include "fit/surfacetriangles.h"
#include "fit/trialread.h"
#include "surftools/surface.h"

#include <vtkOBJReader.h>
#include <vtkPLYReader.h>
#include <vtkPoints.h>
#include <vtkSTLReader.h>
#include <vtkSmartPointer.h>
#include <vtkXMLPolyDataReader.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <numeric>
#include <string>

#include <sys/stat.h>

namespace
{
// The one line that refuses a scan: its path, and why when that is known.
void CannotRead(const char* path, const char* why = nullptr)
{
  std::cout << "Cannot read scan " << path;
  if (why)
  {
    std::cout << ": " << why;
  }
  std::cout << '\n';
}

// VTK's STL and PLY readers trust the counts that a file declares: a binary
// STL's triangle count, a PLY header's element counts. Refuses a file whose
// counts need more bytes than it holds (each STL triangle takes 50, each PLY
// element at least one).
const char* DeclaredCountProblem(const char* path, const std::string& extension, long long size)
{
  std::FILE* file = std::fopen(path, "rb");
  if (!file)
  {
    return nullptr; // left to the reader, which reports it
  }
  const char* problem = nullptr;
  if (extension == "stl")
  {
    // VTK's reader takes a file for ASCII by its first 256 bytes, not by
    // the word "solid" (which many binary files begin with too): text
    // unless 5% or more of them are neither printable nor a line end or tab.
    unsigned char head[256];
    const size_t read = std::fread(head, 1, sizeof head, file);
    size_t other = 0;
    for (size_t i = 0; i < read; ++i)
    {
      const unsigned char c = head[i];
      other += (c >= 0x20 && c <= 0x7f) || c == '\n' || c == '\r' || c == '\t' ? 0 : 1;
    }
    const bool ascii = static_cast<double>(other) < 0.05 * static_cast<double>(read);
    if (!ascii && read >= 84)
    {
      const unsigned long long count =
        head[80] | (head[81] << 8) | (head[82] << 16) | (static_cast<unsigned long long>(head[83]) << 24);
      if (84 + 50 * count > static_cast<unsigned long long>(size))
      {
        problem = "it declares more triangles than it holds";
      }
    }
  }
  else if (extension == "ply")
  {
    char line[1024];
    while (!problem && std::fgets(line, sizeof line, file))
    {
      if (std::strncmp(line, "end_header", 10) == 0)
      {
        break;
      }
      char name[256];
      double count = 0;
      if (std::sscanf(line, "element %255s %lf", name, &count) == 2 && !(count >= 0 && count <= size))
      {
        problem = "it declares more elements than it holds";
      }
    }
  }
  std::fclose(file);
  return problem;
}

// Reads a file of a non-legacy format with its VTK reader.
template <class Reader>
vtkSmartPointer<vtkPolyData> ReadWith(const char* path)
{
  struct stat status;
  if (stat(path, &status) != 0)
  {
    CannotRead(path, "no such file");
    return nullptr;
  }
  if (!S_ISREG(status.st_mode))
  {
    CannotRead(path, "it is not a regular file");
    return nullptr;
  }
  if (const char* problem = DeclaredCountProblem(path, LowerExtension(path), static_cast<long long>(status.st_size)))
  {
    CannotRead(path, problem);
    return nullptr;
  }
  // The reader, or none when it reports a problem.
  auto read = [path]() -> vtkSmartPointer<Reader> {
    auto reader = vtkSmartPointer<Reader>::New();
    reader->SetFileName(path);
    return UpdateWithoutErrors(reader) && reader->GetOutput() ? reader : nullptr;
  };
  const Trial trial = TrialRead([&read] { return read() != nullptr; });
  if (trial == Trial::Crashed)
  {
    CannotRead(path, "its reader fails on it");
    return nullptr;
  }
  // Read here too where the trial failed without a crash: VTK's reason then
  // follows the message.
  const vtkSmartPointer<Reader> reader = read();
  if (!reader)
  {
    const std::string reason = VtkReason();
    CannotRead(path, reason.empty() ? nullptr : reason.c_str());
    return nullptr;
  }
  return reader->GetOutput();
}

// Merges points at exactly the same place (the lowest id stands for them
// all), keeping the first place of each in the order of ids, and drops the
// triangles that lose a corner.
void MergeEqualPoints(TriangleSurface& surface)
{
  const size_t count = surface.PointCount();
  std::vector<int> order(count);
  std::iota(order.begin(), order.end(), 0);
  const double* p = surface.points.data();
  std::sort(order.begin(), order.end(), [p](int a, int b) {
    for (int k = 0; k < 3; ++k)
    {
      if (p[3 * a + k] != p[3 * b + k])
      {
        return p[3 * a + k] < p[3 * b + k];
      }
    }
    return a < b;
  });
  std::vector<int> same(count);
  for (size_t i = 0; i < count; ++i)
  {
    const int id = order[i];
    const bool equal = i > 0 && std::equal(p + 3 * order[i - 1], p + 3 * order[i - 1] + 3, p + 3 * id);
    same[id] = equal ? same[order[i - 1]] : id;
  }
  std::vector<int> newId(count, -1);
  std::vector<double> points;
  for (size_t id = 0; id < count; ++id)
  {
    if (same[id] == static_cast<int>(id))
    {
      newId[id] = static_cast<int>(points.size() / 3);
      points.insert(points.end(), p + 3 * id, p + 3 * id + 3);
    }
  }
  std::vector<int> triangles;
  triangles.reserve(surface.triangles.size());
  for (size_t t = 0; t < surface.triangles.size(); t += 3)
  {
    const int a = newId[same[surface.triangles[t]]];
    const int b = newId[same[surface.triangles[t + 1]]];
    const int c = newId[same[surface.triangles[t + 2]]];
    if (a != b && b != c && c != a)
    {
      triangles.insert(triangles.end(), { a, b, c });
    }
  }
  surface.points.swap(points);
  surface.triangles.swap(triangles);
}
}

std::string LowerExtension(const char* path)
{
  const char* dot = std::strrchr(path, '.');
  const char* slash = std::strrchr(path, '/');
  std::string extension;
  if (dot && (!slash || dot > slash))
  {
    for (const char* c = dot + 1; *c; ++c)
    {
      extension += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    }
  }
  return extension;
}

vtkSmartPointer<vtkPolyData> ReadScanSurface(const char* path)
{
  const std::string extension = LowerExtension(path);
  vtkSmartPointer<vtkPolyData> surface;
  if (extension == "vtk")
  {
    surface = ReadSurface(path);
  }
  else if (extension == "vtp" || extension == "stl" || extension == "ply" || extension == "obj")
  {
    surface = extension == "vtp" ? ReadWith<vtkXMLPolyDataReader>(path)
      : extension == "stl"       ? ReadWith<vtkSTLReader>(path)
      : extension == "ply"       ? ReadWith<vtkPLYReader>(path)
                                 : ReadWith<vtkOBJReader>(path);
  }
  else
  {
    CannotRead(path, "its name ends in none of .vtk, .vtp, .stl, .ply, .obj");
    return nullptr;
  }
  if (surface && surface->GetPoints() == nullptr && surface->GetNumberOfCells() > 0)
  {
    CannotRead(path);
    return nullptr;
  }
  return surface;
}

bool ReadScan(const char* path, TriangleSurface& scan)
{
  const vtkSmartPointer<vtkPolyData> surface = ReadScanSurface(path);
  if (!surface)
  {
    return false;
  }
  scan = SurfaceTriangles(surface);
  for (int id : scan.triangles)
  {
    if (id < 0 || static_cast<size_t>(id) >= scan.PointCount())
    {
      CannotRead(path, "a cell names a point that does not exist");
      return false;
    }
    const double* p = &scan.points[3 * static_cast<size_t>(id)];
    if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2]))
    {
      CannotRead(path, "a point is not a finite number");
      return false;
    }
  }
  MergeEqualPoints(scan);
  if (scan.triangles.empty())
  {
    CannotRead(path, "it holds no triangle");
    return false;
  }
  return true;
}

const char* ScanUnitProblem(const TriangleSurface& scan, double& extent)
{
  extent = 0;
  for (int k = 0; k < 3; ++k)
  {
    double low = INFINITY;
    double high = -INFINITY;
    for (size_t i = 0; i < scan.PointCount(); ++i)
    {
      low = std::min(low, scan.points[3 * i + k]);
      high = std::max(high, scan.points[3 * i + k]);
    }
    extent = std::max(extent, high - low);
  }
  return extent < 1.0 ? "metres" : extent < 50.0 ? "centimetres" : nullptr;
}
