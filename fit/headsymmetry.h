// The mirror plane of a head scan, from the scan alone: the plane across
// which the scan is most nearly its own mirror image (a head's midsagittal
// plane), and how clearly it is the only such plane.
//
// Inputs: the scan's samples (scansamples.h) and its triangle tree, in the
// scan's frame. Output: the best planes, each with the distance of the
// mirrored scan from the scan across it. Nothing fails; the caller judges
// the figures: a sphere, a box or a bowl is its own mirror image across
// planes far apart, a head across one (a scan of a head with a deformity,
// or a synthetic one with bumps, not much better than across others).
#pragma once

#include "fit/scansamples.h"
#include "geometry/triangletree.h"

#include <vector>

struct MirrorPlane
{
  double normal[3] = { 1, 0, 0 }; // unit; the plane is normal . x = offset
  double offset = 0;
  double residual = 0; // mm: mean distance of the samples mirrored across the plane from the scan, each
                       // counted up to 15% of the scan's radius (as much where the mirrored sample finds
                       // no surface facing its way)
};

// The scan's best mirror planes, best first: planes through the scan's
// centre in 400 directions scored by the residual above (on 500 samples),
// the four best that lie 25 degrees or more apart each refined by
// point-to-plane ICP of the mirrored scan against the scan (a few rounds,
// each mirroring across the plane the last one found). Planes that the
// refinement brought together are all kept.
std::vector<MirrorPlane> FindMirrorPlanes(const ScanSamples& samples, const TriangleTree& tree);

// Whether two planes' normals lie 25 degrees or more apart.
bool PlanesApart(const MirrorPlane& a, const MirrorPlane& b);
