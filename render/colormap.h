// The colors by which a color file paints its values: its two range fields
// and its color-map keyword, checked, and the lookup table they make.
#pragma once

#include "surftools/colorfile.h"

#include <string>

#include <vtkLookupTable.h>
#include <vtkSmartPointer.h>

// The range as numbers and the kind of color map. The map's first color
// (blue) belongs to `first`, its last (red) to `second`, whichever is larger.
struct ColorScale
{
  double first = 0;
  double second = 0;
  bool whiteMiddle = false; // white at the middle of the range ("..._whitemid" maps)
};

// Reads the scale of a color file at `path` from its contents. Returns an
// empty text when both range fields are whole finite numbers that differ and
// the keyword is "rainbow", "rainbow_whitemid" or
// "rainbow_symmetric_whitemid"; otherwise the line (with its line end) that
// refuses the file: "Color file PATH has no range of two different numbers to
// spread colors over (A B)", or "... has the unknown color map keyword "K"".
std::string ReadColorScale(const ColorFileContents& contents, const char* path, ColorScale& scale);

// A table of 256 colors over the range in ascending order, from the map's
// first color at scale.first to its last at scale.second; a value that is
// not a number is gray.
vtkSmartPointer<vtkLookupTable> ColorLookupTable(const ColorScale& scale);
