#include "geometry/convexhull.h"

#include <algorithm>

double Turn(const Point2& o, const Point2& a, const Point2& b)
{
  return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0]);
}

std::vector<Point2> ConvexHull(std::vector<Point2>& points)
{
  std::sort(points.begin(), points.end());
  points.erase(std::unique(points.begin(), points.end()), points.end());
  const size_t n = points.size();
  if (n < 3)
  {
    return points;
  }
  std::vector<Point2> hull(2 * n);
  size_t k = 0;
  for (size_t i = 0; i < n; ++i)
  {
    while (k >= 2 && Turn(hull[k - 2], hull[k - 1], points[i]) <= 0)
    {
      --k;
    }
    hull[k++] = points[i];
  }
  for (size_t i = n - 1, lower = k + 1; i-- > 0;)
  {
    while (k >= lower && Turn(hull[k - 2], hull[k - 1], points[i]) <= 0)
    {
      --k;
    }
    hull[k++] = points[i];
  }
  hull.resize(k - 1);
  return hull;
}
