#include "surftools/legacycheck.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace
{
const char* const kShortCells = "a cell section holds less than its header declares";
const char* const kCellNumber = "a cell section holds a number too large for a point count or id";
const char* const kCellSizes = "a cell section's point counts do not add up to its size";
const char* const kShortSection = "a section holds less than its header declares";
const char* const kBadValue = "a section holds a value that cannot be read as a number of its type";
const char* const kBadType = "a section names a data type that is not known";
const char* const kBadSize = "a section header declares a size that is not a count";

// The whole file in memory, with a line feed after its last byte so that a
// look at the byte after a word is always allowed. It is freed before VTK
// reads the file, so it adds nothing to the peak memory of a read.
struct Text
{
  std::unique_ptr<char[]> bytes;
  void* mapped = nullptr; // the file mapped in place of `bytes`
  size_t mappedSize = 0;
  const char* at = nullptr;
  const char* end = nullptr; // the end of the file's bytes (the added line feed)

  Text() = default;
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  ~Text()
  {
    if (mapped)
    {
      munmap(mapped, mappedSize);
    }
  }

  bool Load(std::FILE* file, long size)
  {
    // A file that ends inside a page is mapped rather than copied: the
    // line feed goes after its end, into a private copy of its last page.
    const long page = sysconf(_SC_PAGESIZE);
    if (size > 0 && page > 0 && size % page != 0)
    {
      void* map = mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE, MAP_PRIVATE, fileno(file), 0);
      if (map != MAP_FAILED)
      {
        mapped = map;
        mappedSize = static_cast<size_t>(size);
        char* first = static_cast<char*>(map);
        first[size] = '\n';
        at = first;
        end = at + size;
        return true;
      }
    }
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
    at = last == end ? end : last + 1; // the added line feed is not part of the file
    return true;
  }
};

// White space as a stream reads it.
struct BlankTable
{
  bool blank[256] = {};
  BlankTable()
  {
    for (unsigned char c : { ' ', '\t', '\r', '\v', '\f', '\n' })
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

// How a stream reads a value of an ASCII array: as a number of which type.
enum class Number
{
  Int,
  Short,
  UnsignedShort,
  UnsignedInt,
  Int64,
  UnsignedInt64,
  Float,
  Double,
  Unknown, // read some other way (strings, line by line) or not known here
};

struct ValueType
{
  int size;      // bytes per binary value: 0 for bits (eight to a byte), -1 when not fixed or not known here
  Number number; // how VTK's reader reads an ASCII value
};

// The array type of the name, matched as VTK's reader matches it: by its
// start, but "char" and "signed_char" as whole words. A size of -2 for a type
// that VTK's reader does not know (it fails on it without a word and reads
// on from nothing). Bits, characters and ids are read from ASCII as int.
ValueType TypeOf(const std::string& type)
{
  static const struct
  {
    const char* name;
    bool whole;
    ValueType type;
  } kTypes[] = { { "bit", false, { 0, Number::Int } }, { "char", true, { 1, Number::Int } },
    { "signed_char", true, { 1, Number::Int } }, { "unsigned_char", false, { 1, Number::Int } },
    { "short", false, { 2, Number::Short } }, { "unsigned_short", false, { 2, Number::UnsignedShort } },
    { "int", false, { 4, Number::Int } }, { "unsigned_int", false, { 4, Number::UnsignedInt } },
    { "float", false, { 4, Number::Float } }, { "vtkidtype", false, { 4, Number::Int } },
    { "double", false, { 8, Number::Double } }, { "vtktypeint64", false, { 8, Number::Int64 } },
    { "vtktypeuint64", false, { 8, Number::UnsignedInt64 } }, { "long", false, { -1, Number::Unknown } },
    { "unsigned_long", false, { -1, Number::Unknown } }, { "string", false, { -1, Number::Unknown } },
    { "utf8_string", false, { -1, Number::Unknown } }, { "variant", false, { -1, Number::Unknown } } };
  for (const auto& known : kTypes)
  {
    if (known.whole ? type == known.name : Starts(type, known.name))
    {
      return known.type;
    }
  }
  return { -2, Number::Unknown };
}

const char* SkipDigits(const char* at)
{
  while (*at >= '0' && *at <= '9')
  {
    ++at;
  }
  return at;
}

// The rest of a floating-point value after its sign, as ReadValue reads it.
bool ReadFloatingValue(const char* first, const char*& at, Number number)
{
  const char* digits = at;
  at = SkipDigits(at);
  size_t mantissa = static_cast<size_t>(at - digits);
  if (*at == '.')
  {
    const char* fraction = ++at;
    at = SkipDigits(at);
    mantissa += static_cast<size_t>(at - fraction);
  }
  if (mantissa == 0)
  {
    return false;
  }
  bool exponent = false;
  if (*at == 'e' || *at == 'E')
  {
    ++at;
    if (*at == '+' || *at == '-')
    {
      ++at;
    }
    const char* power = at;
    at = SkipDigits(at);
    if (at == power)
    {
      return false;
    }
    exponent = true;
  }
  // Out of range is possible only with a power of ten or many digits.
  if (exponent || mantissa > 30)
  {
    const std::string text(first, at);
    const double value = number == Number::Float ? static_cast<double>(std::strtof(text.c_str(), nullptr))
                                                 : std::strtod(text.c_str(), nullptr);
    return std::isfinite(value);
  }
  return true;
}

// The largest magnitude of an integer type (of a negative value where
// `negative`); a magnitude above it is out of range.
unsigned long long IntegerLimit(Number number, bool negative)
{
  switch (number)
  {
    case Number::Int:
      return negative ? 2147483648ull : 2147483647ull;
    case Number::Short:
      return negative ? 32768ull : 32767ull;
    case Number::UnsignedShort:
      return 65535ull; // a negative value is taken modulo the range
    case Number::UnsignedInt:
      return 4294967295ull;
    case Number::Int64:
      return negative ? 9223372036854775808ull : 9223372036854775807ull;
    default:
      return 18446744073709551615ull - 1; // the saturated value counts as too large
  }
}

// Reads one value from `at` as a C++ stream's >> reads it into the type:
// white space, then the longest run of characters that fits the form of a
// number (so "1-2" holds two values and "2x" a 2 and then an x). False
// where the read fails: no number there, or one out of the type's range.
// An integer that fits is stored in *integer.
bool ReadValue(const char*& at, const char* end, Number number, long long* integer = nullptr)
{
  while (at < end && IsBlank(*at))
  {
    ++at;
  }
  const char* first = at;
  const bool negative = *at == '-';
  if (*at == '+' || *at == '-')
  {
    ++at;
  }
  if (number == Number::Float || number == Number::Double)
  {
    return ReadFloatingValue(first, at, number);
  }
  const char* digits = at;
  at = SkipDigits(at);
  if (at == digits)
  {
    return false;
  }
  // The magnitude, saturated far above every limit.
  unsigned long long magnitude = 0;
  for (const char* d = digits; d < at; ++d)
  {
    magnitude = magnitude > 1000000000000000000ull ? ~0ull : magnitude * 10 + static_cast<unsigned>(*d - '0');
  }
  if (magnitude > IntegerLimit(number, negative))
  {
    return false;
  }
  if (integer)
  {
    *integer = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
  }
  return true;
}

// Where the values of an ASCII section are plain: unsigned decimals of at
// most nine digits (or, for floating-point values, a minus, digits and at
// most one point, starting with a digit after the minus) between blanks
// (space, tab, CR, LF). Such values read alike as a stream reads them and as
// ReadValue does; they are counted here sixteen bytes at a time, in windows
// that end after their last blank, so that no value runs across two. `at`
// must follow a blank (or hold one); reads values while they are plain and
// fewer than `count` - `read`, advancing `at` and `read`. For a cell section
// of the old layout (`cells` set), each value at index `*next` is a cell's
// point count: it must leave room for its ids within `count`, and `*next`
// moves past them; false when one does not.
// The number of set bits, without the library call that a processor
// without a population count instruction gets for __builtin_popcountll.
inline int BitCount(uint64_t bits)
{
  bits = bits - ((bits >> 1) & 0x5555555555555555ull);
  bits = (bits & 0x3333333333333333ull) + ((bits >> 2) & 0x3333333333333333ull);
  bits = (bits + (bits >> 4)) & 0x0f0f0f0f0f0f0f0full;
  return static_cast<int>((bits * 0x0101010101010101ull) >> 56);
}

#if defined(__SSE2__)
// The kinds of 64 bytes, one bit a byte: digits, blanks (space, tab, CR,
// LF), minuses and points (the last two only for floating-point values).
struct ByteKinds
{
  uint64_t digits = 0;
  uint64_t blanks = 0;
  uint64_t minuses = 0;
  uint64_t points = 0;
};

ByteKinds ClassifyBytes(const char* at, bool floating)
{
  const __m128i zero = _mm_set1_epi8('0');
  const __m128i nine = _mm_set1_epi8(9);
  ByteKinds kinds;
  for (int part = 0; part < 4; ++part)
  {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16 * part));
    const __m128i offset = _mm_sub_epi8(bytes, zero);
    const int shift = 16 * part;
    auto bits = [shift](__m128i mask) {
      return static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(mask))) << shift;
    };
    auto equal = [&bytes](char c) { return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)); };
    kinds.digits |= bits(_mm_cmpeq_epi8(_mm_min_epu8(offset, nine), offset));
    kinds.blanks |= bits(_mm_or_si128(_mm_or_si128(equal(' '), equal('\n')), _mm_or_si128(equal('\r'), equal('\t'))));
    if (floating)
    {
      kinds.minuses |= bits(equal('-'));
      kinds.points |= bits(equal('.'));
    }
  }
  return kinds;
}

// Whether the values in the window (the bytes up to its last blank) are all
// plain: each starts with a digit or a minus and a digit, a minus only at a
// start, at most one point in a floating-point value, at most nine digits in
// an integer.
bool PlainWindow(const ByteKinds& kinds, uint64_t window, uint64_t starts, bool floating)
{
  // A value starts with a digit, or with a minus and a digit.
  if ((starts & ~kinds.digits & ~(kinds.minuses & (kinds.digits >> 1))) != 0 || (kinds.minuses & window & ~starts) != 0)
  {
    return false;
  }
  if (floating)
  {
    // At most one point in a value: a blank between any two points. Adding
    // a value's points to its run of bits carries from its first point to
    // the run's end, leaving every later point of the run set.
    const uint64_t inValues = ~kinds.blanks & window;
    const uint64_t dots = kinds.points & window;
    return ((inValues + dots) & dots) == 0;
  }
  // At most nine digits in an integer.
  const uint64_t d = kinds.digits & window;
  const uint64_t two = d & (d >> 1);
  const uint64_t four = two & (two >> 2);
  const uint64_t eight = four & (four >> 4);
  return (eight & (two >> 8)) == 0;
}

// Checks the cells' point counts among the `values` values of a window that
// start at the bits of `starts` (value `read` first): each count, at value
// index *next, must leave room for its ids within `count`; *next moves past
// them. False when one does not.
bool CellCountsFit(const char* at, uint64_t starts, long long read, long long values, long long count, long long* next)
{
  long long index = read;
  while (*next < read + values)
  {
    for (; index < *next; ++index)
    {
      starts &= starts - 1;
    }
    long long value = 0;
    for (const char* d = at + __builtin_ctzll(starts); *d >= '0' && *d <= '9'; ++d)
    {
      value = value * 10 + (*d - '0');
    }
    if (value > count - 1 - *next)
    {
      return false;
    }
    *next += 1 + value;
  }
  return true;
}
#endif

bool ReadPlainValues(
  const char*& at, const char* end, bool floating, long long count, long long& read, long long* next = nullptr)
{
#if defined(__SSE2__)
  while (end - at >= 64 && read < count)
  {
    // The bytes a few pages on are fetched ahead: the processor's own
    // prefetching stops at page boundaries.
    _mm_prefetch(at + 2048, _MM_HINT_T0);
    const ByteKinds kinds = ClassifyBytes(at, floating);
    if ((kinds.digits | kinds.blanks | kinds.minuses | kinds.points) != ~0ull || kinds.blanks == 0)
    {
      return true; // something else: read one at a time
    }
    const int last = 63 - __builtin_clzll(kinds.blanks);
    const uint64_t window = last == 63 ? ~0ull : (1ull << (last + 1)) - 1;
    const uint64_t word = (kinds.digits | kinds.minuses | kinds.points) & window;
    const uint64_t starts = word & ~(word << 1);
    if (!PlainWindow(kinds, window, starts, floating))
    {
      return true;
    }
    const int values = BitCount(starts);
    if (read + values > count)
    {
      return true;
    }
    if (next && !CellCountsFit(at, starts, read, values, count, next))
    {
      return false;
    }
    read += values;
    at += last + 1;
  }
#else
  (void)at;
  (void)end;
  (void)floating;
  (void)count;
  (void)read;
  (void)next;
#endif
  return true;
}

enum class Step
{
  Go,   // the section holds what it declares: go on with the next one
  Stop, // a section the check does not know: VTK's reader judges the rest
  Fail, // the file holds less than declared: `problem` says what
};

// Walks the sections of a legacy file as VTK's reader reads them: a keyword
// and its header words, then the data, as many values as the header
// declares (numbers as a stream reads them in an ASCII file, bytes after the
// header's line end in a binary one).
struct Walk
{
  Text& text;
  bool binary = false;
  bool cellOffsets = false; // cell sections in the layout of version 5 (offsets and connectivity)
  long long tuples = 0;     // of the point or cell data being read
  const char* problem = nullptr;
  LegacyReading* reading = nullptr; // shown every section checked, where there is one

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

  // The next word as a size: a whole number, not negative. VTK's reader
  // would take the digits at the start of a word such as "3x" and go on
  // reading from the middle of the word.
  bool NextCount(long long& count)
  {
    std::string word;
    return NextWord(word) && ParseInteger(word, count) && count >= 0;
  }

  // Reads `count` values of an ASCII section as VTK's reader reads them.
  Step ReadValues(long long count, Number number)
  {
    if (count > text.Left())
    {
      return Fail(kShortSection); // every value takes a byte at least
    }
    const char* at = text.at;
    // The plain values first, then one at a time; again while plain ones
    // follow.
    const bool floating = number == Number::Float || number == Number::Double;
    const bool plain = floating || number == Number::Int || number == Number::UnsignedInt || number == Number::Int64 ||
      number == Number::UnsignedInt64;
    long long read = 0;
    if (plain)
    {
      ReadPlainValues(at, text.end, floating, count, read);
    }
    for (count -= read; count > 0; --count)
    {
      const char* start = at;
      if (!ReadValue(at, text.end, number))
      {
        // Only white space left: the section is short.
        for (at = start; at < text.end && IsBlank(*at);)
        {
          ++at;
        }
        return Fail(at == text.end ? kShortSection : kBadValue);
      }
    }
    text.at = at;
    return Step::Go;
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

  // The data of an array of `count` values of the named type. The values of
  // color scalars and lookup tables are numbers in an ASCII file, bytes in a
  // binary one: `asciiType` then names the type read from ASCII.
  Step Array(const std::string& type, long long count, const char* asciiType = nullptr)
  {
    const ValueType value = TypeOf(binary || !asciiType ? type : std::string(asciiType));
    if (value.size == -2)
    {
      return Fail(kBadType);
    }
    if (!binary)
    {
      if (value.number == Number::Unknown)
      {
        // Strings are read line by line: a line feed each, at least.
        return count > text.Left() ? Fail(kShortSection) : Step::Stop;
      }
      return ReadValues(count, value.number);
    }
    if (!ToBinaryData())
    {
      return Fail(kShortSection);
    }
    if (value.size < 0)
    {
      // A string takes a byte at least.
      return count > text.Left() ? Fail(kShortSection) : Step::Stop;
    }
    const long long bytes = value.size == 0 ? count / 8 + (count % 8 != 0) : Product(count, value.size);
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
      return Fail(kShortSection);
    }
    return Array(type, count);
  }

  // A cell section of the old layout: `size` integers, each cell's point
  // count followed by its point ids. VTK's reader reads them as int and
  // walks the counts to the end of the section without checking them.
  Step OldCells(long long size)
  {
    long long next = 0; // index of the next cell's point count
    if (!binary)
    {
      if (size > text.Left())
      {
        return Fail(kShortCells);
      }
      const char* at = text.at;
      long long i = 0;
      if (!ReadPlainValues(at, text.end, false, size, i, &next))
      {
        return Fail(kCellSizes);
      }
      for (; i < size; ++i)
      {
        const char* start = at;
        long long value = 0;
        // Most values are short unsigned decimals between blanks: they are
        // read here, everything else by ReadValue, which gives the same
        // result for these (a cell section holds most words of a file).
        const char* first = at;
        while (first < text.end && IsBlank(*first))
        {
          ++first;
        }
        const char* digit = first;
        long long quick = 0;
        while (digit - first < 9 && *digit >= '0' && *digit <= '9')
        {
          quick = quick * 10 + (*digit++ - '0');
        }
        if (digit > first && IsBlank(*digit))
        {
          value = quick;
          at = digit;
        }
        else if (!ReadValue(at, text.end, Number::Int, &value))
        {
          // No integer there, or one too large to read as int.
          const char* digits = start;
          while (digits < text.end && (IsBlank(*digits) || *digits == '-' || *digits == '+'))
          {
            ++digits;
          }
          return Fail(*digits >= '0' && *digits <= '9' ? kCellNumber : kShortCells);
        }
        if (i == next)
        {
          if (value < 0 || value > size - 1 - i)
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
      const int32_t count = static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
        static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]));
      if (count < 0 || count > size - 1 - next)
      {
        return Fail(kCellSizes);
      }
      next += 1 + count;
    }
    text.at += 4 * size;
    return Step::Go;
  }

  // The values that the last section's data took, from `start` (where its
  // data began, in an ASCII file) to where the walk stands now.
  LegacyValues ValuesRead(const char* start, long long count, const std::string& type) const
  {
    const int size = binary ? TypeOf(type).size : 0;
    return { binary ? text.at - Product(count, size) : start, text.at, count, size };
  }

  // VERTICES, LINES, POLYGONS or TRIANGLE_STRIPS (`kind`), after the keyword.
  Step Cells(const char* kind)
  {
    long long first;
    long long second;
    if (!NextCount(first) || !NextCount(second))
    {
      return Fail(kBadSize);
    }
    if (!cellOffsets)
    {
      const char* start = text.at;
      const Step step = OldCells(second);
      if (step == Step::Go && reading)
      {
        reading->Cells(kind, nullptr, ValuesRead(start, second, "int"));
      }
      return step;
    }
    // "OFFSETS type" with `first` values, "CONNECTIVITY type" with `second`.
    std::string word;
    std::string type;
    if (!NextWord(word) || !Starts(word, "offsets") || !NextWord(type))
    {
      return Fail(kShortSection);
    }
    const char* start = text.at;
    const Step offsets = Array(type, first);
    if (offsets != Step::Go)
    {
      return offsets;
    }
    const LegacyValues offsetValues = ValuesRead(start, first, type);
    if (!NextWord(word) || !Starts(word, "connectivity") || !NextWord(type))
    {
      return Fail(kShortSection);
    }
    start = text.at;
    const Step connectivity = Array(type, second);
    if (connectivity == Step::Go && reading)
    {
      reading->Cells(kind, &offsetValues, ValuesRead(start, second, type));
    }
    return connectivity;
  }

  // FIELD name arrays, then per array "name components tuples type" and its
  // values.
  Step Field()
  {
    std::string word;
    long long arrays;
    if (!NextWord(word) || !NextCount(arrays))
    {
      return Fail(kBadSize);
    }
    for (long long i = 0; i < arrays; ++i)
    {
      if (!NextWord(word))
      {
        return Fail(kShortSection);
      }
      if (word == "null_array")
      {
        continue;
      }
      long long components;
      long long count;
      std::string type;
      if (!NextCount(components) || !NextCount(count))
      {
        return Fail(kBadSize);
      }
      if (!NextWord(type))
      {
        return Fail(kShortSection);
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
      return Fail(kShortSection);
    }
    long long components = 1;
    if (!Starts(word, "lookup_table"))
    {
      if (!ParseInteger(word, components) || components < 1)
      {
        return Fail(kBadSize);
      }
      if (!NextWord(word) || !Starts(word, "lookup_table"))
      {
        return Fail(kShortSection);
      }
    }
    if (!NextWord(name))
    {
      return Fail(kShortSection);
    }
    return Array(type, Product(tuples, components));
  }

  // The points: their count and type, then their coordinates. Coordinates
  // are numbers: VTK's reader crashes further on after points of a string or
  // variant type.
  Step Points()
  {
    long long count;
    std::string word;
    if (!NextCount(count))
    {
      return Fail(kBadSize);
    }
    if (!NextWord(word))
    {
      return Fail(kShortSection);
    }
    if (TypeOf(word).number == Number::Unknown && !Starts(word, "long") && !Starts(word, "unsigned_long"))
    {
      return Fail(kBadType);
    }
    const Step step = Array(word, Product(count, 3));
    if (step == Step::Go && reading)
    {
      reading->Points(count);
    }
    return step;
  }

  // POINT_DATA or CELL_DATA: the number of tuples of the attributes after it.
  Step AttributeCount()
  {
    long long count;
    if (!NextCount(count))
    {
      return Fail(kBadSize);
    }
    tuples = count;
    return Step::Go;
  }

  // COLOR_SCALARS (a name, the components of a tuple) and LOOKUP_TABLE (a
  // name, the entries, four values each): bytes in a binary file, numbers in
  // an ASCII one.
  Step ByteColors(bool lookupTable)
  {
    long long count;
    std::string word;
    if (!NextWord(word))
    {
      return Fail(kShortSection);
    }
    if (!NextCount(count))
    {
      return Fail(kBadSize);
    }
    return Array("unsigned_char", lookupTable ? Product(count, 4) : Product(tuples, count), "float");
  }

  // TEXTURE_COORDINATES: a name, the dimension and the type.
  Step TextureCoordinates()
  {
    long long count;
    std::string word;
    std::string type;
    if (!NextWord(word))
    {
      return Fail(kShortSection);
    }
    if (!NextCount(count))
    {
      return Fail(kBadSize);
    }
    return NextWord(type) ? Array(type, Product(tuples, count)) : Fail(kShortSection);
  }

  // One section, after its keyword.
  Step Section(const std::string& keyword)
  {
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
      return Points();
    }
    for (const char* kind : { "vertices", "lines", "polygons", "triangle_strips" })
    {
      if (Starts(keyword, kind))
      {
        return Cells(kind);
      }
    }
    if (Starts(keyword, "point_data") || Starts(keyword, "cell_data"))
    {
      return AttributeCount();
    }
    if (Starts(keyword, "scalars"))
    {
      return Scalars();
    }
    if (Starts(keyword, "color_scalars") || Starts(keyword, "lookup_table"))
    {
      return ByteColors(Starts(keyword, "lookup_table"));
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
      return TextureCoordinates();
    }
    if (Starts(keyword, "global_ids") || Starts(keyword, "pedigree_ids") || Starts(keyword, "edge_flags"))
    {
      return NamedArray(tuples);
    }
    return Step::Stop;
  }
};
}

namespace
{
// LegacySectionProblem, showing `reading` (where there is one) every
// section it has checked.
const char* Check(const char* path, LegacyReading* reading)
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
  // The version as VTK's reader takes it from the first line (of which it
  // reads 255 characters); one that it cannot take counts as 0, the old
  // layout. A file that is no legacy file at all is refused by VTK's reader;
  // walking it does no harm.
  const std::string header(first, last - first > 255 ? first + 255 : last);
  int major = 0;
  int minor = 0;
  if (std::sscanf(header.c_str(), "# vtk DataFile Version %d.%d", &major, &minor) != 2)
  {
    major = 0;
  }
  if (!text.NextLine(first, last))
  {
    return nullptr;
  }
  Walk walk{ text };
  walk.cellOffsets = major >= 5;
  walk.reading = reading;
  std::string word;
  if (!walk.NextWord(word))
  {
    return nullptr;
  }
  walk.binary = Starts(word, "binary");
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
}

const char* LegacySectionProblem(const char* path)
{
  return Check(path, nullptr);
}

const char* LegacySectionProblem(const char* path, LegacyReading& reading)
{
  return Check(path, &reading);
}
