#include "surftools/colorfile.h"

#include "surftools/outputfile.h"

#include <vtkFloatArray.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>

const char* const kColorFileHeader = "# OSTRAVELIN SURFACE SCALAR COLOR FILE V1";

OutputFile OpenColorFile(const char* path)
{
  return OpenOutputFile(path);
}

void WriteColorHeader(
  std::ostream& out, const std::string& rangeFirst, const std::string& rangeSecond, const char* colorMap)
{
  out << kColorFileHeader << '\n' << rangeFirst << ' ' << rangeSecond << '\n' << colorMap << '\n';
}

void WriteColorValue(std::ostream& out, double value)
{
  char text[kNumberTextSize + 1];
  const int length = FormatNumber(value, text);
  text[length] = '\n';
  WriteText(out, text, length + 1);
}

void WriteColorLiteral(std::ostream& out, const char* text)
{
  out << text << '\n';
}

std::string ColorRangeText(double value)
{
  std::ostringstream text;
  WriteNumber(text, value);
  return text.str();
}

namespace
{
// The characters of a value line that are parsed: a longer line is cut there.
constexpr ssize_t kParsedLength = 1023;

// Reads the next line of a file, through its line feed, into *line (grown as
// needed) and cuts it after kParsedLength characters. False at the end of the
// file with nothing read, or when the file cannot be read (*failed is then
// set). A NUL byte is part of its line like any other character: the line
// still ends only at its line feed.
bool ReadLine(std::FILE* file, char** line, size_t* capacity, bool* failed)
{
  const ssize_t length = getline(line, capacity, file);
  if (length < 0)
  {
    *failed = std::ferror(file) != 0;
    return false;
  }
  if (length > kParsedLength)
  {
    (*line)[kParsedLength] = '\0';
  }
  return true;
}

// Whether the text from `at` on starts with a plain decimal number (a sign,
// digits with at most one point, an exponent with digits) followed by a
// blank, a line end or the end of the text: a number that scanf's "%f" and
// strtof take alike.
bool PlainNumber(const char* at)
{
  at += *at == '-' || *at == '+';
  int digits = 0;
  for (; *at >= '0' && *at <= '9'; ++at)
  {
    ++digits;
  }
  if (*at == '.')
  {
    for (++at; *at >= '0' && *at <= '9'; ++at)
    {
      ++digits;
    }
  }
  if (digits == 0)
  {
    return false;
  }
  if (*at == 'e' || *at == 'E')
  {
    ++at;
    at += *at == '-' || *at == '+';
    if (!(*at >= '0' && *at <= '9'))
    {
      return false;
    }
    while (*at >= '0' && *at <= '9')
    {
      ++at;
    }
  }
  return *at == '\0' || *at == ' ' || *at == '\t' || *at == '\r' || *at == '\n';
}

// The number at the start of a value line, as scanf's "%f" takes it (a plain
// number by strtof, which gives the same float faster).
bool ParseColorValue(const char* line, float* value)
{
  const char* at = line;
  while (*at == ' ' || *at == '\t')
  {
    ++at;
  }
  if (PlainNumber(at))
  {
    *value = std::strtof(at, nullptr);
    return true;
  }
  return std::sscanf(line, "%f", value) == 1;
}

// A line without its line end (LF or CR LF).
std::string LineText(const char* line)
{
  size_t length = std::strlen(line);
  if (length > 0 && line[length - 1] == '\n')
  {
    --length;
  }
  if (length > 0 && line[length - 1] == '\r')
  {
    --length;
  }
  return std::string(line, length);
}

// Splits the range line into its two fields; false unless it holds exactly two.
bool SplitRange(const std::string& line, std::string& first, std::string& second)
{
  std::string fields[3];
  int count = 0;
  size_t at = 0;
  while (count < 3)
  {
    const size_t start = line.find_first_not_of(" \t", at);
    if (start == std::string::npos)
    {
      break;
    }
    const size_t end = line.find_first_of(" \t", start);
    fields[count++] = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (end == std::string::npos)
    {
      break;
    }
    at = end;
  }
  if (count != 2)
  {
    return false;
  }
  first = fields[0];
  second = fields[1];
  return true;
}
}

ColorReadStatus ReadColorValues(const char* path, vtkIdType cellCount, float* values, vtkIdType* badLine)
{
  std::FILE* file = std::fopen(path, "r");
  if (!file)
  {
    return ColorReadStatus::CannotOpen;
  }
  char* line = nullptr;
  size_t capacity = 0;
  bool failed = false;
  ColorReadStatus status = ColorReadStatus::Ok;
  vtkIdType lineNumber = 0;
  for (int header = 0; header < 3 && status == ColorReadStatus::Ok; ++header)
  {
    ++lineNumber;
    if (!ReadLine(file, &line, &capacity, &failed))
    {
      status = ColorReadStatus::TooFewLines;
    }
  }
  for (vtkIdType k = 0; k < cellCount && status == ColorReadStatus::Ok; ++k)
  {
    ++lineNumber;
    if (!ReadLine(file, &line, &capacity, &failed))
    {
      status = ColorReadStatus::TooFewLines;
    }
    else if (!ParseColorValue(line, &values[k]))
    {
      status = ColorReadStatus::NotANumber;
    }
  }
  std::free(line);
  std::fclose(file);
  if (failed)
  {
    status = ColorReadStatus::CannotOpen; // a folder, say: it opens but cannot be read
  }
  if ((status == ColorReadStatus::TooFewLines || status == ColorReadStatus::NotANumber) && badLine)
  {
    *badLine = lineNumber;
  }
  return status;
}

std::string ReadColorFile(const char* path, ColorFileContents& contents)
{
  std::FILE* file = std::fopen(path, "r");
  if (!file)
  {
    return "cannot be opened";
  }
  char* line = nullptr;
  size_t capacity = 0;
  bool failed = false;
  std::string problem;
  std::string text[3];
  for (int header = 0; header < 3 && problem.empty(); ++header)
  {
    if (!ReadLine(file, &line, &capacity, &failed))
    {
      problem = failed ? "cannot be read" : "ends before its color map line (line 3)";
    }
    else
    {
      text[header] = LineText(line);
    }
  }
  if (problem.empty() && text[0] != kColorFileHeader)
  {
    problem = "is not a scalar color file: line 1 is not its header";
  }
  if (problem.empty() && !SplitRange(text[1], contents.rangeFirst, contents.rangeSecond))
  {
    problem = "has no range of two fields on line 2";
  }
  contents.colorMap = text[2];
  contents.values.clear();
  contents.masked.clear();
  long long lineNumber = 3;
  while (problem.empty() && ReadLine(file, &line, &capacity, &failed))
  {
    ++lineNumber;
    float value;
    if (!ParseColorValue(line, &value))
    {
      char number[kNumberTextSize];
      problem = "has no number on line " + std::string(number, FormatInteger(lineNumber, number));
    }
    else
    {
      contents.values.push_back(value);
      contents.masked.push_back(LineText(line) == "0.0" ? 1 : 0);
    }
  }
  if (problem.empty() && failed)
  {
    problem = "cannot be read";
  }
  std::free(line);
  std::fclose(file);
  return problem;
}

std::string ColorValueName(const char* path)
{
  std::string name(path);
  const size_t slash = name.find_last_of('/');
  if (slash != std::string::npos)
  {
    name.erase(0, slash + 1);
  }
  const std::string ending = ".clr";
  if (name.size() > ending.size() && name.compare(name.size() - ending.size(), ending.size(), ending) == 0)
  {
    name.erase(name.size() - ending.size());
  }
  return name;
}

vtkSmartPointer<vtkFloatArray> ColorCellArray(const std::vector<float>& values, vtkIdType cellCount, const char* name)
{
  const vtkIdType count = static_cast<vtkIdType>(values.size());
  if (count != cellCount && count != cellCount / 2 * 2)
  {
    return nullptr;
  }
  auto array = vtkSmartPointer<vtkFloatArray>::New();
  array->SetName(name);
  array->SetNumberOfTuples(cellCount);
  float* out = array->GetPointer(0);
  std::copy(values.begin(), values.end(), out);
  for (vtkIdType i = count; i < cellCount; ++i)
  {
    out[i] = std::numeric_limits<float>::quiet_NaN();
  }
  return array;
}

std::string CellCountRefusal(const char* colorPath, size_t valueLines, vtkIdType cellCount, const char* surfacePath)
{
  return std::string("Color file ") + colorPath + " has " + std::to_string(valueLines) +
    (valueLines == 1 ? " value line, which does not fit the " : " value lines, which do not fit the ") +
    std::to_string(cellCount) + " cells of surface " + surfacePath + '\n';
}

std::string MaskRefusal(ColorReadStatus status, const char* path, vtkIdType cellCount, vtkIdType badLine)
{
  const std::string mask = std::string("Template mask ") + path;
  switch (status)
  {
    case ColorReadStatus::TooFewLines:
      return mask + " has fewer value lines than the " + std::to_string(cellCount) + " cells of the scans\n";
    case ColorReadStatus::NotANumber:
      return mask + " has no number on line " + std::to_string(badLine) + "\n";
    default:
      return mask + " cannot be opened\n";
  }
}
