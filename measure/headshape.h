// Clinical head-shape measures of the cranial vault of a scan: the cephalic
// index (CI), the cranial vault asymmetry (CVA) and its index (CVAI), the
// head circumference, the cranial volume, the quadrant symmetry ratios and
// the patient's side of a flattened back of the head.
//
// The frame is that of every surface of these tools: x runs from the
// patient's right to left with the mirror plane x = M_x through the ear
// midpoint M, y runs front to back with the face toward -y, z points up;
// millimetres. A cell is the triangle of its first three corners, as
// everywhere; a surface whose triangles all face inward is measured as the
// same surface facing outward.
#pragma once

#include <array>
#include <string>

#include "geometry/headframe.h"
#include "measure/auricles.h"

#include <vtkPolyData.h>

// Distance between neighbouring level planes, in millimetres.
constexpr double kLevelSpacing = 0.5;

struct HeadShape
{
  // The lowest level searched, k0 * 0.5 mm above M: 0 (the ear plane), or on
  // a head with a face the nasion's level, where that lies higher. The
  // nasion is the deepest point of the front profile (the midline cut
  // x = M_x, its most forward point at each level z = M_z + k * 0.5) beneath
  // the line from the nose to the forehead: where the front side of the
  // convex hull of the profile's points (z, y) bridges levels lying more than
  // 2 mm behind it, the highest such edge, its level farthest from it. Without
  // one (a head without a face) k0 is 0. A face (a nose: the most prominent
  // level more than 4 mm in front of the profile somewhere 10 to 15 mm above
  // it and somewhere 10 to 15 mm below it) without a nasion above its nose is
  // not measured.
  double measuredFrom = 0;
  // Measurement level (ML): of the transverse planes z = M_z + k * 0.5,
  // k = k0, k0 + 1, ..., that cut the surface (cross the edge of a cell, an
  // end point included), the one whose cut has the largest extent in y; of
  // equal extents the lowest. `level` is k * 0.5, its height above M in mm.
  double level = 0;
  // On the convex hull H of the cut at ML in (x, y): the points where the
  // plane crosses the edges of cells (an edge lying in the plane gives both
  // its end points), with the skull's outline in place of an auricle that
  // stands out of it (measure/auricles.h). The hull bridges small holes, as a
  // tape or a caliper.
  double length = 0;        // y extent of H (mm)
  double width = 0;         // x extent of H (mm)
  double ci = 0;            // cephalic index 100 * width / length
  double circumference = 0; // perimeter of H (mm)
  // The chords of H on the lines through (M_x, middle of H's y extent) along
  // (+sin 30°, +cos 30°) (diagonal a) and (-sin 30°, +cos 30°) (diagonal b):
  // the distance between the two points where each line leaves H (mm).
  double diagonalA = 0;
  double diagonalB = 0;
  double cva = 0;             // cranial vault asymmetry |a - b| (mm)
  double cvai = 0;            // its index 100 * |a - b| / min(a, b), on the shorter diagonal
  int plagiocephalyLevel = 0; // PlagiocephalyLevel(cvai)
  // The volume enclosed by the surface above the lowest level searched,
  // z = z0 = M_z + k0 * 0.5, in cm^3 (mL): the sum over the parts of cells
  // above that plane of the signed tetrahedron volumes
  // (A - P) . ((B - P) x (C - P)) / 6 from P = (M_x, M_y, z0). P lies in the
  // plane, so the cut needs no cap. The quadrant volumes take the parts of
  // cells that also lie on one side of x = M_x and of y = M_y (P lies on
  // both planes); cells that cross a plane are clipped exactly at it.
  double volume = 0;
  double asr = 0; // anterior symmetry ratio: 100 * smaller / larger front quadrant (y < M_y)
  double psr = 0; // posterior symmetry ratio: the same for the back quadrants (y >= M_y)
  double osr = 0; // overall symmetry ratio: the same for the halves x < M_x and x >= M_x
  // The patient's side of the smaller back quadrant: "right" (x < M_x) or
  // "left", "none" where PSR is 99 or more (the two within 1%).
  const char* posteriorFlatSide = "none";
  // The sides (0, 1 or 2) whose auricle was left out of the cut at ML; not a
  // column of the table.
  int auricles = 0;
};

// Measures a surface. Returns an empty text when measured, otherwise the
// problem, to follow the scan's name in a message ("has nothing above the
// ear plane ...", ...). Every cell is visited four times: for the
// orientation, the front profile, the volumes with the y extent of every
// level's cut, and the cut at ML.
std::string MeasureHeadShape(vtkPolyData* surface, HeadShape& shape);

// The nasion of a head with a face, as the measures find it (HeadShape::
// measuredFrom): on the midline, at the front of its level. False for a
// surface without cells, with a point that is not finite, without a face, or
// with a face but no nasion above its nose.
bool FindNasion(vtkPolyData* surface, double nasion[3]);

// The nasion nearest above the nose, where a person picks it: of the
// hollows of the front profile beneath the edges of the profile's hull from
// the nose up (levels more than 2 mm, and more than half as far as the
// deepest level, behind the edge, the deepest within 5 mm either side), the
// lowest above the nose's level. The same point as
// FindNasion's on a face with one hollow between its nose and forehead; on
// one with another above its brows (a sculpted third eye) the hollow
// between the nose and the brows, where the measures take the deepest
// beneath the highest edge. False as FindNasion, and for a face without a
// nose.
bool FindNasionAboveNose(vtkPolyData* surface, double nasion[3]);

// The cut of a surface by the plane z = height, as the measures take it at
// ML: the points where the plane crosses the edges of cells and the pieces
// between each cell's points (measure/auricles.h).
LevelCut CutAtLevel(vtkPolyData* surface, double height);

// The plagiocephaly level of a CVAI on the five-level scale of Children's
// Healthcare of Atlanta: 1 below 3.5, 2 from 3.5, 3 from 6.25, 4 from 8.75,
// 5 from 11. kPlagiocephalyLevelFrom[k] is where level k + 1 begins.
constexpr double kPlagiocephalyLevelFrom[5] = { 0, 3.5, 6.25, 8.75, 11 };
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

// The table's header row "file\tlevel\t...\tosr\tmeasured_from\t
// posterior_flat_side\n", and one row: the file name as given, then every
// value as numbers are written everywhere (six significant digits) and the
// side as a word, tab-separated, ended by a line feed.
std::string HeadShapeHeaderRow();
std::string HeadShapeRow(const std::string& file, const HeadShape& shape);
