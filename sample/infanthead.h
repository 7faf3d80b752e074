// The sample's template: the head of an infant of about six months, with a
// head's proportions, a small face and auricles that stand out from the
// skull behind the tragi, on a mesh whose halves mirror each other cell by
// cell. The figures chosen and their basis are in docs/sample.md.
//
// Inputs: the mesh's size (rings and segments per half). Outputs: the mesh
// (points, triangles, cells per half), the head's surface as a distance along
// any direction from its centre, and the template's five landmarks. Nothing
// here fails: sizes below 2 rings or 3 segments are the caller's to refuse.
#pragma once

#include "fit/landmarks.h"

#include <vtkType.h>

#include <vector>

// The head's centre, from which its surface is a distance along every
// direction (the head is star-shaped about it).
extern const double kHeadCentre[3];

// The head circumference the template is made for (mm): the WHO median of
// about six months.
constexpr double kTemplateCircumference = 435.0;

// A triangle mesh whose cells 0 .. half-1 lie on the patient's right (x
// below the mirror plane) and cell j + half is the mirror image of cell j;
// every normal (B - A) x (C - A) points outward.
struct HeadMesh
{
  std::vector<double> points;       // x, y, z per point
  std::vector<vtkIdType> triangles; // A, B, C per cell
  vtkIdType half = 0;               // cells per half
};

// The template: the half of the patient's right is a grid of `rings` rings
// of `segments` points running from the mirror plane to the ear, closed by a
// fan at the ear; the other half is its mirror image. (2 rings - 1) segments
// cells per half: 37 x 1306 gives 190,676 cells in all.
HeadMesh MakeInfantHead(int rings, int segments);

// The distance from kHeadCentre to the head's surface (its face and
// auricles included, before the flat cut below the jaw) along the unit
// `direction`.
double HeadRadius(const double direction[3]);

// The template's five landmarks, points of its surface: the nasion, the
// patient's right and left tragus (midway between them lies the ear
// midpoint), the vertex (the top of the head above the ear midpoint) and the
// opisthocranion (the point of the midline farthest from the nasion).
std::vector<Landmark> InfantHeadLandmarks(const HeadMesh& mesh);
