// The text helmetdiff prints on a wrong argument count (on standard output,
// before it ends with status 255), here so that its tests check the same text.
#pragma once

inline constexpr const char* kHelmetDiffUsage =
  "Usage: source.vtk target.vtk vx.clr vxmin vxmax vy.clr vymin vymin vz.clr vxmin vzmax vxyz.clr "
  "vxyzmin vxyzmax helmet_mask_clr scaled.vtk create_scaled_flag\n"
  "Inputs: target.vtk, source.vtk\n"
  "        vxmin vxmax etc.:  ranges for the coloring\n"
  "        create_scaled_flag:  set to y to create scaled.vtk. n to not to create it\n"
  "        helmet_mask.clr:  name of the helmet mask (1 in helmet region, 0 elsewhere)\n"
  "Output: color (.clr) files with distances\n"
  "Performs: for each cell on source, compute distance to corresponding cell on target.\n"
  "Limitation: source and target must have exactly the same number of cells, and there must be "
  "1-to-1 point correspondence.\n"
  "Limitation: For the sign calculation, we assume a fixed midpoint between ears (same as in the "
  "template.vtk)\n";
