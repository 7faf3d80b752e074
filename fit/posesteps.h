// What the two refinements of the template's pose on a scan share
// (rigidalign.h, stretchalign.h): the template points they match and the
// turn of a step.
//
// Inputs: the template's per-point areas; a step's turn as a vector. Nothing
// here fails.
#pragma once

#include <Eigen/Dense>

#include <cstddef>
#include <vector>

// The most template points a refinement matches to the scan in one step.
constexpr size_t kMaxPoseSamples = 20000;

// The ids of the template points on triangles (area above 0), spread over
// the template by a fixed stride so that there are at most kMaxPoseSamples.
std::vector<size_t> PoseSamples(const std::vector<double>& areas);

// The areas with all but about `count` of the points on triangles (a fixed
// stride over them) set to 0: a refinement given them matches those alone.
std::vector<double> FewerSamples(const std::vector<double>& areas, size_t count);

// The rotation by the angle |w| about the axis w (Rodrigues' formula); the
// identity for w = 0.
Eigen::Matrix3d RotationOf(const Eigen::Vector3d& w);
