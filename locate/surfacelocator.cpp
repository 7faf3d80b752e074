// What SurfaceLocator makes and when: the grid that the vtkCellLocator will
// build is planned at once (cheap: the locator's level from its settings);
// the index of the cells (about 60 ms on a full-size scan) on the first
// query that needs it, or earlier when BuildIndex asks; the point links of
// the proofs of hits on the first segment given a near cell; VTK's own
// locator on the first query left to it.
// The index and the proofs hold only for the planned grid, so once the
// locator is built its grid is checked against the plan; where it differs,
// both are dropped and the answers given before are reported as in doubt
// (AnswersHold).
//
// The queries themselves: closestquery.cpp (the closest point and the
// locator's search order), linequery.cpp (segments); the index:
// surfaceindex.cpp; the proofs of hits: locatorhit.cpp.
#include "locate/surfacelocator.h"

#include <vtkPoints.h>

SurfaceLocator::SurfaceLocator(vtkPolyData* surface)
  : Surface(surface)
  , Locator(vtkSmartPointer<vtkCellLocator>::New())
  , Triangle(vtkSmartPointer<vtkTriangle>::New())
{
  if (surface->GetNumberOfCells() < 1)
  {
    // A locator over no cells has nothing to answer (and VTK would complain).
    this->IndexState = Readiness::Unusable;
    this->GridState = Readiness::Unusable;
    return;
  }
  this->Locator->SetDataSet(surface);
  this->PlannedLevel = LocatorPlannedLevel(this->Locator);
}

bool SurfaceLocator::IndexReady()
{
  if (this->IndexState == Readiness::Unmade)
  {
    if (this->Surface->NeedToBuildCells())
    {
      this->Surface->BuildCells();
    }
    this->IndexState = this->Index.Build(this->Surface, this->Locator) ? Readiness::Made : Readiness::Unusable;
  }
  return this->IndexState == Readiness::Made;
}

LocatorGrid* SurfaceLocator::ProofGrid()
{
  if (this->GridState == Readiness::Unmade)
  {
    // Planned before the locator is built (and checked when it is), read
    // from it after.
    const bool taken =
      this->LocatorBuilt ? ReadLocatorGrid(this->Locator, &this->Grid) : PlanLocatorGrid(this->Locator, &this->Grid);
    this->GridState = taken ? Readiness::Made : Readiness::Unusable;
  }
  return this->GridState == Readiness::Made ? &this->Grid : nullptr;
}

vtkCellLocator* SurfaceLocator::BuiltLocator()
{
  if (this->LocatorBuilt)
  {
    return this->Locator;
  }
  this->Locator->BuildLocator();
  this->LocatorBuilt = true;
  const int level = LocatorBuiltLevel(this->Locator);
  if (level >= 0 && level == this->PlannedLevel)
  {
    return this->Locator;
  }
  // Not the grid planned: what was made for it no longer holds, and an index
  // not made yet is not made.
  const bool used = this->IndexState == Readiness::Made || this->GridState == Readiness::Made;
  this->PlanFailed = this->PlanFailed || used;
  this->IndexState = Readiness::Unusable;
  if (this->GridState == Readiness::Made)
  {
    this->GridState = Readiness::Unusable;
  }
  return this->Locator;
}

bool SurfaceLocator::AnswersHold()
{
  const bool held = !this->PlanFailed;
  this->PlanFailed = false;
  return held;
}

void SurfaceLocator::LoadTriangle(vtkIdType cell)
{
  // The cell's corners as GetCell gives them: the surface's points, in
  // double precision.
  double corner[9];
  this->Index.Corners(cell, corner);
  vtkPoints* corners = this->Triangle->GetPoints();
  for (int v = 0; v < 3; ++v)
  {
    corners->SetPoint(v, corner + 3 * v);
  }
}
