// meshmean: the running mean of the point coordinates of the surfaces named in
// a list file, written as one surface with the triangles of the first.

#include "surftools/listfile.h"
#include "surftools/process.h"
#include "surftools/surface.h"

#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkPolyDataReader.h>

#include <fstream>
#include <iostream>
#include <string>

namespace
{
#ifdef MESHMEAN_DIAGNOSTIC
constexpr bool kDiagnostic = true;
#else
constexpr bool kDiagnostic = false;
#endif

// A marker line of the diagnostic build; nothing in the plain build.
void Mark(const char* marker)
{
  if (kDiagnostic)
  {
    std::cout << marker << '\n';
  }
}

void MarkSurfaceStep(SurfaceStep step)
{
  switch (step)
  {
    case SurfaceStep::SurfaceMade:
      Mark("hej1");
      break;
    case SurfaceStep::PointsAttached:
      Mark("hejhej2");
      break;
    case SurfaceStep::WriterMade:
      Mark("hej4");
      break;
    case SurfaceStep::InputSet:
      Mark("hej5");
      break;
    case SurfaceStep::FileNameSet:
      Mark("hej6");
      break;
    case SurfaceStep::Written:
      Mark("hej7");
      break;
  }
}
// Copies the points of the first surface into the average (widened to
// double and stored again: the stored floats are the read ones).
void CopyPoints(vtkPoints* from, vtkPoints* average, vtkIdType count)
{
  average->SetNumberOfPoints(count);
  for (vtkIdType i = 0; i < count; ++i)
  {
    double p[3];
    from->GetPoint(i, p);
    average->SetPoint(i, p[0], p[1], p[2]);
  }
}

// Blends the points of one more surface into the running mean of `count`
// surfaces, rounded to float after every surface: a = (w * a) / d + p / d
// with w = count and d = count + 1 as floats.
void AddToMean(vtkPoints* points, vtkPoints* average, vtkIdType pointCount, int count)
{
  const float w = static_cast<float>(count);
  const float d = static_cast<float>(w + 1.0);
  for (vtkIdType i = 0; i < pointCount; ++i)
  {
    double a[3];
    double p[3];
    average->GetPoint(i, a);
    points->GetPoint(i, p);
    double mean[3];
    for (int k = 0; k < 3; ++k)
    {
      mean[k] = (static_cast<double>(w) * a[k]) / static_cast<double>(d) + p[k] / static_cast<double>(d);
    }
    average->SetPoint(i, mean[0], mean[1], mean[2]);
  }
}
}

int main(int argc, char* argv[])
{
  QuietVtk();
  UseOneThread();
  UseLargeHeap();
  if (argc != 3)
  {
    std::cout << "Usage: meshmean listfile.txt average.vtk\n"
                 "Performs: average all surfaces listed in the input text file, and output an average surface.\n"
                 "Limitation: input surfaces must contain triangles only, and have same number of triangles.\n";
    return -1;
  }
  const char* listPath = argv[1];
  const char* outputPath = argv[2];
  const SurfaceStepHook hook = kDiagnostic ? MarkSurfaceStep : nullptr;

  auto average = vtkSmartPointer<vtkPoints>::New();
  std::ifstream list(listPath);
  if (!list.is_open())
  {
    std::cout << "Cannot open input file.\n";
    return 1;
  }

  std::string entry;
  if (!NextListEntry(list, entry))
  {
    std::cout << (list.bad() ? "Cannot read list file " : "No surface named in list file ") << listPath << '\n';
    return -1;
  }
  std::cout << entry << '\n';
  // One reader for every surface of the list: each read replaces what it
  // delivered before.
  auto reader = vtkSmartPointer<vtkPolyDataReader>::New();
  if (!ReadSurfaceWith(reader, entry.c_str()))
  {
    return -1;
  }
  vtkPolyData* first = reader->GetOutput();
  const vtkIdType pointCount = first->GetNumberOfPoints();
  // The output takes the first surface's polygon list now, before the next read.
  vtkSmartPointer<vtkPolyData> output = BuildSurface(average, first, hook);
  CopyPoints(first->GetPoints(), average, pointCount);

  int count = 1;
  while (NextListEntry(list, entry))
  {
    std::cout << entry << '\n';
    if (!ReadSurfaceWith(reader, entry.c_str()))
    {
      return -1;
    }
    vtkPolyData* surface = reader->GetOutput();
    if (surface->GetNumberOfPoints() != pointCount)
    {
      std::cout << "Surface " << entry << " has " << surface->GetNumberOfPoints() << " points, not " << pointCount
                << " as the first surface\n";
      return -1;
    }
    AddToMean(surface->GetPoints(), average, pointCount, count);
    ++count;
  }
  if (list.bad())
  {
    std::cout << "Cannot read list file " << listPath << '\n';
    return -1;
  }

  std::cout << count << '\n';
  output->SetPoints(average);
  Mark("hej3hej3");
  const bool written = WriteSurface(output, outputPath, hook);
  list.close();
  Mark("hej8");
  return written ? 0 : -1;
}
