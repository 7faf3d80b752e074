// The surfaces of a cohort on one template mesh: the names in a list file,
// and each surface read with the checks of ReadSurface, compared with the
// first one read (whose cells every surface is taken on), its coordinates
// copied out. Each function that can fail prints one line naming the file on
// standard output and returns false; the caller decides what follows.
#pragma once

#include <vtkPolyData.h>
#include <vtkPolyDataReader.h>
#include <vtkSmartPointer.h>

#include <string>
#include <vector>

// The names in a list file, one a line (NextListEntry). False after its
// line when the list cannot be opened or read.
bool ReadListNames(const char* listPath, std::vector<std::string>& names);

class CohortReader
{
public:
  // Reads a surface. The first one read sets the point count, the cell count
  // and the cells (the first three point ids of each) of the cohort; any later
  // one must have the same counts. False after one line when the surface
  // cannot be read, its counts differ from the first's, or one of its
  // coordinates is not a finite number.
  bool Read(const std::string& path);

  // The coordinates of the surface read last, x, y, z of each point in turn
  // (3 × PointCount() values).
  void CopyCoordinates(double* coordinates) const;

  vtkIdType PointCount() const { return this->Points; }
  size_t CellCount() const { return this->Corners.size() / 3; }
  // The point ids of every cell's corners A, B, C, three per cell.
  const std::vector<vtkIdType>& Triangles() const { return this->Corners; }
  // The first surface read, whose cells new surfaces of the cohort share.
  vtkPolyData* FirstSurface() const { return this->First; }

private:
  bool CheckCounts(const std::string& path, vtkPolyData* surface) const;

  vtkSmartPointer<vtkPolyDataReader> Reader;
  vtkSmartPointer<vtkPolyData> First;
  vtkPolyData* Last = nullptr;
  vtkIdType Points = 0;
  std::vector<vtkIdType> Corners;
};

// A cell of a reference surface: its centroid (as CellCentroid gives it),
// its unit normal along (B - A) x (C - A) (zero where the triangle has no
// area) and its area.
struct CellFrame
{
  double centroid[3];
  double normal[3];
  double area;
};

// The frames of every cell of the surface with `coordinates` (as
// CopyCoordinates gives them) on `triangles`.
std::vector<CellFrame> CellFrames(const double* coordinates, const std::vector<vtkIdType>& triangles);

// The centroid (as CellCentroid gives it) of a triangle of the surface with
// `coordinates`.
void TriangleCentroid(const double* coordinates, const vtkIdType* triangle, double centroid[3]);

// The signed departure of cell c's centroid on the surface with
// `coordinates` from the frame's centroid, along the frame's normal
// (positive on the side the normal points to; 0 for a frame without normal).
double Departure(const CellFrame& frame, const double* coordinates, const vtkIdType* triangle);
