// The infant head is a star-shaped surface about kHeadCentre: along every
// direction u from the centre its surface lies at HeadRadius(u), the smooth
// union of two solids (the cranium and the lower face), moved out or in along
// u by the face's features and the auricles. The mesh is a grid on an
// ellipsoid whose pole lies in the concha (so the rings gather around the
// ear, where the auricle needs them), each grid point taken along its
// direction from the centre onto that surface, then onto the flat cut below
// the jaw where it lies lower.
//
// In the ear frame below, X is the distance from the mirror plane (the head
// is mirror symmetric), Y runs from the ear midpoint M toward the back and Z
// up from it, in mm.
#include "infanthead.h"

#include "geometry/headframe.h"
#include "geometry/vector.h"

#include <algorithm>
#include <cmath>
#include <utility>

const double kHeadCentre[3] = { kEarMidpoint[0], kEarMidpoint[1] - 9.0, kEarMidpoint[2] + 26.0 };

namespace
{
const double kPi = 3.14159265358979323846;
const double* const M = kEarMidpoint;

// The cranium about kHeadCentre: an egg whose half-axes are `front` and
// `back` along y, `up` and `down` along z and `side` along x, the side
// growing by `taper` per mm toward the back (the skull is widest behind the
// ears) and narrowing below the centre (the temples above the ears).
struct Cranium
{
  double front = 78, back = 74, up = 77, down = 60;
  double side = 60.7, taper = 0.25 / 74, narrow = 0.2;
};
const Cranium kCranium;

// The lower face (cheeks, mouth, chin): an ellipsoid in front of and below
// the cranium.
const double kFaceCentre[3] = { kEarMidpoint[0], kEarMidpoint[1] - 45.0, kEarMidpoint[2] - 8.0 };
const double kFaceRadius[3] = { 44.0, 38.0, 34.0 };

// The two solids are joined by a smooth maximum of their radii over this
// width (mm).
constexpr double kBlend = 14.0;

// Nothing of the head lies below the jaw's cut.
const double kJawCut = kEarMidpoint[2] - 40.0;

// The grid's ellipsoid: centred at the ear's height, its pole (x below the
// mirror plane) in the concha, its rings about the pole as long as the
// auricle is high.
const double kGridCentre[3] = { kEarMidpoint[0], kEarMidpoint[1] + 8.0, kEarMidpoint[2] - 2.0 };
const double kGridRadius[3] = { 60.0, 58.0, 90.0 };

// A smooth bump: 1 at u = 0, falling to 0 at |u| = 1 and beyond.
double Bump(double u)
{
  return std::abs(u) < 1.0 ? std::pow(std::cos(0.5 * kPi * u), 2) : 0.0;
}

double Clamp01(double v)
{
  return std::clamp(v, 0.0, 1.0);
}

// Below 1 inside the cranium, 1 on its surface.
double CraniumLevel(const double p[3])
{
  const Cranium& c = kCranium;
  const double X = p[0] - kHeadCentre[0];
  const double Y = p[1] - kHeadCentre[1];
  const double Z = p[2] - kHeadCentre[2];
  const double side = c.side * (1.0 + c.taper * Y) * (1.0 - c.narrow * std::max(0.0, -Z) / c.down);
  const double along = Y < 0 ? c.front : c.back;
  const double height = Z > 0 ? c.up : c.down;
  return (X / side) * (X / side) + (Y / along) * (Y / along) + (Z / height) * (Z / height);
}

double FaceLevel(const double p[3])
{
  double sum = 0;
  for (int k = 0; k < 3; ++k)
  {
    const double d = (p[k] - kFaceCentre[k]) / kFaceRadius[k];
    sum += d * d;
  }
  return sum;
}

// How far along the unit direction u from the centre the solid whose level
// is `level` ends: the farthest point inside it within 250 mm (found by steps
// of 1 mm from outside, then halving), 0 where the ray misses it.
template <class Level>
double RayExit(const double u[3], Level level)
{
  auto at = [&](double t) {
    const double p[3] = { kHeadCentre[0] + t * u[0], kHeadCentre[1] + t * u[1], kHeadCentre[2] + t * u[2] };
    return level(p);
  };
  double outside = 250.0;
  while (outside > 0.0 && at(outside - 1.0) > 1.0)
  {
    outside -= 1.0;
  }
  if (outside <= 0.0)
  {
    return 0.0;
  }
  double inside = outside - 1.0;
  for (int i = 0; i < 40; ++i)
  {
    const double middle = 0.5 * (inside + outside);
    (at(middle) > 1.0 ? outside : inside) = middle;
  }
  return inside;
}

// The smooth maximum of two radii over kBlend.
double SmoothMax(double a, double b)
{
  const double h = std::max(kBlend - std::abs(a - b), 0.0) / kBlend;
  return std::max(a, b) + h * h * kBlend / 4.0;
}

// The auricle, in the grid's polar coordinates about the concha (rho from
// 0 at the pole to 1 at the mirror plane, psi 0 toward the back and pi/2
// up): its rim (the helix) on the ring rho = kAuricle, rising from 2 mm at
// its front, where it joins the head, to 13 mm at its back, its inside a
// bowl (the concha), its outside falling steeply to the skull within a ring;
// and the tragus, a bump at the bowl's front. A function of the grid, so that
// the auricle's edge follows its rings.
constexpr double kAuricle = 0.215;

double Auricle(double rho, double psi)
{
  const double s = rho / kAuricle;
  if (s >= 1.0)
  {
    return 0.0;
  }
  const double back = 0.5 * (1.0 + std::cos(psi));
  const double rim = 2.0 + 11.0 * back;
  const double height = s < 0.8 ? rim * (0.3 + 0.7 * (s / 0.8) * (s / 0.8)) : rim * Bump((s - 0.8) / 0.2);
  const double front = std::abs(std::remainder(psi - kPi, 2.0 * kPi));
  return height + 2.0 * Bump((s - 0.68) / 0.3) * Bump(front / 0.6);
}

// The point of the grid's ellipsoid along the unit direction u from the
// centre (which lies inside it), mirrored onto the patient's right, and its
// polar coordinates about the pole.
void GridPolar(const double u[3], double& rho, double& psi)
{
  const double d[3] = { -std::abs(u[0]), u[1], u[2] };
  double a = 0, b = 0, c = -1;
  for (int k = 0; k < 3; ++k)
  {
    const double offset = (kHeadCentre[k] - kGridCentre[k]) / kGridRadius[k];
    const double along = d[k] / kGridRadius[k];
    a += along * along;
    b += 2.0 * along * offset;
    c += offset * offset;
  }
  const double t = (-b + std::sqrt(b * b - 4.0 * a * c)) / (2.0 * a);
  const double y = (kHeadCentre[1] + t * d[1] - kGridCentre[1]) / kGridRadius[1];
  const double z = (kHeadCentre[2] + t * d[2] - kGridCentre[2]) / kGridRadius[2];
  rho = std::hypot(y, z);
  psi = std::atan2(z, y);
}

// The face's features, on its front (mm along the direction from the
// centre): the nasal root's hollow (the nasion 18 mm above the ear plane), a
// small nose, a low brow, the eye sockets, full cheeks, lips and a small
// chin.
double FaceFeatures(double X, double Z)
{
  const double noseHeight = Z >= -3.0 ? Bump((Z + 3.0) / 24.0) : Bump((Z + 3.0) / 6.0);
  const double nose = 9.0 * noseHeight * Bump(X / (4.5 + 5.5 * Clamp01((18.0 - Z) / 21.0)));
  const double root = -2.5 * Bump(X / 14.0) * Bump((Z - 18.0) / 9.0);
  const double brow = 1.5 * Bump(X / 35.0) * Bump((Z - 28.0) / 8.0);
  const double eyes = -5.0 * Bump(std::hypot(X - 21.0, Z - 6.0) / 11.0);
  const double cheeks = 5.0 * Bump(std::hypot(X - 28.0, Z + 10.0) / 16.0);
  const double lips = 2.5 * Bump(X / 15.0) * Bump((Z + 17.0) / 5.0);
  const double chin = 3.5 * Bump(X / 15.0) * Bump((Z + 31.0) / 8.0);
  return nose + root + brow + eyes + cheeks + lips + chin;
}

// The features' offset along the unit direction u, at the point p of the
// two solids' surface.
double FeatureOffset(const double u[3], const double p[3])
{
  double rho;
  double psi;
  GridPolar(u, rho, psi);
  const double front = Clamp01((-(p[1] - M[1]) - 45.0) / 20.0);
  return Auricle(rho, psi) + front * FaceFeatures(std::abs(p[0] - M[0]), p[2] - M[2]);
}

// The point of the head along the unit direction u from the centre, on the
// jaw's cut where it would lie lower.
void HeadPoint(const double u[3], double p[3])
{
  const double r = HeadRadius(u);
  for (int k = 0; k < 3; ++k)
  {
    p[k] = kHeadCentre[k] + r * u[k];
  }
  p[2] = std::max(p[2], kJawCut);
}

void Normal(const HeadMesh& mesh, const vtkIdType* t, double n[3])
{
  const double* a = &mesh.points[3 * t[0]];
  const double* b = &mesh.points[3 * t[1]];
  const double* c = &mesh.points[3 * t[2]];
  double ab[3];
  double ac[3];
  Subtract(b, a, ab);
  Subtract(c, a, ac);
  Cross(ab, ac, n);
}

// The grid of the patient's right half: ring k at angle alpha_k from the
// mirror plane (ring 0 lies in it), each ring's points taken onto the head,
// and the pole in the concha.
std::vector<vtkIdType> GridPoints(int rings, int segments, HeadMesh& mesh)
{
  auto add = [&mesh](const double g[3]) {
    double u[3];
    Subtract(g, kHeadCentre, u);
    const double length = Norm(u);
    for (double& v : u)
    {
      v /= length;
    }
    double p[3];
    HeadPoint(u, p);
    if (g[0] == kMirrorX)
    {
      p[0] = kMirrorX; // the mirror plane's points stay in it exactly
    }
    mesh.points.insert(mesh.points.end(), p, p + 3);
    return static_cast<vtkIdType>(mesh.points.size() / 3 - 1);
  };
  std::vector<vtkIdType> grid(static_cast<size_t>(rings) * segments + 1);
  for (int k = 0; k < rings; ++k)
  {
    const double alpha = 0.5 * kPi * k / rings;
    for (int j = 0; j < segments; ++j)
    {
      const double phi = 2.0 * kPi * j / segments;
      const double g[3] = { k == 0 ? kMirrorX : kGridCentre[0] - kGridRadius[0] * std::sin(alpha),
        kGridCentre[1] + kGridRadius[1] * std::cos(alpha) * std::cos(phi),
        kGridCentre[2] + kGridRadius[2] * std::cos(alpha) * std::sin(phi) };
      grid[static_cast<size_t>(k) * segments + j] = add(g);
    }
  }
  const double pole[3] = { kGridCentre[0] - kGridRadius[0], kGridCentre[1], kGridCentre[2] };
  grid.back() = add(pole);
  return grid;
}

// The cells of the patient's right half on the grid, each facing outward.
void GridCells(int rings, int segments, const std::vector<vtkIdType>& grid, HeadMesh& mesh)
{
  auto addTriangle = [&mesh](vtkIdType a, vtkIdType b, vtkIdType c) {
    vtkIdType t[3] = { a, b, c };
    double n[3];
    Normal(mesh, t, n);
    double out[3];
    Subtract(&mesh.points[3 * a], kHeadCentre, out);
    if (Dot(n, out) < 0)
    {
      std::swap(t[1], t[2]);
    }
    mesh.triangles.insert(mesh.triangles.end(), t, t + 3);
  };
  auto at = [&](int k, int j) { return grid[static_cast<size_t>(k) * segments + (j % segments)]; };
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
    addTriangle(at(rings - 1, j), at(rings - 1, j + 1), grid.back());
  }
}

// The other half: the mirror image of every point off the plane (the first
// `segments` points lie in it), and of every cell with B and C swapped so
// that its normal stays outward.
void MirrorHalf(int segments, HeadMesh& mesh)
{
  const vtkIdType count = static_cast<vtkIdType>(mesh.points.size() / 3);
  std::vector<vtkIdType> mirror(count);
  for (vtkIdType i = 0; i < count; ++i)
  {
    if (i < segments)
    {
      mirror[i] = i;
      continue;
    }
    const double p[3] = { 2.0 * kMirrorX - mesh.points[3 * i], mesh.points[3 * i + 1], mesh.points[3 * i + 2] };
    mesh.points.insert(mesh.points.end(), p, p + 3);
    mirror[i] = static_cast<vtkIdType>(mesh.points.size() / 3 - 1);
  }
  for (vtkIdType c = 0; c < mesh.half; ++c)
  {
    const vtkIdType* t = &mesh.triangles[3 * c];
    const vtkIdType a = mirror[t[0]], b = mirror[t[1]], d = mirror[t[2]];
    mesh.triangles.insert(mesh.triangles.end(), { a, d, b });
  }
}

// Where the line through `origin` along the unit `direction` crosses the
// mesh farthest along it; false where it misses every cell.
bool FarthestCrossing(const HeadMesh& mesh, const double origin[3], const double direction[3], double at[3])
{
  double best = -1e300;
  for (size_t c = 0; c < mesh.triangles.size(); c += 3)
  {
    const double* a = &mesh.points[3 * mesh.triangles[c]];
    const double* b = &mesh.points[3 * mesh.triangles[c + 1]];
    const double* d = &mesh.points[3 * mesh.triangles[c + 2]];
    double e1[3], e2[3], s[3], h[3], q[3];
    Subtract(b, a, e1);
    Subtract(d, a, e2);
    Cross(direction, e2, h);
    const double det = Dot(e1, h);
    if (std::abs(det) < 1e-12)
    {
      continue;
    }
    Subtract(origin, a, s);
    const double u = Dot(s, h) / det;
    Cross(s, e1, q);
    const double v = Dot(direction, q) / det;
    if (u < 0 || v < 0 || u + v > 1)
    {
      continue;
    }
    best = std::max(best, Dot(e2, q) / det);
  }
  for (int k = 0; k < 3; ++k)
  {
    at[k] = origin[k] + best * direction[k];
  }
  return best > -1e300;
}
}

double HeadRadius(const double direction[3])
{
  const double cranium = RayExit(direction, CraniumLevel);
  const double face = RayExit(direction, FaceLevel);
  const double r = SmoothMax(cranium, face);
  const double p[3] = { kHeadCentre[0] + r * direction[0], kHeadCentre[1] + r * direction[1],
    kHeadCentre[2] + r * direction[2] };
  return r + FeatureOffset(direction, p);
}

HeadMesh MakeInfantHead(int rings, int segments)
{
  HeadMesh mesh;
  const std::vector<vtkIdType> grid = GridPoints(rings, segments, mesh);
  GridCells(rings, segments, grid, mesh);
  mesh.half = static_cast<vtkIdType>(mesh.triangles.size() / 3);
  MirrorHalf(segments, mesh);
  return mesh;
}

std::vector<Landmark> InfantHeadLandmarks(const HeadMesh& mesh)
{
  const double nasionLine[3] = { M[0], M[1], M[2] + 18.0 };
  const double front[3] = { 0, -1, 0 };
  const double right[3] = { -1, 0, 0 };
  const double up[3] = { 0, 0, 1 };
  std::vector<Landmark> landmarks(5);
  FarthestCrossing(mesh, nasionLine, front, landmarks[0].data());
  FarthestCrossing(mesh, M, right, landmarks[1].data());
  landmarks[2] = { 2.0 * kMirrorX - landmarks[1][0], landmarks[1][1], landmarks[1][2] };
  FarthestCrossing(mesh, M, up, landmarks[3].data());
  // The opisthocranion: of the points in the mirror plane, the farthest from
  // the nasion.
  double farthest = -1;
  for (size_t i = 0; i < mesh.points.size(); i += 3)
  {
    if (mesh.points[i] == kMirrorX && Distance2(&mesh.points[i], landmarks[0].data()) > farthest)
    {
      farthest = Distance2(&mesh.points[i], landmarks[0].data());
      std::copy(&mesh.points[i], &mesh.points[i] + 3, landmarks[4].data());
    }
  }
  return landmarks;
}
