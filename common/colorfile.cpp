#include "colorfile.h"

#include "outputfile.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

const char* const kColorFileHeader = "# OSTRAVELIN SURFACE SCALAR COLOR FILE V1";

std::ofstream OpenColorFile(const char* path)
{
  return OpenOutputFile(path);
}

void WriteColorHeader(std::ostream& out, const std::string& rangeFirst, const std::string& rangeSecond,
  const char* colorMap)
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
    else if (std::sscanf(line, "%f", &values[k]) != 1)
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
