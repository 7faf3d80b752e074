// The real heads (sample/realheads.h) on the files that scripts/setup.sh
// fetches into REALHEADS_DIR: read, posed in the template's frame, scaled to
// a child's and an adult's size, pitched, mirrored and made into raw scans.
// Without the files every test here fails and says how to get them.
#include "realheads.h"

#include "fit/scanfile.h"
#include "fit/surfacetriangles.h"
#include "geometry/triangletree.h"
#include "geometry/vector.h"
#include "measure/headshape.h"
#include "realheadtest.h"
#include "testutil.h"

#include <cmath>
#include <filesystem>
#include <map>

namespace
{
// How many directed edges two triangles share (a triangle turned against
// its neighbours), and how many edges only one triangle has (a border).
struct EdgeCount
{
  int repeated = 0;
  int border = 0;
};
EdgeCount CountEdges(const TriangleSurface& surface)
{
  std::map<std::pair<int, int>, int> directed;
  for (size_t t = 0; t < surface.triangles.size(); t += 3)
  {
    for (int k = 0; k < 3; ++k)
    {
      ++directed[{ surface.triangles[t + k], surface.triangles[t + (k + 1) % 3] }];
    }
  }
  EdgeCount count;
  for (const auto& [edge, times] : directed)
  {
    count.repeated += times > 1 ? 1 : 0;
    count.border += directed.count({ edge.second, edge.first }) == 0 ? 1 : 0;
  }
  return count;
}

// The share of the triangles above the ear plane whose normal points away
// from the ear midpoint: all of them on the scalp and the coarse head, 90%
// on the bust, whose ears, horns and third eye face every way.
double OutwardShare(const TriangleSurface& surface)
{
  int above = 0;
  int outward = 0;
  for (size_t t = 0; t < surface.triangles.size(); t += 3)
  {
    const double* a = &surface.points[3 * surface.triangles[t]];
    const double* b = &surface.points[3 * surface.triangles[t + 1]];
    const double* c = &surface.points[3 * surface.triangles[t + 2]];
    double ab[3], ac[3], normal[3], away[3];
    Subtract(b, a, ab);
    Subtract(c, a, ac);
    Cross(ab, ac, normal);
    Subtract(a, kEarMidpoint, away);
    if (a[2] > kEarMidpoint[2])
    {
      ++above;
      outward += Dot(normal, away) > 0 ? 1 : 0;
    }
  }
  return static_cast<double>(outward) / above;
}

// The head-shape measures; fails the running test when there are none.
HeadShape Measure(const PosedHead& head)
{
  HeadShape shape;
  const std::string problem = MeasureHeadShape(head.surface, shape);
  EXPECT_EQ(problem, "");
  return shape;
}
}

TEST(RealHeads, ReadAsDebianShipsThem)
{
  const std::string dir = REALHEADS_DIR;
  std::string problem;
  const struct
  {
    vtkSmartPointer<vtkPolyData> surface;
    vtkIdType points, cells;
  } files[3] = { { ReadOffSurface(dir + "/head.off", problem), 1487, 2918 },
    { ReadOffSurface(dir + "/mannequin-devil.off", problem), 12977, 25888 },
    { ReadFifSurface(dir + "/fsaverage-head.fif", problem), 2033, 4062 } };
  for (const auto& file : files)
  {
    ASSERT_TRUE(file.surface) << problem << ": run scripts/setup.sh, which fetches the real head meshes";
    EXPECT_EQ(file.surface->GetNumberOfPoints(), file.points);
    EXPECT_EQ(file.surface->GetNumberOfCells(), file.cells);
  }
  // The scalp in millimetres, a head's size, and its fiducials in the same
  // frame: x toward the patient's right, the nasion in front.
  double bounds[6];
  files[2].surface->GetBounds(bounds);
  EXPECT_NEAR(bounds[1] - bounds[0], 169, 2);
  std::array<Landmark, 3> fiducials;
  ASSERT_TRUE(ReadFifFiducials(dir + "/fsaverage-fiducials.fif", fiducials, problem)) << problem;
  EXPECT_LT(fiducials[0][0], -70); // the left preauricular point
  EXPECT_GT(fiducials[2][0], 70);
  EXPECT_GT(fiducials[1][1], 70);
}

TEST(RealHeads, PosedInTheTemplateFrame)
{
  for (RealHead which : kRealHeads)
  {
    SCOPED_TRACE(RealHeadName(which));
    PosedHead head;
    ASSERT_TRUE(LoadRealHeadForTest(which, head));
    const std::vector<Landmark>& l = head.landmarks;
    for (int k = 0; k < 3; ++k)
    {
      EXPECT_NEAR(0.5 * (l[kRightTragus][k] + l[kLeftTragus][k]), kEarMidpoint[k], 1e-9);
    }
    EXPECT_NEAR(l[kRightTragus][1], l[kLeftTragus][1], 1e-9);
    EXPECT_NEAR(l[kRightTragus][2], l[kLeftTragus][2], 1e-9);
    EXPECT_LT(l[kRightTragus][0], kEarMidpoint[0] - 60); // a mirror image would have it on the left
    // The nasion in front between the eyes, the vertex on top, the
    // opisthocranion behind, the chin below the ears.
    EXPECT_NEAR(l[kNasion][0], kEarMidpoint[0], 5);
    EXPECT_LT(l[kNasion][1], kEarMidpoint[1] - 80);
    EXPECT_GT(l[kNasion][2], kEarMidpoint[2]);
    double bounds[6];
    head.surface->GetBounds(bounds);
    EXPECT_GT(l[kVertex][2], bounds[5] - 10);
    EXPECT_GT(l[kOpisthocranion][1], kEarMidpoint[1] + 60);
    EXPECT_LT(head.chin[2], kEarMidpoint[2] - 60);
    const TriangleSurface triangles = SurfaceTriangles(head.surface);
    EXPECT_GT(OutwardShare(triangles), 0.85);
    EXPECT_EQ(CountEdges(triangles).repeated, 0);
  }
}

TEST(RealHeads, ScaledToAChildAndAnAdult)
{
  for (RealHead which : kRealHeads)
  {
    PosedHead native;
    ASSERT_TRUE(LoadRealHeadForTest(which, native));
    const double nativeCircumference = Measure(native).circumference;
    for (double circumference : { 460.0, 560.0 })
    {
      SCOPED_TRACE(std::string(RealHeadName(which)) + " at " + std::to_string(circumference));
      PosedHead head = native;
      std::string problem;
      ASSERT_TRUE(ScaleHead(head, circumference, problem)) << problem;
      const HeadShape shape = Measure(head);
      EXPECT_NEAR(shape.circumference, circumference, 0.01 * circumference);
      // Broad anatomical ranges: the length about a third of the
      // circumference, the width about a quarter.
      EXPECT_GT(shape.length, 0.30 * circumference);
      EXPECT_LT(shape.length, 0.40 * circumference);
      EXPECT_GT(shape.width, 0.22 * circumference);
      EXPECT_LT(shape.width, 0.30 * circumference);
      EXPECT_GT(shape.ci, 60);
      EXPECT_LT(shape.ci, 90);
      EXPECT_NEAR(head.landmarks[kRightTragus][1], kEarMidpoint[1], 1e-9);
    }
    // The copies scaled, the head they were copied from as it was.
    EXPECT_EQ(Measure(native).circumference, nativeCircumference);
  }
}

TEST(RealHeads, PitchTurnsTheForeheadAboutTheEars)
{
  PosedHead upright;
  ASSERT_TRUE(LoadRealHeadForTest(RealHead::Average, upright));
  PosedHead nodding = upright;
  PitchHead(nodding, 20);
  const Landmark& before = upright.landmarks[kNasion];
  const Landmark& after = nodding.landmarks[kNasion];
  // The nasion lower and as far from the ears, the tragi where they were.
  EXPECT_LT(after[2], before[2] - 20);
  EXPECT_NEAR(Distance(after.data(), kEarMidpoint), Distance(before.data(), kEarMidpoint), 1e-9);
  // Seen from the patient's left (y to the right, z up), the nasion turned
  // counterclockwise: from the front down.
  const double b[2] = { before[1] - kEarMidpoint[1], before[2] - kEarMidpoint[2] };
  const double a[2] = { after[1] - kEarMidpoint[1], after[2] - kEarMidpoint[2] };
  EXPECT_NEAR(std::atan2(b[0] * a[1] - b[1] * a[0], b[0] * a[0] + b[1] * a[1]), 20 * M_PI / 180, 1e-9);
  for (int k = 0; k < 3; ++k)
  {
    EXPECT_NEAR(nodding.landmarks[kLeftTragus][k], upright.landmarks[kLeftTragus][k], 1e-9);
  }
  PitchHead(nodding, -20);
  double p[3], q[3];
  upright.surface->GetPoint(1000, p);
  nodding.surface->GetPoint(1000, q);
  EXPECT_LT(Distance(p, q), 1e-9);
}

TEST(RealHeads, MirroredHeadsAreSymmetric)
{
  for (RealHead which : kRealHeads)
  {
    SCOPED_TRACE(RealHeadName(which));
    PosedHead head;
    ASSERT_TRUE(LoadRealHeadForTest(which, head));
    PosedHead symmetric;
    std::string problem;
    ASSERT_TRUE(MirrorRightHalf(head, symmetric, problem)) << problem;
    const TriangleSurface mirrored = SurfaceTriangles(symmetric.surface);
    const TriangleSurface original = SurfaceTriangles(head.surface);
    const TriangleTree onMirrored(mirrored.points, mirrored.triangles);
    const TriangleTree onOriginal(original.points, original.triangles);
    // Every point's mirror image on the surface; the right half the head's own.
    double farthest = 0;
    double offOriginal = 0;
    for (size_t i = 0; i < mirrored.PointCount(); ++i)
    {
      const double* p = &mirrored.points[3 * i];
      const double image[3] = { 2 * kEarMidpoint[0] - p[0], p[1], p[2] };
      farthest = std::max(farthest, onMirrored.Closest(image, 1).distance);
      offOriginal = std::max(offOriginal, p[0] <= kEarMidpoint[0] ? onOriginal.Closest(p, 1).distance : 0.0);
    }
    EXPECT_LT(farthest, 1e-9);
    EXPECT_LT(offOriginal, 0.011); // points within 0.01 mm of the plane are moved onto it
    // Clean: no triangle turned against its neighbours, none without area;
    // the scalp, closed, stays closed; facing outward.
    const EdgeCount edges = CountEdges(mirrored);
    EXPECT_EQ(edges.repeated, 0);
    if (which == RealHead::Average)
    {
      EXPECT_EQ(edges.border, 0);
    }
    for (size_t t = 0; t < mirrored.triangles.size(); t += 3)
    {
      const int* c = &mirrored.triangles[t];
      EXPECT_TRUE(c[0] != c[1] && c[1] != c[2] && c[2] != c[0]) << "triangle " << t / 3;
    }
    EXPECT_GT(OutwardShare(mirrored), 0.85);
    EXPECT_NEAR(symmetric.landmarks[kLeftTragus][0], 2 * kEarMidpoint[0] - head.landmarks[kRightTragus][0], 1e-9);
    EXPECT_LT(Measure(symmetric).cvai, 1e-6);
  }
}

namespace
{
// A raw scan of `head` with landmarks without noise, written into the
// running test's folder and read back.
struct ScanBack
{
  RawScan scan;
  RawScanOptions options;
  TriangleSurface surface;
  std::vector<Landmark> landmarks;
};
ScanBack ScanAndReadBack(const PosedHead& head, int triangles, ScanLandmarks which)
{
  ScanBack back;
  back.options = RealScanOptions(head, triangles, 11);
  back.options.landmarkNoise = 0;
  const std::string dir = testutil::ScratchDir();
  EXPECT_TRUE(WriteRealRawScan(head, back.options, which, dir + "/scan.stl", dir + "/scan.crv", back.scan));
  EXPECT_TRUE(ReadScan((dir + "/scan.stl").c_str(), back.surface));
  EXPECT_TRUE(ReadLandmarks((dir + "/scan.crv").c_str(), back.landmarks));
  return back;
}
}

TEST(RealHeads, RawScanCarriesItsLandmarksThroughItsMotion)
{
  PosedHead head;
  ASSERT_TRUE(LoadRealHeadForTest(RealHead::Average, head));
  std::string problem;
  ASSERT_TRUE(ScaleHead(head, 460, problem)) << problem;
  const ScanBack back = ScanAndReadBack(head, 20000, ScanLandmarks::All);
  ASSERT_EQ(back.landmarks.size(), 5u);
  for (size_t i = 0; i < 5; ++i)
  {
    double moved[3];
    back.scan.motion.Apply(head.landmarks[i].data(), moved);
    EXPECT_LT(Distance(moved, back.landmarks[i].data()), 2e-3) << "landmark " << i;
  }
  // The scan, moved back, lies on the head and stops below the chin: the
  // scalp's closed bottom is gone, and the neck with it.
  const TriangleSurface original = SurfaceTriangles(head.surface);
  const TriangleTree onHead(original.points, original.triangles);
  const RigidTransform toHead = back.scan.motion.Inverse();
  double lowest = 1e9;
  double farthest = 0;
  for (size_t i = 0; i < back.surface.PointCount(); ++i)
  {
    double p[3];
    toHead.Apply(&back.surface.points[3 * i], p);
    lowest = std::min(lowest, p[2]);
    farthest = std::max(farthest, onHead.Closest(p, 10).distance);
  }
  EXPECT_LT(farthest, 1.5);
  EXPECT_GT(lowest, back.options.cutBelow - 5);
  EXPECT_LT(lowest, head.chin[2]);
  EXPECT_GT(CountEdges(back.surface).border, 0);
  EXPECT_NEAR(static_cast<double>(back.surface.TriangleCount()), 20000, 4000);
}

TEST(RealHeads, RawScanOfACoarseMeshWithItsMidlineLandmarks)
{
  PosedHead head;
  ASSERT_TRUE(LoadRealHeadForTest(RealHead::Scanned, head));
  const ScanBack back = ScanAndReadBack(head, 30000, ScanLandmarks::Midline);
  // 2918 triangles split in four twice, to have 30,000 before the cut.
  EXPECT_EQ(back.options.subdivisions, 2);
  EXPECT_GT(back.surface.TriangleCount(), 4u * 2918);
  ASSERT_EQ(back.landmarks.size(), 3u);
  const int rows[3] = { kNasion, kVertex, kOpisthocranion };
  for (int i = 0; i < 3; ++i)
  {
    double moved[3];
    back.scan.motion.Apply(head.landmarks[rows[i]].data(), moved);
    EXPECT_LT(Distance(moved, back.landmarks[i].data()), 2e-3) << "landmark " << i;
  }
}

TEST(RealHeads, MissingFolderIsRefusedWithTheFile)
{
  PosedHead head;
  std::string problem;
  EXPECT_FALSE(LoadRealHead(RealHead::Average, "/nonexistent/realheads", head, problem));
  EXPECT_EQ(problem, "/nonexistent/realheads/fsaverage-head.fif: no such file");
}
