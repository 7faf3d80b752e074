// The text celldist prints on a wrong argument count (on standard output,
// before it ends with status 255), here so that its tests check the same text.
#pragma once

inline constexpr const char* kCellDistUsage =
  "Usage: target.vtk source.vtk colorfile.clr max_dist min_dist xv yv zv\n"
  "Inputs: target.vtk, source.vtk\n"
  "Output: color (.clr) file with distances/colors for source.vtk \n"
  "max_dist min_dist: range for the coloring\n"
  "xv: color (.clr) file with x component\n"
  "yv: color (.clr) file with y component\n"
  "zv: color (.clr) file with z component\n"
  "Performs: for each cell on source, compute distance to same cell on target.\n"
  "Limitations: inputs must be .vtk format.\n";
