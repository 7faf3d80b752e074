#include "render/colormap.h"

#include <vtkMath.h>

#include <cmath>
#include <cstdlib>

namespace
{
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
}

std::string ReadColorScale(const ColorFileContents& contents, const char* path, ColorScale& scale)
{
  if (!RangeNumber(contents.rangeFirst, scale.first) || !RangeNumber(contents.rangeSecond, scale.second) ||
    scale.first == scale.second)
  {
    return std::string("Color file ") + path + " has no range of two different numbers to spread colors over (" +
      contents.rangeFirst + ' ' + contents.rangeSecond + ")\n";
  }
  const std::string& colorMap = contents.colorMap;
  if (colorMap != "rainbow" && colorMap != "rainbow_whitemid" && colorMap != "rainbow_symmetric_whitemid")
  {
    return std::string("Color file ") + path + " has the unknown color map keyword \"" + colorMap + "\"\n";
  }
  scale.whiteMiddle = colorMap != "rainbow";
  return "";
}

vtkSmartPointer<vtkLookupTable> ColorLookupTable(const ColorScale& scale)
{
  // The table runs over the range in ascending order; the color map runs from
  // the first range value to the second, whichever is larger.
  const double first = scale.first;
  const double second = scale.second;
  const double low = first < second ? first : second;
  const double high = first < second ? second : first;
  constexpr int kColors = 256;
  auto table = vtkSmartPointer<vtkLookupTable>::New();
  table->SetNumberOfTableValues(kColors);
  table->SetTableRange(low, high);
  for (int i = 0; i < kColors; ++i)
  {
    const double s = (i + 0.5) / kColors;
    double rgb[3];
    MapColor(scale.whiteMiddle, first < second ? s : 1.0 - s, rgb);
    table->SetTableValue(i, rgb[0], rgb[1], rgb[2], 1.0);
  }
  table->SetNanColor(0.5, 0.5, 0.5, 1.0); // a cell without a value
  table->Build();
  return table;
}
