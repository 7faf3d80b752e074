// colorsnap: a picture of a surface painted by the values of a color file,
// from five sides with a color legend, rendered off screen into a PNG file.

#include "parallel/parallel.h"
#include "render/colormap.h"
#include "render/colorpicture.h"
#include "render/renderdisplay.h"
#include "surftools/colorfile.h"
#include "surftools/outputfile.h"
#include "surftools/process.h"
#include "surftools/surface.h"

#include <iostream>
#include <string>

int main(int argc, char* argv[])
{
  QuietVtk();
  UseWorkThreads();
  if (argc != 4)
  {
    std::cout << "Usage: surface.vtk values.clr image.png\n"
                 "Inputs: surface.vtk, a color (.clr) file with one value per cell of it\n"
                 "Output: image.png, 1200 x 800 pixels: the surface painted by the values from the\n"
                 "        front, back, top, patient's right (-x) and left (+x), with a color legend of the\n"
                 "        file's range\n"
                 "Performs: renders off screen; needs an X display (without one: xvfb-run -a colorsnap ...).\n";
    return -1;
  }
  const char* surfacePath = argv[1];
  const char* colorPath = argv[2];
  const char* imagePath = argv[3];

  // The surface and one value per cell of it.
  vtkSmartPointer<vtkPolyData> surface = ReadSurface(surfacePath);
  if (!surface)
  {
    return -1;
  }
  const vtkIdType cells = surface->GetNumberOfCells();
  if (cells == 0)
  {
    std::cout << "Surface " << surfacePath << " has no cells to paint\n";
    return -1;
  }
  ColorFileContents contents;
  const std::string problem = ReadColorFile(colorPath, contents);
  if (!problem.empty())
  {
    std::cout << "Color file " << colorPath << ' ' << problem << '\n';
    return -1;
  }
  ColorLegend legend{ ColorValueName(colorPath), contents.rangeFirst, contents.rangeSecond, contents.colorMap };
  vtkSmartPointer<vtkFloatArray> values = ColorCellArray(contents.values, cells, legend.name.c_str());
  if (!values)
  {
    std::cout << CellCountRefusal(colorPath, contents.values.size(), cells, surfacePath);
    return -1;
  }
  legend.anyMasked = GrayMaskedCells(values, contents.masked);
  legend.anyMissing = contents.values.size() < static_cast<size_t>(cells);

  // The colors: the file's range and color map.
  ColorScale scale;
  const std::string refusal = ReadColorScale(contents, colorPath, scale);
  if (!refusal.empty())
  {
    std::cout << refusal;
    return -1;
  }

  // The picture, rendered on the X display.
  Display* display = OpenRenderDisplay("colorsnap", imagePath);
  if (!display)
  {
    return -1;
  }
  vtkSmartPointer<vtkUnsignedCharArray> png;
  const PictureStatus status = RenderColorPicture(display, surface, values, scale, legend, png);
  CloseRenderDisplay(display);
  if (status == PictureStatus::NoOpenGL)
  {
    std::cout << "Cannot render " << imagePath << ": the X display offers no OpenGL 3.2\n";
    return -1;
  }
  if (status != PictureStatus::Made)
  {
    std::cout << "Cannot make the image " << imagePath << '\n';
    return -1;
  }
  return WriteOutputFile(
           imagePath, reinterpret_cast<const char*>(png->GetPointer(0)), static_cast<size_t>(png->GetNumberOfValues()))
    ? 0
    : -1;
}
