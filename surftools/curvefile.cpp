#include "surftools/curvefile.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include <sys/stat.h>

namespace
{
// Line content per pass; one more character holds the terminating null.
constexpr size_t kLineLength = 511;

// The whole file, or false when it cannot be opened or read to its end (a
// folder opens but cannot be read).
bool ReadWholeFile(const char* fileName, std::string& text)
{
  std::FILE* file = std::fopen(fileName, "r");
  if (!file)
  {
    return false;
  }
  // Room for the whole of a regular file at once; anything else (a pipe)
  // grows as it comes.
  struct stat status;
  if (fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0)
  {
    text.reserve(static_cast<size_t>(status.st_size) + 1);
  }
  char chunk[1 << 16];
  size_t count;
  while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0)
  {
    text.append(chunk, count);
  }
  const bool complete = !std::ferror(file);
  std::fclose(file);
  return complete;
}
}

namespace
{
// The points of a curve file, or nullptr when it cannot be opened or read.
vtkSmartPointer<vtkPoints> ReadCurvePoints(const char* fileName)
{
  std::string text;
  if (!ReadWholeFile(fileName, text))
  {
    return nullptr;
  }

  auto points = vtkSmartPointer<vtkPoints>::New();
  float x = 0;
  float y = 0;
  float z = 0;
  const char* next = text.data();
  const char* const end = next + text.size();
  bool atEnd = false;
  while (!atEnd)
  {
    // One pass reads a line as a 512-character line buffer takes it: up to
    // the line feed (consumed, not kept), at most 511 characters. A pass that
    // meets the end of the file is the last one; one that starts there reads
    // nothing and repeats the previous point.
    char line[kLineLength + 1];
    size_t kept = 0;
    if (next == end)
    {
      atEnd = true;
    }
    else
    {
      const size_t available = static_cast<size_t>(end - next);
      const size_t limit = available < kLineLength ? available : kLineLength;
      const char* feed = static_cast<const char*>(std::memchr(next, '\n', limit));
      kept = feed ? static_cast<size_t>(feed - next) : limit;
      std::memcpy(line, next, kept);
      if (feed)
      {
        next = feed + 1;
      }
      else if (available <= kLineLength)
      {
        next = end;
        atEnd = true;
      }
      else
      {
        // 511 characters kept and the line goes on: the rest of it, through
        // its line feed, is skipped.
        const char* rest = next + kLineLength;
        feed = static_cast<const char*>(std::memchr(rest, '\n', static_cast<size_t>(end - rest)));
        next = feed ? feed + 1 : end;
        atEnd = !feed;
      }
    }
    line[kept] = '\0';
    std::sscanf(line, "%f %f %f ", &x, &y, &z);
    points->InsertNextPoint(static_cast<double>(x), static_cast<double>(y), static_cast<double>(z));
  }
  return points;
}
}

std::string CurveFileError(const char* fileName, bool nameFile)
{
  return nameFile ? std::string("Error opening file ") + fileName + '\n' : std::string("Error opening file");
}

bool ReadCurveFile(const char* fileName, vtkSmartPointer<vtkPoints>& points)
{
  points = ReadCurvePoints(fileName);
  return points != nullptr;
}

char* FormatCurvePoint(const double point[3], char* text)
{
  char* end = text;
  for (int k = 0; k < 3; ++k)
  {
    if (k > 0)
    {
      *end++ = ' ';
    }
    end += FormatNumber(static_cast<float>(point[k]), end);
  }
  return end;
}

bool IsFinitePoint(const double point[3])
{
  return std::isfinite(point[0]) && std::isfinite(point[1]) && std::isfinite(point[2]);
}
