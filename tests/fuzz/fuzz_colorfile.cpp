// Fuzzes the color-file (mask) reader: the first byte gives the number of
// cells (0 to 63), the rest is the file.
#include "fuzzfiles.h"
#include "surftools/colorfile.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size == 0)
  {
    return 0;
  }
  const vtkIdType cellCount = data[0] % 64;
  const std::string path = fuzzfiles::Write("mask.clr", data + 1, size - 1);
  std::vector<float> values(static_cast<size_t>(cellCount));
  vtkIdType badLine = -1;
  const ColorReadStatus status = ReadColorValues(path.c_str(), cellCount, values.data(), &badLine);
  // The lines of the file: one per line feed, and an unfinished last one.
  const uint8_t* text = data + 1;
  const uint8_t* end = data + size;
  vtkIdType lines = std::count(text, end, '\n');
  if (text != end && end[-1] != '\n')
  {
    ++lines;
  }
  switch (status)
  {
    case ColorReadStatus::Ok:
      if (badLine != -1 || lines < 3 + cellCount)
      {
        std::abort();
      }
      break;
    case ColorReadStatus::TooFewLines:
      // The first line that is missing.
      if (badLine != lines + 1 || badLine > 3 + cellCount)
      {
        std::abort();
      }
      break;
    case ColorReadStatus::NotANumber:
      // A value line (the header lines hold no values) that is there.
      if (badLine < 4 || badLine > 3 + cellCount || badLine > lines)
      {
        std::abort();
      }
      break;
    case ColorReadStatus::CannotOpen:
      std::abort(); // the file was just written
  }
  return 0;
}
