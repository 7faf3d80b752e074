// SurfaceLocator: the closest-point and line queries of a vtkCellLocator
// (default settings) over a surface, answered as that locator answers them:
// the same cell, point and flag to the last bit, mostly without building it.
//
// In: a surface, which must not change while the SurfaceLocator is used.
// Out: FindClosestPoint and IntersectWithLine give what the locator's own
// calls of those names give. An index of the cells is built at once; VTK's
// locator on the first query left to it.
// Fails: never with another answer. Should the locator, once built, have
// another grid than the one planned, AnswersHold returns false: every answer
// given since its last call must be asked again (the locator then answers).
#pragma once

#include "locate/surfaceindex.h"

#include <vtkCellLocator.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>
#include <vtkTriangle.h>

#include <array>
#include <cstdint>
#include <vector>

class SurfaceLocator
{
public:
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
  bool AnswersHold();

  // How many queries of each kind were asked of the locator (the others
  // were settled here).
  long long AskedClosest = 0;
  long long AskedLine = 0;

private:
  struct Candidate
  {
    vtkIdType cell;
    double distance2;
    double point[3]; // the closest point of the cell, by VTK
    int subId;
  };
  struct Hit
  {
    double t;
    double x[3];
    double pcoords[3];
    int subId;
    vtkIdType cellId;
    double pDistance; // the cell's parametric distance of the hit
  };
  struct CandidateSearch;
  struct ClosestFigures;
  struct TieOrder;
  enum class Readiness : uint8_t
  {
    Unmade,
    Made,
    Unusable,
  };

  bool IndexReady();
  vtkCellLocator* BuiltLocator();
  void LoadTriangle(vtkIdType cell);

  bool SettleClosest(const double x[3], double closestPoint[3], vtkIdType& cellId, int& subId, double& dist2);
  bool ClosestCandidates(const double x[3], std::vector<Candidate>& found);
  bool EvaluateCandidates(const double x[3], double farther, ClosestFigures& figures);
  bool SettleTie(const double x[3], ClosestFigures& figures);
  bool SurelyReached(const double x[3], const ClosestFigures& figures) const;

  bool SettleLine(const double a0[3], const double a1[3], double tol, double& t, double x[3], double pcoords[3],
    int& subId, vtkIdType& cellId, int& result);
  void GatherHits(const double a0[3], const double a1[3], double tol);
  void TestLeafCells(int start, int count, const double a0[3], const double a1[3], const double direction[3],
    double tol, double margin);
  void FirstOctantHits(const double a0[3], const double a1[3], double tol);
  const Hit* LocatorsChoice(double tol);

  vtkPolyData* Surface; // not owned
  vtkSmartPointer<vtkCellLocator> Locator;
  int PlannedLevel = -1; // of the locator's grid, as its settings choose it
  bool LocatorBuilt = false;
  bool PlanFailed = false; // the built locator's grid is not the one planned
  SurfaceIndex Index;
  Readiness IndexState = Readiness::Unmade;
  vtkSmartPointer<vtkTriangle> Triangle; // the cell under test, as GetCell would give it
  int32_t Seed = -1; // the place in Index.Cells of the last closest cell found (a Good one)
  std::vector<SurfaceIndex::Entry> Stack; // scratch for the searches
  std::vector<Candidate> Candidates;      // scratch
  std::vector<Hit> Hits;                  // scratch
  std::vector<size_t> Taken;              // scratch
  std::vector<std::array<int, 3>> Octs;   // scratch
};
