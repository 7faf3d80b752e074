// The picture of a surface painted by the values of a color file: five views
// (front, back, top; left, right) and a legend, 1200 x 800 pixels, rendered
// off screen on an X display into PNG bytes.
#pragma once

#include "render/colormap.h"
#include "render/renderdisplay.h"

#include <string>
#include <vector>

#include <vtkFloatArray.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>
#include <vtkUnsignedCharArray.h>

// What the legend tile says besides the color bar.
struct ColorLegend
{
  std::string name;       // the values' name: the title
  std::string rangeFirst; // the range fields as the file has them
  std::string rangeSecond;
  std::string colorMap;    // the keyword
  bool anyMasked = false;  // some cells are gray for lying outside the mask
  bool anyMissing = false; // some cells are gray for having no value
};

// Shows the cells outside a mask (whose value line is the literal "0.0")
// apart from a measured zero: their values become NaN, gray like a cell
// without a value. Returns whether there was any.
bool GrayMaskedCells(vtkFloatArray* values, const std::vector<unsigned char>& masked);

enum class PictureStatus
{
  Made,
  NoOpenGL,   // the display offers no OpenGL 3.2
  NotEncoded, // the rendered picture could not be made a PNG
};

// Renders `surface` with `values` (one per cell) as its colors by `scale`,
// on `display` (from OpenRenderDisplay), and sets `png` to the picture's PNG
// bytes when the status is Made. Prints nothing.
PictureStatus RenderColorPicture(Display* display, vtkPolyData* surface, vtkFloatArray* values, const ColorScale& scale,
  const ColorLegend& legend, vtkSmartPointer<vtkUnsignedCharArray>& png);
