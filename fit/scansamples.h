// Samples of a scan's surface for the searches that find a head's pose from
// the scan alone (headsymmetry.h, headpose.h): points spread over its
// triangles with the surface's normals and areas, and the scan's centre and
// size.
//
// Inputs: the scan's triangles and their tree (the tree's smoothed normals),
// or a template's triangles alone.
// Output: the samples. Nothing fails: a scan without triangles of any area
// gives no samples and a radius of 0.
#pragma once

#include "geometry/trianglesurface.h"
#include "geometry/triangletree.h"

#include <cstddef>
#include <vector>

struct ScanSamples
{
  std::vector<double> points;  // x, y, z each: the centroids of triangles picked by a fixed stride
  std::vector<double> normals; // the scan's unit normal at each (TriangleTree::Normal)
  std::vector<double> areas;   // the area each stands for: its triangle's, times the stride
  double centre[3] = { 0, 0, 0 };
  double radius = 0; // root mean square distance of the scan's surface from the centre, by area
  size_t Count() const { return areas.size(); }
};

// About `count` samples of the scan (every triangle when it has fewer), and
// the centre and radius of its whole surface, weighted by area. Without a
// tree, each sample's normal is its triangle's own.
ScanSamples SampleScan(const TriangleSurface& scan, const TriangleTree* tree, size_t count);

// The scan's extent along the unit `direction` from its centre: the
// `percent`-th and (100 - `percent`)-th percentiles of the samples'
// offsets along it, so that a few stray triangles do not widen it.
void SampleExtent(const ScanSamples& samples, const double direction[3], long long percent, double& low, double& high);
