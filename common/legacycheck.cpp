#include "legacycheck.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <sys/stat.h>

namespace
{
const char* const kShortCells = "a cell section holds less than its header declares";
const char* const kCellNumber = "a cell section holds a number too large for a point count or id";
const char* const kCellSizes = "a cell section's point counts do not add up to its size";
const char* const kShortSection = "a section holds less than its header declares";

// The whole file in memory, with a line feed after its last byte so that a
// look at the byte after a word is always allowed. It is freed before VTK
// reads the file, so it adds nothing to the peak memory of a read.
struct Text
{
  std::unique_ptr<char[]> bytes;
  const char* at = nullptr;
  const char* end = nullptr; // the end of the file's bytes (the added line feed)

  bool Load(std::FILE* file, long size)
  {
    bytes.reset(new char[static_cast<size_t>(size) + 1]);
    if (std::fread(bytes.get(), 1, static_cast<size_t>(size), file) != static_cast<size_t>(size))
    {
      return false;
    }
    bytes[static_cast<size_t>(size)] = '\n';
    at = bytes.get();
    end = at + size;
    return true;
  }

  long long Left() const { return end - at; }

  // The next line, as [first, last) without its line feed; false at the end.
  bool NextLine(const char*& first, const char*& last)
  {
    if (at >= end)
    {
      return false;
    }
    first = at;
    last = static_cast<const char*>(std::memchr(at, '\n', static_cast<size_t>(end - at) + 1));
    at = last + 1;
    return true;
  }
};

// White space as a stream reads it.
bool IsBlank(char c)
{
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\n';
}

std::string Lower(const char* first, const char* last)
{
  std::string word(first, last);
  for (char& c : word)
  {
    if (c >= 'A' && c <= 'Z')
    {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return word;
}

// A word as VTK's reader compares it: by its start only.
bool Starts(const std::string& word, const char* keyword)
{
  return word.compare(0, std::strlen(keyword), keyword) == 0;
}

// A decimal integer word ([+-]digits), saturated at LLONG_MAX in magnitude.
bool ParseInteger(const std::string& word, long long& value)
{
  size_t i = 0;
  const bool negative = !word.empty() && word[0] == '-';
  if (!word.empty() && (word[0] == '-' || word[0] == '+'))
  {
    i = 1;
  }
  if (i == word.size())
  {
    return false;
  }
  long long magnitude = 0;
  for (; i < word.size(); ++i)
  {
    if (word[i] < '0' || word[i] > '9')
    {
      return false;
    }
    const int digit = word[i] - '0';
    magnitude = magnitude > (LLONG_MAX - digit) / 10 ? LLONG_MAX : magnitude * 10 + digit;
  }
  value = negative ? -magnitude : magnitude;
  return true;
}

// a * b for counts that are not negative, saturated at LLONG_MAX.
long long Product(long long a, long long b)
{
  return a != 0 && b > LLONG_MAX / a ? LLONG_MAX : a * b;
}

// Bytes per value of a binary array of the named type (matched by its start,
// as VTK matches it): 0 for bits (eight to a byte), -1 when the size is not
// fixed or not known here (strings, long).
int TypeSize(const std::string& type)
{
  static const struct
  {
    const char* name;
    int size;
  } kTypes[] = { { "bit", 0 }, { "char", 1 }, { "signed_char", 1 }, { "unsigned_char", 1 }, { "short", 2 },
    { "unsigned_short", 2 }, { "int", 4 }, { "unsigned_int", 4 }, { "float", 4 }, { "vtkidtype", 4 },
    { "double", 8 }, { "vtktypeint64", 8 }, { "vtktypeuint64", 8 } };
  for (const auto& known : kTypes)
  {
    if (Starts(type, known.name))
    {
      return known.size;
    }
  }
  return -1;
}

enum class Step
{
  Go,   // the section holds what it declares: go on with the next one
  Stop, // a section the check does not know: VTK's reader judges the rest
  Fail, // the file holds less than declared: `problem` says what
};

// Walks the sections of a legacy file as VTK's reader reads them: a keyword
// and its header words, then the data, as many values as the header
// declares (white-space separated words in an ASCII file, bytes after the
// header's line end in a binary one).
struct Walk
{
  Text& text;
  bool binary = false;
  bool cellOffsets = false; // cell sections in the layout of version 5 (offsets and connectivity)
  long long tuples = 0;     // of the point or cell data being read
  const char* problem = nullptr;

  Step Fail(const char* what)
  {
    problem = what;
    return Step::Fail;
  }

  // The next white-space separated word, lower-cased; false at the end.
  bool NextWord(std::string& word)
  {
    const char* at = text.at;
    while (at < text.end && IsBlank(*at))
    {
      ++at;
    }
    if (at == text.end)
    {
      text.at = at;
      return false;
    }
    const char* first = at;
    while (!IsBlank(*at))
    {
      ++at;
    }
    word = Lower(first, at);
    text.at = at;
    return true;
  }

  bool NextCount(long long& count)
  {
    std::string word;
    return NextWord(word) && ParseInteger(word, count);
  }

  // Skips `count` words of an ASCII section; false when fewer are left.
  bool SkipWords(long long count)
  {
    if (count > text.Left())
    {
      return false; // every word takes a byte at least
    }
    const char* at = text.at;
    const char* end = text.end;
    for (; count > 0; --count)
    {
      while (at < end && IsBlank(*at))
      {
        ++at;
      }
      if (at == end)
      {
        return false;
      }
      while (!IsBlank(*at))
      {
        ++at;
      }
    }
    text.at = at;
    return true;
  }

  // Binary data starts after the line end of its header.
  bool ToBinaryData()
  {
    const void* feed = std::memchr(text.at, '\n', static_cast<size_t>(text.Left()));
    if (!feed)
    {
      return false;
    }
    text.at = static_cast<const char*>(feed) + 1;
    return true;
  }

  // The data of an array of `count` values of the named type.
  Step Array(const std::string& type, long long count)
  {
    if (count < 0)
    {
      return Step::Stop; // VTK's reader refuses it
    }
    const int size = TypeSize(type);
    if (!binary)
    {
      if (size < 0)
      {
        // Strings are read line by line: a line feed each, at least.
        return count > text.Left() ? Fail(kShortSection) : Step::Stop;
      }
      return SkipWords(count) ? Step::Go : Fail(kShortSection);
    }
    if (!ToBinaryData())
    {
      return count == 0 ? Step::Stop : Fail(kShortSection);
    }
    if (size < 0)
    {
      // A string takes a byte at least.
      return count > text.Left() ? Fail(kShortSection) : Step::Stop;
    }
    const long long bytes = size == 0 ? count / 8 + (count % 8 != 0) : Product(count, size);
    if (bytes > text.Left())
    {
      return Fail(kShortSection);
    }
    text.at += bytes;
    return Step::Go;
  }

  // "KEYWORD name type", then count values.
  Step NamedArray(long long count)
  {
    std::string name;
    std::string type;
    if (!NextWord(name) || !NextWord(type))
    {
      return Step::Stop;
    }
    return Array(type, count);
  }

  // A cell section of the old layout: `size` integers, each cell's point
  // count followed by its point ids. VTK's reader reads them as int and
  // walks the counts to the end of the section without checking them.
  Step OldCells(long long size)
  {
    if (size < 0)
    {
      return Step::Stop; // VTK's reader refuses it
    }
    long long next = 0; // index of the next cell's point count
    if (!binary)
    {
      if (size > text.Left())
      {
        return Fail(kShortCells);
      }
      const char* at = text.at;
      const char* end = text.end;
      for (long long i = 0; i < size; ++i)
      {
        while (at < end && IsBlank(*at))
        {
          ++at;
        }
        const bool negative = *at == '-';
        if (*at == '+' || *at == '-')
        {
          ++at;
        }
        const char* digits = at;
        long long value = 0;
        for (; *at >= '0' && *at <= '9'; ++at)
        {
          if (value <= INT_MAX)
          {
            value = value * 10 + (*at - '0');
          }
        }
        if (at == digits || !IsBlank(*at))
        {
          return Fail(kShortCells);
        }
        if (value > INT_MAX + static_cast<long long>(negative))
        {
          return Fail(kCellNumber); // reading it as int fails
        }
        if (i == next)
        {
          if (negative || value > size - 1 - i)
          {
            return Fail(kCellSizes);
          }
          next = i + 1 + value;
        }
      }
      text.at = at;
      return Step::Go;
    }
    if (!ToBinaryData() || Product(size, 4) > text.Left())
    {
      return Fail(kShortCells);
    }
    const unsigned char* data = reinterpret_cast<const unsigned char*>(text.at);
    while (next < size)
    {
      // Big-endian 32-bit integers.
      const unsigned char* p = data + 4 * next;
      const int32_t count = static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 24 |
        static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]));
      if (count < 0 || count > size - 1 - next)
      {
        return Fail(kCellSizes);
      }
      next += 1 + count;
    }
    text.at += 4 * size;
    return Step::Go;
  }

  // VERTICES, LINES, POLYGONS or TRIANGLE_STRIPS, after the keyword.
  Step Cells()
  {
    long long first;
    long long second;
    if (!NextCount(first) || !NextCount(second))
    {
      return Step::Stop;
    }
    if (!cellOffsets)
    {
      return OldCells(second);
    }
    // "OFFSETS type" with `first` values, "CONNECTIVITY type" with `second`.
    std::string word;
    std::string type;
    if (!NextWord(word) || !Starts(word, "offsets") || !NextWord(type))
    {
      return Step::Stop;
    }
    const Step offsets = Array(type, first);
    if (offsets != Step::Go)
    {
      return offsets;
    }
    if (!NextWord(word) || !Starts(word, "connectivity") || !NextWord(type))
    {
      return Step::Stop;
    }
    return Array(type, second);
  }

  // FIELD name arrays, then per array "name components tuples type" and its
  // values.
  Step Field()
  {
    std::string word;
    long long arrays;
    if (!NextWord(word) || !NextCount(arrays))
    {
      return Step::Stop;
    }
    for (long long i = 0; i < arrays; ++i)
    {
      if (!NextWord(word))
      {
        return Step::Stop;
      }
      if (word == "null_array")
      {
        continue;
      }
      long long components;
      long long count;
      std::string type;
      if (!NextCount(components) || !NextCount(count) || !NextWord(type) || components < 0 || count < 0)
      {
        return Step::Stop;
      }
      const Step step = Array(type, Product(components, count));
      if (step != Step::Go)
      {
        return step;
      }
    }
    return Step::Go;
  }

  // SCALARS name type [components], then LOOKUP_TABLE name.
  Step Scalars()
  {
    std::string name;
    std::string type;
    std::string word;
    if (!NextWord(name) || !NextWord(type) || !NextWord(word))
    {
      return Step::Stop;
    }
    long long components = 1;
    if (!Starts(word, "lookup_table"))
    {
      if (!ParseInteger(word, components) || components < 1 || !NextWord(word) || !Starts(word, "lookup_table"))
      {
        return Step::Stop;
      }
    }
    if (!NextWord(name))
    {
      return Step::Stop;
    }
    return Array(type, Product(tuples, components));
  }

  // One section, after its keyword.
  Step Section(const std::string& keyword)
  {
    long long count;
    std::string word;
    if (Starts(keyword, "dataset"))
    {
      return NextWord(word) && Starts(word, "polydata") ? Step::Go : Step::Stop;
    }
    if (Starts(keyword, "field"))
    {
      return Field();
    }
    if (Starts(keyword, "points"))
    {
      return NextCount(count) && count >= 0 && NextWord(word) ? Array(word, Product(count, 3)) : Step::Stop;
    }
    if (Starts(keyword, "vertices") || Starts(keyword, "lines") || Starts(keyword, "polygons") ||
      Starts(keyword, "triangle_strips"))
    {
      return Cells();
    }
    if (Starts(keyword, "point_data") || Starts(keyword, "cell_data"))
    {
      if (!NextCount(count) || count < 0)
      {
        return Step::Stop;
      }
      tuples = count;
      return Step::Go;
    }
    if (Starts(keyword, "scalars"))
    {
      return Scalars();
    }
    if (Starts(keyword, "color_scalars"))
    {
      // Bytes in a binary file, numbers in an ASCII one.
      return NextWord(word) && NextCount(count) && count >= 0 ? Array("unsigned_char", Product(tuples, count))
                                                              : Step::Stop;
    }
    if (Starts(keyword, "lookup_table"))
    {
      return NextWord(word) && NextCount(count) && count >= 0 ? Array("unsigned_char", Product(count, 4))
                                                              : Step::Stop;
    }
    if (Starts(keyword, "vectors") || Starts(keyword, "normals"))
    {
      return NamedArray(Product(tuples, 3));
    }
    if (Starts(keyword, "tensors6"))
    {
      return Step::Stop;
    }
    if (Starts(keyword, "tensors"))
    {
      return NamedArray(Product(tuples, 9));
    }
    if (Starts(keyword, "texture_coordinates"))
    {
      std::string type;
      return NextWord(word) && NextCount(count) && count >= 0 && NextWord(type) ? Array(type, Product(tuples, count))
                                                                                : Step::Stop;
    }
    if (Starts(keyword, "global_ids") || Starts(keyword, "pedigree_ids") || Starts(keyword, "edge_flags"))
    {
      return NamedArray(tuples);
    }
    return Step::Stop;
  }
};
}

const char* LegacySectionProblem(const char* path)
{
  std::FILE* file = std::fopen(path, "rb");
  if (!file)
  {
    return nullptr; // VTK reports a file that cannot be opened
  }
  struct stat status;
  const bool known = fstat(fileno(file), &status) == 0;
  if (known && S_ISDIR(status.st_mode))
  {
    std::fclose(file);
    return "it is a folder";
  }
  if (!known || !S_ISREG(status.st_mode) || status.st_size > LONG_MAX - 1)
  {
    std::fclose(file);
    return nullptr; // a pipe or device is read by VTK alone
  }
  Text text;
  const bool loaded = text.Load(file, static_cast<long>(status.st_size));
  std::fclose(file);
  const char* first;
  const char* last;
  if (!loaded || !text.NextLine(first, last))
  {
    return nullptr; // VTK reports a file that cannot be read
  }
  const std::string header(first, last);
  int major = 0;
  if (std::sscanf(header.c_str(), "# vtk DataFile Version %d", &major) != 1)
  {
    return nullptr; // not a legacy file: VTK refuses it
  }
  if (!text.NextLine(first, last))
  {
    return nullptr;
  }
  Walk walk{ text };
  walk.cellOffsets = major >= 5;
  std::string word;
  if (!walk.NextWord(word))
  {
    return nullptr;
  }
  walk.binary = word == "binary";
  while (walk.NextWord(word))
  {
    switch (walk.Section(word))
    {
      case Step::Go:
        break;
      case Step::Stop:
        return nullptr;
      case Step::Fail:
        return walk.problem;
    }
  }
  return nullptr;
}
