#include "legacycheck.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/stat.h>
#include <memory>

namespace
{
// The whole file in memory, walked line by line or byte by byte. It is freed
// before VTK reads the file, so it adds nothing to the peak memory of a read.
struct Text
{
  std::unique_ptr<char[]> bytes;
  const char* at = nullptr;
  const char* end = nullptr;

  bool Load(const char* path)
  {
    // Only a regular file has a size to load (a folder opens, but has none).
    struct stat status;
    if (stat(path, &status) != 0 || !S_ISREG(status.st_mode))
    {
      return false;
    }
    std::FILE* file = std::fopen(path, "rb");
    if (!file)
    {
      return false;
    }
    const size_t size = static_cast<size_t>(status.st_size);
    bytes.reset(new char[size + 1]);
    const bool ok = std::fread(bytes.get(), 1, size, file) == size;
    std::fclose(file);
    bytes[size] = '\n'; // every line ends with a line feed
    at = bytes.get();
    end = at + size + 1;
    return ok;
  }

  // The next line, as [first, last) without its line feed; false at the end.
  bool NextLine(const char*& first, const char*& last)
  {
    if (at >= end)
    {
      return false;
    }
    first = at;
    last = static_cast<const char*>(std::memchr(at, '\n', static_cast<size_t>(end - at)));
    at = last + 1;
    return true;
  }

  // Skips `count` bytes; false when fewer are left.
  bool Skip(long long count)
  {
    if (count < 0 || count > end - 1 - at)
    {
      return false;
    }
    at += count;
    return true;
  }
};

// White space as a stream reads it, and the NUL that ends the loaded text.
struct BlankTable
{
  bool blank[256] = {};
  BlankTable()
  {
    for (unsigned char c : { ' ', '\t', '\r', '\v', '\f', '\n', '\0' })
    {
      blank[c] = true;
    }
  }
};
const BlankTable kBlanks;

bool IsBlank(char c)
{
  return kBlanks.blank[static_cast<unsigned char>(c)];
}

// The next whitespace-separated word of [cursor, last), lower-cased; cursor
// moves past it. Empty at the end of the line.
std::string NextWord(const char*& cursor, const char* last)
{
  while (cursor < last && IsBlank(*cursor))
  {
    ++cursor;
  }
  std::string word;
  while (cursor < last && !IsBlank(*cursor))
  {
    word += static_cast<char>(std::tolower(static_cast<unsigned char>(*cursor++)));
  }
  return word;
}

bool IsInteger(const std::string& word)
{
  size_t i = word.size() > 1 && (word[0] == '-' || word[0] == '+') ? 1 : 0;
  if (i == word.size())
  {
    return false;
  }
  for (; i < word.size(); ++i)
  {
    if (!std::isdigit(static_cast<unsigned char>(word[i])))
    {
      return false;
    }
  }
  return true;
}

bool IsCellSection(const std::string& word)
{
  return word == "vertices" || word == "lines" || word == "polygons" || word == "triangle_strips";
}

bool IsAttributeSection(const std::string& word)
{
  return word == "point_data" || word == "cell_data";
}

// Bytes per value of a binary array of the named type; 0 when unknown.
int TypeSize(const std::string& type)
{
  if (type == "char" || type == "unsigned_char")
  {
    return 1;
  }
  if (type == "short" || type == "unsigned_short")
  {
    return 2;
  }
  if (type == "int" || type == "unsigned_int" || type == "float")
  {
    return 4;
  }
  if (type == "double" || type == "vtktypeint64" || type == "vtktypeuint64")
  {
    return 8;
  }
  return 0;
}

// Whether `count` integer words follow, from `cursor` on over as many lines
// as it takes, before a word that is no integer or the end of the file. A
// tight loop: a cell section holds most of a surface file's words.
bool HasIntegers(Text& text, const char* cursor, long long count)
{
  const char* end = text.end;
  while (count > 0)
  {
    while (cursor < end && IsBlank(*cursor))
    {
      ++cursor;
    }
    if (cursor == end)
    {
      return false;
    }
    if (*cursor == '+' || *cursor == '-')
    {
      ++cursor;
    }
    const char* digits = cursor;
    while (*cursor >= '0' && *cursor <= '9')
    {
      ++cursor;
    }
    if (cursor == digits || !IsBlank(*cursor))
    {
      return false;
    }
    --count;
  }
  return true;
}
}

const char* LegacyCellSectionProblem(const char* path)
{
  Text text;
  const char* first;
  const char* last;
  if (!text.Load(path) || !text.NextLine(first, last))
  {
    return nullptr; // VTK reports a file that cannot be read
  }
  const std::string header(first, last);
  int major = 0;
  if (std::sscanf(header.c_str(), "# vtk DataFile Version %d", &major) != 1 || major >= 5)
  {
    return nullptr; // not a legacy file, or a layout that VTK reads safely
  }
  if (!text.NextLine(first, last) || !text.NextLine(first, last))
  {
    return nullptr;
  }
  const bool binary = NextWord(first, last) == "binary";

  while (text.NextLine(first, last))
  {
    const char* cursor = first;
    while (cursor < last && IsBlank(*cursor))
    {
      ++cursor;
    }
    if (cursor == last || !std::isalpha(static_cast<unsigned char>(*cursor)))
    {
      continue; // a line of numbers: keywords start with a letter
    }
    const std::string keyword = NextWord(cursor, last);
    if (IsAttributeSection(keyword))
    {
      return nullptr; // only the geometry sections come before the attributes
    }
    const std::string count = NextWord(cursor, last);
    const std::string second = NextWord(cursor, last);
    if (IsCellSection(keyword) && IsInteger(count) && IsInteger(second))
    {
      const long long size = std::atoll(second.c_str());
      if (binary ? !text.Skip(4 * size) : !HasIntegers(text, last + 1, size))
      {
        return "a cell section holds less than its header declares";
      }
    }
    else if (binary && keyword == "points" && IsInteger(count))
    {
      const int typeSize = TypeSize(second);
      if (typeSize == 0 || !text.Skip(3 * typeSize * std::atoll(count.c_str())))
      {
        return nullptr; // VTK reports a short points section itself
      }
    }
    else if (binary && keyword != "dataset")
    {
      return nullptr; // a section whose size is not checked here
    }
  }
  return nullptr;
}
