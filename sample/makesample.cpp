// makesample: writes the sample head scans on one mirror-symmetric template
// mesh, deterministically.
//
//   makesample OUTDIR [RINGS SEGMENTS]
//
// The template is the head of an infant of about six months (infanthead.h):
// a head's proportions, a small face, auricles standing out behind the
// tragi, and a flat cut below the jaw. Cells 0 .. h-1 are the patient's
// right half, cell j + h is the mirror image of cell j across x = 102.665,
// and every cell's normal (B - A) x (C - A) points outward. Each half has
// (2 RINGS - 1) SEGMENTS cells; the default 37 x 1306 gives 95,338 per half,
// 190,676 in all, the size of real templates.
//
// The children's heads are the template flattened at the back of the head
// on one side and grown to the WHO median head circumference of their sex
// and age (growth/headcircumference.h). Written into OUTDIR:
//   template.vtk        the symmetric template
//   firstscan.vtk       a boy of 124 days, the back flattened on the
//                       patient's right (s01's first visit below)
//   finalscan.vtk       the same boy at 306 days, the flattening partly
//                       corrected (s01's final visit)
//   helmet_mask.clr     1 for cells of the cranial vault above the ears (the
//                       helmet region: not the face, not the auricles), else 0
//   template_mask.clr   1 for cells on the back of the head, else 0
//   headring.crv        a curve of 360 rows: a ring around the head 20 mm
//                       above its centre, 6 mm off the template surface
//   segments.crv        36 line segments, two rows each, running outward
//                       from inside the head: 27 cross the surface, every
//                       fourth stops short of it
//   rawscan.stl         the first scan as a scanner writes it: re-triangulated
//                       (about 300,000 triangles at full size), cut open below
//                       the mouth, with holes at both ears and the crown, moved
//                       by a rotation and a translation
//   rawscan_template_landmarks.crv, rawscan_landmarks.crv
//                       five landmarks (the nasion, the patient's right and
//                       left tragus, the vertex, the opisthocranion) on the
//                       template and on the raw scan, the latter with 1 mm of
//                       noise
//   cohort/             a small cohort for the workflow: the template, both
//                       masks, template_landmarks.crv (the template's five
//                       landmarks, as rawscan_template_landmarks.crv), and
//                       subjects/<id>/first.vtk and final.vtk for three
//                       subjects (s01 has the first and final scan above);
//                       subjects/r01/v1.stl, v2.stl, v3.stl, three raw scans
//                       of one child (each made as rawscan.stl, in a pose of
//                       its own) with v1_landmarks.crv, v2_landmarks.crv,
//                       v3_landmarks.crv, the flattening on the patient's right
//                       lessening (6, 4, 2 mm) as the head grows;
//                       subjects/t01/v1.vtk, v2.vtk, v3.vtk, three scans of one
//                       child on the template, the flattening on the left
//                       lessening (5, 3, 1 mm) as the head grows;
//                       visits.tsv, one row per visit: subject, visit, age in
//                       days, scan and landmarks (raw scans only), the paths
//                       relative to cohort/, and the child's sex
// Both masks treat the two cells of a mirror pair alike. The face looks
// toward -y; the back of the head lies toward +y; z points up.

#include "geometry/headframe.h"
#include "geometry/vector.h"
#include "growth/headcircumference.h"
#include "infanthead.h"
#include "rawscan.h"
#include "surftools/colorfile.h"
#include "surftools/outputfile.h"
#include "surftools/surface.h"

#include <vtkCellArray.h>
#include <vtkSmartPointer.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

namespace
{
const double kPi = 3.14159265358979323846;
const double* const kEar = kEarMidpoint;

// How a child's head differs from the template: `flatten` mm inward on one
// side of the back of the head (side 1: the patient's right, -1: the left),
// and `scale`, its growth about the ear midpoint.
struct HeadChange
{
  double flatten = 0;
  double scale = 1;
  double side = 1;
};

// The point p of the template on the child's head: moved inward toward the
// head's centre by the flattening, which fades out within 50 degrees of its
// axis, then scaled about the ear midpoint.
void Deform(const double p[3], const HeadChange& change, double out[3])
{
  double axis[3] = { -0.6 * change.side, 0.8, 0.1 };
  const double axisLength = Norm(axis);
  for (double& a : axis)
  {
    a /= axisLength;
  }
  const double edge = std::cos(50.0 * kPi / 180.0);
  double u[3];
  Subtract(p, kHeadCentre, u);
  const double r = Norm(u);
  const double along = Dot(u, axis) / r;
  const double w = along > edge ? (along - edge) / (1.0 - edge) : 0.0;
  for (int k = 0; k < 3; ++k)
  {
    const double flattened = p[k] - change.flatten * w * w * u[k] / r;
    out[k] = kEar[k] + change.scale * (flattened - kEar[k]);
  }
}

std::vector<double> DeformPoints(const std::vector<double>& points, const HeadChange& change)
{
  std::vector<double> moved(points.size());
  for (size_t i = 0; i < points.size(); i += 3)
  {
    Deform(&points[i], change, &moved[i]);
  }
  return moved;
}

std::vector<Landmark> DeformLandmarks(const std::vector<Landmark>& landmarks, const HeadChange& change)
{
  std::vector<Landmark> moved(landmarks.size());
  for (size_t i = 0; i < landmarks.size(); ++i)
  {
    Deform(landmarks[i].data(), change, moved[i].data());
  }
  return moved;
}

// The growth of a child's head from the template's: the WHO median head
// circumference of its sex at its age over the template's.
double GrowthScale(Sex sex, int ageDays)
{
  GrowthLms lms;
  return HeadCircumferenceLms(sex, ageDays, lms) ? lms.m / kTemplateCircumference : 1.0;
}

// The mesh's triangles on the given coordinates, as a VTK surface.
vtkSmartPointer<vtkPolyData> MeshSurface(const HeadMesh& mesh, const std::vector<double>& coordinates)
{
  auto points = vtkSmartPointer<vtkPoints>::New();
  const vtkIdType count = static_cast<vtkIdType>(coordinates.size() / 3);
  points->SetNumberOfPoints(count);
  for (vtkIdType i = 0; i < count; ++i)
  {
    points->SetPoint(i, coordinates[3 * i], coordinates[3 * i + 1], coordinates[3 * i + 2]);
  }
  auto polys = vtkSmartPointer<vtkCellArray>::New();
  for (size_t c = 0; c < mesh.triangles.size(); c += 3)
  {
    polys->InsertNextCell(3, &mesh.triangles[c]);
  }
  auto surface = vtkSmartPointer<vtkPolyData>::New();
  surface->SetPoints(points);
  surface->SetPolys(polys);
  return surface;
}

bool WriteMesh(const HeadMesh& mesh, const std::vector<double>& coordinates, const std::string& path)
{
  return WriteSurface(MeshSurface(mesh, coordinates), path.c_str());
}

// A mask that is 1 where `inside` holds for the first cell of a mirror pair,
// for both cells of the pair.
bool WriteMask(const HeadMesh& mesh, const std::string& path, const std::function<bool(const double*)>& inside)
{
  std::vector<char> values(mesh.half);
  for (vtkIdType c = 0; c < mesh.half; ++c)
  {
    double centroid[3];
    double corners[3][3];
    for (int v = 0; v < 3; ++v)
    {
      for (int k = 0; k < 3; ++k)
      {
        corners[v][k] = mesh.points[3 * mesh.triangles[3 * c + v] + k];
      }
    }
    CellCentroid(corners, centroid);
    values[c] = inside(centroid);
  }
  OutputFile out = OpenColorFile(path.c_str());
  WriteColorHeader(out, "0", "1", "rainbow");
  for (int side = 0; side < 2; ++side)
  {
    for (char v : values)
    {
      WriteColorValue(out, v ? 1.0 : 0.0);
    }
  }
  return CloseOutputFile(out, path.c_str());
}

// helmet_mask.clr (the vault above the ears) and template_mask.clr (the back
// of the head) in the folder.
bool WriteMasks(const HeadMesh& mesh, const std::string& dir)
{
  // The helmet covers the vault above the ears: not the face below the
  // brows, not the auricles, which pass through its openings.
  auto helmet = [](const double* c) {
    const bool face = c[1] < kEar[1] - 50.0 && c[2] < kEar[2] + 32.0;
    const bool auricle =
      std::abs(c[0] - kEar[0]) > 40.0 && c[1] > kEar[1] - 4.0 && c[1] < kEar[1] + 26.0 && c[2] < kEar[2] + 20.0;
    return c[2] > kEar[2] && !face && !auricle;
  };
  bool ok = WriteMask(mesh, dir + "/helmet_mask.clr", helmet);
  return WriteMask(
           mesh, dir + "/template_mask.clr", [](const double* c) { return c[1] > kEar[1] && c[2] > kEar[2] - 10.0; }) &&
    ok;
}

bool MakeFolder(const std::string& path)
{
  std::error_code error;
  std::filesystem::create_directories(path, error);
  if (error)
  {
    std::cout << "Cannot create folder " << path << '\n';
    return false;
  }
  return true;
}

// The unit direction at (azimuth, elevation) from the head's centre.
void Direction(double azimuth, double elevation, double d[3])
{
  d[0] = std::cos(elevation) * std::cos(azimuth);
  d[1] = std::cos(elevation) * std::sin(azimuth);
  d[2] = std::sin(elevation);
}

// The point along the unit direction d from the head's centre at `scale`
// times the distance to the template's surface.
void ScaledHeadPoint(const double d[3], double scale, double p[3])
{
  const double distance = scale * HeadRadius(d);
  for (int k = 0; k < 3; ++k)
  {
    p[k] = kHeadCentre[k] + distance * d[k];
  }
}

void WriteRow(OutputFile& out, const double p[3])
{
  for (int k = 0; k < 3; ++k)
  {
    if (k > 0)
    {
      WriteText(out, " ", 1);
    }
    WriteNumber(out, static_cast<float>(p[k]));
  }
  WriteText(out, "\n", 1);
}

// A closed ring in the plane 20 mm above the head's centre, 6 mm outside the
// template, one row per degree: along each direction in the plane from the
// point above the centre, the template's surface found by halving, then 6 mm
// further.
bool WriteRing(const std::string& path)
{
  OutputFile out = OpenOutputFile(path.c_str());
  const double dz = 20.0;
  for (int i = 0; i < 360; ++i)
  {
    const double angle = 2.0 * kPi * i / 360;
    const double along[2] = { std::cos(angle), std::sin(angle) };
    auto inside = [&](double s) {
      double u[3] = { s * along[0], s * along[1], dz };
      const double r = Norm(u);
      for (double& v : u)
      {
        v /= r;
      }
      return r < HeadRadius(u);
    };
    double in = 0.0;
    double outside = 200.0;
    for (int step = 0; step < 50; ++step)
    {
      const double middle = 0.5 * (in + outside);
      (inside(middle) ? in : outside) = middle;
    }
    const double s = in + 6.0;
    const double p[3] = { kHeadCentre[0] + s * along[0], kHeadCentre[1] + s * along[1], kHeadCentre[2] + dz };
    WriteRow(out, p);
  }
  return CloseOutputFile(out, path.c_str());
}

// Segments from half way between the centre and the template surface to 1.2
// times the surface distance, on 12 azimuths and 3 elevations; every fourth
// ends at 0.85 times the surface distance, short of the surface.
bool WriteSegments(const std::string& path)
{
  OutputFile out = OpenOutputFile(path.c_str());
  int count = 0;
  for (int e = -1; e <= 1; ++e)
  {
    for (int a = 0; a < 12; ++a, ++count)
    {
      double d[3];
      Direction(2.0 * kPi * (a + 0.25 * e) / 12, 0.4 * e, d);
      double start[3];
      double end[3];
      ScaledHeadPoint(d, 0.5, start);
      ScaledHeadPoint(d, count % 4 == 3 ? 0.85 : 1.2, end);
      WriteRow(out, start);
      WriteRow(out, end);
    }
  }
  return CloseOutputFile(out, path.c_str());
}

// The head on `coordinates`, with its landmarks, as a clinic's scanner would
// write it, for fittemplate: re-triangulated (as many triangles as the
// template has, times 300,000 / 190,676: 300,000 at full size), cut open 30
// mm below the ear midpoint (below the mouth), with holes at both ears (12 mm about the tragi)
// and the crown, moved by the rotation and translation that `seed` draws.
// Writes the scan as binary STL to `scanPath` and its landmarks (with 1 mm of
// noise) to `landmarksPath`.
bool WriteScannerScan(const HeadMesh& mesh, const std::vector<double>& coordinates,
  const std::vector<Landmark>& landmarks, uint64_t seed, const std::string& scanPath, const std::string& landmarksPath)
{
  RawScanOptions options;
  options.triangles = static_cast<int>(mesh.triangles.size() / 3 * 300000 / 190676);
  options.cutBelow = kEar[2] - 30.0;
  double crownDirection[3] = { 0.0, 0.5, std::sqrt(0.75) };
  double crown[3];
  ScaledHeadPoint(crownDirection, 1.0, crown);
  options.holes = { { landmarks[1][0], landmarks[1][1], landmarks[1][2], 12.0 },
    { landmarks[2][0], landmarks[2][1], landmarks[2][2], 12.0 }, { crown[0], crown[1], crown[2], 20.0 } };
  options.seed = seed;
  const RawScan scan = MakeRawScan(MeshSurface(mesh, coordinates), landmarks, options);
  const bool ok = WriteBinaryStl(scan.surface, scanPath);
  return WriteLandmarks(scan.landmarks, landmarksPath) && ok;
}

// The children of the sample cohort and their visits. s01, s02 and s03 have
// a first and a final scan on the template, their flattening differing in
// side and depth and their treatment correcting it more or less (s01's are
// firstscan.vtk and finalscan.vtk). r01 was scanned three times by a clinic's
// scanner (raw scans, each in a pose of its own; its first visit is s01's
// first scan), t01 three times on the template; the flattening of both
// lessens from visit to visit. Every head has the WHO median circumference
// of its sex and age.
struct CohortVisit
{
  const char* name;
  int ageDays;
  double flatten; // mm inward at the back of the head
  uint64_t seed;  // a raw scan's pose
};

struct CohortChild
{
  const char* id;
  Sex sex;
  double side; // 1: the flattening lies on the patient's right, -1: on the left
  bool raw;    // raw scans with landmarks, else scans on the template
  std::vector<CohortVisit> visits;
};

const std::vector<CohortChild>& CohortChildren()
{
  static const std::vector<CohortChild> children = {
    { "s01", Sex::Male, 1.0, false, { { "first", 124, 6.0, 0 }, { "final", 306, 2.5, 0 } } },
    { "s02", Sex::Female, -1.0, false, { { "first", 137, 4.5, 0 }, { "final", 329, 1.0, 0 } } },
    { "s03", Sex::Male, 1.0, false, { { "first", 109, 7.5, 0 }, { "final", 288, 5.5, 0 } } },
    { "r01", Sex::Male, 1.0, true, { { "v1", 124, 6.0, 3101 }, { "v2", 213, 4.0, 3102 }, { "v3", 334, 2.0, 3103 } } },
    { "t01", Sex::Female, -1.0, false, { { "v1", 98, 5.0, 0 }, { "v2", 190, 3.0, 0 }, { "v3", 282, 1.0, 0 } } },
  };
  return children;
}

HeadChange ChildHead(const CohortChild& child, const CohortVisit& visit)
{
  return { visit.flatten, GrowthScale(child.sex, visit.ageDays), child.side };
}

// Writes one visit's scan (and a raw scan's landmarks) into the cohort folder
// and adds its row to the visits table, with paths relative to the folder.
bool WriteCohortVisit(const HeadMesh& mesh, const std::vector<Landmark>& templateLandmarks, const std::string& cohort,
  const CohortChild& child, const CohortVisit& visit, std::string& table)
{
  const std::string stem = std::string("subjects/") + child.id + "/" + visit.name;
  const std::string scan = stem + (child.raw ? ".stl" : ".vtk");
  const std::string landmarks = child.raw ? stem + "_landmarks.crv" : "";
  table += std::string(child.id) + '\t' + visit.name + '\t' + std::to_string(visit.ageDays) + '\t' + scan + '\t' +
    landmarks + '\t' + (child.sex == Sex::Female ? "female" : "male") + '\n';
  const HeadChange change = ChildHead(child, visit);
  const std::vector<double> head = DeformPoints(mesh.points, change);
  return child.raw ? WriteScannerScan(mesh, head, DeformLandmarks(templateLandmarks, change), visit.seed,
                       cohort + "/" + scan, cohort + "/" + landmarks)
                   : WriteMesh(mesh, head, cohort + "/" + scan);
}

// The sample cohort: cohort/template.vtk, both masks, the template's
// landmarks, subjects/<id>/ with every child's scans, and visits.tsv, one
// row per visit: the child, the visit, the age in days, the scan and its
// landmarks (for raw scans), paths relative to the cohort folder, and the
// child's sex.
bool WriteCohort(const HeadMesh& mesh, const std::vector<Landmark>& templateLandmarks, const std::string& dir)
{
  const std::string cohort = dir + "/cohort";
  bool ok = MakeFolder(cohort) && MakeFolder(cohort + "/subjects");
  ok = ok && WriteMesh(mesh, mesh.points, cohort + "/template.vtk");
  ok = ok && WriteMasks(mesh, cohort);
  ok = ok && WriteLandmarks(templateLandmarks, cohort + "/template_landmarks.crv");
  std::string table = "subject\tvisit\tage_days\tscan\tlandmarks\tsex\n";
  for (const CohortChild& child : CohortChildren())
  {
    ok = ok && MakeFolder(cohort + "/subjects/" + child.id);
    for (const CohortVisit& visit : child.visits)
    {
      ok = ok && WriteCohortVisit(mesh, templateLandmarks, cohort, child, visit, table);
    }
  }
  const std::string visits = cohort + "/visits.tsv";
  return ok && WriteOutputFile(visits.c_str(), table.data(), table.size());
}

// s01's first and final visits: the sample's first and final scans.
HeadChange SampleScan(size_t visit)
{
  const CohortChild& s01 = CohortChildren()[0];
  return ChildHead(s01, s01.visits[visit]);
}

// The first scan as a clinic's scanner would write it (rawscan.stl), and its
// landmarks with those of the template, for fittemplate.
bool WriteRawScan(const HeadMesh& mesh, const std::vector<Landmark>& templateLandmarks, const std::string& dir)
{
  const HeadChange first = SampleScan(0);
  bool ok = WriteScannerScan(mesh, DeformPoints(mesh.points, first), DeformLandmarks(templateLandmarks, first), 2024,
    dir + "/rawscan.stl", dir + "/rawscan_landmarks.crv");
  return WriteLandmarks(templateLandmarks, dir + "/rawscan_template_landmarks.crv") && ok;
}
}

int main(int argc, char* argv[])
{
  if (argc != 2 && argc != 4)
  {
    std::cout << "Usage: makesample OUTDIR [RINGS SEGMENTS]\n";
    return -1;
  }
  const std::string dir = argv[1];
  const int rings = argc == 4 ? std::atoi(argv[2]) : 37;
  const int segments = argc == 4 ? std::atoi(argv[3]) : 1306;
  if (rings < 2 || segments < 3)
  {
    std::cout << "RINGS must be at least 2 and SEGMENTS at least 3\n";
    return -1;
  }
  const HeadMesh mesh = MakeInfantHead(rings, segments);
  const std::vector<Landmark> landmarks = InfantHeadLandmarks(mesh);
  bool ok = MakeFolder(dir) && WriteMesh(mesh, mesh.points, dir + "/template.vtk");
  ok = WriteMesh(mesh, DeformPoints(mesh.points, SampleScan(0)), dir + "/firstscan.vtk") && ok;
  ok = WriteMesh(mesh, DeformPoints(mesh.points, SampleScan(1)), dir + "/finalscan.vtk") && ok;
  ok = WriteMasks(mesh, dir) && ok;
  ok = WriteRing(dir + "/headring.crv") && ok;
  ok = WriteSegments(dir + "/segments.crv") && ok;
  ok = WriteCohort(mesh, landmarks, dir) && ok;
  ok = WriteRawScan(mesh, landmarks, dir) && ok;
  if (!ok)
  {
    return -1;
  }
  std::cout << "Wrote " << 2 * mesh.half << " cells per surface to " << dir << '\n';
  return 0;
}
