// Clinical head-shape measures of a scan: the cephalic index (CI), the
// cranial vault asymmetry (CVA) and its index (CVAI), the head circumference,
// the cranial volume and the quadrant symmetry ratios.
//
// The frame is that of every surface of these tools: x runs left-right with
// the mirror plane x = M_x through the ear midpoint M, y runs front-back with
// the face toward -y, z points up; millimetres. Triangles are oriented
// outward: (B - A) x (C - A) points out of the head. A cell is the triangle of
// its first three corners, as everywhere.
#pragma once

#include <array>
#include <string>

#include "geometry/headframe.h"

#include <vtkPolyData.h>


// Distance between neighbouring level planes, in millimetres.
constexpr double kLevelSpacing = 0.5;

struct HeadShape
{
  // Measurement level (ML): of the transverse planes z = M_z + k * 0.5,
  // k = 0, 1, 2, ..., that cut the surface (cross the edge of a cell, an end
  // point included), the one whose cut has the largest extent in y; of equal
  // extents the lowest. `level` is k * 0.5, its height above M in mm.
  double level = 0;
  // On the convex hull H of the cut at ML in (x, y): the points where the
  // plane crosses the edges of cells (an edge lying in the plane gives both
  // its end points). The hull bridges small holes, as a tape or a caliper.
  double length = 0;        // y extent of H (mm)
  double width = 0;         // x extent of H (mm)
  double ci = 0;            // cephalic index 100 * width / length
  double circumference = 0; // perimeter of H (mm)
  // The chords of H on the lines through (M_x, middle of H's y extent) along
  // (+sin 30°, +cos 30°) (diagonal a) and (-sin 30°, +cos 30°) (diagonal b):
  // the distance between the two points where each line leaves H (mm).
  double diagonalA = 0;
  double diagonalB = 0;
  double cva = 0;  // cranial vault asymmetry |a - b| (mm)
  double cvai = 0; // its index 100 * |a - b| / min(a, b), on the shorter diagonal
  int plagiocephalyLevel = 0; // PlagiocephalyLevel(cvai)
  // The volume enclosed by the surface above the plane z = M_z, in cm^3
  // (mL): the sum over the parts of cells above that plane of the signed
  // tetrahedron volumes (A - M) . ((B - M) x (C - M)) / 6. M lies in the
  // plane, so the cut needs no cap. The quadrant volumes take the parts of
  // cells that also lie on one side of x = M_x and of y = M_y (M lies on
  // both planes); cells that cross a plane are clipped exactly at it.
  double volume = 0;
  double asr = 0; // anterior symmetry ratio: 100 * smaller / larger front quadrant (y < M_y)
  double psr = 0; // posterior symmetry ratio: the same for the back quadrants (y >= M_y)
  double osr = 0; // overall symmetry ratio: the same for the halves x < M_x and x >= M_x
};

// Measures a surface. Every cell is visited twice: once for the volumes and
// the y extent of every level's cut, once more for the cut at ML. Returns an
// empty text when measured, otherwise the problem, to follow the scan's name
// in a message ("nothing of it lies above the ear plane", ...).
std::string MeasureHeadShape(vtkPolyData* surface, HeadShape& shape);

// The plagiocephaly level of a CVAI on the five-level scale of Children's
// Healthcare of Atlanta: 1 below 3.5, 2 from 3.5, 3 from 6.25, 4 from 8.75,
// 5 from 11.
int PlagiocephalyLevel(double cvai);

// The table's columns after `file`, in order, with their units ("" for a
// ratio or index without one); HeadShapeValues gives a shape's values in the
// same order.
constexpr int kHeadShapeColumns = 14;
struct HeadShapeColumn
{
  const char* name;
  const char* unit;
};
extern const HeadShapeColumn kHeadShapeColumn[kHeadShapeColumns];
std::array<double, kHeadShapeColumns> HeadShapeValues(const HeadShape& shape);

// The table's header row "file\tlevel\t...\tosr\n", and one row: the file
// name as given, then every value as numbers are written everywhere (six
// significant digits), tab-separated, ended by a line feed.
std::string HeadShapeHeaderRow();
std::string HeadShapeRow(const std::string& file, const HeadShape& shape);
