// A structural check of a legacy VTK file, made before VTK parses it: VTK's
// legacy reader crashes on a cell section (VERTICES, LINES, POLYGONS,
// TRIANGLE_STRIPS) of the old layout (file versions before 5) that holds less
// than its header declares, in ASCII and binary files alike.
#pragma once

// Returns nullptr when every cell section of the file holds at least the
// number of integers that its header line declares (or the file is of a
// layout that VTK reads safely); otherwise a short description of the problem.
// It checks only declared counts against the file; everything else is left to
// VTK's reader.
const char* LegacyCellSectionProblem(const char* path);
