// Closest points on a triangle surface: a bounding volume hierarchy over the
// triangles, built once and then queried from any number of threads at once
// (queries only read it). Each answer says whether the closest point lies on
// the surface's open border, where a match to the surface cannot be trusted.
#pragma once

#include "geometry/triangleclosest.h"

#include <cstddef>
#include <vector>

class TriangleTree
{
public:
  // `points` holds x, y, z per point, `triangles` three point ids per
  // triangle (every id must name a point). Both are copied.
  TriangleTree(const std::vector<double>& points, const std::vector<int>& triangles);

  struct Hit
  {
    bool found = false; // a triangle lies within the distance asked for
    double point[3] = { 0, 0, 0 };
    double distance = 0; // from the query point to `point`
    int triangle = -1;
    bool onBorder = false; // `point` lies on an edge of one triangle only, or a point of such an edge
  };

  // The closest point of the surface to `query` within `maxDistance`; ties
  // go to the triangle met first, so the answer is the same on every run.
  Hit Closest(const double query[3], double maxDistance) const;

  // The surface's unit normal at a triangle. On a surface whose triangles
  // face the same way (at most 1% of the edges that two triangles share are
  // run through in the same direction by both), the triangles' own normals
  // (B - A) x (C - A), averaged by area over those that share a corner with
  // it, three rounds over, so that a scanner's noise (a few tenths of a
  // millimetre on triangles not much larger) does not turn it; a few
  // triangles facing the other way only shorten that sum. Otherwise, and
  // where the average vanishes, the triangle's own (zero for a degenerate
  // triangle).
  const double* Normal(int triangle) const { return &normals_[3 * static_cast<std::size_t>(triangle)]; }
  int TriangleCount() const { return static_cast<int>(triangles_.size() / 3); }
  // Whether edge k (0: AB, 1: BC, 2: CA) of a triangle belongs to it alone.
  bool BorderEdge(int triangle, int k) const { return (border_[triangle] >> k) & 1; }

private:
  struct Node
  {
    double lo[3];
    double hi[3];
    int first; // leaf: first entry of order_; inner: index of the first child (the second follows)
    int count; // leaf: number of triangles; inner: 0
  };
  void Build();
  void SmoothNormals(const std::vector<double>& areas);
  double BoxDistance2(const Node& node, const double q[3]) const;
  // Whether the closest point, on `feature` of the triangle, lies on the
  // surface's border.
  bool OnBorder(int triangle, TriangleFeature feature) const;

  std::vector<double> points_;
  std::vector<int> triangles_;
  std::vector<double> normals_;
  std::vector<unsigned char> border_;      // per triangle: bit k for edge k on the border
  std::vector<unsigned char> borderPoint_; // per point: on a border edge
  std::vector<int> order_;                 // triangles in leaf order
  std::vector<Node> nodes_;
};
