#include "fit/surfacetriangles.h"

#include <vtkCellArray.h>
#include <vtkPoints.h>

TriangleSurface SurfaceTriangles(vtkPolyData* surface)
{
  TriangleSurface result;
  const vtkIdType pointCount = surface->GetNumberOfPoints();
  result.points.resize(3 * static_cast<size_t>(pointCount));
  for (vtkIdType i = 0; i < pointCount; ++i)
  {
    surface->GetPoint(i, &result.points[3 * static_cast<size_t>(i)]);
  }
  vtkIdType size;
  const vtkIdType* ids;
  if (vtkCellArray* polys = surface->GetPolys())
  {
    for (polys->InitTraversal(); polys->GetNextCell(size, ids);)
    {
      for (vtkIdType k = 1; k + 1 < size; ++k)
      {
        result.triangles.insert(
          result.triangles.end(), { static_cast<int>(ids[0]), static_cast<int>(ids[k]), static_cast<int>(ids[k + 1]) });
      }
    }
  }
  if (vtkCellArray* strips = surface->GetStrips())
  {
    for (strips->InitTraversal(); strips->GetNextCell(size, ids);)
    {
      for (vtkIdType k = 0; k + 2 < size; ++k)
      {
        // Every second triangle of a strip turns the other way.
        const bool odd = k % 2 == 1;
        result.triangles.insert(result.triangles.end(),
          { static_cast<int>(ids[k]), static_cast<int>(ids[odd ? k + 2 : k + 1]),
            static_cast<int>(ids[odd ? k + 1 : k + 2]) });
      }
    }
  }
  return result;
}

vtkSmartPointer<vtkPolyData> PolyDataOf(const TriangleSurface& surface)
{
  auto points = vtkSmartPointer<vtkPoints>::New();
  points->SetDataTypeToDouble();
  points->SetNumberOfPoints(static_cast<vtkIdType>(surface.PointCount()));
  for (size_t i = 0; i < surface.PointCount(); ++i)
  {
    points->SetPoint(static_cast<vtkIdType>(i), &surface.points[3 * i]);
  }
  auto cells = vtkSmartPointer<vtkCellArray>::New();
  for (size_t t = 0; t < surface.triangles.size(); t += 3)
  {
    const vtkIdType ids[3] = { surface.triangles[t], surface.triangles[t + 1], surface.triangles[t + 2] };
    cells->InsertNextCell(3, ids);
  }
  auto result = vtkSmartPointer<vtkPolyData>::New();
  result->SetPoints(points);
  result->SetPolys(cells);
  return result;
}
