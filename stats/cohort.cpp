#include "stats/cohort.h"

#include "geometry/vector.h"
#include "surftools/listfile.h"
#include "surftools/surface.h"

#include <cmath>
#include <fstream>
#include <iostream>

bool ReadListNames(const char* listPath, std::vector<std::string>& names)
{
  std::ifstream list(listPath);
  if (!list.is_open())
  {
    std::cout << "Cannot open list file " << listPath << '\n';
    return false;
  }
  names.clear();
  for (std::string entry; NextListEntry(list, entry);)
  {
    names.push_back(entry);
  }
  if (list.bad())
  {
    std::cout << "Cannot read list file " << listPath << '\n';
    return false;
  }
  return true;
}

bool CohortReader::CheckCounts(const std::string& path, vtkPolyData* surface) const
{
  if (surface->GetNumberOfPoints() != this->Points)
  {
    std::cout << "Surface " << path << " has " << surface->GetNumberOfPoints() << " points, not " << this->Points
              << " as the first surface\n";
    return false;
  }
  if (static_cast<size_t>(surface->GetNumberOfCells()) != this->CellCount())
  {
    std::cout << "Surface " << path << " has " << surface->GetNumberOfCells() << " cells, not " << this->CellCount()
              << " as the first surface\n";
    return false;
  }
  return true;
}

bool CohortReader::Read(const std::string& path)
{
  if (!this->First)
  {
    // The first surface keeps a reader of its own: its cells outlive the
    // reads of the others.
    this->First = ReadSurface(path.c_str());
    if (!this->First)
    {
      return false;
    }
    this->Last = this->First;
    this->Points = this->First->GetNumberOfPoints();
    this->Corners.resize(3 * static_cast<size_t>(this->First->GetNumberOfCells()));
    for (vtkIdType c = 0; c < this->First->GetNumberOfCells(); ++c)
    {
      vtkIdType size;
      const vtkIdType* ids;
      this->First->GetCellPoints(c, size, ids);
      std::copy(ids, ids + 3, this->Corners.begin() + 3 * c);
    }
    this->Reader = vtkSmartPointer<vtkPolyDataReader>::New();
  }
  else
  {
    if (!ReadSurfaceWith(this->Reader, path.c_str()))
    {
      return false;
    }
    this->Last = this->Reader->GetOutput();
    if (!this->CheckCounts(path, this->Last))
    {
      return false;
    }
  }
  vtkPoints* points = this->Last->GetPoints();
  for (vtkIdType i = 0; i < this->Points; ++i)
  {
    double p[3];
    points->GetPoint(i, p);
    if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2]))
    {
      std::cout << "Surface " << path << " has a point that is not a finite number (point " << i << ")\n";
      return false;
    }
  }
  return true;
}

void CohortReader::CopyCoordinates(double* coordinates) const
{
  vtkPoints* points = this->Last->GetPoints();
  for (vtkIdType i = 0; i < this->Points; ++i)
  {
    points->GetPoint(i, coordinates + 3 * i);
  }
}

namespace
{
void TriangleCorners(const double* coordinates, const vtkIdType* triangle, double corners[3][3])
{
  for (int k = 0; k < 3; ++k)
  {
    const double* p = coordinates + 3 * triangle[k];
    corners[k][0] = p[0];
    corners[k][1] = p[1];
    corners[k][2] = p[2];
  }
}
}

std::vector<CellFrame> CellFrames(const double* coordinates, const std::vector<vtkIdType>& triangles)
{
  std::vector<CellFrame> frames(triangles.size() / 3);
  for (size_t c = 0; c < frames.size(); ++c)
  {
    double corners[3][3];
    TriangleCorners(coordinates, &triangles[3 * c], corners);
    CellFrame& frame = frames[c];
    CellCentroid(corners, frame.centroid);
    CellNormal(corners, frame.normal);
    const double length = Norm(frame.normal);
    frame.area = 0.5 * length;
    for (double& x : frame.normal)
    {
      x = length > 0.0 ? x / length : 0.0;
    }
  }
  return frames;
}

void TriangleCentroid(const double* coordinates, const vtkIdType* triangle, double centroid[3])
{
  double corners[3][3];
  TriangleCorners(coordinates, triangle, corners);
  CellCentroid(corners, centroid);
}

double Departure(const CellFrame& frame, const double* coordinates, const vtkIdType* triangle)
{
  double centroid[3];
  TriangleCentroid(coordinates, triangle, centroid);
  double d[3];
  Subtract(centroid, frame.centroid, d);
  return Dot(d, frame.normal);
}
