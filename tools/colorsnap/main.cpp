// colorsnap: a picture of a surface painted by the values of a color file,
// from five sides with a color legend, rendered off screen into a PNG file.

#include "surftools/colorfile.h"
#include "surftools/outputfile.h"
#include "parallel/parallel.h"
#include "render/renderdisplay.h"
#include "surftools/surface.h"

#include <vtkActor.h>
#include <vtkCamera.h>
#include <vtkCellData.h>
#include <vtkFloatArray.h>
#include <vtkLookupTable.h>
#include <vtkMath.h>
#include <vtkPNGWriter.h>
#include <vtkPolyDataMapper.h>
#include <vtkProperty.h>
#include <vtkRenderWindow.h>
#include <vtkRenderer.h>
#include <vtkScalarBarActor.h>
#include <vtkTextActor.h>
#include <vtkTextProperty.h>
#include <vtkUnsignedCharArray.h>
#include <vtkWindowToImageFilter.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <iostream>
#include <string>

namespace
{
// The picture: three tiles across, two down, each kTile pixels square.
constexpr int kTile = 400;
const double kBackground[3] = { 0.16, 0.18, 0.22 };

struct View
{
  const char* label;
  double direction[3]; // from the surface's centre towards the camera
  double up[3];
  double viewport[4];  // xmin, ymin, xmax, ymax of the window
};

// The head looks toward -y, its back lies toward +y, z points up, and the
// ear at smaller x is the one seen from the "left" view.
const View kViews[5] = {
  { "front", { 0, -1, 0 }, { 0, 0, 1 }, { 0.0, 0.5, 1.0 / 3, 1.0 } },
  { "back", { 0, 1, 0 }, { 0, 0, 1 }, { 1.0 / 3, 0.5, 2.0 / 3, 1.0 } },
  { "top", { 0, 0, 1 }, { 0, -1, 0 }, { 2.0 / 3, 0.5, 1.0, 1.0 } },
  { "left", { -1, 0, 0 }, { 0, 0, 1 }, { 0.0, 0.0, 1.0 / 3, 0.5 } },
  { "right", { 1, 0, 0 }, { 0, 0, 1 }, { 1.0 / 3, 0.0, 2.0 / 3, 0.5 } },
};
const double kLegendViewport[4] = { 2.0 / 3, 0.0, 1.0, 0.5 };

// A range field as a number; false unless the whole field is a finite number.
bool RangeNumber(const std::string& field, double& value)
{
  char* end = nullptr;
  value = std::strtod(field.c_str(), &end);
  return end != field.c_str() && *end == '\0' && std::isfinite(value);
}

// Color at position t from the first range value (0) to the second (1).
// "rainbow": hue from blue to red through cyan, green and yellow. The white-mid
// maps: blue fading to white at the middle, then white deepening to red, by
// way of pale cyan and pale yellow.
void MapColor(bool whiteMiddle, double t, double rgb[3])
{
  double hue;
  double saturation = 1.0;
  if (!whiteMiddle)
  {
    hue = (1.0 - t) * 2.0 / 3.0;
  }
  else if (t < 0.5)
  {
    const double u = t / 0.5; // 0 at blue, 1 at the middle
    hue = 2.0 / 3.0 - u / 6.0;
    saturation = 1.0 - u;
  }
  else
  {
    const double u = (t - 0.5) / 0.5; // 0 at the middle, 1 at red
    hue = (1.0 - u) / 6.0;
    saturation = u;
  }
  vtkMath::HSVToRGB(hue, saturation, 1.0, rgb, rgb + 1, rgb + 2);
}

vtkTextActor* Text(const std::string& text, double x, double y, int size, bool bold)
{
  vtkTextActor* actor = vtkTextActor::New();
  actor->SetInput(text.c_str());
  actor->GetPositionCoordinate()->SetCoordinateSystemToNormalizedViewport();
  actor->SetPosition(x, y);
  vtkTextProperty* property = actor->GetTextProperty();
  property->SetFontSize(size);
  property->SetBold(bold);
  property->SetColor(1.0, 1.0, 1.0);
  return actor;
}
}

int main(int argc, char* argv[])
{
  UseWorkThreads();
  if (argc != 4)
  {
    std::cout << "Usage: surface.vtk values.clr image.png\n"
                 "Inputs: surface.vtk, a color (.clr) file with one value per cell of it\n"
                 "Output: image.png, 1200 x 800 pixels: the surface painted by the values from the\n"
                 "        front, back, top, left and right, with a color legend of the file's range\n"
                 "Performs: renders off screen; needs an X display (without one: xvfb-run -a colorsnap ...).\n";
    return -1;
  }
  const char* surfacePath = argv[1];
  const char* colorPath = argv[2];
  const char* imagePath = argv[3];

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
  const std::string name = ColorValueName(colorPath);
  vtkSmartPointer<vtkFloatArray> values = ColorCellArray(contents.values, cells, name.c_str());
  if (!values)
  {
    std::cout << CellCountRefusal(colorPath, contents.values.size(), cells, surfacePath);
    return -1;
  }
  // A cell outside a mask (the literal "0.0") is shown apart from a measured
  // zero: gray, like a cell without a value.
  bool anyMasked = false;
  for (size_t k = 0; k < contents.masked.size(); ++k)
  {
    if (contents.masked[k])
    {
      values->SetValue(static_cast<vtkIdType>(k), std::numeric_limits<float>::quiet_NaN());
      anyMasked = true;
    }
  }
  double first;
  double second;
  if (!RangeNumber(contents.rangeFirst, first) || !RangeNumber(contents.rangeSecond, second) || first == second)
  {
    std::cout << "Color file " << colorPath << " has no range of two different numbers to spread colors over ("
              << contents.rangeFirst << ' ' << contents.rangeSecond << ")\n";
    return -1;
  }
  const std::string& colorMap = contents.colorMap;
  if (colorMap != "rainbow" && colorMap != "rainbow_whitemid" && colorMap != "rainbow_symmetric_whitemid")
  {
    std::cout << "Color file " << colorPath << " has the unknown color map keyword \"" << colorMap << "\"\n";
    return -1;
  }

  Display* display = OpenRenderDisplay("colorsnap", imagePath);
  if (!display)
  {
    return -1;
  }

  // The table runs over the range in ascending order; the color map runs from
  // the first range value to the second, whichever is larger.
  const double low = first < second ? first : second;
  const double high = first < second ? second : first;
  const bool whiteMiddle = colorMap != "rainbow";
  constexpr int kColors = 256;
  vtkLookupTable* table = vtkLookupTable::New();
  table->SetNumberOfTableValues(kColors);
  table->SetTableRange(low, high);
  for (int i = 0; i < kColors; ++i)
  {
    const double s = (i + 0.5) / kColors;
    double rgb[3];
    MapColor(whiteMiddle, first < second ? s : 1.0 - s, rgb);
    table->SetTableValue(i, rgb[0], rgb[1], rgb[2], 1.0);
  }
  table->SetNanColor(0.5, 0.5, 0.5, 1.0); // a cell without a value
  table->Build();

  vtkPolyData* painted = vtkPolyData::New();
  painted->CopyStructure(surface);
  painted->GetCellData()->SetScalars(values);
  vtkPolyDataMapper* mapper = vtkPolyDataMapper::New();
  mapper->SetInputData(painted);
  mapper->SetScalarModeToUseCellData();
  mapper->SetLookupTable(table);
  mapper->UseLookupTableScalarRangeOn();
  vtkActor* actor = vtkActor::New();
  actor->SetMapper(mapper);
  // Mostly ambient and diffuse light, so that the shaded colors stay close to
  // those of the legend.
  actor->GetProperty()->SetAmbient(0.35);
  actor->GetProperty()->SetDiffuse(0.7);
  actor->GetProperty()->SetSpecular(0.0);

  vtkRenderWindow* window = vtkRenderWindow::New();
  window->SetDisplayId(display);
  window->SetOffScreenRendering(1);
  window->SetMultiSamples(0); // no multisampling: far faster in software rendering, alike to the eye
  window->SetSize(3 * kTile, 2 * kTile);

  double bounds[6];
  painted->GetBounds(bounds);
  const double center[3] = { (bounds[0] + bounds[1]) / 2, (bounds[2] + bounds[3]) / 2, (bounds[4] + bounds[5]) / 2 };
  for (const View& view : kViews)
  {
    vtkRenderer* renderer = vtkRenderer::New();
    renderer->SetViewport(view.viewport[0], view.viewport[1], view.viewport[2], view.viewport[3]);
    renderer->SetBackground(kBackground[0], kBackground[1], kBackground[2]);
    renderer->AddActor(actor);
    vtkCamera* camera = renderer->GetActiveCamera();
    camera->SetFocalPoint(center[0], center[1], center[2]);
    camera->SetPosition(center[0] + view.direction[0], center[1] + view.direction[1], center[2] + view.direction[2]);
    camera->SetViewUp(view.up[0], view.up[1], view.up[2]);
    renderer->ResetCamera(bounds);
    camera->Zoom(1.35); // the fit leaves room for a sphere around the bounds
    renderer->AddViewProp(Text(view.label, 0.04, 0.92, 18, true));
    window->AddRenderer(renderer);
  }

  vtkRenderer* legend = vtkRenderer::New();
  legend->SetViewport(kLegendViewport[0], kLegendViewport[1], kLegendViewport[2], kLegendViewport[3]);
  legend->SetBackground(kBackground[0], kBackground[1], kBackground[2]);
  legend->AddViewProp(Text(name, 0.06, 0.86, 20, true));
  legend->AddViewProp(Text("range: " + contents.rangeFirst + " to " + contents.rangeSecond, 0.06, 0.76, 16, false));
  legend->AddViewProp(Text("color map: " + colorMap, 0.06, 0.68, 16, false));
  const bool anyMissing = contents.values.size() < static_cast<size_t>(cells);
  if (anyMasked || anyMissing)
  {
    const char* note = !anyMissing ? "gray: outside the mask (0.0)"
      : !anyMasked                 ? "gray: cell without a value"
                                   : "gray: outside the mask (0.0) or without a value";
    legend->AddViewProp(Text(note, 0.06, 0.6, 16, false));
  }
  vtkScalarBarActor* bar = vtkScalarBarActor::New();
  bar->SetLookupTable(table);
  bar->SetOrientationToHorizontal();
  bar->SetNumberOfLabels(5);
  bar->SetLabelFormat("%g");
  bar->SetPosition(0.06, 0.2);
  bar->SetPosition2(0.88, 0.35);
  bar->UnconstrainedFontSizeOn();
  bar->GetLabelTextProperty()->SetColor(1.0, 1.0, 1.0);
  bar->GetLabelTextProperty()->SetFontSize(14);
  bar->GetLabelTextProperty()->SetShadow(0);
  bar->GetLabelTextProperty()->SetItalic(0);
  legend->AddViewProp(bar);
  window->AddRenderer(legend);

  if (!window->SupportsOpenGL())
  {
    std::cout << "Cannot render " << imagePath << ": the X display offers no OpenGL 3.2\n";
    return -1;
  }
  window->Render();

  vtkWindowToImageFilter* grab = vtkWindowToImageFilter::New();
  grab->SetInput(window);
  grab->SetInputBufferTypeToRGB();
  grab->ReadFrontBufferOff();
  grab->Update();
  vtkPNGWriter* writer = vtkPNGWriter::New();
  writer->SetInputConnection(grab->GetOutputPort());
  writer->WriteToMemoryOn();
  writer->Write();
  vtkUnsignedCharArray* png = writer->GetResult();
  if (writer->GetErrorCode() != 0 || !png || png->GetNumberOfValues() == 0)
  {
    std::cout << "Cannot make the image " << imagePath << '\n';
    return -1;
  }
  return WriteOutputFile(imagePath, reinterpret_cast<const char*>(png->GetPointer(0)),
           static_cast<size_t>(png->GetNumberOfValues()))
    ? 0
    : -1;
}
