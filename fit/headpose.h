// The template's pose on a scan found without landmarks: the template's
// mirror plane laid on each of the scan's best mirror planes
// (headsymmetry.h), scaled to the scan's width across it, turned every way
// within it, the best kept and refined with a stretch.
//
// Inputs: the template's triangles in the template's frame, its point
// normals and areas (PointNormalsAndAreas) and its samples (scansamples.h),
// the scan's tree, samples and mirror planes, in the scan's frame. Output:
// the template's scale and stretched pose on the scan and how well the best
// pose and the best of the others fit. Nothing fails: the caller judges the
// figures (another pose that fits about as well: no clear way up and
// front).
#pragma once

#include "fit/headsymmetry.h"
#include "fit/scansamples.h"
#include "fit/stretchalign.h"
#include "geometry/trianglesurface.h"
#include "geometry/triangletree.h"

#include <vector>

struct HeadPose
{
  double scale = 0;       // of the template about the ear midpoint, before the pose
  StretchedPose pose;     // the template so scaled onto the scan
  bool stretched = false; // the stretch was a head's; else `pose` is the rigid alignment alone
  double distance = 0;    // mm: mean distance of the template's samples from the scan, each counted up
                          // to kPoseCap, after the rigid alignment of the best start
  double runnerUp = 0;    // mm: the same for the best of the others (ended 45 degrees or more from it)
};

// The most a template sample's distance from the scan counts in a pose's
// score, in mm on a template of the scan's size.
constexpr double kPoseCap = 10.0;

// Head poses at the template's size.
struct TemplateShape
{
  const TriangleSurface& triangles;
  const std::vector<double>& normals; // per point
  const std::vector<double>& areas;   // per point
  const ScanSamples& samples;         // spread over its surface by area
};

// Starts with the template's mirror plane on each of the scan's `planes`
// (both ways round across it), scaled by the scan's width across the plane
// over its own across x (the 1st to 99th percentile of the samples), its up
// direction every 30 degrees within the plane, its centre over the scan's;
// each refined by 10 steps of the rigid alignment's ICP on 300 of the
// template's points (no landmarks) and scored by the distance above; the
// four best that end 45 degrees or more apart refined by 30 steps more on
// 1,500 points and scored again; the best then refined with a stretch
// (RefineStretch, no landmarks) on up to 20,000, the stretch kept where it
// is a head's (no entry of S - I beyond `maxStretch`).
HeadPose FindHeadPose(const TemplateShape& templ, const TriangleTree& scan, const ScanSamples& samples,
  const std::vector<MirrorPlane>& planes, double maxStretch);
