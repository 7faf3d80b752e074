#include "render/colorpicture.h"

#include <vtkActor.h>
#include <vtkCamera.h>
#include <vtkCellData.h>
#include <vtkPNGWriter.h>
#include <vtkPolyDataMapper.h>
#include <vtkProperty.h>
#include <vtkRenderWindow.h>
#include <vtkRenderer.h>
#include <vtkScalarBarActor.h>
#include <vtkTextActor.h>
#include <vtkTextProperty.h>
#include <vtkWindowToImageFilter.h>

#include <limits>

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
  double viewport[4]; // xmin, ymin, xmax, ymax of the window
};

// The head looks toward -y, its back lies toward +y, z points up: the
// patient's right lies toward -x, seen from the view from -x.
const View kViews[5] = {
  { "front", { 0, -1, 0 }, { 0, 0, 1 }, { 0.0, 0.5, 1.0 / 3, 1.0 } },
  { "back", { 0, 1, 0 }, { 0, 0, 1 }, { 1.0 / 3, 0.5, 2.0 / 3, 1.0 } },
  { "top", { 0, 0, 1 }, { 0, -1, 0 }, { 2.0 / 3, 0.5, 1.0, 1.0 } },
  { "patient's right (-x)", { -1, 0, 0 }, { 0, 0, 1 }, { 0.0, 0.0, 1.0 / 3, 0.5 } },
  { "patient's left (+x)", { 1, 0, 0 }, { 0, 0, 1 }, { 1.0 / 3, 0.0, 2.0 / 3, 0.5 } },
};
const double kLegendViewport[4] = { 2.0 / 3, 0.0, 1.0, 0.5 };

vtkSmartPointer<vtkTextActor> Text(const std::string& text, double x, double y, int size, bool bold)
{
  auto actor = vtkSmartPointer<vtkTextActor>::New();
  actor->SetInput(text.c_str());
  actor->GetPositionCoordinate()->SetCoordinateSystemToNormalizedViewport();
  actor->SetPosition(x, y);
  vtkTextProperty* property = actor->GetTextProperty();
  property->SetFontSize(size);
  property->SetBold(bold);
  property->SetColor(1.0, 1.0, 1.0);
  return actor;
}

// An actor that shows `painted` by its cell scalars through `table`.
vtkSmartPointer<vtkActor> PaintedActor(vtkPolyData* painted, vtkLookupTable* table)
{
  auto mapper = vtkSmartPointer<vtkPolyDataMapper>::New();
  mapper->SetInputData(painted);
  mapper->SetScalarModeToUseCellData();
  mapper->SetLookupTable(table);
  mapper->UseLookupTableScalarRangeOn();
  auto actor = vtkSmartPointer<vtkActor>::New();
  actor->SetMapper(mapper);
  // Mostly ambient and diffuse light, so that the shaded colors stay close to
  // those of the legend.
  actor->GetProperty()->SetAmbient(0.35);
  actor->GetProperty()->SetDiffuse(0.7);
  actor->GetProperty()->SetSpecular(0.0);
  return actor;
}

// One tile per view of kViews, each camera aimed at the centre of the
// bounds of what the actor shows and zoomed to fill its tile.
void AddViews(vtkRenderWindow* window, vtkActor* actor, const double bounds[6])
{
  const double center[3] = { (bounds[0] + bounds[1]) / 2, (bounds[2] + bounds[3]) / 2, (bounds[4] + bounds[5]) / 2 };
  for (const View& view : kViews)
  {
    auto renderer = vtkSmartPointer<vtkRenderer>::New();
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
}

// The legend tile: the name, the range and the color map as the file has
// them, what gray means where any cell is gray, and the color bar.
vtkSmartPointer<vtkRenderer> LegendTile(const ColorLegend& legend, vtkLookupTable* table)
{
  auto tile = vtkSmartPointer<vtkRenderer>::New();
  tile->SetViewport(kLegendViewport[0], kLegendViewport[1], kLegendViewport[2], kLegendViewport[3]);
  tile->SetBackground(kBackground[0], kBackground[1], kBackground[2]);
  tile->AddViewProp(Text(legend.name, 0.06, 0.86, 20, true));
  tile->AddViewProp(Text("range: " + legend.rangeFirst + " to " + legend.rangeSecond, 0.06, 0.76, 16, false));
  tile->AddViewProp(Text("color map: " + legend.colorMap, 0.06, 0.68, 16, false));
  if (legend.anyMasked || legend.anyMissing)
  {
    const char* note = !legend.anyMissing ? "gray: outside the mask (0.0)"
      : !legend.anyMasked                 ? "gray: cell without a value"
                                          : "gray: outside the mask (0.0) or without a value";
    tile->AddViewProp(Text(note, 0.06, 0.6, 16, false));
  }
  auto bar = vtkSmartPointer<vtkScalarBarActor>::New();
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
  tile->AddViewProp(bar);
  return tile;
}

// The window's picture (its back buffer, RGB) as PNG bytes; nullptr when it
// could not be encoded.
vtkSmartPointer<vtkUnsignedCharArray> EncodePng(vtkRenderWindow* window)
{
  auto grab = vtkSmartPointer<vtkWindowToImageFilter>::New();
  grab->SetInput(window);
  grab->SetInputBufferTypeToRGB();
  grab->ReadFrontBufferOff();
  grab->Update();
  auto writer = vtkSmartPointer<vtkPNGWriter>::New();
  writer->SetInputConnection(grab->GetOutputPort());
  writer->WriteToMemoryOn();
  writer->Write();
  vtkSmartPointer<vtkUnsignedCharArray> png = writer->GetResult();
  if (writer->GetErrorCode() != 0 || !png || png->GetNumberOfValues() == 0)
  {
    return nullptr;
  }
  return png;
}
}

bool GrayMaskedCells(vtkFloatArray* values, const std::vector<unsigned char>& masked)
{
  bool anyMasked = false;
  for (size_t k = 0; k < masked.size(); ++k)
  {
    if (masked[k])
    {
      values->SetValue(static_cast<vtkIdType>(k), std::numeric_limits<float>::quiet_NaN());
      anyMasked = true;
    }
  }
  return anyMasked;
}

PictureStatus RenderColorPicture(Display* display, vtkPolyData* surface, vtkFloatArray* values, const ColorScale& scale,
  const ColorLegend& legend, vtkSmartPointer<vtkUnsignedCharArray>& png)
{
  vtkSmartPointer<vtkLookupTable> table = ColorLookupTable(scale);
  auto painted = vtkSmartPointer<vtkPolyData>::New();
  painted->CopyStructure(surface);
  painted->GetCellData()->SetScalars(values);
  vtkSmartPointer<vtkActor> actor = PaintedActor(painted, table);
  auto window = vtkSmartPointer<vtkRenderWindow>::New();
  window->SetDisplayId(display);
  window->SetOffScreenRendering(1);
  window->SetMultiSamples(0); // no multisampling: far faster in software rendering, alike to the eye
  window->SetSize(3 * kTile, 2 * kTile);
  double bounds[6];
  painted->GetBounds(bounds);
  AddViews(window, actor, bounds);
  window->AddRenderer(LegendTile(legend, table));
  if (!window->SupportsOpenGL())
  {
    return PictureStatus::NoOpenGL;
  }
  window->Render();
  png = EncodePng(window);
  return png ? PictureStatus::Made : PictureStatus::NotEncoded;
}
