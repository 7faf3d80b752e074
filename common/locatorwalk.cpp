#include "locatorwalk.h"

#include <vtkBox.h>
#include <vtkCellLocator.h>

#include <algorithm>
#include <cmath>

LocatorGridShape LocatorShape(vtkDataSet* dataSet, int level)
{
  LocatorGridShape shape;
  const double* bounds = dataSet->GetBounds();
  const double length = dataSet->GetLength();
  for (int i = 0; i < 3; ++i)
  {
    shape.bounds[2 * i] = bounds[2 * i];
    shape.bounds[2 * i + 1] = bounds[2 * i + 1];
    if ((shape.bounds[2 * i + 1] - shape.bounds[2 * i]) <= (length / 1000.0))
    {
      shape.bounds[2 * i] -= length / 100.0;
      shape.bounds[2 * i + 1] += length / 100.0;
    }
  }
  int divisions = 1;
  for (int i = 0; i < level; ++i)
  {
    divisions *= 2;
  }
  shape.divisions = divisions;
  for (int i = 0; i < 3; ++i)
  {
    shape.width[i] = (shape.bounds[2 * i + 1] - shape.bounds[2 * i]) / divisions;
  }
  return shape;
}

void LocatorCellOctants(const LocatorGridShape& shape, const double cellBounds[6], int first[3], int last[3])
{
  for (int i = 0; i < 3; ++i)
  {
    const double slack = shape.width[i] / 100.0;
    first[i] = static_cast<int>((cellBounds[2 * i] - shape.bounds[2 * i] - slack) / shape.width[i]);
    last[i] = static_cast<int>((cellBounds[2 * i + 1] - shape.bounds[2 * i] + slack) / shape.width[i]);
    if (first[i] < 0)
    {
      first[i] = 0;
    }
    if (last[i] >= shape.divisions)
    {
      last[i] = shape.divisions - 1;
    }
  }
}

bool locatorwalk_detail::IntersectUnitBox(const double origin[3], const double direction[3], double hit[3])
{
  double unitBox[6] = { 0, 1, 0, 1, 0, 1 };
  double t;
  return vtkBox::IntersectBox(unitBox, origin, direction, hit, t) != 0;
}

int LocatorBuiltLevel(vtkCellLocator* locator)
{
  // The octant count tells whether the level is that of the grid built: the
  // root and all octants below it.
  const int level = locator->GetLevel();
  if (level < 0 || level > 8)
  {
    return -1;
  }
  int octants = 1;
  for (int i = 0, product = 1; i < level; ++i)
  {
    product *= 8;
    octants += product;
  }
  return locator->GetNumberOfBuckets() == octants ? level : -1;
}

int LocatorPlannedLevel(vtkCellLocator* locator)
{
  vtkDataSet* dataSet = locator->GetDataSet();
  const vtkIdType cells = dataSet ? dataSet->GetNumberOfCells() : 0;
  if (!locator->GetAutomatic())
  {
    return std::min(locator->GetLevel(), locator->GetMaxLevel());
  }
  if (cells <= locator->GetNumberOfCellsPerNode())
  {
    return -1;
  }
  const int level = static_cast<int>(
    std::ceil(std::log(static_cast<double>(cells) / locator->GetNumberOfCellsPerNode()) / std::log(8.0)));
  return std::min(level, locator->GetMaxLevel());
}
