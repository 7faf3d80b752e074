// The closest-point and line queries of a vtkCellLocator over a triangle
// surface, answered exactly as the locator answers them (the same cell, the
// same point, the same flag, to the last bit), many times faster.
//
// A bounding-volume hierarchy of our own finds the cells that can hold the
// answer; VTK's own cell functions (vtkTriangle::EvaluatePosition and
// IntersectWithLine, reached through GetCell as the locator reaches them)
// give their exact figures; and the locator's search order is repeated only
// as far as it decides between them:
// - closest point: the locator keeps the first cell, in the order it meets
//   cells, whose distance is strictly the least. When one cell is strictly
//   nearest, and the locator is sure to reach it while nothing it met yet
//   could make it skip the cell (its box and an octant listing it are nearer
//   than every other cell), that cell is the answer. Where several cells are
//   equally near, the octants that list them are gone through in the
//   locator's order (its first pass: the cube around the point's octant,
//   grown a layer at a time; its second pass: by increasing k, j, i), and
//   the first octant it surely searches gives the answer (the least id among
//   them that it lists), provided every octant it might search before that
//   gives the same.
// - line: the locator walks its octants along the segment and stops at the
//   first octant in which a cell is met at a point inside the octant (within
//   the tolerance); there it prefers the least parametric distance, then the
//   least t, among hits whose t is below the best so far plus the
//   tolerance, by increasing id. Every cell the segment meets is found here,
//   the octant of each hit is found on the repeated walk, and the choice in
//   the first such octant is repeated.
// Whatever falls outside those proofs (equal distances whose order the
// locator's search leaves open, cells so thin that their figures are
// unreliable, a surface of other cells than triangles, points too far for
// the locator's integer octant indices) is asked of the locator itself, which
// is built alongside.
// Built with a VTK other than 9.1, every query is asked of the locator.
#pragma once

#include "locate/locatorwalk.h"

#include <vtkCellLocator.h>
#include <vtkGenericCell.h>
#include <vtkPolyData.h>
#include <vtkTriangle.h>

#include <vtkSmartPointer.h>

#include <array>
#include <cstdint>
#include <vector>

class SurfaceLocator
{
public:
  // Indexes `surface`, which must not change while the locator is used, for
  // the grid that a vtkCellLocator (default settings) plans over it; that
  // locator is built when a query is first left to it.
  explicit SurfaceLocator(vtkPolyData* surface);
  SurfaceLocator(const SurfaceLocator&) = delete;
  SurfaceLocator& operator=(const SurfaceLocator&) = delete;

  // As vtkCellLocator::FindClosestPoint(x, closestPoint, cellId, subId, dist2).
  void FindClosestPoint(const double x[3], double closestPoint[3], vtkIdType& cellId, int& subId, double& dist2);

  // As vtkCellLocator::IntersectWithLine(a0, a1, tol, t, x, pcoords, subId,
  // cellId): 1 when the segment meets the surface, with the hit of the cell
  // the locator chooses; 0 otherwise (the other outputs then hold nothing of
  // use).
  int IntersectWithLine(const double a0[3], const double a1[3], double tol, double& t, double x[3],
    double pcoords[3], int& subId, vtkIdType& cellId);

  // Whether every answer given since the last call is the locator's own.
  // False only in the one case that the plan missed: the locator, once
  // built, has another grid than the one the index was made for. From then
  // on every query is asked of the locator; the answers given before must be
  // asked again.
  bool AnswersHold();

  // How many queries of each kind were asked of the locator (the others
  // were settled here).
  long long AskedClosest = 0;
  long long AskedLine = 0;

private:
  // A node's box, oriented to its cells: three (nearly) orthonormal axes
  // and the range of the cells along each, widened for rounding.
  struct Node
  {
    float axis[9];
    float low[3];
    float high[3];
    int32_t next;  // a leaf: its first cell in Cells; an inner node: its
                   // second child (the first follows it)
    int32_t count; // a leaf: its number of cells (0 for an inner node)
  };
  // Four boxes of the hierarchy side by side (grandchildren of a node of
  // the binary tree, or children where those are leaves), laid out to be
  // measured four at a time: axis[i][k][c] is component k of axis i of box c.
  // child[c] >= 0 is another wide node; otherwise ~child[c] holds a leaf's
  // first cell (times 16) and its number of cells. A slot without a box
  // has an empty range.
  struct alignas(16) Wide
  {
    float axis[3][3][4];
    float low[3][4];
    float high[3][4];
    int32_t child[4];
  };
  struct BuildData;
  struct Candidate
  {
    vtkIdType cell;
    double distance2;
    double point[3]; // the closest point of the cell, by VTK
    int subId;
  };
  struct Hit
  {
    vtkIdType cell;
    double t;
    double x[3];
    double pcoords[3];
    int subId;
    double pDistance; // the cell's parametric distance of the hit
  };
  struct Entry
  {
    int node;
    double distance2;
  };
  enum CellKind : uint8_t
  {
    Good,      // a triangle whose figures are reliable
    Flat,      // a triangle that the locator's closest-point search never takes
    Thin,      // a triangle too thin for the figures here: asks the locator
  };

  bool Build(int level);
  int BuildNode(int start, int count, BuildData& build);
  int BuildWide(int node);
  void Distance2ToWide(const double x[3], const Wide& wide, double slack, double d[4]) const;
  void Prefetch(int32_t child) const;
  void LoadTriangle(vtkIdType cell);
  void CellBounds(vtkIdType cell, double bounds[6]) const;
  bool Listed(vtkIdType cell, int i, int j, int k) const;
  bool ClosestCandidates(const double x[3], std::vector<Candidate>& found);
  bool SettleClosest(const double x[3], double closestPoint[3], vtkIdType& cellId, int& subId, double& dist2);
  bool SettleLine(const double a0[3], const double a1[3], double tol, double& t, double x[3], double pcoords[3],
    int& subId, vtkIdType& cellId, int& result);

  // The vtkCellLocator, built on the first call.
  vtkCellLocator* BuiltLocator();

  vtkPolyData* Surface;
  vtkSmartPointer<vtkCellLocator> Locator;
  bool LocatorBuilt = false;
  bool PlanFailed = false; // the built locator's grid is not the one planned
  vtkSmartPointer<vtkGenericCell> Cell;  // scratch for sorting the cells out
  vtkSmartPointer<vtkTriangle> Triangle; // the cell under test, as GetCell would give it
  bool Fast = false; // queries are settled here when they can be
  LocatorGridShape Shape;
  double Reach = 0; // the largest coordinate magnitude of the grid
  // A cell as the leaves hold it: its corners in single precision (exact
  // when the surface's points are), its id and its kind.
  struct LeafCell
  {
    float corner[9];
    int32_t cell;
    int32_t kind;
  };
  // What the build makes, read by every query.
  struct Index
  {
    std::vector<LeafCell> Cells;   // in the order the leaves hold them
    std::vector<int32_t> Position; // per cell id: its place in that order
    std::vector<uint8_t> Octants;  // per cell id: first and last octant index per axis (6 values)
    std::vector<uint8_t> Usable;   // per leaf octant of the locator: lists a cell other than Flat
    std::vector<Wide> Wides;       // the hierarchy searched: Wides[0] is its root
  };
  Index Built;
  double CornerError = 0;        // how far a corner held may be from the point (0: exact)
  int32_t Seed = -1;             // the place in Cells of the last closest cell found (a Good one)
  std::vector<Node> Nodes;
  std::vector<Entry> Stack;          // scratch for the searches
  std::vector<Candidate> Candidates; // scratch
  std::vector<Hit> Hits;             // scratch
  std::vector<size_t> Taken;         // scratch
  std::vector<std::array<int, 3>> Octs; // scratch
};
