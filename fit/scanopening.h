// The open neck of a head scan: of the loops of the scan's border (edges
// that one triangle alone has), the one that spans the largest area, taken
// as the opening where the scanner stopped below the head.
//
// Inputs: the scan's triangles and their tree (which knows the border
// edges), and the centre of the scan's surface. Output: the opening's
// centre, its size and the direction out of the head through it (down, on
// a scan cut below the head). Nothing fails: a closed scan has no opening
// (found false); the caller judges whether the largest loop is a neck (a
// hole in the hair or at an ear is a loop too).
#pragma once

#include "geometry/trianglesurface.h"
#include "geometry/triangletree.h"

struct ScanOpening
{
  bool found = false;
  double centre[3] = { 0, 0, 0 }; // of the loop's edges, by length
  double out[3] = { 0, 0, 0 };    // unit: the loop's vector area, turned away from the scan's centre
  double radius = 0;              // of a disc of the loop's vector area (the area of its projection onto
                                  // the plane it spans best): sqrt(|area| / pi)
};

// The border loop of the largest vector area.
ScanOpening FindOpening(const TriangleSurface& scan, const TriangleTree& tree, const double centre[3]);
