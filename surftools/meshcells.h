// The cells of a surface, to tell whether it lies on a template's mesh: the
// same number of points and the same cells, each joining the same points in
// the same order (so that cell i of the surface is cell i of the template).
//
// Input: a legacy VTK file of either layout (4.2 and earlier: POLYGONS with
// each cell's point count and ids; 5.1: OFFSETS and CONNECTIVITY), ASCII or
// binary, read with the check of its sections and without VTK's reader, so
// that many scans are compared in little time; or a surface VTK has read.
// Output: the point count and the polygons as offsets and connectivity.
// Nothing is printed; reading returns a status and the problem's text.
#pragma once

#include <vtkPolyData.h>

#include <string>
#include <vector>

struct MeshCells
{
  long long points = 0;
  // Polygon c joins the points connectivity[offsets[c]] ... connectivity[offsets[c + 1] - 1].
  std::vector<long long> offsets{ 0 };
  std::vector<long long> connectivity;
  long long otherCells = 0; // vertices, lines and triangle strips
};

enum class LegacyCellsRead
{
  Read,    // `cells` holds the file's points and cells
  Unknown, // the check stopped before a polygon section (one it does not know came first) or
           // found none: VTK's reader is to read the file (SurfaceCells)
  Refused, // the file cannot be read: `problem` says why, as "Cannot read surface FILE: " goes on
};

// Reads the points' count and the cells of the legacy file `path`.
LegacyCellsRead ReadLegacyCells(const char* path, MeshCells& cells, std::string& problem);

// The points' count and the cells of a surface VTK has read.
MeshCells SurfaceCells(vtkPolyData* surface);

// How `surface` departs from the mesh of `templ`, first difference only: the
// point count ("it has 1000 points, the template 1002"), the cells other than
// polygons, the polygon count, or the first polygon that joins other points
// ("its cell 17 joins the points 3 5 4, the template's 3 4 5"); an empty
// text when it lies on the template's mesh.
std::string MeshDifference(const MeshCells& surface, const MeshCells& templ);
