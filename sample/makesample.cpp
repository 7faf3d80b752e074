// makesample: writes the sample head scans on one mirror-symmetric template
// mesh, deterministically.
//
//   makesample OUTDIR [RINGS SEGMENTS]
//
// The template is a head around the ear midpoint: an ellipsoid with a face
// (brow, eye sockets, nose, cheeks, lips, chin), ears, and a flat cut below
// the jaw. The half of the patient's right (x below the mirror plane
// x = 102.665) is a grid of RINGS rings of SEGMENTS points running from the
// mirror plane to the ear, closed by a fan at the ear; the other half is its
// mirror image. Cells 0 .. h-1 are the patient's right half,
// cell j + h is the mirror image of cell j, and every cell's normal
// (B - A) x (C - A) points outward. Each half has (2 RINGS - 1) SEGMENTS cells;
// the default 37 x 1306 gives 95,338 per half, 190,676 in all, the size of
// real templates.
//
// Written into OUTDIR:
//   template.vtk        the symmetric template
//   firstscan.vtk       the head with the back flattened on the patient's right
//   finalscan.vtk       the flattening partly corrected, and 3 mm of growth
//   helmet_mask.clr     1 for cells of the cranial vault above the ears (the
//                       helmet region: not the face), else 0
//   template_mask.clr   1 for cells on the back of the head, else 0
//   headring.crv        a curve of 360 rows: a ring around the head 20 mm
//                       above the centre, 6 mm off the template surface
//   segments.crv        36 line segments, two rows each, running outward
//                       from inside the head: 27 cross the surface, every
//                       fourth stops short of it
//   rawscan.stl         the first scan as a scanner writes it: re-triangulated
//                       (about 300,000 triangles at full size), cut open below
//                       the ears, with holes at both ears and the crown, moved
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
//                       lessening (12, 8, 4 mm) as the head grows (0, 2, 4 mm);
//                       subjects/t01/v1.vtk, v2.vtk, v3.vtk, three scans of one
//                       child on the template, the flattening on the left
//                       lessening (10, 6, 2 mm) as the head grows (0, 2, 4 mm);
//                       visits.tsv, one row per visit: subject, visit, age in
//                       days, scan and landmarks (raw scans only), the paths
//                       relative to cohort/
// Both masks treat the two cells of a mirror pair alike. The face looks
// toward -y; the back of the head lies toward +y; z points up.

#include "geometry/headframe.h"
#include "geometry/vector.h"
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
const double kCenter[3] = { 102.665, 114.1929, 75.9238 }; // head centre, above and behind the ears
const double kRadius[3] = { 72.0, 95.0, 90.0 };
// The jaw's cut: nothing of the head lies lower.
const double kJawCut = kEarMidpoint[2] - 58.0;

struct Mesh
{
  std::vector<double> points;       // x, y, z per point
  std::vector<vtkIdType> triangles; // A, B, C per cell
  vtkIdType half = 0;               // cells per half
};

void Normal(const Mesh& mesh, const vtkIdType* t, double n[3])
{
  double corners[3][3];
  for (int v = 0; v < 3; ++v)
  {
    for (int k = 0; k < 3; ++k)
    {
      corners[v][k] = mesh.points[3 * t[v] + k];
    }
  }
  CellNormal(corners, n);
}

// A smooth bump: 1 at u = 0, falling to 0 at |u| = 1 and beyond.
double Bump(double u)
{
  return std::abs(u) < 1.0 ? std::pow(std::cos(0.5 * kPi * u), 2) : 0.0;
}

// How far the face and the ears move a point of the ellipsoid out along its
// direction from the head centre (mm; inward where negative). In the ear
// frame: X across (mirror symmetric), Y front (-) to back, Z up from the ear
// plane; the nasion lies on the midline 20 mm above the ear plane.
double FaceOffset(const double p[3])
{
  const double X = std::abs(p[0] - kEarMidpoint[0]);
  const double Y = p[1] - kEarMidpoint[1];
  const double Z = p[2] - kEarMidpoint[2];
  // The ears, on both sides at the ear midpoint's height.
  const double ears = X > 40.0 ? 10.0 * Bump(std::hypot(Y, Z) / 15.0) : 0.0;
  // The face, on the front only.
  const double front = std::clamp((-Y - 10.0) / 20.0, 0.0, 1.0);
  if (front == 0.0)
  {
    return ears;
  }
  const double noseHeight = Z >= -8.0 ? Bump((Z + 8.0) / 28.0) : Bump((Z + 8.0) / 7.0);
  const double nose = 18.0 * noseHeight * Bump(X / (6.0 + 6.0 * (20.0 - Z) / 35.0));
  const double brow = 4.0 * Bump(X / 45.0) * Bump((Z - 28.0) / 7.0);
  const double eyes = -8.0 * Bump(std::hypot(X - 32.0, Z - 12.0) / 14.0);
  const double cheeks = 6.0 * Bump(std::hypot(X - 40.0, Z + 5.0) / 20.0);
  const double lips = 3.0 * Bump(X / 22.0) * Bump((Z + 22.0) / 7.0);
  const double chin = 8.0 * Bump(X / 22.0) * Bump((Z + 48.0) / 12.0);
  return ears + front * (nose + brow + eyes + cheeks + lips + chin);
}

// Moves a point of the ellipsoid by the face and the ears, then up onto the
// jaw's cut where it lies below it.
void ShapeHead(double p[3])
{
  double u[3];
  Subtract(p, kCenter, u);
  const double r = Norm(u);
  const double offset = FaceOffset(p);
  for (int k = 0; k < 3; ++k)
  {
    p[k] += offset * u[k] / r;
  }
  p[2] = std::max(p[2], kJawCut);
}

Mesh MakeTemplate(int rings, int segments)
{
  Mesh mesh;
  auto addPoint = [&mesh](double x, double y, double z) {
    mesh.points.insert(mesh.points.end(), { x, y, z });
    return static_cast<vtkIdType>(mesh.points.size() / 3 - 1);
  };
  // The half of the patient's right (x below the mirror plane): ring k at
  // angle alpha_k from the mirror plane; ring 0 lies in it.
  std::vector<vtkIdType> left(static_cast<size_t>(rings) * segments);
  for (int k = 0; k < rings; ++k)
  {
    const double alpha = 0.5 * kPi * k / rings;
    for (int j = 0; j < segments; ++j)
    {
      const double phi = 2.0 * kPi * j / segments;
      const double x = k == 0 ? kMirrorX : kCenter[0] - kRadius[0] * std::sin(alpha);
      left[static_cast<size_t>(k) * segments + j] =
        addPoint(x, kCenter[1] + kRadius[1] * std::cos(alpha) * std::cos(phi),
          kCenter[2] + kRadius[2] * std::cos(alpha) * std::sin(phi));
    }
  }
  const vtkIdType leftEar = addPoint(kCenter[0] - kRadius[0], kCenter[1], kCenter[2]);

  auto addTriangle = [&mesh](vtkIdType a, vtkIdType b, vtkIdType c) {
    vtkIdType t[3] = { a, b, c };
    double n[3];
    Normal(mesh, t, n);
    const double* p = &mesh.points[3 * a];
    const double outward = n[0] * (p[0] - kCenter[0]) + n[1] * (p[1] - kCenter[1]) + n[2] * (p[2] - kCenter[2]);
    if (outward < 0)
    {
      std::swap(t[1], t[2]);
    }
    mesh.triangles.insert(mesh.triangles.end(), t, t + 3);
  };
  auto at = [&](int k, int j) { return left[static_cast<size_t>(k) * segments + (j % segments)]; };
  for (int k = 0; k + 1 < rings; ++k)
  {
    for (int j = 0; j < segments; ++j)
    {
      addTriangle(at(k, j), at(k, j + 1), at(k + 1, j));
      addTriangle(at(k, j + 1), at(k + 1, j + 1), at(k + 1, j));
    }
  }
  for (int j = 0; j < segments; ++j)
  {
    addTriangle(at(rings - 1, j), at(rings - 1, j + 1), leftEar);
  }
  mesh.half = static_cast<vtkIdType>(mesh.triangles.size() / 3);
  // The head's shape, on the half's points (those of the mirror plane stay in
  // it: they move along directions in the plane).
  for (size_t i = 0; i < mesh.points.size(); i += 3)
  {
    ShapeHead(&mesh.points[i]);
  }

  // The other half: the mirror image of every point off the plane, and of
  // every cell with B and C swapped so that its normal stays outward.
  const vtkIdType leftCount = static_cast<vtkIdType>(mesh.points.size() / 3);
  std::vector<vtkIdType> mirror(leftCount);
  for (vtkIdType i = 0; i < leftCount; ++i)
  {
    const double x = mesh.points[3 * i];
    mirror[i] = i < segments ? i : addPoint(2.0 * kMirrorX - x, mesh.points[3 * i + 1], mesh.points[3 * i + 2]);
  }
  for (vtkIdType c = 0; c < mesh.half; ++c)
  {
    const vtkIdType* t = &mesh.triangles[3 * c];
    const vtkIdType a = mirror[t[0]], b = mirror[t[1]], d = mirror[t[2]];
    mesh.triangles.insert(mesh.triangles.end(), { a, d, b });
  }
  return mesh;
}

// Moves every point of a copy of the template: `flatten` mm inward on one
// side of the back of the head (side -1 mirrors it to the other), fading out
// within 50 degrees, then `growth` mm outward from the ear midpoint.
std::vector<double> Deform(const Mesh& mesh, double flatten, double growth, double side = 1.0)
{
  double axis[3] = { -0.6 * side, 0.8, 0.1 };
  const double axisLength = Norm(axis);
  for (double& a : axis)
  {
    a /= axisLength;
  }
  const double edge = std::cos(50.0 * kPi / 180.0);
  std::vector<double> points = mesh.points;
  for (size_t i = 0; i < points.size(); i += 3)
  {
    double* p = &points[i];
    double u[3];
    Subtract(p, kCenter, u);
    const double r = Norm(u);
    const double along = Dot(u, axis) / r;
    if (along > edge)
    {
      const double w = (along - edge) / (1.0 - edge);
      for (int k = 0; k < 3; ++k)
      {
        p[k] -= flatten * w * w * u[k] / r;
      }
    }
    double v[3];
    Subtract(p, kEar, v);
    const double e = Norm(v);
    for (int k = 0; k < 3; ++k)
    {
      p[k] += growth * v[k] / e;
    }
  }
  return points;
}

// The mesh's triangles on the given coordinates, as a VTK surface.
vtkSmartPointer<vtkPolyData> MeshSurface(const Mesh& mesh, const std::vector<double>& coordinates)
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

bool WriteMesh(const Mesh& mesh, const std::vector<double>& coordinates, const std::string& path)
{
  return WriteSurface(MeshSurface(mesh, coordinates), path.c_str());
}

// A mask that is 1 where `inside` holds for the first cell of a mirror pair,
// for both cells of the pair.
bool WriteMask(const Mesh& mesh, const std::string& path, const std::function<bool(const double*)>& inside)
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

// The point of the template ellipsoid in the direction (azimuth, elevation)
// from the head centre, moved along that direction to `scale` times its
// distance from the centre.
// helmet_mask.clr (the vault above the ears) and template_mask.clr (the back
// of the head) in the folder.
bool WriteMasks(const Mesh& mesh, const std::string& dir)
{
  // The helmet covers the vault above the ears, not the face below the brows.
  bool ok = WriteMask(mesh, dir + "/helmet_mask.clr",
    [](const double* c) { return c[2] > kEar[2] && !(c[1] < kEar[1] - 30.0 && c[2] < kEar[2] + 32.0); });
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

void EllipsoidPoint(double azimuth, double elevation, double scale, double p[3])
{
  const double d[3] = { std::cos(elevation) * std::cos(azimuth), std::cos(elevation) * std::sin(azimuth),
    std::sin(elevation) };
  // Distance along d to the surface: 1 / sqrt(sum (d_k / r_k)^2).
  double sum = 0;
  for (int k = 0; k < 3; ++k)
  {
    sum += (d[k] / kRadius[k]) * (d[k] / kRadius[k]);
  }
  const double distance = scale / std::sqrt(sum);
  for (int k = 0; k < 3; ++k)
  {
    p[k] = kCenter[k] + distance * d[k];
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

// A closed ring in the plane 20 mm above the head centre, 6 mm outside the
// template, one row per degree.
bool WriteRing(const std::string& path)
{
  OutputFile out = OpenOutputFile(path.c_str());
  const double dz = 20.0;
  const double shrink = std::sqrt(1.0 - (dz / kRadius[2]) * (dz / kRadius[2]));
  for (int i = 0; i < 360; ++i)
  {
    const double angle = 2.0 * kPi * i / 360;
    const double u[2] = { kRadius[0] * shrink * std::cos(angle), kRadius[1] * shrink * std::sin(angle) };
    const double r = std::sqrt(u[0] * u[0] + u[1] * u[1]);
    const double p[3] = { kCenter[0] + u[0] * (1.0 + 6.0 / r), kCenter[1] + u[1] * (1.0 + 6.0 / r), kCenter[2] + dz };
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
      const double azimuth = 2.0 * kPi * (a + 0.25 * e) / 12;
      const double elevation = 0.4 * e;
      double start[3];
      double end[3];
      EllipsoidPoint(azimuth, elevation, 0.5, start);
      EllipsoidPoint(azimuth, elevation, count % 4 == 3 ? 0.85 : 1.2, end);
      WriteRow(out, start);
      WriteRow(out, end);
    }
  }
  return CloseOutputFile(out, path.c_str());
}

// The five landmarks (the nasion, the patient's right and left tragus, the
// vertex, the opisthocranion) by point id, picked once on the first scan: the
// template's landmarks and those of every raw scan are the points with these
// ids.
std::vector<vtkIdType> LandmarkIds(const Mesh& mesh)
{
  return HeadLandmarkIds(MeshSurface(mesh, Deform(mesh, 12.0, 0.0)));
}

// The points with the given ids, on the mesh's triangles at `coordinates`.
std::vector<Landmark> LandmarksAt(const std::vector<double>& coordinates, const std::vector<vtkIdType>& ids)
{
  std::vector<Landmark> landmarks;
  for (vtkIdType id : ids)
  {
    landmarks.push_back({ coordinates[3 * id], coordinates[3 * id + 1], coordinates[3 * id + 2] });
  }
  return landmarks;
}

// The head on `coordinates` as a clinic's scanner would write it, for
// fittemplate: re-triangulated (as many triangles as the template has, times
// 300,000 / 190,676: 300,000 at full size), cut open 10 mm below the ear
// midpoint, with holes at both ears and the crown, moved by the rotation and
// translation that `seed` draws. Writes the scan as binary STL to `scanPath`
// and its landmarks (the points with the ids, with 1 mm of noise) to
// `landmarksPath`.
bool WriteScannerScan(const Mesh& mesh, const std::vector<double>& coordinates, const std::vector<vtkIdType>& ids,
  uint64_t seed, const std::string& scanPath, const std::string& landmarksPath)
{
  const std::vector<Landmark> landmarks = LandmarksAt(coordinates, ids);
  RawScanOptions options;
  options.triangles = static_cast<int>(mesh.triangles.size() / 3 * 300000 / 190676);
  options.cutBelow = kEar[2] - 10.0;
  options.holes = { { landmarks[1][0], landmarks[1][1], landmarks[1][2], 12.0 },
    { landmarks[2][0], landmarks[2][1], landmarks[2][2], 12.0 },
    { kCenter[0], kCenter[1] + 40.0, kCenter[2] + 70.0, 20.0 } };
  options.seed = seed;
  const RawScan scan = MakeRawScan(MeshSurface(mesh, coordinates), landmarks, options);
  const bool ok = WriteBinaryStl(scan.surface, scanPath);
  return WriteLandmarks(scan.landmarks, landmarksPath) && ok;
}

// The children of the sample cohort and their visits. s01, s02 and s03 have
// a first and a final scan on the template, their flattening differing in
// side and depth and their treatment correcting it more or less (s01's are
// firstscan.vtk and finalscan.vtk). r01 was scanned three times by a clinic's
// scanner (raw scans, each in a pose of its own), t01 three times on the
// template; the flattening of both lessens from visit to visit as the head
// grows.
struct CohortVisit
{
  const char* name;
  int ageDays;
  double flatten; // mm inward at the back of the head
  double growth;  // mm outward from the ear midpoint
  uint64_t seed;  // a raw scan's pose
};

struct CohortChild
{
  const char* id;
  double side; // 1: the flattening lies on the patient's right, -1: on the left
  bool raw;    // raw scans with landmarks, else scans on the template
  std::vector<CohortVisit> visits;
};

const std::vector<CohortChild>& CohortChildren()
{
  static const std::vector<CohortChild> children = {
    { "s01", 1.0, false, { { "first", 124, 12.0, 0.0, 0 }, { "final", 306, 5.0, 3.0, 0 } } },
    { "s02", -1.0, false, { { "first", 137, 9.0, 0.0, 0 }, { "final", 329, 2.0, 4.0, 0 } } },
    { "s03", 1.0, false, { { "first", 109, 15.0, 0.0, 0 }, { "final", 288, 11.0, 2.0, 0 } } },
    { "r01", 1.0, true,
      { { "v1", 121, 12.0, 0.0, 3101 }, { "v2", 213, 8.0, 2.0, 3102 }, { "v3", 334, 4.0, 4.0, 3103 } } },
    { "t01", -1.0, false, { { "v1", 98, 10.0, 0.0, 0 }, { "v2", 190, 6.0, 2.0, 0 }, { "v3", 282, 2.0, 4.0, 0 } } },
  };
  return children;
}

// Writes one visit's scan (and a raw scan's landmarks) into the cohort folder
// and adds its row to the visits table, with paths relative to the folder.
bool WriteCohortVisit(const Mesh& mesh, const std::vector<vtkIdType>& landmarkIds, const std::string& cohort,
  const CohortChild& child, const CohortVisit& visit, std::string& table)
{
  const std::string stem = std::string("subjects/") + child.id + "/" + visit.name;
  const std::string scan = stem + (child.raw ? ".stl" : ".vtk");
  const std::string landmarks = child.raw ? stem + "_landmarks.crv" : "";
  table += std::string(child.id) + '\t' + visit.name + '\t' + std::to_string(visit.ageDays) + '\t' + scan + '\t' +
    landmarks + '\n';
  const std::vector<double> head = Deform(mesh, visit.flatten, visit.growth, child.side);
  return child.raw
    ? WriteScannerScan(mesh, head, landmarkIds, visit.seed, cohort + "/" + scan, cohort + "/" + landmarks)
    : WriteMesh(mesh, head, cohort + "/" + scan);
}
}

// The sample cohort: cohort/template.vtk, both masks, the template's
// landmarks, subjects/<id>/ with every child's scans, and visits.tsv, one
// row per visit: the child, the visit, the age in days, the scan and its
// landmarks (for raw scans), paths relative to the cohort folder.
bool WriteCohort(const Mesh& mesh, const std::vector<vtkIdType>& landmarkIds, const std::string& dir)
{
  const std::string cohort = dir + "/cohort";
  bool ok = MakeFolder(cohort) && MakeFolder(cohort + "/subjects");
  ok = ok && WriteMesh(mesh, mesh.points, cohort + "/template.vtk");
  ok = ok && WriteMasks(mesh, cohort);
  ok = ok && WriteLandmarks(LandmarksAt(mesh.points, landmarkIds), cohort + "/template_landmarks.crv");
  std::string table = "subject\tvisit\tage_days\tscan\tlandmarks\n";
  for (const CohortChild& child : CohortChildren())
  {
    ok = ok && MakeFolder(cohort + "/subjects/" + child.id);
    for (const CohortVisit& visit : child.visits)
    {
      ok = ok && WriteCohortVisit(mesh, landmarkIds, cohort, child, visit, table);
    }
  }
  const std::string visits = cohort + "/visits.tsv";
  return ok && WriteOutputFile(visits.c_str(), table.data(), table.size());
}

// The first scan as a clinic's scanner would write it (rawscan.stl), and its
// landmarks with those of the template, for fittemplate.
bool WriteRawScan(const Mesh& mesh, const std::vector<vtkIdType>& landmarkIds, const std::string& dir)
{
  bool ok = WriteScannerScan(
    mesh, Deform(mesh, 12.0, 0.0), landmarkIds, 2024, dir + "/rawscan.stl", dir + "/rawscan_landmarks.crv");
  return WriteLandmarks(LandmarksAt(mesh.points, landmarkIds), dir + "/rawscan_template_landmarks.crv") && ok;
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
  const Mesh mesh = MakeTemplate(rings, segments);
  const std::vector<vtkIdType> landmarkIds = LandmarkIds(mesh);
  bool ok = MakeFolder(dir) && WriteMesh(mesh, mesh.points, dir + "/template.vtk");
  ok = WriteMesh(mesh, Deform(mesh, 12.0, 0.0), dir + "/firstscan.vtk") && ok;
  ok = WriteMesh(mesh, Deform(mesh, 5.0, 3.0), dir + "/finalscan.vtk") && ok;
  ok = WriteMasks(mesh, dir) && ok;
  ok = WriteRing(dir + "/headring.crv") && ok;
  ok = WriteSegments(dir + "/segments.crv") && ok;
  ok = WriteCohort(mesh, landmarkIds, dir) && ok;
  ok = WriteRawScan(mesh, landmarkIds, dir) && ok;
  if (!ok)
  {
    return -1;
  }
  std::cout << "Wrote " << 2 * mesh.half << " cells per surface to " << dir << '\n';
  return 0;
}
