// A structural check of a legacy VTK file, made before VTK parses it. VTK's
// legacy reader trusts the sizes that section headers declare: it crashes on
// a cell section that holds less than declared or whose point counts run past
// its end, and it allocates (and in binary files byte-swaps) whatever a header
// declares, so that a file of a few bytes declaring billions of values takes
// minutes and gigabytes before it fails. A reader may run with the check and
// be shown each section it has checked (LegacyReading), so that what it reads
// of a file (its cells, in meshcells.h) comes from the same walk.
#pragma once

#include <string>

// Returns nullptr when every section of the file holds at least what its
// header declares, and every cell section's point counts add up to its size;
// otherwise a short description of the problem. Only declared sizes are
// checked against the file: the values themselves are left to VTK's reader,
// and so is a file whose layout the check does not know (it then stops
// checking at the first section it does not know). A folder is a problem; a
// pipe or device is left to VTK.
const char* LegacySectionProblem(const char* path);

// The values of a section that the check has read whole: the bytes
// [first, last) of the file that hold its `count` values, as text (numbers
// between blanks, as the check read them) in an ASCII file, or as big-endian
// integers of `size` bytes each in a binary one (`size` 0 in an ASCII file).
struct LegacyValues
{
  const char* first;
  const char* last;
  long long count;
  int size;
};

// What a reader running with the check is shown of a legacy file, section by
// section, once the check has found each one whole: the points' count and
// every cell section. The bytes are the check's own copy of the file, valid
// only during the call.
class LegacyReading
{
public:
  virtual ~LegacyReading() = default;
  virtual void Points(long long count) = 0;
  // A cell section: `kind` "vertices", "lines", "polygons" or
  // "triangle_strips"; in the layout of version 5 its offsets and
  // connectivity, in the old layout `offsets` nullptr and `cells` each cell's
  // point count followed by its point ids.
  virtual void Cells(const std::string& kind, const LegacyValues* offsets, const LegacyValues& cells) = 0;
};

// LegacySectionProblem, showing `reading` every section it has checked.
const char* LegacySectionProblem(const char* path, LegacyReading& reading);
