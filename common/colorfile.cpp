#include "colorfile.h"

#include "outputfile.h"

#include <cstdio>
#include <cstring>
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
// Reads one line into buffer (at most size - 1 characters of it, the rest of
// an overlong line is skipped). Returns false at end of file with nothing read.
bool ReadLine(std::FILE* file, char* buffer, int size)
{
  if (!std::fgets(buffer, size, file))
  {
    return false;
  }
  const size_t length = std::strlen(buffer);
  if (length > 0 && buffer[length - 1] != '\n')
  {
    int c;
    while ((c = std::getc(file)) != EOF && c != '\n')
    {
    }
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
  char line[1024];
  ColorReadStatus status = ColorReadStatus::Ok;
  vtkIdType lineNumber = 0;
  for (int header = 0; header < 3 && status == ColorReadStatus::Ok; ++header)
  {
    ++lineNumber;
    if (!ReadLine(file, line, sizeof line))
    {
      status = ColorReadStatus::TooFewLines;
    }
  }
  for (vtkIdType k = 0; k < cellCount && status == ColorReadStatus::Ok; ++k)
  {
    ++lineNumber;
    if (!ReadLine(file, line, sizeof line))
    {
      status = ColorReadStatus::TooFewLines;
    }
    else if (std::sscanf(line, "%f", &values[k]) != 1)
    {
      status = ColorReadStatus::NotANumber;
    }
  }
  std::fclose(file);
  if (status != ColorReadStatus::Ok && badLine)
  {
    *badLine = lineNumber;
  }
  return status;
}
