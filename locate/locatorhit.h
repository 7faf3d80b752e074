// Proofs that a vtkCellLocator's line query reports a hit, found without
// running the query: cheap and exact where they succeed.
//
// In: the locator's grid (taken from the built locator, or planned before it
// is built), a segment, the query's tolerance and a cell to try (or a cell
// near which the segment leaves a closed surface).
// Out: true only when locator->IntersectWithLine(a0, a1, tol, ...) surely
// returns 1; it never answers true where the locator would report a miss.
// Fails: false means "not settled": ask the locator. A planned grid holds only
// once the built locator is found to have it (LocatorBuiltAsPlanned). Built
// with a VTK other than 9.1, nothing is settled.
#pragma once

#include "locate/locatorwalk.h"
#include "surftools/surface.h"

#include <vtkCellLocator.h>
#include <vtkDataSet.h>
#include <vtkGenericCell.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <memory>
#include <vector>

// The grid of a locator, built or planned, as its line query walks it. The
// locator and its data set are not owned.
struct LocatorGrid
{
  vtkCellLocator* locator = nullptr;
  vtkDataSet* dataSet = nullptr;
  vtkSmartPointer<vtkGenericCell> cell; // scratch cell for the cell tests
  vtkPolyData* surface = nullptr;       // the data set when it is a surface (for walking it)
  LocatorGridShape shape;
  // The cells of each point of the surface (those of point p are
  // cells[start[p]] up to start[p + 1]), built by LinkLocatorGrid or by the
  // first walk across the surface.
  struct PointLinks
  {
    explicit PointLinks(vtkPolyData* surface)
      : arrays(surface)
    {
    }
    std::vector<vtkIdType> start;
    std::vector<vtkIdType> cells;
    SurfaceArrays arrays; // the surface's own arrays, where they can be read in place
  };
  std::shared_ptr<const PointLinks> links;
};

// Takes the grid of `locator`, which must have been built (BuildLocator) over
// its data set; neither may change while the grid is used. Returns false, and
// leaves the grid unusable (nothing is then settled), when the locator holds
// no grid (no cells) or builds it lazily.
bool ReadLocatorGrid(vtkCellLocator* locator, LocatorGrid* grid);

// The grid that `locator` will build over its data set (set, not built
// yet), as its settings choose it: the proofs below may be made before the
// locator is built. Before the locator's own answers are taken beside such
// proofs, build it and check LocatorBuiltAsPlanned; when that fails, the
// proofs do not hold. False, and the grid unusable, where the plan is not
// certain (fewer cells than a leaf octant holds) or as for ReadLocatorGrid.
bool PlanLocatorGrid(vtkCellLocator* locator, LocatorGrid* grid);

// Whether `locator`, now built, has the grid planned for it.
bool LocatorBuiltAsPlanned(vtkCellLocator* locator, const LocatorGrid& grid);

// Builds the cells of each point of the surface, which LocatorSurelyHitsNear
// walks on, unless they are built.
void LinkLocatorGrid(LocatorGrid* grid);

// True only when locator->IntersectWithLine(a0, a1, tol, ...) certainly
// returns 1, because its walk meets cell `cellId` of the data set in an octant
// that lists the cell. False when that is not certain.
bool LocatorSurelyHits(LocatorGrid& grid, const double a0[3], const double a1[3], double tol, vtkIdType cellId);

// The same proof for the cell of a surface that the segment passes through
// near cell `startCell`: tries the start cell, and when the segment's line
// does not pass through it, walks from it across shared edges toward the line
// (a few hundred cells at most) and tries the cell that the line passes
// through. Suits a segment from inside a closed surface out through it near
// a known cell. With `hint`, the walk starts from *hint when that is a cell
// (-1 when not), where a segment before passed, which suits segments that
// follow each other, and *hint becomes the cell this segment passes through
// (-1 when none was found). False when no proof was found: ask the locator.
bool LocatorSurelyHitsNear(LocatorGrid& grid, const double a0[3], const double a1[3], double tol, vtkIdType startCell,
  vtkIdType* hint = nullptr);
