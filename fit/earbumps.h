// The auricle (outer ear) on one side of a head, as the bump it makes on
// the side of the head: where the head's lateral outline, seen along x,
// stands out of a smooth surface fitted to the side around it. An ear under
// a cap makes such a bump too.
//
// Inputs: a head surface in the template's frame (x from the patient's right
// to left, the mirror plane x = M_x, y to the back, z up; geometry/
// headframe.h), the side, where the ear is looked for and the head's size.
// Output: the bump's centre and how far it stands out, or none, and the
// smooth side of the skull under it. Nothing fails: a side with no surface
// there, or one without a bump, has no ear; one with too little surface in
// the window has no skull either.
#pragma once

#include "geometry/trianglesurface.h"

struct EarBump
{
  bool found = false;
  double centre[2] = { 0, 0 }; // y and z: the bump's cells, each weighing how far it stands out
  double height = 0;           // mm: the most it stands out of the side's surface

  // The side's smooth surface fitted about the ear (the bump and the scan's
  // holes left out): its distance from the midline plane at (y, z), within
  // the window. False where it was fitted to fewer than kSkullCells cells.
  bool SkullAt(double y, double z, double& across) const;

  bool skull = false;
  double origin[2] = { 0, 0 }; // y and z of the window's corner
  double size = 1;
  double fit[6] = { 0, 0, 0, 0, 0, 0 }; // of 1, u, v, u^2, uv, v^2; u, v from the corner over the size
};

// The least cells of the window whose outline the smooth side is fitted to.
constexpr int kSkullCells = 40;

// The bump on side `side` (-1: the patient's right, +1: the left) within a
// window about (y, z) = `around` (from 0.25 `size` in front of it to 0.35
// behind, 0.25 below and above; `size` the nasion's distance from the
// opisthocranion): the lateral outline is taken on a grid of size / 40
// (where the line through the midline plane along the side's x leaves the
// surface), a quadratic in y and z fitted to it (three rounds, the cells
// more than kRest * size out of the last fit left out), and the cells
// standing out of it by more than kStandsOut * size, joined to the one that
// stands out most, are the bump; it is an ear when it covers at least
// kEarArea * size^2 and stands out at least kEarHeight * size.
EarBump FindEarBump(const TriangleSurface& head, int side, const double around[2], double size);
