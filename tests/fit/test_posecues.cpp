// The cues of a head's pose found from the scan alone, on shapes whose
// answer is known: the samples of a sphere, the opening of a sphere cut
// open, the mirror planes of a moved head and of an ellipsoid, the ear
// bumps of the sample template; and the small helpers they use.
#include "testshapes.h"
#include "testutil.h"

#include "fit/earbumps.h"
#include "fit/findlandmarks.h"
#include "fit/headsymmetry.h"
#include "fit/posesteps.h"
#include "fit/scanopening.h"
#include "fit/scansamples.h"
#include "fit/stretchalign.h"
#include "fit/surfacetriangles.h"
#include "geometry/headframe.h"
#include "geometry/vector.h"
#include "surftools/surface.h"

#include <cmath>

using namespace testshapes;
using namespace testutil;

namespace
{
const double kCentre[3] = { 100, 90, 60 };

// The sample template (20 rings of 200 points a half), in `dir`.
TriangleSurface SampleTemplate(const std::string& dir)
{
  EXPECT_EQ(RunShell(Quote(std::string(TOOLS_DIR) + "/../sample/makesample") + ' ' + Quote(dir) + " 20 200").status, 0);
  vtkSmartPointer<vtkPolyData> surface = ReadSurface((dir + "/template.vtk").c_str());
  return surface ? SurfaceTriangles(surface) : TriangleSurface();
}
}

TEST(PoseCues, ASphereIsSampledAboutItsCentreAndCutOpenItsOpeningPointsOut)
{
  const TriangleSurface sphere = Sphere(75, kCentre, 60, 120);
  const TriangleTree tree(sphere.points, sphere.triangles);
  const ScanSamples samples = SampleScan(sphere, &tree, 2000);
  EXPECT_NEAR(static_cast<double>(samples.Count()), 2000, 200);
  EXPECT_LT(Distance(samples.centre, kCentre), 0.5);
  EXPECT_NEAR(samples.radius, 75, 0.5);
  const double x[3] = { 1, 0, 0 };
  double low, high;
  SampleExtent(samples, x, 1, low, high);
  EXPECT_NEAR(low, -75, 3);
  EXPECT_NEAR(high, 75, 3);
  EXPECT_FALSE(FindOpening(sphere, tree, samples.centre).found);

  // Cut open 30 mm below its centre: a neck's opening, facing down.
  TriangleSurface cut = sphere;
  KeepTriangles(cut, [](const double* p) { return p[2] > kCentre[2] - 30; });
  const TriangleTree cutTree(cut.points, cut.triangles);
  const ScanOpening opening = FindOpening(cut, cutTree, SampleScan(cut, &cutTree, 2000).centre);
  ASSERT_TRUE(opening.found);
  EXPECT_LT(opening.out[2], -0.999);
  EXPECT_NEAR(opening.radius, std::sqrt(75.0 * 75.0 - 30.0 * 30.0), 3);
  // The border is the lowest row of points kept, within a row (4 mm) of the cut.
  EXPECT_NEAR(opening.centre[2], kCentre[2] - 28, 2.5);
}

TEST(PoseCues, AMovedHeadHasOneMirrorPlaneAndAnEllipsoidThree)
{
  const std::string dir = ScratchDir();
  const TriangleSurface templ = SampleTemplate(dir);
  ASSERT_FALSE(templ.triangles.empty());
  // The template turned by 100 degrees about a slanted axis and moved.
  const double axis[3] = { 0.48, -0.6, 0.64 };
  RigidTransform motion = AxisRotation(axis, 100 * 3.14159265358979323846 / 180);
  motion.t[0] = 30;
  motion.t[1] = -200;
  motion.t[2] = 15;
  const TriangleSurface head = Moved(templ, motion);
  const TriangleTree tree(head.points, head.triangles);
  const std::vector<MirrorPlane> planes = FindMirrorPlanes(SampleScan(head, &tree, 2000), tree);
  ASSERT_FALSE(planes.empty());
  // The template's plane x = M_x, moved.
  const double x[3] = { 1, 0, 0 };
  double normal[3];
  motion.Rotate(x, normal);
  double onPlane[3];
  motion.Apply(kEarMidpoint, onPlane);
  EXPECT_GT(std::abs(Dot(planes[0].normal, normal)), std::cos(2 * 3.14159265358979323846 / 180));
  EXPECT_NEAR(std::abs(Dot(planes[0].normal, onPlane) - planes[0].offset), 0, 2);
  for (const MirrorPlane& other : planes)
  {
    if (PlanesApart(other, planes[0]))
    {
      EXPECT_GT(other.residual, 2 * planes[0].residual);
    }
  }

  // An ellipsoid of three different axes: its own image across three planes.
  TriangleSurface ellipsoid = Sphere(1, kCentre, 60, 120);
  for (size_t i = 0; i < ellipsoid.points.size(); ++i)
  {
    const double half[3] = { 60, 80, 70 };
    ellipsoid.points[i] = kCentre[i % 3] + half[i % 3] * (ellipsoid.points[i] - kCentre[i % 3]);
  }
  const TriangleTree ellipsoidTree(ellipsoid.points, ellipsoid.triangles);
  const ScanSamples samples = SampleScan(ellipsoid, &ellipsoidTree, 2000);
  std::vector<MirrorPlane> found;
  for (const MirrorPlane& p : FindMirrorPlanes(samples, ellipsoidTree))
  {
    bool apart = true;
    for (const MirrorPlane& q : found)
    {
      apart = apart && PlanesApart(p, q);
    }
    if (apart && p.residual < 0.02 * samples.radius)
    {
      found.push_back(p);
    }
  }
  EXPECT_EQ(found.size(), 3u);
}

TEST(PoseCues, TheTemplatesEarsAreBumpsBesideItsTragiAndASphereHasNone)
{
  const std::string dir = ScratchDir();
  const TriangleSurface templ = SampleTemplate(dir);
  std::vector<Landmark> five;
  ASSERT_TRUE(TemplateLandmarks(templ, five));
  const double size = Distance(five[0].data(), five[4].data());
  const double around[2] = { kEarMidpoint[1], kEarMidpoint[2] };
  for (int side : { -1, 1 })
  {
    SCOPED_TRACE(side);
    const EarBump bump = FindEarBump(templ, side, around, size);
    ASSERT_TRUE(bump.found);
    const Landmark& tragus = five[side < 0 ? 1 : 2];
    EXPECT_LT(std::hypot(bump.centre[0] - tragus[1], bump.centre[1] - tragus[2]), 0.2 * size);
    EXPECT_GT(bump.height, 0.0);
  }
  const double centre[3] = { kEarMidpoint[0], kEarMidpoint[1], kEarMidpoint[2] };
  EXPECT_FALSE(FindEarBump(Sphere(75, centre, 60, 120), 1, around, size).found);
}

TEST(PoseCues, HelpersCutMoveThinAndJudge)
{
  // A sphere cut by a plane x = const through its centre: a circle of its radius.
  const TriangleSurface sphere = Sphere(50, kCentre, 30, 60);
  const auto crossings = MidlineCrossings(sphere, kCentre[0] + 10);
  ASSERT_FALSE(crossings.empty());
  for (const auto& p : crossings)
  {
    EXPECT_DOUBLE_EQ(p[0], kCentre[0] + 10);
    EXPECT_NEAR(std::hypot(p[1] - kCentre[1], p[2] - kCentre[2]), std::sqrt(50.0 * 50.0 - 100.0), 1.0);
  }
  // Moved and back as a VTK surface.
  RigidTransform shift;
  shift.t[1] = 5;
  const TriangleSurface moved = Moved(sphere, shift);
  const TriangleSurface back = SurfaceTriangles(PolyDataOf(moved));
  ASSERT_EQ(back.points.size(), sphere.points.size());
  EXPECT_EQ(back.triangles, sphere.triangles);
  for (size_t i = 0; i < sphere.points.size(); ++i)
  {
    EXPECT_DOUBLE_EQ(back.points[i], sphere.points[i] + (i % 3 == 1 ? 5 : 0));
  }
  // Fewer samples: of the 999 on triangles, every ninth (999 / 100 = 9), the rest 0.
  std::vector<double> areas(1000, 1.0);
  areas[3] = 0;
  const std::vector<double> fewer = FewerSamples(areas, 100);
  size_t kept = 0;
  for (size_t i = 0; i < fewer.size(); ++i)
  {
    kept += fewer[i] > 0 ? 1 : 0;
    EXPECT_TRUE(fewer[i] == 0 || fewer[i] == areas[i]);
  }
  EXPECT_EQ(kept, 111u);
  EXPECT_EQ(fewer[3], 0);
  // A stretch within 0.3 of none is a head's; one beyond it, or a motion not finite, is not.
  StretchedPose pose;
  EXPECT_TRUE(StretchIsPlausible(pose, 0.3));
  pose.stretch[0][1] = pose.stretch[1][0] = 0.25;
  EXPECT_TRUE(StretchIsPlausible(pose, 0.3));
  pose.stretch[2][2] = 1.35;
  EXPECT_FALSE(StretchIsPlausible(pose, 0.3));
  pose.stretch[2][2] = 1;
  pose.motion.t[0] = std::nan("");
  EXPECT_FALSE(StretchIsPlausible(pose, 0.3));
}
