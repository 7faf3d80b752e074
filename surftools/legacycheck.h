// A structural check of a legacy VTK file, made before VTK parses it. VTK's
// legacy reader trusts the sizes that section headers declare: it crashes on
// a cell section that holds less than declared or whose point counts run past
// its end, and it allocates (and in binary files byte-swaps) whatever a header
// declares, so that a file of a few bytes declaring billions of values takes
// minutes and gigabytes before it fails.
#pragma once

// Returns nullptr when every section of the file holds at least what its
// header declares, and every cell section's point counts add up to its size;
// otherwise a short description of the problem. Only declared sizes are
// checked against the file: the values themselves are left to VTK's reader,
// and so is a file whose layout the check does not know (it then stops
// checking at the first section it does not know). A folder is a problem; a
// pipe or device is left to VTK.
const char* LegacySectionProblem(const char* path);
