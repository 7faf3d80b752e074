// Triangle surfaces in legacy VTK polydata files: reading with checks, cell
// corners and centroids, building and writing new surfaces.
#pragma once

#include <vtkAlgorithm.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkPolyDataReader.h>
#include <vtkSmartPointer.h>

#include <string>

// Reads a surface with a reader of its own. Returns nullptr after printing one
// line on standard output when the file cannot be read (missing, not legacy
// VTK polydata, or the reader reports any error or warning) or when a cell has
// fewer than three point ids or names a point that does not exist. A readable
// surface without cells is no error.
vtkSmartPointer<vtkPolyData> ReadSurface(const char* path);

// Reads the surface at firstPath, then the one at secondPath, each as
// ReadSurface does. False after the line of the first that cannot be read
// (the second is then not read).
bool ReadTwoSurfaces(const char* firstPath, const char* secondPath, vtkSmartPointer<vtkPolyData>& first,
  vtkSmartPointer<vtkPolyData>& second);

// Points `reader` at `path` and reads it, with the checks of ReadSurface. The
// reader's output surface is replaced; points fetched from an earlier read of
// the same reader must not be used afterwards.
bool ReadSurfaceWith(vtkPolyDataReader* reader, const char* path);

// Runs a VTK reader or filter. Returns false when VTK reported any error or
// warning on the way (VTK's own text goes to the error output unless it is
// kept quiet: QuietVtk).
bool UpdateWithoutErrors(vtkAlgorithm* algorithm);

// The reason VTK gave in the first error or warning of the last
// UpdateWithoutErrors, without the source location and object it names
// ("Unable to open file: scan.ply"); empty when it gave none.
std::string VtkReason();

// Corners A, B, C of a cell: its first three point ids, in order, as doubles
// (the exact widening of the stored floats).
void CellCorners(vtkPolyData* surface, vtkIdType cellId, double corners[3][3]);

// Centroid of three corners, ((C + B) + A) * 0.3333333333333333 per
// coordinate in double; the float form rounds the double result once.
void CellCentroid(const double corners[3][3], double centroid[3]);
void CellCentroid(const double corners[3][3], float centroid[3]);
void CellCentroid(vtkPolyData* surface, vtkIdType cellId, double centroid[3]);
void CellCentroid(vtkPolyData* surface, vtkIdType cellId, float centroid[3]);

// The cells and points of a surface read in place, where the surface holds
// polygons only (cell c is polygon c) with point ids in 64-bit storage, on
// single-precision points: as every surface read from a legacy file with
// float points. Otherwise (or for a surface without cells) Usable() is false
// and the accessors must not be called.
struct SurfaceArrays
{
  const vtkIdType* offsets = nullptr;
  const vtkIdType* connectivity = nullptr;
  const float* points = nullptr;

  SurfaceArrays() = default; // not usable
  explicit SurfaceArrays(vtkPolyData* surface);
  bool Usable() const { return points != nullptr; }

  // The point ids of cell c.
  void CellPoints(vtkIdType c, vtkIdType& size, const vtkIdType*& ids) const
  {
    size = offsets[c + 1] - offsets[c];
    ids = connectivity + offsets[c];
  }
  // Point p, widened exactly.
  void Point(vtkIdType p, double x[3]) const
  {
    const float* at = points + 3 * p;
    x[0] = at[0];
    x[1] = at[1];
    x[2] = at[2];
  }
  // The corners of cell c, as CellCorners gives them.
  void Corners(vtkIdType c, double corners[3][3]) const
  {
    const vtkIdType* ids = connectivity + offsets[c];
    Point(ids[0], corners[0]);
    Point(ids[1], corners[1]);
    Point(ids[2], corners[2]);
  }
};

// The displacement d of cell `cellId`'s centroid from surface `from` to
// surface `to` (each centroid rounded to single precision first, then
// subtracted in double); `fromCorners` receives the cell's corners on `from`.
void CentroidDisplacement(vtkPolyData* from, vtkPolyData* to, vtkIdType cellId, double d[3], double fromCorners[3][3]);

// The side test: whether the angle acos(cosine) exceeds 1.5707963 (the
// literal, not pi/2). A cosine that is not a number, or lies outside
// [-1, 1], gives no angle and so false.
bool BeyondRightAngle(double cosine);

// Normal (B - A) x (C - A) of a cell from its corners, in double and not
// normalised: its direction follows the order of the cell's point ids.
void CellNormal(const double corners[3][3], double normal[3]);
// The steps of BuildSurface and WriteSurface, in the order they happen. A
// caller that traces a run passes a hook, which is called right after each
// step; without one nothing is reported.
enum class SurfaceStep
{
  SurfaceMade,    // BuildSurface: the new surface exists, still empty
  PointsAttached, // BuildSurface: its points are set, its polygons not yet
  WriterMade,     // WriteSurface: the writer exists
  InputSet,       // WriteSurface: the surface is the writer's input
  FileNameSet,    // WriteSurface: the writer's file name is set
  Written,        // WriteSurface: the write has run (before its result is checked)
};
using SurfaceStepHook = void (*)(SurfaceStep step);

// A new surface on `points` that shares the polygon list of `source` (the
// list is referenced, not copied, so it outlives a re-read of the source).
vtkSmartPointer<vtkPolyData> BuildSurface(vtkPoints* points, vtkPolyData* source, SurfaceStepHook hook = nullptr);

// Writes the surface with VTK's legacy writer, ASCII, in the 4.2 layout,
// which old and new readers alike open. Returns false after printing one line
// naming the file when it cannot be written (VTK's writer then removes what
// it wrote of it).
bool WriteSurface(vtkPolyData* surface, const char* path, SurfaceStepHook hook = nullptr);
