// meshmean: the running mean of the point coordinates of the surfaces named in
// a list file, written as one surface with the triangles of the first.

#include "surftools/listfile.h"
#include "surftools/process.h"
#include "surftools/surface.h"

#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkPolyDataReader.h>

#include <malloc.h>

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
}

int main(int argc, char* argv[])
{
  UseOneThread();
  UseLargeHeap();
  if (argc != 3)
  {
    std::cout << "Usage: meshmean listfile.txt average.vtk\n"
                 "Performs: average all surfaces listed in the input text file, and output an average surface.\n"
                 "Limitation: input surfaces must contain triangles only, and have same number of triangles.\n";
    return -1;
  }
#ifdef __GLIBC__
  // Every re-read frees the reader's point and cell arrays and allocates them
  // anew. Keep freed memory in the process rather than handing it back to the
  // system and faulting it in again for each surface: this halves the time of
  // a long list, at the same peak memory.
  mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
  const char* listPath = argv[1];
  const char* outputPath = argv[2];
  const SurfaceStepHook hook = kDiagnostic ? MarkSurfaceStep : nullptr;

  vtkPoints* average = vtkPoints::New();

  std::ifstream list(listPath);
  if (!list.is_open())
  {
    std::cout << "Cannot open input file.\n";
    return 1;
  }

  std::string entry;
  if (!NextListEntry(list, entry))
  {
    std::cout << (list.bad() ? "Cannot read list file " : "No surface named in list file ") << listPath
              << '\n';
    return -1;
  }
  std::cout << entry << '\n';
  vtkPolyDataReader* reader = vtkPolyDataReader::New();
  if (!ReadSurfaceWith(reader, entry.c_str()))
  {
    return -1;
  }
  vtkPolyData* first = reader->GetOutput();
  vtkPoints* firstPoints = first->GetPoints();
  const vtkIdType pointCount = first->GetNumberOfPoints();

  // The output takes the first surface's polygon list now: the next read
  // replaces everything the reader delivered.
  vtkSmartPointer<vtkPolyData> output = BuildSurface(average, first, hook);

  average->SetNumberOfPoints(pointCount);
  for (vtkIdType i = 0; i < pointCount; ++i)
  {
    double p[3];
    firstPoints->GetPoint(i, p);
    average->SetPoint(i, p[0], p[1], p[2]);
  }

  int count = 1;
  while (NextListEntry(list, entry))
  {
    std::cout << entry << '\n';
    if (!ReadSurfaceWith(reader, entry.c_str()))
    {
      return -1;
    }
    vtkPolyData* surface = reader->GetOutput();
    const vtkIdType surfaceCount = surface->GetNumberOfPoints();
    if (surfaceCount != pointCount)
    {
      std::cout << "Surface " << entry << " has " << surfaceCount << " points, not " << pointCount
                << " as the first surface\n";
      return -1;
    }
    vtkPoints* points = surface->GetPoints();

    // Running mean, rounded to float after every surface:
    // a = (w * a) / d + p / d with w = count and d = count + 1 as floats.
    const float w = static_cast<float>(count);
    const float d = static_cast<float>(w + 1.0);
    for (vtkIdType i = 0; i < surfaceCount; ++i)
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
