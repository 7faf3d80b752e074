// The triangle tree: closest points and borders against a plain search,
// and normals that follow a noisy surface.
#include "fit/testshapes.h"

#include "geometry/triangletree.h"
#include "geometry/vector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

using namespace testshapes;

TEST(TriangleTree, ClosestPointsAndBordersMatchAPlainSearch)
{
  // A 6 x 6 grid of squares, each split in two, on a bumpy height field.
  std::vector<double> points;
  std::vector<int> triangles;
  for (int j = 0; j <= 6; ++j)
  {
    for (int i = 0; i <= 6; ++i)
    {
      points.insert(points.end(), { 1.0 * i, 1.0 * j, 0.3 * std::sin(1.3 * i) * std::cos(0.7 * j) });
    }
  }
  for (int j = 0; j < 6; ++j)
  {
    for (int i = 0; i < 6; ++i)
    {
      const int a = 7 * j + i;
      triangles.insert(triangles.end(), { a, a + 1, a + 8, a, a + 8, a + 7 });
    }
  }
  const TriangleTree tree(points, triangles);
  std::vector<double> flatPoints = points;
  for (size_t i = 2; i < flatPoints.size(); i += 3)
  {
    flatPoints[i] = 0;
  }
  const TriangleTree flat(flatPoints, triangles);
  // The plain search: the closest of many samples of every triangle.
  std::mt19937 random(5);
  std::uniform_real_distribution<double> coordinate(-1.0, 7.0);
  for (int q = 0; q < 200; ++q)
  {
    const double query[3] = { coordinate(random), coordinate(random), coordinate(random) - 3.0 };
    const TriangleTree::Hit hit = tree.Closest(query, 100.0);
    ASSERT_TRUE(hit.found);
    double best = 1e300;
    for (size_t t = 0; t < triangles.size(); t += 3)
    {
      const double* a = &points[3 * triangles[t]];
      const double* b = &points[3 * triangles[t + 1]];
      const double* c = &points[3 * triangles[t + 2]];
      for (int u = 0; u <= 40; ++u)
      {
        for (int v = 0; u + v <= 40; ++v)
        {
          double p[3];
          for (int k = 0; k < 3; ++k)
          {
            p[k] = a[k] + (b[k] - a[k]) * u / 40.0 + (c[k] - a[k]) * v / 40.0;
          }
          best = std::min(best, Distance(p, query));
        }
      }
    }
    EXPECT_LE(hit.distance, best + 1e-9);
    EXPECT_GE(hit.distance, best - 0.03);
    EXPECT_NEAR(Distance(hit.point, query), hit.distance, 1e-9);
    // On the same grid laid flat, the closest point is on the border exactly
    // when the query lies beyond the grid's edge.
    const TriangleTree::Hit flatHit = flat.Closest(query, 100.0);
    const bool outside = query[0] < 0 || query[0] > 6 || query[1] < 0 || query[1] > 6;
    EXPECT_EQ(flatHit.onBorder, outside) << query[0] << ' ' << query[1];
    EXPECT_NEAR(flatHit.distance,
      std::hypot(std::max({ -query[0], query[0] - 6, 0.0 }), std::max({ -query[1], query[1] - 6, 0.0 }), query[2]),
      1e-9);
  }
  const double far[3] = { 3, 3, 50 };
  EXPECT_FALSE(tree.Closest(far, 10.0).found);
}

TEST(TriangleTree, NormalsFollowANoisySurfaceAndStayTheTrianglesOwnWhereOrientationsDisagree)
{
  // A sphere of 2 mm triangles, every point moved by noise of 0.5 mm per
  // coordinate, as a scanner's raw output: the triangles' own normals turn
  // far off the sphere's, the tree's follow it.
  const double center[3] = { 0, 0, 0 };
  TriangleSurface noisy = Sphere(80, center, 120, 240);
  std::mt19937 random(11);
  std::normal_distribution<double> noise(0.0, 0.5);
  for (double& x : noisy.points)
  {
    x += noise(random);
  }
  auto own = [](const TriangleSurface& s, size_t t, double n[3]) {
    const double* a = &s.points[3 * static_cast<size_t>(s.triangles[3 * t])];
    const double* b = &s.points[3 * static_cast<size_t>(s.triangles[3 * t + 1])];
    const double* c = &s.points[3 * static_cast<size_t>(s.triangles[3 * t + 2])];
    double e1[3];
    double e2[3];
    Subtract(b, a, e1);
    Subtract(c, a, e2);
    Cross(e1, e2, n);
    const double length = Norm(n);
    for (int k = 0; k < 3; ++k)
    {
      n[k] /= length;
    }
  };
  // The cosine of the angle between a normal and the sphere's at a triangle.
  auto facing = [](const TriangleSurface& s, size_t t, const double* n) {
    double r[3] = { 0, 0, 0 };
    for (int c = 0; c < 3; ++c)
    {
      for (int k = 0; k < 3; ++k)
      {
        r[k] += s.points[3 * static_cast<size_t>(s.triangles[3 * t + c]) + k];
      }
    }
    return Dot(r, n) / Norm(r);
  };
  const TriangleTree tree(noisy.points, noisy.triangles);
  const size_t count = noisy.triangles.size() / 3;
  size_t ownFar = 0;
  size_t treeFar = 0;
  size_t counted = 0;
  for (size_t t = 0; t < count; ++t)
  {
    // Away from the poles, where the rows' triangles narrow to slivers.
    if (std::abs(noisy.points[3 * static_cast<size_t>(noisy.triangles[3 * t]) + 2]) > 70)
    {
      continue;
    }
    double n[3];
    own(noisy, t, n);
    ++counted;
    ownFar += facing(noisy, t, n) < std::cos(0.5) ? 1 : 0;
    treeFar += facing(noisy, t, tree.Normal(static_cast<int>(t))) < std::cos(0.5) ? 1 : 0;
  }
  EXPECT_GT(ownFar, counted / 4);
  EXPECT_LT(treeFar, counted / 1000);
  // With a tenth of the triangles turned the other way, the normals are
  // each triangle's own.
  TriangleSurface mixed = noisy;
  for (size_t t = 0; t < count; t += 10)
  {
    std::swap(mixed.triangles[3 * t + 1], mixed.triangles[3 * t + 2]);
  }
  const TriangleTree mixedTree(mixed.points, mixed.triangles);
  for (size_t t = 0; t < count; ++t)
  {
    double n[3];
    own(mixed, t, n);
    for (int k = 0; k < 3; ++k)
    {
      ASSERT_NEAR(mixedTree.Normal(static_cast<int>(t))[k], n[k], 1e-12) << t;
    }
  }
}
