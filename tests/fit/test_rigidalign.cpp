// The rigid and the stretched alignment: landmarks that give back a known
// motion and scale (and the problems of those that cannot), and a
// stretched, moved head with a bump whose pose and stretch come back.
#include "testshapes.h"
#include "testutil.h"

#include "fit/landmarks.h"
#include "fit/rigidalign.h"
#include "fit/stretchalign.h"
#include "geometry/vector.h"

#include <cmath>

using namespace testshapes;
using namespace testutil;

TEST(RigidAlign, LandmarksGiveBackAKnownMotionAndTheirProblemsAreNamed)
{
  RigidTransform motion;
  const double angle = 0.4;
  motion.r[0][0] = std::cos(angle);
  motion.r[0][1] = -std::sin(angle);
  motion.r[1][0] = std::sin(angle);
  motion.r[1][1] = std::cos(angle);
  motion.t[0] = 12;
  motion.t[1] = -40;
  motion.t[2] = 7;
  const std::vector<Landmark> from = { { 0, 0, 0 }, { 100, 0, 0 }, { 0, 80, 0 }, { 10, 20, 90 }, { 50, 50, 50 } };
  std::vector<Landmark> to(from.size());
  for (size_t i = 0; i < from.size(); ++i)
  {
    motion.Apply(from[i].data(), to[i].data());
  }
  const RigidTransform found = FitLandmarks(from, to);
  for (int i = 0; i < 3; ++i)
  {
    for (int j = 0; j < 3; ++j)
    {
      EXPECT_NEAR(found.r[i][j], motion.r[i][j], 1e-12);
    }
    EXPECT_NEAR(found.t[i], motion.t[i], 1e-9);
  }
  EXPECT_NEAR(LandmarkScale(from, to), 1.0, 1e-12);
  // Grown by 1.3 about a point, then moved: the rotation comes back as it
  // was, the scale as planted; three landmarks on a plane (the midline's)
  // say it as well, and shuffled landmarks say a much smaller head.
  std::vector<Landmark> grown(from.size());
  for (size_t i = 0; i < from.size(); ++i)
  {
    Landmark scaled;
    for (int k = 0; k < 3; ++k)
    {
      scaled[k] = 40.0 + 1.3 * (from[i][k] - 40.0);
    }
    motion.Apply(scaled.data(), grown[i].data());
  }
  EXPECT_NEAR(LandmarkScale(from, grown), 1.3, 1e-12);
  EXPECT_NEAR(LandmarkScale(grown, from), 1.0 / 1.3, 1e-12);
  EXPECT_NEAR(FitLandmarks(from, grown).r[0][1], motion.r[0][1], 1e-12);
  EXPECT_NEAR(LandmarkScale({ from[0], from[1], from[2] }, { grown[0], grown[1], grown[2] }), 1.3, 1e-12);
  EXPECT_LT(LandmarkScale(from, { grown[1], grown[0], grown[2], grown[4], grown[3] }), 0.8);
  EXPECT_EQ(LandmarkScale({ { 1, 1, 1 }, { 1, 1, 1 }, { 1, 1, 1 } }, from), 0.0);
  EXPECT_EQ(LandmarkProblem(from), nullptr);
  EXPECT_STREQ(LandmarkProblem({ { 0, 0, 0 }, { 1, 1, 1 } }), "fewer than 3 landmarks");
  EXPECT_STREQ(LandmarkProblem({ { 0, 0, 0 }, { 10, 10, 10 }, { 20, 20, 20.1 } }), "landmarks on one line");
  EXPECT_STREQ(LandmarkProblem({ { 5, 5, 5 }, { 5, 5, 5 }, { 5, 5, 5 } }), "landmarks on one line");
  EXPECT_STREQ(LandmarkProblem({ { 0, 0, 0 }, { 10, 0, 0 }, { 0, NAN, 0 } }), "a landmark that is not a finite number");

  // A final line feed adds no landmark; a missing one takes none away.
  const std::string dir = ScratchDir();
  WriteText(dir + "/a.crv", "1 2 3\n4 5 6\n7 8 9\n");
  WriteText(dir + "/b.crv", "1 2 3\n4 5 6\n7 8 9");
  std::vector<Landmark> a;
  std::vector<Landmark> b;
  ASSERT_TRUE(ReadLandmarks((dir + "/a.crv").c_str(), a));
  ASSERT_TRUE(ReadLandmarks((dir + "/b.crv").c_str(), b));
  EXPECT_EQ(a.size(), 3u);
  EXPECT_EQ(b.size(), 3u);
  EXPECT_EQ(b[2], (Landmark{ 7, 8, 9 }));
  EXPECT_FALSE(ReadLandmarks((dir + "/missing.crv").c_str(), b));
}

namespace
{
// An ellipsoidal head (semi-axes 72, 95, 90 mm), and its scans: the same
// surface stretched about its centre, moved, and pushed out by up to
// `height` over a bump (which the pose must not follow).
struct StretchedHead
{
  const double origin[3] = { 100, 110, 80 };
  const double stretch[3][3] = { { 1.02, 0.005, 0 }, { 0.005, 0.985, -0.004 }, { 0, -0.004, 1.01 } };
  TriangleSurface templ = Sphere(1.0, origin, 40, 80);
  double center[3] = { 0, 0, 0 };
  RigidTransform motion;
  double bump[3] = { origin[0], origin[1] + 0.55 * 95, origin[2] + 0.83 * 90 }; // over the upper back
  std::vector<double> normals;
  std::vector<double> areas;
  // Landmarks at the front, both sides, the bottom and the back, off the bump.
  const std::vector<Landmark> templateLandmarks = { { origin[0], origin[1] - 95, origin[2] },
    { origin[0] - 72, origin[1], origin[2] }, { origin[0] + 72, origin[1], origin[2] },
    { origin[0], origin[1], origin[2] - 90 }, { origin[0], origin[1] + 95, origin[2] } };
  std::vector<Landmark> scanLandmarks;
  RigidTransform start;

  StretchedHead()
  {
    const double radii[3] = { 72, 95, 90 };
    for (size_t i = 0; i < templ.PointCount(); ++i)
    {
      for (int k = 0; k < 3; ++k)
      {
        templ.points[3 * i + k] = origin[k] + radii[k] * (templ.points[3 * i + k] - origin[k]);
        center[k] += templ.points[3 * i + k] / static_cast<double>(templ.PointCount());
      }
    }
    const double angle = 0.3;
    motion.r[0][0] = motion.r[2][2] = std::cos(angle);
    motion.r[0][2] = std::sin(angle);
    motion.r[2][0] = -std::sin(angle);
    motion.t[0] = 20;
    motion.t[1] = -30;
    motion.t[2] = 15;
    PointNormalsAndAreas(templ, normals, areas);
    scanLandmarks.resize(templateLandmarks.size());
    for (size_t l = 0; l < templateLandmarks.size(); ++l)
    {
      Pose(templateLandmarks[l].data(), scanLandmarks[l].data());
    }
    start = FitLandmarks(templateLandmarks, scanLandmarks);
  }

  // Where the true stretch and motion take x.
  void Pose(const double* x, double* out) const
  {
    double s[3];
    for (int a = 0; a < 3; ++a)
    {
      s[a] = center[a];
      for (int c = 0; c < 3; ++c)
      {
        s[a] += stretch[a][c] * (x[c] - center[c]);
      }
    }
    motion.Apply(s, out);
  }

  TriangleSurface ScanOf(double height) const
  {
    TriangleSurface scan = templ;
    for (size_t i = 0; i < templ.PointCount(); ++i)
    {
      const double* x = &templ.points[3 * i];
      double pushed[3];
      const double d = Distance(x, bump);
      const double out = height * std::exp(-d * d / (2 * 15.0 * 15.0));
      const double r = Distance(x, origin);
      for (int k = 0; k < 3; ++k)
      {
        pushed[k] = x[k] + out * (x[k] - origin[k]) / r;
      }
      Pose(pushed, &scan.points[3 * i]);
    }
    return scan;
  }

  // The error of a pose: how far it takes the points off the bump from where they went.
  double Error(const StretchedPose& found) const
  {
    double sum = 0;
    size_t count = 0;
    for (size_t i = 0; i < templ.PointCount(); ++i)
    {
      const double* x = &templ.points[3 * i];
      if (Distance(x, bump) < 45)
      {
        continue;
      }
      double expected[3];
      double got[3];
      Pose(x, expected);
      found.Apply(x, got);
      sum += Distance(expected, got);
      ++count;
    }
    return sum / static_cast<double>(count);
  }

  StretchedPose Refine(const TriangleTree& scan, const std::vector<Landmark>& landmarks,
    const StretchOptions& options = StretchOptions()) const
  {
    return RefineStretch(templ, normals, areas, scan, start, templateLandmarks, landmarks, options);
  }
};
}

TEST(RigidAlign, AStretchedMovedHeadWithABumpGivesBackItsPoseAndStretch)
{
  StretchedHead head;
  const TriangleSurface smooth = head.ScanOf(0.0);
  const TriangleSurface bumped = head.ScanOf(8.0);
  const TriangleTree smoothTree(smooth.points, smooth.triangles);
  const TriangleTree tree(bumped.points, bumped.triangles);
  // Without the bump, the pose and the stretch come back exactly.
  StretchOptions exact;
  exact.stretchWeight = 0;
  const StretchedPose found = head.Refine(smoothTree, head.scanLandmarks, exact);
  EXPECT_GT(found.matched, 0.95);
  EXPECT_LT(head.Error(found), 1e-3);
  for (int a = 0; a < 3; ++a)
  {
    EXPECT_NEAR(found.center[a], head.center[a], 1e-9);
    for (int c = 0; c < 3; ++c)
    {
      EXPECT_NEAR(found.stretch[a][c], head.stretch[a][c], 1e-5) << a << c;
      EXPECT_NEAR(found.motion.r[a][c], head.motion.r[a][c], 1e-5) << a << c;
    }
  }
  // With it, the robust weights keep the pose off the bump: closer than
  // plain least squares within the distance limit, which follow its flanks.
  const double robust = head.Error(head.Refine(tree, head.scanLandmarks, exact));
  StretchOptions plain = exact;
  plain.huber = 1e9;
  const double followed = head.Error(head.Refine(tree, head.scanLandmarks, plain));
  EXPECT_LT(robust, 0.25);
  EXPECT_LT(robust, followed);
  // The default pull toward no stretch shrinks the stretch found, each axis
  // on its side of none.
  const StretchedPose pulled = head.Refine(tree, head.scanLandmarks);
  EXPECT_LT(head.Error(pulled), 0.6);
  for (int a = 0; a < 3; ++a)
  {
    EXPECT_GT((pulled.stretch[a][a] - 1) / (head.stretch[a][a] - 1), 0.2) << a;
    EXPECT_LT((pulled.stretch[a][a] - 1) / (head.stretch[a][a] - 1), 1.0) << a;
  }
  // A bump under a landmark pushes it out with the surface; the landmark
  // holds the pose along the surface only, so it is not taken for a motion.
  head.bump[0] = head.origin[0];
  head.bump[1] = head.origin[1] + 95;
  head.bump[2] = head.origin[2];
  const TriangleSurface underLandmark = head.ScanOf(8.0);
  const TriangleTree underTree(underLandmark.points, underLandmark.triangles);
  std::vector<Landmark> pushedLandmarks = head.scanLandmarks;
  const double back[3] = { head.origin[0], head.origin[1] + 95 + 8, head.origin[2] };
  head.Pose(back, pushedLandmarks.back().data());
  const double pushed = head.Error(head.Refine(underTree, pushedLandmarks));
  const double kept = head.Error(head.Refine(underTree, head.scanLandmarks));
  EXPECT_LT(std::abs(pushed - kept), 0.02);
}
