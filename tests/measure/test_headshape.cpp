// Head-shape measures on shapes whose answers are known in closed form:
// ellipsoids (sheared, shifted, coarse and fine), holes, and cells lying
// exactly in a level plane; the nasion of a face pitched either way, a face
// without one refused; auricles as flaps and under a cap left out of the
// cut, and none found on heads without them; the real heads; and the
// headshape tool's table and refusals.
#include "geometry/vector.h"
#include "measure/auricles.h"
#include "measure/headshape.h"
#include "realheadtest.h"
#include "surftools/surface.h"
#include "testutil.h"

#include <vtkCellArray.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkPolyDataWriter.h>
#include <vtkSmartPointer.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <initializer_list>

using namespace testutil;

namespace
{
const double* const M = kEarMidpoint;
const double kPi = 3.141592653589793;

// A smooth bump of height 1 at u = 0, 0 from |u| = 1 on.
double Bump(double u)
{
  return std::abs(u) < 1 ? std::pow(std::cos(kPi / 2 * u), 2) : 0.0;
}

struct Ellipsoid
{
  double a = 72, b = 95, c = 90; // semi-axes in x, y, z
  double centre[3] = { M[0], M[1], M[2] };
  double shear = 0;               // y += shear * (x - M_x): the parallelogram of plagiocephaly
  int rings = 90, segments = 360; // latitude bands pole to pole, points per ring
};

// A closed, outward-oriented UV mesh of the ellipsoid: rings of points at
// even latitudes (one on the equator) and azimuths that include the axes.
// `keep` may drop cells (by their centroid) to cut holes.
vtkSmartPointer<vtkPolyData> Mesh(
  const Ellipsoid& e, bool doublePoints = false, const std::function<bool(const double*)>& keep = nullptr)
{
  auto points = vtkSmartPointer<vtkPoints>::New();
  if (doublePoints)
  {
    points->SetDataTypeToDouble();
  }
  auto at = [&](double lat, double lon) {
    const double x = e.a * std::cos(lat) * std::cos(lon);
    const double y = e.b * std::cos(lat) * std::sin(lon);
    return points->InsertNextPoint(e.centre[0] + x, e.centre[1] + y + e.shear * x, e.centre[2] + e.c * std::sin(lat));
  };
  const vtkIdType south = at(-kPi / 2, 0);
  std::vector<std::vector<vtkIdType>> ring(e.rings - 1);
  for (int r = 1; r < e.rings; ++r)
  {
    for (int s = 0; s < e.segments; ++s)
    {
      ring[r - 1].push_back(at(-kPi / 2 + kPi * r / e.rings, 2 * kPi * s / e.segments));
    }
  }
  const vtkIdType north = at(kPi / 2, 0);
  auto cells = vtkSmartPointer<vtkCellArray>::New();
  auto add = [&](vtkIdType p, vtkIdType q, vtkIdType r) {
    double centroid[3] = { 0, 0, 0 };
    for (vtkIdType id : { p, q, r })
    {
      double x[3];
      points->GetPoint(id, x);
      for (int k = 0; k < 3; ++k)
      {
        centroid[k] += x[k] / 3;
      }
    }
    if (!keep || keep(centroid))
    {
      const vtkIdType ids[3] = { p, q, r };
      cells->InsertNextCell(3, ids);
    }
  };
  const int n = e.segments;
  for (int s = 0; s < n; ++s)
  {
    add(south, ring.front()[(s + 1) % n], ring.front()[s]);
    add(north, ring.back()[s], ring.back()[(s + 1) % n]);
    for (size_t r = 0; r + 1 < ring.size(); ++r)
    {
      add(ring[r][s], ring[r][(s + 1) % n], ring[r + 1][(s + 1) % n]);
      add(ring[r][s], ring[r + 1][(s + 1) % n], ring[r + 1][s]);
    }
  }
  auto surface = vtkSmartPointer<vtkPolyData>::New();
  surface->SetPoints(points);
  surface->SetPolys(cells);
  return surface;
}

// Length of the chord of the ellipse section at height z through the point
// (M_x, centre y) along the unit direction d.
double EllipseChord(const Ellipsoid& e, double z, double dx, double dy)
{
  const double r = std::sqrt(1 - std::pow((z - e.centre[2]) / e.c, 2));
  const double ar = e.a * r, br = e.b * r;
  // The line in the ellipse's own (unsheared, centred) coordinates.
  const double px = M[0] - e.centre[0], py = -e.shear * px;
  const double ux = dx, uy = dy - e.shear * dx;
  const double A = ux * ux / (ar * ar) + uy * uy / (br * br);
  const double B = 2 * (px * ux / (ar * ar) + py * uy / (br * br));
  const double C = px * px / (ar * ar) + py * py / (br * br) - 1;
  return std::sqrt(B * B - 4 * A * C) / A;
}

// The measures of the ellipsoid itself at the level plane nearest its equator.
HeadShape Expected(const Ellipsoid& e)
{
  HeadShape s;
  s.level = std::max(0.0, std::round((e.centre[2] - M[2]) / kLevelSpacing) * kLevelSpacing);
  const double z = M[2] + s.level;
  const double r = std::sqrt(1 - std::pow((z - e.centre[2]) / e.c, 2));
  s.length = 2 * r * std::sqrt(e.b * e.b + e.shear * e.shear * e.a * e.a);
  s.width = 2 * r * e.a;
  s.ci = 100 * s.width / s.length;
  const int steps = 200000;
  for (int i = 0; i < steps; ++i)
  {
    const double t0 = 2 * kPi * i / steps, t1 = 2 * kPi * (i + 1) / steps;
    const double dx = r * e.a * (std::cos(t1) - std::cos(t0));
    const double dy = r * e.b * (std::sin(t1) - std::sin(t0)) + e.shear * dx;
    s.circumference += std::sqrt(dx * dx + dy * dy);
  }
  s.diagonalA = EllipseChord(e, z, 0.5, std::sqrt(3.0) / 2);
  s.diagonalB = EllipseChord(e, z, -0.5, std::sqrt(3.0) / 2);
  s.cva = std::abs(s.diagonalA - s.diagonalB);
  s.cvai = 100 * s.cva / std::min(s.diagonalA, s.diagonalB);
  s.plagiocephalyLevel = PlagiocephalyLevel(s.cvai);
  // Above z = M_z, h below the centre; a shear keeps volumes.
  const double h = e.centre[2] - M[2];
  s.volume = kPi * e.a * e.b * ((e.c + h) - (e.c * e.c * e.c + h * h * h) / (3 * e.c * e.c)) / 1000;
  // Mirror symmetric in x and y: every ratio 100. A shear keeps the halves
  // (osr) and swaps front-left with back-right, so asr = psr (not known here).
  s.osr = 100;
  s.asr = s.psr = e.shear == 0 ? 100 : NAN;
  return s;
}

HeadShape Measure(vtkPolyData* surface)
{
  HeadShape shape;
  const std::string problem = MeasureHeadShape(surface, shape);
  EXPECT_EQ(problem, "");
  return shape;
}

// Every measure within `tolerance` of the expected one, relative for
// lengths and volumes, in points for the indices and ratios.
void ExpectNear(const HeadShape& got, const HeadShape& want, double tolerance, const std::string& name)
{
  SCOPED_TRACE(name);
  EXPECT_EQ(got.level, want.level);
  for (auto [g, w] :
    { std::pair{ got.length, want.length }, { got.width, want.width }, { got.circumference, want.circumference },
      { got.diagonalA, want.diagonalA }, { got.diagonalB, want.diagonalB }, { got.volume, want.volume } })
  {
    EXPECT_NEAR(g, w, tolerance * w);
  }
  for (auto [g, w] : { std::pair{ got.ci, want.ci }, { got.cvai, want.cvai }, { got.asr, want.asr },
         { got.psr, want.psr }, { got.osr, want.osr } })
  {
    EXPECT_NEAR(g, std::isnan(w) ? g : w, 100 * tolerance);
  }
  EXPECT_NEAR(got.asr, got.psr, 100 * tolerance);
  EXPECT_NEAR(got.cva, want.cva, tolerance * want.diagonalA);
  EXPECT_EQ(got.plagiocephalyLevel, want.plagiocephalyLevel);
  EXPECT_EQ(got.auricles, want.auricles);
}
}

TEST(HeadShape, EllipsoidsAgreeWithClosedFormsOnCoarseAndFineMeshes)
{
  Ellipsoid upright; // centred 12 mm above M and 4 mm behind it: the diagonals meet mid-length
  upright.centre[1] += 4;
  upright.centre[2] += 12;
  Ellipsoid sheared = upright; // a parallelogram: CVAI about 14, level 5
  sheared.shear = 0.3;
  sheared.c = 70;
  sheared.centre[1] = M[1];

  for (const Ellipsoid& e : { upright, sheared })
  {
    const HeadShape want = Expected(e);
    Ellipsoid coarse = e;
    coarse.rings = 30;
    coarse.segments = 120;
    ExpectNear(Measure(Mesh(coarse)), want, 0.01, "coarse, shear " + std::to_string(e.shear));
    ExpectNear(Measure(Mesh(e)), want, 0.001, "fine, shear " + std::to_string(e.shear));
  }
  EXPECT_GT(Expected(sheared).cvai, 11);
}

TEST(HeadShape, QuadrantRatiosOfAnEllipsoidOffTheMirrorPlane)
{
  // Centred d mm to the side of M in the ear plane: the part with x < M_x of
  // the upper half ellipsoid is pi b c / 2 ((a - d) - (a^3 - d^3) / (3 a^2)).
  Ellipsoid e;
  const double d = 8;
  e.centre[0] += d;
  HeadShape want = Expected(e);
  const double small = kPi * e.b * e.c / 2 * ((e.a - d) - (std::pow(e.a, 3) - std::pow(d, 3)) / (3 * e.a * e.a));
  const double half = 2 * kPi * e.a * e.b * e.c / 3;
  want.asr = want.psr = want.osr = 100 * small / (half - small);
  const HeadShape shifted = Measure(Mesh(e));
  ExpectNear(shifted, want, 0.001, "shifted");
  EXPECT_LT(want.osr, 80);
  // The smaller back quadrant is the patient's right (x < M_x); shifted the
  // other way, the left; centred, neither.
  EXPECT_STREQ(shifted.posteriorFlatSide, "right");
  e.centre[0] -= 2 * d;
  EXPECT_STREQ(Measure(Mesh(e)).posteriorFlatSide, "left");
  e.centre[0] += d;
  EXPECT_STREQ(Measure(Mesh(e)).posteriorFlatSide, "none");
}

namespace
{
// The surface with every cell's corners in the opposite order: facing inward.
vtkSmartPointer<vtkPolyData> Inward(vtkPolyData* surface)
{
  auto cells = vtkSmartPointer<vtkCellArray>::New();
  for (vtkIdType c = 0; c < surface->GetNumberOfCells(); ++c)
  {
    vtkIdType size;
    const vtkIdType* ids;
    surface->GetCellPoints(c, size, ids);
    const vtkIdType reversed[3] = { ids[2], ids[1], ids[0] };
    cells->InsertNextCell(3, reversed);
  }
  auto inward = vtkSmartPointer<vtkPolyData>::New();
  inward->SetPoints(surface->GetPoints());
  inward->SetPolys(cells);
  return inward;
}

// A face on the ellipsoid's front, all of it below `top`: a nose pushed 12 mm
// forward on the midline and two brow ridges 4 mm forward beside it.
void AddFace(vtkPolyData* surface, const Ellipsoid& e, double top)
{
  vtkPoints* points = surface->GetPoints();
  for (vtkIdType i = 0; i < points->GetNumberOfPoints(); ++i)
  {
    double p[3];
    points->GetPoint(i, p);
    if (p[1] >= e.centre[1])
    {
      continue;
    }
    const double nose = 12 * Bump((p[0] - M[0]) / 12) * Bump((p[2] - (top - 15)) / 14);
    const double brows =
      4 * (Bump((p[0] - M[0] - 25) / 12) + Bump((p[0] - M[0] + 25) / 12)) * Bump((p[2] - (top - 8)) / 7);
    p[1] -= nose + brows;
    points->SetPoint(i, p);
  }
}

// The head of the face tests, its longest level 12 mm above M; and its mesh
// with a face reaching up to 20 mm below its centre.
Ellipsoid FaceHead()
{
  Ellipsoid e;
  e.centre[1] += 4;
  e.centre[2] += 12;
  return e;
}

vtkSmartPointer<vtkPolyData> FaceMesh(const Ellipsoid& e)
{
  vtkSmartPointer<vtkPolyData> surface = Mesh(e);
  AddFace(surface, e, e.centre[2] - 20);
  return surface;
}
}

TEST(HeadShape, AFaceBelowTheNasionIsLeftOutAndInwardCellsMeasureAlike)
{
  const Ellipsoid e = FaceHead(); // the face below the nasion 20 mm below the longest level
  const double top = e.centre[2] - 20;
  vtkSmartPointer<vtkPolyData> plain = Mesh(e);
  vtkSmartPointer<vtkPolyData> face = FaceMesh(e);
  const HeadShape without = Measure(plain);
  const HeadShape with = Measure(face);
  EXPECT_EQ(without.measuredFrom, 0.0);
  // The nasion lies just above the face, within the dip it leaves.
  EXPECT_GE(M[2] + with.measuredFrom, top - 1.0);
  EXPECT_LE(M[2] + with.measuredFrom, top + 10.0);
  // Every measure at the level is the plain ellipsoid's.
  EXPECT_EQ(with.level, without.level);
  for (auto [g, w] : { std::pair{ with.length, without.length }, { with.width, without.width },
         { with.circumference, without.circumference }, { with.diagonalA, without.diagonalA },
         { with.diagonalB, without.diagonalB }, { with.ci, without.ci }, { with.cvai, without.cvai } })
  {
    EXPECT_EQ(g, w);
  }
  // The volume lies above the nasion's level: that of the ellipsoid above it.
  HeadShape want = Expected(e);
  const double h = e.centre[2] - (M[2] + with.measuredFrom);
  want.volume = kPi * e.a * e.b * ((e.c + h) - (e.c * e.c * e.c + h * h * h) / (3 * e.c * e.c)) / 1000;
  ExpectNear(with, want, 0.001, "with a face");
  EXPECT_STREQ(with.posteriorFlatSide, "none");

  // Facing inward, each surface measures exactly as facing outward.
  for (const auto& [surface, outward] : { std::pair{ plain, without }, { face, with } })
  {
    const HeadShape inward = Measure(Inward(surface));
    EXPECT_EQ(HeadShapeRow("s", inward), HeadShapeRow("s", outward));
  }
}

namespace
{
// The point turned about the axis through M along x (axis 0) or z (axis 2)
// by `degrees`, counter-clockwise seen from the axis' end: about x, a head
// scanned pitched, its face turning down where positive; about z, one turned.
void Rotate(double p[3], int axis, double degrees)
{
  const double a = degrees * kPi / 180, c = std::cos(a), s = std::sin(a);
  const int i = (axis + 1) % 3, j = (axis + 2) % 3;
  const double u = p[i] - M[i], v = p[j] - M[j];
  p[i] = M[i] + c * u - s * v;
  p[j] = M[j] + s * u + c * v;
}

vtkSmartPointer<vtkPolyData> Rotated(vtkPolyData* surface, int axis, double degrees)
{
  auto points = vtkSmartPointer<vtkPoints>::New();
  points->SetDataTypeToDouble();
  for (vtkIdType i = 0; i < surface->GetNumberOfPoints(); ++i)
  {
    double p[3];
    surface->GetPoint(i, p);
    Rotate(p, axis, degrees);
    points->InsertNextPoint(p);
  }
  auto rotated = vtkSmartPointer<vtkPolyData>::New();
  rotated->SetPoints(points);
  rotated->SetPolys(surface->GetPolys());
  return rotated;
}
}

TEST(HeadShape, TheNasionOfAPitchedHeadIsFoundAtTheSamePlace)
{
  // Upright, the nasion lies in the hollow just above the nose; pitched by up
  // to 20 degrees either way it is found at the same point of the head (turned
  // back upright), also face up, where the forehead slopes back from the nose.
  const Ellipsoid e = FaceHead();
  const double top = e.centre[2] - 20;
  vtkSmartPointer<vtkPolyData> face = FaceMesh(e);
  double upright[3];
  ASSERT_TRUE(FindNasion(face, upright));
  EXPECT_EQ(upright[0], M[0]);
  EXPECT_GE(upright[2], top - 2.5);
  EXPECT_LE(upright[2], top);
  for (double degrees : { -20.0, -10.0, 10.0, 20.0 })
  {
    SCOPED_TRACE(degrees);
    vtkSmartPointer<vtkPolyData> pitched = Rotated(face, 0, degrees);
    double found[3];
    ASSERT_TRUE(FindNasion(pitched, found));
    const HeadShape shape = Measure(pitched);
    EXPECT_EQ(shape.measuredFrom, std::max(0.0, std::round((found[2] - M[2]) * 2) / 2));
    Rotate(found, 0, -degrees);
    EXPECT_LT(Distance(found, upright), 2.0);
  }
}

TEST(HeadShape, AFaceWithoutANasionIsRefused)
{
  // A face high on the head, its top 20 mm above the ear plane, on a scan cut
  // off just above the nose: a face without a forehead, refused, by the tool
  // too.
  Ellipsoid e = FaceHead();
  e.centre[2] = M[2] + 40;
  const double top = e.centre[2] - 20;
  vtkSmartPointer<vtkPolyData> noForehead = Mesh(e, false, [&](const double* c) { return c[2] < top + 2; });
  AddFace(noForehead, e, top);
  const std::string problem = "has a face but no nasion above it (no hollow between nose and forehead on the "
                              "midline: is the forehead scanned, the head upright within 20 degrees?)";
  HeadShape shape;
  EXPECT_EQ(MeasureHeadShape(noForehead, shape), problem);
  double nasion[3];
  EXPECT_FALSE(FindNasion(noForehead, nasion));
  const std::string dir = ScratchDir();
  vtkNew<vtkPolyDataWriter> writer;
  writer->SetFileName((dir + "/face.vtk").c_str());
  writer->SetInputData(noForehead);
  ASSERT_EQ(writer->Write(), 1);
  const ToolRun run = RunTool("headshape", { "face.vtk" }, dir);
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.output, "Cannot measure scan face.vtk: it " + problem + "\n");
}

namespace
{
// Auricles under a cap: on the given sides (-1 the patient's right, +1 the
// left), the skull pushed out sideways by up to `height` mm from 4 mm in front
// of the tragi to 40 mm behind them, over 50 mm around the level z0.
void AddAuricleBumps(vtkPolyData* surface, double height, double z0, std::initializer_list<int> sides)
{
  vtkPoints* points = surface->GetPoints();
  for (vtkIdType i = 0; i < points->GetNumberOfPoints(); ++i)
  {
    double p[3];
    points->GetPoint(i, p);
    const int side = p[0] < M[0] ? -1 : 1;
    if (std::abs(p[0] - M[0]) > 20 && std::find(sides.begin(), sides.end(), side) != sides.end())
    {
      p[0] += side * height * Bump((p[1] - M[1] - 18) / 22) * Bump((p[2] - z0) / 25);
      points->SetPoint(i, p);
    }
  }
}

// The two surfaces as one.
vtkSmartPointer<vtkPolyData> Merged(vtkPolyData* a, vtkPolyData* b)
{
  auto points = vtkSmartPointer<vtkPoints>::New();
  points->SetDataTypeToDouble();
  auto cells = vtkSmartPointer<vtkCellArray>::New();
  for (vtkPolyData* s : { a, b })
  {
    const vtkIdType offset = points->GetNumberOfPoints();
    for (vtkIdType i = 0; i < s->GetNumberOfPoints(); ++i)
    {
      points->InsertNextPoint(s->GetPoint(i));
    }
    for (vtkIdType c = 0; c < s->GetNumberOfCells(); ++c)
    {
      vtkIdType size;
      const vtkIdType* ids;
      s->GetCellPoints(c, size, ids);
      const vtkIdType moved[3] = { ids[0] + offset, ids[1] + offset, ids[2] + offset };
      cells->InsertNextCell(3, moved);
    }
  }
  auto merged = vtkSmartPointer<vtkPolyData>::New();
  merged->SetPoints(points);
  merged->SetPolys(cells);
  return merged;
}

// Auricles without a cap: on both sides of the head a flap 12 mm thick,
// `gap` mm out of the skull at the level z0, from the tragi to 36 mm behind
// them, a closed surface of its own.
vtkSmartPointer<vtkPolyData> WithAuricleFlaps(vtkPolyData* head, const Ellipsoid& e, double gap, double z0)
{
  vtkSmartPointer<vtkPolyData> bust = head;
  for (int side : { -1, 1 })
  {
    Ellipsoid flap;
    flap.a = 6, flap.b = 18, flap.c = 25, flap.rings = 30, flap.segments = 60;
    const double y = M[1] + 18, r = std::sqrt(1 - std::pow((z0 - e.centre[2]) / e.c, 2));
    const double skull = e.a * r * std::sqrt(1 - std::pow((y - e.centre[1]) / (e.b * r), 2));
    flap.centre[0] = M[0] + side * (skull + gap + flap.a);
    flap.centre[1] = y;
    flap.centre[2] = z0;
    bust = Merged(bust, Mesh(flap));
  }
  return bust;
}

// Every measure of the cut at ML the same as the plain head's, within
// `tolerance` mm (and 100 * tolerance / length points of CI).
void ExpectSameCut(const HeadShape& got, const HeadShape& plain, double tolerance)
{
  EXPECT_EQ(got.level, plain.level);
  EXPECT_EQ(got.length, plain.length);
  for (auto [g, w] : { std::pair{ got.width, plain.width }, { got.circumference, plain.circumference },
         { got.diagonalA, plain.diagonalA }, { got.diagonalB, plain.diagonalB } })
  {
    EXPECT_NEAR(g, w, tolerance);
  }
  EXPECT_NEAR(got.ci, plain.ci, 100 * tolerance / plain.length);
}
}

TEST(HeadShape, AuriclesAreLeftOutOfTheCutAtTheMeasurementLevel)
{
  // The face head with auricles through its measurement level: as flaps with
  // a gap behind them the skull's own outline is measured, exactly the plain
  // head's; under a cap (bumps of 8 and 20 mm, on one side or both) the
  // skull's curve takes their place, within half a millimetre a side.
  const Ellipsoid e = FaceHead();
  const double z0 = e.centre[2];
  vtkSmartPointer<vtkPolyData> head = FaceMesh(e);
  const HeadShape plain = Measure(head);
  EXPECT_EQ(plain.auricles, 0);

  const HeadShape flaps = Measure(WithAuricleFlaps(head, e, 3, z0));
  EXPECT_EQ(flaps.auricles, 2);
  ExpectSameCut(flaps, plain, 0);
  for (double height : { 8.0, 20.0 })
  {
    for (const auto& sides : { std::initializer_list<int>{ -1 }, std::initializer_list<int>{ -1, 1 } })
    {
      SCOPED_TRACE(std::to_string(height) + " mm on " + std::to_string(sides.size()) + " sides");
      vtkSmartPointer<vtkPolyData> capped = FaceMesh(e);
      AddAuricleBumps(capped, height, z0, sides);
      const HeadShape got = Measure(capped);
      EXPECT_EQ(got.auricles, static_cast<int>(sides.size()));
      ExpectSameCut(got, plain, 0.5 * static_cast<double>(sides.size()));
    }
  }
}

TEST(HeadShape, HeadsWithoutAuriclesKeepTheirCut)
{
  // No auricle is found on a broad head, a long one, a sheared one
  // (plagiocephaly), one pitched by 20 degrees either way or turned by 5
  // degrees: the cut at ML is measured as it is. Bumps standing out by less
  // than 5 mm or more than 25 mm are no auricles.
  Ellipsoid broad;
  broad.a = 82, broad.b = 86;
  Ellipsoid longHead;
  longHead.a = 62, longHead.b = 100;
  Ellipsoid sheared;
  sheared.shear = 0.3;
  for (const Ellipsoid& e : { broad, longHead, sheared })
  {
    EXPECT_EQ(Measure(Mesh(e)).auricles, 0);
  }
  const Ellipsoid e = FaceHead();
  vtkSmartPointer<vtkPolyData> face = FaceMesh(e);
  for (double degrees : { -20.0, 20.0 })
  {
    EXPECT_EQ(Measure(Rotated(face, 0, degrees)).auricles, 0);
  }
  EXPECT_EQ(Measure(Rotated(face, 2, 5)).auricles, 0);
  for (double height : { 3.0, 32.0 })
  {
    vtkSmartPointer<vtkPolyData> bumped = Mesh(e);
    AddAuricleBumps(bumped, height, e.centre[2], { -1, 1 });
    EXPECT_EQ(Measure(bumped).auricles, 0) << height;
  }
}

namespace
{
// The cut of the plain head at its equator as a polygon of 1440 points (an
// ellipse 72 by 95 mm about (M_x, M_y + 4)), its outline pushed out on the
// patient's left by an auricle under a cap standing `height` mm out, as
// AddAuricleBumps at its middle level.
LevelCut PlantedCut(double height)
{
  LevelCut cut;
  const int n = 1440;
  for (int i = 0; i < n; ++i)
  {
    const double t = 2 * kPi * i / n;
    const double y = M[1] + 4 + 95 * std::sin(t);
    double x = M[0] + 72 * std::cos(t);
    x += x > M[0] ? height * Bump((y - M[1] - 18) / 22) : 0.0;
    cut.points.push_back({ x, y });
  }
  for (int i = 0; i < n; ++i)
  {
    cut.segments.push_back({ cut.points[i], cut.points[(i + 1) % n] });
  }
  return cut;
}
}

TEST(HeadShape, AnAuricleIsFoundByHowFarItStandsOutOfTheSkullsCurve)
{
  // On planted cuts: the auricle stands out of the skull's curve by its
  // height, and it is one from 5 to 25 mm; the plain side stands out by
  // nothing. Over the ear zone the curve lies up to half a millimetre outside
  // an ellipse, and the auricle's flanks within half a millimetre of it stay:
  // with its points left out and the curve's put in, the cut is the
  // ellipse's within 0.8 mm in width (else exactly the cut as it was).
  const double yLow = M[1] + 4 - 95, yHigh = M[1] + 4 + 95;
  for (double height : { 3.0, 6.0, 12.0, 24.0, 28.0 })
  {
    SCOPED_TRACE(height);
    const LevelCut cut = PlantedCut(height);
    const Auricles found = FindAuricles(cut, yLow, yHigh);
    EXPECT_EQ(found.side[1].found, height >= 5 && height <= 25);
    EXPECT_NEAR(found.side[1].standsOut, height, 0.6);
    EXPECT_FALSE(found.side[0].found);
    EXPECT_EQ(found.side[0].standsOut, 0.0);
    std::vector<Point2> points = SkullPoints(cut, yLow, yHigh, found);
    double xHigh = M[0];
    for (const Point2& p : ConvexHull(points))
    {
      xHigh = std::max(xHigh, p[0]);
    }
    if (found.side[1].found)
    {
      EXPECT_NEAR(xHigh - M[0], 72, 0.8);
    }
    else
    {
      EXPECT_EQ(points.size(), cut.points.size());
    }
  }
}

namespace
{
// The surface's cells whose centroid `keep` takes, on all its points.
vtkSmartPointer<vtkPolyData> Kept(vtkPolyData* surface, const std::function<bool(const double*)>& keep)
{
  auto cells = vtkSmartPointer<vtkCellArray>::New();
  for (vtkIdType c = 0; c < surface->GetNumberOfCells(); ++c)
  {
    double centroid[3];
    CellCentroid(surface, c, centroid);
    if (keep(centroid))
    {
      vtkIdType size;
      const vtkIdType* ids;
      surface->GetCellPoints(c, size, ids);
      cells->InsertNextCell(size, ids);
    }
  }
  auto kept = vtkSmartPointer<vtkPolyData>::New();
  kept->SetPoints(surface->GetPoints());
  kept->SetPolys(cells);
  return kept;
}

// The width of the hull of points.
double Width(std::vector<Point2> points)
{
  double low = INFINITY, high = -INFINITY;
  for (const Point2& p : ConvexHull(points))
  {
    low = std::min(low, p[0]);
    high = std::max(high, p[0]);
  }
  return high - low;
}
}

TEST(HeadShape, RealHeadsHaveTheirNasionFoundPitchedUpToTwentyDegrees)
{
  // The scanned head (its forehead sloping back from the nose, no dip) and
  // the MRI average: the nasion is found within 10 mm of the one picked on a
  // picture or digitized, and pitched by 10 or 20 degrees either way at the
  // same point of the head within 2 mm. The bust's deepest hollow above its
  // nose is the third eye on its forehead, found at every pitch; a shelf
  // overhangs it, which the profile sees differently pitched (within 8 mm).
  for (RealHead which : kRealHeads)
  {
    SCOPED_TRACE(RealHeadName(which));
    PosedHead head;
    ASSERT_TRUE(LoadRealHeadForTest(which, head));
    double upright[3];
    ASSERT_TRUE(FindNasion(head.surface, upright));
    if (which != RealHead::Bust)
    {
      EXPECT_LT(Distance(upright, head.landmarks[kNasion].data()), 10.0);
    }
    for (double degrees : { -20.0, -10.0, 10.0, 20.0 })
    {
      SCOPED_TRACE(degrees);
      PosedHead pitched = head;
      PitchHead(pitched, degrees);
      double found[3];
      ASSERT_TRUE(FindNasion(pitched.surface, found));
      EXPECT_EQ(Measure(pitched.surface).measuredFrom, std::max(0.0, std::round((found[2] - M[2]) * 2) / 2));
      Rotate(found, 0, -degrees);
      EXPECT_LT(Distance(found, upright), which == RealHead::Bust ? 8.0 : 2.0);
    }
  }
}

TEST(HeadShape, TheNasionAboveTheNoseIsTheHollowBetweenNoseAndBrows)
{
  // Where a face has one hollow between its nose and its forehead, the same
  // point as FindNasion's; on the bust, whose deepest hollow is the third
  // eye on its forehead, the hollow beneath it, near the nasion picked on it.
  for (RealHead which : kRealHeads)
  {
    SCOPED_TRACE(RealHeadName(which));
    PosedHead head;
    ASSERT_TRUE(LoadRealHeadForTest(which, head));
    double deepest[3], aboveNose[3];
    ASSERT_TRUE(FindNasion(head.surface, deepest));
    ASSERT_TRUE(FindNasionAboveNose(head.surface, aboveNose));
    if (which == RealHead::Bust)
    {
      EXPECT_GT(Distance(deepest, aboveNose), 10.0);
      EXPECT_LT(aboveNose[2], deepest[2]);
    }
    else
    {
      EXPECT_LT(Distance(deepest, aboveNose), 1e-9);
    }
    EXPECT_LT(Distance(aboveNose, head.landmarks[kNasion].data()), 10.0);
  }
}

TEST(HeadShape, RealHeadsCutAboveTheNoseAreRefusedAndAboveTheBrowsMeasured)
{
  // The scanned head and the MRI average cut off 16 mm above the nose's tip:
  // a face without a forehead, refused. Cut off 15 mm above their nasion: no
  // face, measured from the ear plane.
  for (RealHead which : { RealHead::Scanned, RealHead::Average })
  {
    SCOPED_TRACE(RealHeadName(which));
    PosedHead head;
    ASSERT_TRUE(LoadRealHeadForTest(which, head));
    double nasion[3];
    ASSERT_TRUE(FindNasion(head.surface, nasion));
    double tip[3] = { 0, INFINITY, 0 };
    for (vtkIdType i = 0; i < head.surface->GetNumberOfPoints(); ++i)
    {
      double p[3];
      head.surface->GetPoint(i, p);
      if (p[2] < nasion[2] && p[1] < tip[1])
      {
        std::copy(p, p + 3, tip);
      }
    }
    HeadShape shape;
    vtkSmartPointer<vtkPolyData> face = Kept(head.surface, [&](const double* c) { return c[2] < tip[2] + 16; });
    EXPECT_EQ(MeasureHeadShape(face, shape).substr(0, 34), "has a face but no nasion above it ");
    vtkSmartPointer<vtkPolyData> vault = Kept(head.surface, [&](const double* c) { return c[2] > nasion[2] + 15; });
    ASSERT_EQ(MeasureHeadShape(vault, shape), "");
    EXPECT_EQ(shape.measuredFrom, 0.0);
  }
}

TEST(HeadShape, TheBustsAuriclesAreLeftOutOfCutsThroughThem)
{
  // Cuts of the bust through its auricles, 20 mm below to 30 mm above the ear
  // plane: on both sides an auricle standing out 7 to 20 mm. Left out, the
  // skull's widths rise steadily from that of the cut just below the ears to
  // that just above them, where none is found, 15 mm or more less than
  // across the ears. At the measurement level of each real head, upright or
  // pitched by 20 degrees, none is found (the bust's lies above its ears).
  PosedHead bust;
  ASSERT_TRUE(LoadRealHeadForTest(RealHead::Bust, bust));
  auto skullWidth = [&](double height, int auricles) {
    const LevelCut cut = CutAtLevel(bust.surface, M[2] + height);
    double yLow = INFINITY, yHigh = -INFINITY;
    for (const Point2& p : cut.points)
    {
      yLow = std::min(yLow, p[1]), yHigh = std::max(yHigh, p[1]);
    }
    const Auricles found = FindAuricles(cut, yLow, yHigh);
    EXPECT_EQ(found.Count(), auricles) << height;
    for (const Auricle& side : found.side)
    {
      EXPECT_TRUE(!side.found || (side.standsOut > 7 && side.standsOut < 20)) << height;
    }
    const double width = Width(SkullPoints(cut, yLow, yHigh, found));
    EXPECT_GE(Width(cut.points), width + (auricles ? 15 : 0)) << height;
    return width;
  };
  const double below = skullWidth(-25, 0), above = skullWidth(35, 0);
  double last = below;
  for (double height : { -20.0, -10.0, 0.0, 10.0, 20.0, 30.0 })
  {
    const double width = skullWidth(height, 2);
    EXPECT_GE(width, last) << height;
    EXPECT_LE(width, above) << height;
    last = width;
  }
  for (RealHead which : kRealHeads)
  {
    PosedHead head;
    ASSERT_TRUE(LoadRealHeadForTest(which, head));
    for (double degrees : { -20.0, 0.0, 20.0 })
    {
      PosedHead pitched = head;
      PitchHead(pitched, degrees);
      EXPECT_EQ(Measure(pitched.surface).auricles, 0) << RealHeadName(which) << ' ' << degrees;
    }
  }
}

TEST(HeadShape, HolesAboveTheEarPlaneAreBridgedByTheHull)
{
  // The crown cut off, and a window at the measurement level away from the
  // extremes: the cut's hull and every 2-D measure stay, the volume shrinks.
  Ellipsoid e;
  e.centre[2] += 12;
  const auto whole = Measure(Mesh(e));
  const auto holed = Measure(Mesh(e, false, [&](const double* p) {
    const double x = p[0] - e.centre[0], y = p[1] - e.centre[1], z = p[2] - e.centre[2];
    const bool crown = z > 0.8 * e.c;
    const bool window = std::abs(z) < 8 && x > 0 && y > 0 && std::abs(std::atan2(y / e.b, x / e.a) - kPi / 4) < 0.2;
    return !crown && !window;
  }));
  EXPECT_NEAR(holed.circumference, whole.circumference, 0.005 * whole.circumference);
  EXPECT_LT(holed.circumference, whole.circumference);
  EXPECT_EQ(holed.length, whole.length);
  EXPECT_EQ(holed.width, whole.width);
  EXPECT_EQ(holed.level, whole.level);
  EXPECT_LT(holed.volume, 0.97 * whole.volume);
  EXPECT_GT(holed.volume, 0.8 * whole.volume);
}

TEST(HeadShape, CellsLyingInALevelPlaneCountAndTiesGoToTheLowestLevel)
{
  // A frustum of double-precision points whose top face lies exactly in the
  // plane of level 3 mm and is its widest section; and a prism, whose
  // sections are all alike, so that the lowest level wins.
  for (bool widening : { true, false })
  {
    const double top = M[2] + 6 * kLevelSpacing;
    const double bottom = M[2] - 5;
    const double x0 = 30, y0 = 40, x1 = widening ? 36 : 30, y1 = widening ? 56 : 40;
    auto points = vtkSmartPointer<vtkPoints>::New();
    points->SetDataTypeToDouble();
    for (const auto& [z, x, y] : { std::array{ bottom, x0, y0 }, std::array{ top, x1, y1 } })
    {
      points->InsertNextPoint(M[0] - x, M[1] - y, z);
      points->InsertNextPoint(M[0] + x, M[1] - y, z);
      points->InsertNextPoint(M[0] + x, M[1] + y, z);
      points->InsertNextPoint(M[0] - x, M[1] + y, z);
    }
    auto cells = vtkSmartPointer<vtkCellArray>::New();
    const vtkIdType quads[6][4] = { { 0, 3, 2, 1 }, { 4, 5, 6, 7 }, { 0, 1, 5, 4 }, { 1, 2, 6, 5 }, { 2, 3, 7, 6 },
      { 3, 0, 4, 7 } };
    for (const auto& q : quads)
    {
      const vtkIdType t1[3] = { q[0], q[1], q[2] }, t2[3] = { q[0], q[2], q[3] };
      cells->InsertNextCell(3, t1);
      cells->InsertNextCell(3, t2);
    }
    vtkNew<vtkPolyData> surface;
    surface->SetPoints(points);
    surface->SetPolys(cells);
    const HeadShape got = Measure(surface);
    // The frustum's section at height z above M: half sizes grow linearly.
    const double h = top - M[2], f = (M[2] - bottom) / (top - bottom);
    const double xm = x0 + f * (x1 - x0), ym = y0 + f * (y1 - y0);
    EXPECT_EQ(got.level, widening ? 3 : 0);
    EXPECT_NEAR(got.length, widening ? 2 * y1 : 2 * y0, 1e-12);
    EXPECT_NEAR(got.width, widening ? 2 * x1 : 2 * x0, 1e-12);
    EXPECT_NEAR(got.circumference, 2 * (got.length + got.width), 1e-11);
    EXPECT_NEAR(got.diagonalA, got.diagonalB, 1e-11);
    // Volume of the frustum above z = M_z: h / 3 (A0 + A1 + sqrt(A0 A1)) for similar sections; in general
    // the prismatoid h / 6 (A0 + 4 Amid + A1).
    const double a0 = 4 * xm * ym, a1 = 4 * x1 * y1;
    const double amid = 4 * (xm + x1) / 2 * (ym + y1) / 2;
    EXPECT_NEAR(got.volume, h / 6 * (a0 + 4 * amid + a1) / 1000, 1e-12);
    EXPECT_NEAR(got.asr, 100, 1e-9);
    EXPECT_NEAR(got.osr, 100, 1e-9);
  }
}

TEST(HeadShape, ToolPrintsOneRowPerScanInOrderAndRefusesWholeRuns)
{
  const std::string dir = ScratchDir();
  // Tetrahedra above the ear plane (one twice the size, one 3 m tall) and one
  // below it.
  auto tetra = [&](const std::string& name, double size, double lift) {
    const Point apex = { M[0], M[1], M[2] + lift + size };
    const Point p0 = { M[0] - size, M[1] - size, M[2] + lift };
    const Point p1 = { M[0] + size, M[1] - size, M[2] + lift };
    const Point p2 = { M[0], M[1] + size, M[2] + lift };
    WriteSurfaceFile(dir + "/" + name, { p0, p1, p2, apex }, { { 0, 2, 1 }, { 0, 1, 3 }, { 1, 2, 3 }, { 2, 0, 3 } });
  };
  tetra("small.vtk", 20, 0.2);
  tetra("large.vtk", 40, 0.2);
  tetra("low.vtk", 20, -30);
  tetra("tall.vtk", 3000, 0.2);
  const ToolRun run = RunTool("headshape", { "large.vtk", "small.vtk", "large.vtk" }, dir);
  EXPECT_EQ(run.status, 0);
  const std::vector<std::string> rows = [&] {
    std::vector<std::string> lines;
    std::istringstream in(run.output);
    for (std::string line; std::getline(in, line);)
    {
      lines.push_back(line);
    }
    return lines;
  }();
  ASSERT_EQ(rows.size(), 4u) << run.output;
  EXPECT_EQ(rows[0],
    "file\tlevel\tlength\twidth\tci\tcircumference\tdiagonal_a\tdiagonal_b\tcva\tcvai\t"
    "plagiocephaly_level\tvolume\tasr\tpsr\tosr\tmeasured_from\tposterior_flat_side");
  EXPECT_EQ(rows[1], rows[3]);
  EXPECT_EQ(rows[1].substr(0, 10), "large.vtk\t");
  EXPECT_EQ(rows[2].substr(0, 10), "small.vtk\t");
  // The rows are the library's measures, written as every number is.
  for (const char* name : { "large.vtk", "small.vtk" })
  {
    vtkSmartPointer<vtkPolyData> surface = ReadSurface((dir + "/" + name).c_str());
    ASSERT_NE(surface, nullptr);
    const std::string row = HeadShapeRow(name, Measure(surface));
    EXPECT_EQ(rows[name[0] == 'l' ? 1 : 2] + '\n', row);
  }

  const std::vector<std::pair<std::vector<std::string>, std::string>> refusals = {
    { { "small.vtk", "low.vtk" },
      "Cannot measure scan low.vtk: it has nothing above the ear plane (no level plane cuts it)\n" },
    { { "small.vtk", "tall.vtk" },
      "Cannot measure scan tall.vtk: it reaches more than 2 m above the ear plane (its unit is not millimetres)\n" },
    { { "missing.vtk", "small.vtk" }, "" }, // the reader's own line
    { {}, "" },                             // the usage lines
  };
  for (const auto& [args, message] : refusals)
  {
    const ToolRun refused = RunTool("headshape", args, dir);
    EXPECT_EQ(refused.status, 255);
    if (!message.empty())
    {
      EXPECT_EQ(refused.output, message);
    }
    EXPECT_EQ(refused.output.find("file\tlevel"), std::string::npos);
  }
}

TEST(HeadShape, TheSampleHeadIsMeasuredAboveItsFace)
{
  // The sample's template and first scan: a head with a face, measured from
  // the nasion up (18 mm above the ear plane on the full-size template; on
  // this coarse one, of 20 rings, 14.5 to 15.5 mm: the corner of the
  // hollow's polyline farthest from the line from nose to brow), with
  // plausible figures; the first scan is flattened at the back on the
  // patient's right.
  const std::string dir = ScratchDir();
  ASSERT_EQ(RunShell(Quote(std::string(TOOLS_DIR) + "/../sample/makesample") + ' ' + Quote(dir) + " 20 200").status, 0);
  for (const char* name : { "template.vtk", "firstscan.vtk" })
  {
    SCOPED_TRACE(name);
    vtkSmartPointer<vtkPolyData> surface = ReadSurface((dir + "/" + name).c_str());
    ASSERT_NE(surface, nullptr);
    const HeadShape shape = Measure(surface);
    EXPECT_GT(shape.measuredFrom, 12.0);
    EXPECT_LT(shape.measuredFrom, 25.0);
    EXPECT_GE(shape.level, shape.measuredFrom);
    EXPECT_GT(shape.ci, 70.0);
    EXPECT_LT(shape.ci, 95.0);
    // A tape around the forehead and the back of the head of an infant of a
    // few months, not around the nose.
    EXPECT_GT(shape.circumference, 400.0);
    EXPECT_LT(shape.circumference, 450.0);
  }
  vtkSmartPointer<vtkPolyData> first = ReadSurface((dir + "/firstscan.vtk").c_str());
  EXPECT_STREQ(Measure(first).posteriorFlatSide, "right");
}
