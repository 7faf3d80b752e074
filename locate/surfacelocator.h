// SurfaceLocator: the closest-point and line queries of a vtkCellLocator
// (default settings) over a surface, answered as that locator answers them:
// the same cell, point and flag to the last bit, mostly without building it.
//
// In: a surface, which must not change while the SurfaceLocator is used.
// Out: FindClosestPoint and IntersectWithLine give what the locator's own
// calls of those names give. An index of the cells is built on the first
// query that needs it; VTK's locator on the first query left to it.
// Fails: never with another answer. Should the locator, once built, have
// another grid than the one planned, AnswersHold returns false: every answer
// given since its last call must be asked again (the locator then answers).
#pragma once

#include "locate/locatorhit.h"
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

  // The outputs of the locator's line query for a hit.
  struct LineHit
  {
    double t;
    double x[3];
    double pcoords[3];
    int subId;
    vtkIdType cellId;
  };

  // As vtkCellLocator::IntersectWithLine(a0, a1, tol, t, x, pcoords, subId,
  // cellId): 1 when the segment meets the surface, with *hit then the hit
  // the locator chooses; 0 when not (*hit then holds nothing of use).
  // With `hit` null only the flag is wanted: then `nearCell` (-1 for none),
  // a cell near which the segment is expected to leave a closed surface,
  // lets a hit be proved from there without the index (LocatorSurelyHitsNear,
  // its search starting where the segment before crossed). A hit wanted in
  // full is never proved so: the proof does not tell which cell the locator
  // takes.
  int IntersectWithLine(const double a0[3], const double a1[3], double tol, LineHit* hit, vtkIdType nearCell = -1);

  // Builds the index of the cells now rather than on the first query that
  // needs it: a tool that reads more input after the surface builds it while
  // the memory the surface's read took is free again.
  void BuildIndex() { this->IndexReady(); }

  // Whether every answer given since the last call is the locator's own.
  bool AnswersHold();

  // How many queries of each kind were asked of the locator, and how many
  // line queries the proof from a near cell settled.
  long long AskedClosest = 0;
  long long AskedLine = 0;
  long long ProvedLine = 0;

private:
  struct Candidate
  {
    vtkIdType cell;
    double distance2;
    double point[3]; // the closest point of the cell, by VTK
    int subId;
  };
  struct Hit : LineHit
  {
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
  LocatorGrid* ProofGrid();
  vtkCellLocator* BuiltLocator();
  void LoadTriangle(vtkIdType cell);

  bool SettleClosest(const double x[3], double closestPoint[3], vtkIdType& cellId, int& subId, double& dist2);
  bool ClosestCandidates(const double x[3], std::vector<Candidate>& found);
  bool EvaluateCandidates(const double x[3], double farther, ClosestFigures& figures);
  bool SettleTie(const double x[3], ClosestFigures& figures);
  bool SurelyReached(const double x[3], const ClosestFigures& figures) const;

  bool ProveLine(const double a0[3], const double a1[3], double tol, vtkIdType nearCell);
  bool SettleLine(const double a0[3], const double a1[3], double tol, LineHit& hit, int& result);
  void GatherHits(const double a0[3], const double a1[3], double tol);
  void TestLeafCells(
    int start, int count, const double a0[3], const double a1[3], const double direction[3], double tol, double margin);
  void FirstOctantHits(const double a0[3], const double a1[3], double tol);
  const Hit* LocatorsChoice(double tol);

  vtkPolyData* Surface; // not owned
  vtkSmartPointer<vtkCellLocator> Locator;
  int PlannedLevel = -1; // of the locator's grid, as its settings choose it
  bool LocatorBuilt = false;
  bool PlanFailed = false; // the built locator's grid is not the one planned (until AnswersHold)
  SurfaceIndex Index;
  Readiness IndexState = Readiness::Unmade;
  LocatorGrid Grid; // for the proofs of hits
  Readiness GridState = Readiness::Unmade;
  vtkSmartPointer<vtkTriangle> Triangle;  // the cell under test, as GetCell would give it
  vtkIdType Seed = -1;                    // the last closest cell found (a Good one)
  vtkIdType LineSeed = -1;                // where the last segment with a near cell crossed the surface (-1: not found)
  std::vector<SurfaceIndex::Entry> Stack; // scratch for the searches
  std::vector<Candidate> Candidates;      // scratch
  std::vector<Hit> Hits;                  // scratch
  std::vector<size_t> Taken;              // scratch
  std::vector<std::array<int, 3>> Octs;   // scratch
};
