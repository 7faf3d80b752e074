// Scalar color files (.clr): a header line, a range line, a color-map keyword,
// then one value line per cell in cell-id order.
#pragma once

#include "surftools/outputfile.h"

#include <ostream>
#include <string>
#include <vector>

#include <vtkFloatArray.h>
#include <vtkSmartPointer.h>
#include <vtkType.h>

// Line 1 of every color file.
extern const char* const kColorFileHeader;

// Opens a color file for writing (created or truncated); close it with
// CloseOutputFile after the last value line.
OutputFile OpenColorFile(const char* path);

// Writes lines 1 to 3: the header, "rangeFirst rangeSecond", the keyword.
void WriteColorHeader(
  std::ostream& out, const std::string& rangeFirst, const std::string& rangeSecond, const char* colorMap);

// One value line; a float is widened, so float and double give the same text.
void WriteColorValue(std::ostream& out, double value);
inline void WriteColorValue(OutputFile& out, double value)
{
  char text[kNumberTextSize + 1];
  const int length = FormatNumber(value, text);
  text[length] = '\n';
  out.Append(text, static_cast<size_t>(length) + 1);
}

// A value line holding the text as it is (the "0.0" of a masked-out cell).
void WriteColorLiteral(std::ostream& out, const char* text);

// The range field of a parsed range bound: the bound written like a value line.
std::string ColorRangeText(double value);

enum class ColorReadStatus
{
  Ok,
  CannotOpen,  // the file cannot be opened or read (a folder, say)
  TooFewLines, // the file ends before the last cell's value line
  NotANumber,  // a value line does not start with a number
};

// Reads the per-cell values of a color file as a mask: lines 1 to 3 are
// skipped, then line 4 + k gives values[k] for k < cellCount, taken as
// scanf's "%f" takes the start of the line (the rest of the line, a CR among
// it, is ignored; so is anything after its first 1023 characters). A line
// ends only at its line feed, a NUL byte in it included. On TooFewLines or
// NotANumber, *badLine (when given) holds the 1-based number of the line that
// is missing or holds no number.
ColorReadStatus ReadColorValues(const char* path, vtkIdType cellCount, float* values, vtkIdType* badLine = nullptr);

// The line (with its line end) that refuses a template mask of the scans'
// `cellCount` cells whose read ended with `status` (not Ok): "Template mask
// PATH has fewer value lines than the N cells of the scans", "... has no
// number on line L", "... cannot be opened".
std::string MaskRefusal(ColorReadStatus status, const char* path, vtkIdType cellCount, vtkIdType badLine);

// A color file read whole: the two range fields and the color-map keyword as
// they stand in the file, and the number of every value line in order.
struct ColorFileContents
{
  std::string rangeFirst;
  std::string rangeSecond;
  std::string colorMap;
  std::vector<float> values;
  // 1 where the value line is the literal "0.0" of a cell outside a mask.
  std::vector<unsigned char> masked;
};

// Reads a whole color file with the line reading of ReadColorValues (values
// taken as "%f" takes the start of a line, LF or CR LF line ends). Line 1 must
// be the header, line 2 two fields separated by blanks, line 3 the keyword
// (any text); every further line is a value line. Returns an empty text when
// the file was read, otherwise what is wrong with it, to follow the file's
// name in a message ("cannot be opened", "has no number on line 7", ...).
std::string ReadColorFile(const char* path, ColorFileContents& contents);

// The name of a color file's values: the path without its folders and
// without a final ".clr" (values.clr and data/values.clr give "values").
std::string ColorValueName(const char* path);

// The values as a per-cell float array of cellCount tuples named `name`.
// A color file holds one value line per cell, or 2 x floor(cellCount / 2)
// lines when it colors the cell pairs of a mirrored mesh; on a mesh with an
// odd cell count the last cell then has no value and gets NaN. Returns nullptr
// when the number of values fits neither.
vtkSmartPointer<vtkFloatArray> ColorCellArray(const std::vector<float>& values, vtkIdType cellCount, const char* name);

// The line (with its line end) that refuses a color file whose `valueLines`
// value lines ColorCellArray could not fit to the `cellCount` cells of a
// surface: "Color file PATH has N value lines, which do not fit the M cells
// of surface SURFACE" ("1 value line, which does not fit" for one line).
std::string CellCountRefusal(const char* colorPath, size_t valueLines, vtkIdType cellCount, const char* surfacePath);
