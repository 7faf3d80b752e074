// A raw scan's five landmarks found from the scan alone: which way is up
// and front and where the midline plane lies, then the nasion, the tragi,
// the vertex and the opisthocranion, each with how sure the finding is.
// The method and its figures are in docs/fit.md ("Landmarks found").
//
// Inputs: the template's triangles in the template's frame (the face toward
// -y, z up, its mirror plane x = M_x through the ear midpoint M, which lies
// midway between its tragi; geometry/headframe.h) and the scan's triangles
// with their tree, in the scan's own frame and millimetres. Output: the five
// landmarks, named, in fittemplate's order and the scan's coordinates, and
// the figures of the cues they were found by; or, where the scan does not
// say its pose clearly (no clear plane of symmetry, no clear way up and
// front, no face), no landmarks and the reason in words. Nothing prints or
// ends the process. The same inputs give the same landmarks on any number of
// threads.
#pragma once

#include "fit/landmarks.h"
#include "geometry/rigidtransform.h"
#include "geometry/trianglesurface.h"
#include "geometry/triangletree.h"

#include <string>
#include <vector>

// The landmarks' names, in fittemplate's order (the sides are the
// patient's), each one word: "nasion", "right_tragus", "left_tragus",
// "vertex", "opisthocranion".
constexpr int kFiveLandmarks = 5;
extern const char* const kLandmarkNames[kFiveLandmarks];

struct FoundLandmark
{
  const char* name = "";
  Landmark point = { 0, 0, 0 }; // in the scan's coordinates
  double confidence = 0;        // 0 to 1: how sure the cues that placed it are (findlandmarks.cpp)
};

struct FoundLandmarks
{
  std::string problem;                  // why no landmarks were found; empty when they were
  std::vector<FoundLandmark> landmarks; // the five, in kLandmarkNames' order
  double confidence = 0;                // the least of the landmarks' (0 to 1)
  double scale = 0;                     // of the template to the scan's head, by their widths
  double mirrorResidual = 0;            // mm: the scan mirrored across its best plane, from itself
  double mirrorRunnerUp = 0;            // mm: the same across the best plane 25 degrees or more from it
  double poseDistance = 0;              // mm: the template, posed on the scan, from it
  double poseRunnerUp = 0;              // mm: the same for the best pose turned another way
  double openingAngle = -1;             // degrees from the largest border loop's inward direction to the
                                        // template's up; -1 for a scan without a border
  bool xFromPlane = false;              // the mirror plane set the sides (else the template's pose)
  bool upFromOpening = false;           // the neck opening set up (else the template's pose)
  RigidTransform toTemplate;            // the scan into the template's frame, as the landmarks were found
};

// The template's own five landmarks, by their definitions (docs/sample.md):
// the nasion as the head-shape measures find it (FindNasion), the tragi and
// the vertex where the lines through the ear midpoint along -x, +x and +z
// leave the template, the opisthocranion the point of its midline cut
// farthest from the nasion. False when the template has no face with a
// nasion, or a line misses it.
bool TemplateLandmarks(const TriangleSurface& templ, std::vector<Landmark>& five);

// Finds the scan's landmarks (the method at the top of findlandmarks.cpp).
FoundLandmarks FindLandmarks(const TriangleSurface& templ, const TriangleSurface& scan, const TriangleTree& scanTree);
