#include "commands.h"

#include "surftools/colorfile.h"
#include "surftools/outputfile.h"
#include "surftools/surface.h"

#include <vtkPoints.h>

#include <cmath>
#include <iostream>
#include <system_error>

#include <unistd.h>

namespace fs = std::filesystem;

OutputFolder::~OutputFolder()
{
  // The deepest first: a parent that was made is empty only once its child is gone.
  for (auto made = this->Made.rbegin(); made != this->Made.rend(); ++made)
  {
    std::error_code ignored;
    if (fs::is_empty(*made, ignored))
    {
      fs::remove(*made, ignored);
    }
  }
}

bool OutputFolder::Create(const char* path)
{
  fs::path folder = fs::path(path).lexically_normal();
  if (folder.has_parent_path() && folder.filename().empty())
  {
    folder = folder.parent_path(); // "out/" is the folder "out"
  }
  for (fs::path missing = folder; !missing.empty() && !fs::exists(missing); missing = missing.parent_path())
  {
    this->Made.insert(this->Made.begin(), missing);
    if (missing == missing.parent_path())
    {
      break;
    }
  }
  std::error_code error;
  fs::create_directories(folder, error);
  if (error || !fs::is_directory(folder))
  {
    std::cout << "Cannot create output folder " << path << ": "
              << (error ? error.message() : std::string("a file of that name exists")) << '\n';
    return false;
  }
  if (access(folder.c_str(), W_OK | X_OK) != 0)
  {
    std::cout << "Cannot write into output folder " << path << '\n';
    return false;
  }
  this->Path = path;
  return true;
}

bool EnoughNames(const char* listPath, const std::vector<std::string>& names, size_t least, const char* purpose)
{
  if (names.size() < least)
  {
    std::cout << "List file " << listPath << " names " << names.size() << (names.size() == 1 ? " surface" : " surfaces")
              << "; " << purpose << " needs at least " << least << '\n';
    return false;
  }
  return true;
}

bool NamesFitTables(const char* source, const std::vector<std::string>& names)
{
  for (const std::string& name : names)
  {
    if (name.find_first_of("\t\r") != std::string::npos)
    {
      std::cout << "Surface name " << name << " in " << source
                << " holds a tab or a carriage return, which would break the tables\n";
      return false;
    }
  }
  return true;
}

bool ReadRows(const std::vector<std::string>& names, CohortReader& reader, CoordinateRows& rows)
{
  for (size_t i = 0; i < names.size(); ++i)
  {
    if (!reader.Read(names[i]))
    {
      return false;
    }
    if (i == 0)
    {
      rows.resize(static_cast<Eigen::Index>(names.size()), 3 * reader.PointCount());
    }
    reader.CopyCoordinates(rows.row(static_cast<Eigen::Index>(i)).data());
  }
  return true;
}

std::string TableRow(const std::vector<std::string>& fields)
{
  std::string row;
  for (size_t i = 0; i < fields.size(); ++i)
  {
    row += (i == 0 ? "" : "\t") + fields[i];
  }
  return row + '\n';
}

bool WriteTable(const std::string& path, const std::string& text)
{
  return WriteOutputFile(path.c_str(), text.data(), text.size());
}

bool WriteValues(
  const std::string& path, const std::vector<double>& values, double first, double second, const char* colorMap)
{
  OutputFile out = OpenColorFile(path.c_str());
  WriteColorHeader(out, ColorRangeText(first), ColorRangeText(second), colorMap);
  for (double value : values)
  {
    WriteColorValue(out, value);
  }
  return CloseOutputFile(out, path.c_str());
}

double LargestMagnitude(const std::vector<double>& values)
{
  double largest = 0;
  for (double value : values)
  {
    if (std::isfinite(value))
    {
      largest = std::max(largest, std::abs(value));
    }
  }
  return largest > 0 ? largest : 1.0;
}

bool WriteCohortSurface(const CohortReader& reader, const double* coordinates, const std::string& path)
{
  auto points = vtkSmartPointer<vtkPoints>::New();
  points->SetNumberOfPoints(reader.PointCount());
  for (vtkIdType i = 0; i < reader.PointCount(); ++i)
  {
    points->SetPoint(i, coordinates + 3 * i);
  }
  return WriteSurface(BuildSurface(points, reader.FirstSurface()), path.c_str());
}
