// Points of the plane and their convex hull.
//
// A Point2 is (first, second) coordinate; the hull runs counter-clockwise
// when the first coordinate points right and the second up. Nothing here
// fails.
#pragma once

#include <array>
#include <vector>

using Point2 = std::array<double, 2>;

// Twice the signed area of the triangle o, a, b: positive where o -> a -> b
// turns counter-clockwise, 0 where the three lie on one line.
double Turn(const Point2& o, const Point2& a, const Point2& b);

// The convex hull of the points, counter-clockwise from the least point (by
// the first coordinate, then the second), without collinear points
// (Andrew's monotone chain): its vertices up to the greatest point are the
// chain on the side of the least second coordinates. Sorts and thins
// `points`; fewer than three distinct points are returned as they are.
std::vector<Point2> ConvexHull(std::vector<Point2>& points);
