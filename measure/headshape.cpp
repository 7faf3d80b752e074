#include "measure/headshape.h"

#include "surftools/outputfile.h"

#include <vtkPoints.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

const HeadShapeColumn kHeadShapeColumn[kHeadShapeColumns] = {
  { "level", "mm" },
  { "length", "mm" },
  { "width", "mm" },
  { "ci", "" },
  { "circumference", "mm" },
  { "diagonal_a", "mm" },
  { "diagonal_b", "mm" },
  { "cva", "mm" },
  { "cvai", "" },
  { "plagiocephaly_level", "" },
  { "volume", "mL" },
  { "asr", "%" },
  { "psr", "%" },
  { "osr", "%" },
};

namespace
{
// Levels reach at most this far above the ear plane (2 m): a surface beyond
// it is not a head in millimetres, and every edge crossing thousands of
// levels would make measuring it slow.
constexpr long kMaxLevel = 4000;

double LevelHeight(long k)
{
  return kEarMidpoint[2] + static_cast<double>(k) * kLevelSpacing;
}

// The level planes that an edge with finite heights lo <= hi crosses: those
// with lo <= z_k <= hi, compared with the planes' own double heights. An
// edge that reaches beyond kMaxLevel gives a last level beyond it.
bool CrossedLevels(double lo, double hi, long& first, long& last)
{
  if (hi < kEarMidpoint[2])
  {
    return false;
  }
  // Level numbers beyond kMaxLevel + 1 are not told apart (nor converted).
  const double top = kMaxLevel + 1;
  first = static_cast<long>(std::clamp(std::ceil((lo - kEarMidpoint[2]) / kLevelSpacing), 0.0, top));
  last = static_cast<long>(std::min(std::floor((hi - kEarMidpoint[2]) / kLevelSpacing), top));
  if (last > kMaxLevel)
  {
    return true;
  }
  while (first > 0 && LevelHeight(first - 1) >= lo)
  {
    --first;
  }
  while (LevelHeight(first) < lo)
  {
    ++first;
  }
  while (LevelHeight(last + 1) <= hi)
  {
    ++last;
  }
  while (last >= first && LevelHeight(last) > hi)
  {
    --last;
  }
  return last >= first;
}

// Calls add(x, y) for each point where the plane z = height crosses the edge
// p-q (lying within its z range): the end point itself where it lies in the
// plane, both end points of an edge lying in the plane.
template <class Add>
void EdgeCrossing(const double p[3], const double q[3], double height, Add add)
{
  if (p[2] == height || q[2] == height)
  {
    if (p[2] == height)
    {
      add(p[0], p[1]);
    }
    if (q[2] == height)
    {
      add(q[0], q[1]);
    }
    return;
  }
  const double t = (height - p[2]) / (q[2] - p[2]);
  add(p[0] + t * (q[0] - p[0]), p[1] + t * (q[1] - p[1]));
}

// Six times the signed volume of the tetrahedron M, a, b, c.
double TripleProduct(const double a[3], const double b[3], const double c[3])
{
  const double* m = kEarMidpoint;
  const double u[3] = { a[0] - m[0], a[1] - m[1], a[2] - m[2] };
  const double v[3] = { b[0] - m[0], b[1] - m[1], b[2] - m[2] };
  const double w[3] = { c[0] - m[0], c[1] - m[1], c[2] - m[2] };
  return u[0] * (v[1] * w[2] - v[2] * w[1]) + u[1] * (v[2] * w[0] - v[0] * w[2]) +
    u[2] * (v[0] * w[1] - v[1] * w[0]);
}

// A convex polygon: a triangle clipped by at most three planes.
struct Polygon
{
  int count = 0;
  double p[8][3];
};

// The part of `in` on one side of the plane (axis) = value: at or above it
// when `above`, at or below it otherwise. Crossing points lie exactly on it.
void Clip(const Polygon& in, int axis, double value, bool above, Polygon& out)
{
  out.count = 0;
  auto inside = [&](const double* p) { return above ? p[axis] >= value : p[axis] <= value; };
  for (int i = 0; i < in.count; ++i)
  {
    const double* p = in.p[i];
    const double* q = in.p[(i + 1) % in.count];
    const bool pIn = inside(p);
    if (pIn)
    {
      std::copy(p, p + 3, out.p[out.count++]);
    }
    if (pIn != inside(q) && p[axis] != value && q[axis] != value)
    {
      const double t = (value - p[axis]) / (q[axis] - p[axis]);
      double* r = out.p[out.count++];
      for (int k = 0; k < 3; ++k)
      {
        r[k] = p[k] + t * (q[k] - p[k]);
      }
      r[axis] = value;
    }
  }
}

// Six times the signed volume of the cone from M over a convex polygon, as a
// fan of triangles from its first corner.
double ConeVolume(const Polygon& polygon)
{
  double sum = 0.0;
  for (int i = 1; i + 1 < polygon.count; ++i)
  {
    sum += TripleProduct(polygon.p[0], polygon.p[i], polygon.p[i + 1]);
  }
  return sum;
}

using Point2 = std::array<double, 2>;

double Cross(const Point2& o, const Point2& a, const Point2& b)
{
  return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0]);
}

// The convex hull of the points, counter-clockwise, without collinear points
// (Andrew's monotone chain). Sorts and thins `points`.
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
    while (k >= 2 && Cross(hull[k - 2], hull[k - 1], points[i]) <= 0)
    {
      --k;
    }
    hull[k++] = points[i];
  }
  for (size_t i = n - 1, lower = k + 1; i-- > 0;)
  {
    while (k >= lower && Cross(hull[k - 2], hull[k - 1], points[i]) <= 0)
    {
      --k;
    }
    hull[k++] = points[i];
  }
  hull.resize(k - 1);
  return hull;
}

// The length of the chord of a counter-clockwise convex polygon on the line
// through c along the unit direction d; 0 when the line misses it.
double Chord(const std::vector<Point2>& hull, const Point2& c, const Point2& d)
{
  double t0 = -std::numeric_limits<double>::infinity();
  double t1 = std::numeric_limits<double>::infinity();
  for (size_t i = 0; i < hull.size(); ++i)
  {
    const Point2& a = hull[i];
    const Point2& b = hull[(i + 1) % hull.size()];
    const double ex = b[0] - a[0];
    const double ey = b[1] - a[1];
    // c + t d lies inside (left of a -> b) where num + t den >= 0.
    const double num = ex * (c[1] - a[1]) - ey * (c[0] - a[0]);
    const double den = ex * d[1] - ey * d[0];
    if (den == 0)
    {
      if (num < 0)
      {
        return 0;
      }
    }
    else if (den > 0)
    {
      t0 = std::max(t0, -num / den);
    }
    else
    {
      t1 = std::min(t1, -num / den);
    }
  }
  return t1 > t0 ? t1 - t0 : 0;
}

double Ratio(double first, double second)
{
  return 100.0 * std::min(first, second) / std::max(first, second);
}
}

int PlagiocephalyLevel(double cvai)
{
  if (cvai < 3.5)
  {
    return 1;
  }
  if (cvai < 6.25)
  {
    return 2;
  }
  if (cvai < 8.75)
  {
    return 3;
  }
  return cvai < 11 ? 4 : 5;
}

namespace
{
// The corners of the cells of a surface, as doubles.
class CellTriangles
{
public:
  explicit CellTriangles(vtkPolyData* surface)
    : Surface(surface)
    , Points(surface->GetPoints())
  {
    if (surface->GetNumberOfCells() > 0 && surface->NeedToBuildCells())
    {
      surface->BuildCells();
    }
  }
  vtkIdType Count() const { return this->Surface->GetNumberOfCells(); }
  void Corners(vtkIdType cell, double c[3][3]) const
  {
    vtkIdType size;
    const vtkIdType* ids;
    this->Surface->GetCellPoints(cell, size, ids);
    for (int k = 0; k < 3; ++k)
    {
      this->Points->GetPoint(ids[k], c[k]);
    }
  }

private:
  vtkPolyData* Surface;
  vtkPoints* Points;
};

// What one pass over the cells finds: the y extent of every level's cut, and
// six times the volume above the ear plane, in all and per quadrant (quadrant
// q is 2 * (x >= M_x) + (y >= M_y): the front quadrants are 0 and 2).
struct LevelsAndVolumes
{
  std::vector<double> yLow;
  std::vector<double> yHigh;
  double total = 0.0;
  double quadrant[4] = { 0, 0, 0, 0 };
};

// Widens the y extents of the levels that the cell's edges cross. Returns a
// problem when an edge reaches beyond the highest level.
const char* AddLevelExtents(const double c[3][3], LevelsAndVolumes& found)
{
  for (int e = 0; e < 3; ++e)
  {
    const double* p = c[e];
    const double* q = c[(e + 1) % 3];
    long first;
    long last;
    if (!CrossedLevels(std::min(p[2], q[2]), std::max(p[2], q[2]), first, last))
    {
      continue;
    }
    if (last > kMaxLevel)
    {
      return "reaches more than 2 m above the ear plane (its unit is not millimetres)";
    }
    if (static_cast<size_t>(last) >= found.yLow.size())
    {
      found.yLow.resize(last + 1, std::numeric_limits<double>::infinity());
      found.yHigh.resize(last + 1, -std::numeric_limits<double>::infinity());
    }
    for (long k = first; k <= last; ++k)
    {
      EdgeCrossing(p, q, LevelHeight(k), [&](double, double y) {
        found.yLow[k] = std::min(found.yLow[k], y);
        found.yHigh[k] = std::max(found.yHigh[k], y);
      });
    }
  }
  return nullptr;
}

// Adds the cone volumes of the cell's part above the ear plane, in all and
// per quadrant.
void AddVolumes(const double c[3][3], LevelsAndVolumes& found)
{
  const double* m = kEarMidpoint;
  if (c[0][2] <= m[2] && c[1][2] <= m[2] && c[2][2] <= m[2])
  {
    return; // nothing above the plane z = M_z
  }
  Polygon above;
  above.count = 3;
  std::copy(&c[0][0], &c[0][0] + 9, &above.p[0][0]);
  if (c[0][2] < m[2] || c[1][2] < m[2] || c[2][2] < m[2])
  {
    Polygon whole = above;
    Clip(whole, 2, m[2], true, above);
  }
  const double volume = ConeVolume(above);
  found.total += volume;
  // Most cells lie within one quadrant; the others are clipped into each.
  int sides[2][2] = { { 0, 0 }, { 0, 0 } }; // [axis][at or beyond M] corner counts
  for (int i = 0; i < above.count; ++i)
  {
    for (int axis = 0; axis < 2; ++axis)
    {
      ++sides[axis][above.p[i][axis] >= m[axis]];
    }
  }
  if ((sides[0][0] == 0 || sides[0][1] == 0) && (sides[1][0] == 0 || sides[1][1] == 0))
  {
    found.quadrant[2 * (sides[0][1] > 0) + (sides[1][1] > 0)] += volume;
    return;
  }
  for (int q = 0; q < 4; ++q)
  {
    Polygon side;
    Polygon part;
    Clip(above, 0, m[0], q >= 2, side);
    Clip(side, 1, m[1], q % 2 == 1, part);
    found.quadrant[q] += ConeVolume(part);
  }
}

// The pass over every cell; returns a problem, or nullptr.
const char* FindLevelsAndVolumes(const CellTriangles& cells, LevelsAndVolumes& found)
{
  for (vtkIdType cell = 0; cell < cells.Count(); ++cell)
  {
    double c[3][3];
    cells.Corners(cell, c);
    for (const auto& corner : c)
    {
      if (!std::isfinite(corner[0]) || !std::isfinite(corner[1]) || !std::isfinite(corner[2]))
      {
        return "has a point that is not a finite number";
      }
    }
    if (const char* problem = AddLevelExtents(c, found))
    {
      return problem;
    }
    AddVolumes(c, found);
  }
  return nullptr;
}

// The level whose cut has the largest extent in y (of equal extents the
// lowest); -1 when no level cuts the surface.
long LongestLevel(const LevelsAndVolumes& found)
{
  long level = -1;
  for (size_t k = 0; k < found.yLow.size(); ++k)
  {
    const double extent = found.yHigh[k] - found.yLow[k];
    if (found.yHigh[k] >= found.yLow[k] && (level < 0 || extent > found.yHigh[level] - found.yLow[level]))
    {
      level = static_cast<long>(k);
    }
  }
  return level;
}

// The convex hull of the cut at `height`, from every cell's edges.
std::vector<Point2> CutHull(const CellTriangles& cells, double height)
{
  std::vector<Point2> cut;
  for (vtkIdType cell = 0; cell < cells.Count(); ++cell)
  {
    double c[3][3];
    cells.Corners(cell, c);
    for (int e = 0; e < 3; ++e)
    {
      const double* p = c[e];
      const double* q = c[(e + 1) % 3];
      if (std::min(p[2], q[2]) <= height && height <= std::max(p[2], q[2]))
      {
        EdgeCrossing(p, q, height, [&](double x, double y) { cut.push_back({ x, y }); });
      }
    }
  }
  return ConvexHull(cut);
}

// The measures of the hull at the level: length, width, CI, circumference,
// the diagonals, CVA, CVAI and its level. Returns a problem, or nullptr.
const char* MeasureCut(const std::vector<Point2>& hull, double yLow, double yHigh, HeadShape& shape)
{
  double xLow = hull[0][0];
  double xHigh = hull[0][0];
  double circumference = 0.0;
  for (size_t i = 0; i < hull.size(); ++i)
  {
    xLow = std::min(xLow, hull[i][0]);
    xHigh = std::max(xHigh, hull[i][0]);
    const Point2& next = hull[(i + 1) % hull.size()];
    const double dx = next[0] - hull[i][0];
    const double dy = next[1] - hull[i][1];
    circumference += std::sqrt(dx * dx + dy * dy);
  }
  shape.length = yHigh - yLow;
  shape.width = xHigh - xLow;
  shape.ci = 100.0 * shape.width / shape.length;
  shape.circumference = circumference;
  const Point2 centre = { kEarMidpoint[0], (yLow + yHigh) / 2 };
  const double sin30 = 0.5;
  const double cos30 = std::sqrt(3.0) / 2;
  shape.diagonalA = Chord(hull, centre, { sin30, cos30 });
  shape.diagonalB = Chord(hull, centre, { -sin30, cos30 });
  if (shape.diagonalA <= 0 || shape.diagonalB <= 0)
  {
    return "has a cut whose diagonals miss it (is it in the template's frame?)";
  }
  shape.cva = std::abs(shape.diagonalA - shape.diagonalB);
  shape.cvai = 100.0 * shape.cva / std::min(shape.diagonalA, shape.diagonalB);
  shape.plagiocephalyLevel = PlagiocephalyLevel(shape.cvai);
  return nullptr;
}
}

std::string MeasureHeadShape(vtkPolyData* surface, HeadShape& shape)
{
  shape = HeadShape();
  const CellTriangles cells(surface);
  LevelsAndVolumes found;
  if (const char* problem = FindLevelsAndVolumes(cells, found))
  {
    return problem;
  }
  const long level = LongestLevel(found);
  if (level < 0)
  {
    return "has nothing above the ear plane (no level plane cuts it)";
  }
  const std::vector<Point2> hull = CutHull(cells, LevelHeight(level));
  if (hull.size() < 3)
  {
    return "encloses no area at the measurement level";
  }
  shape.level = static_cast<double>(level) * kLevelSpacing;
  if (const char* problem = MeasureCut(hull, found.yLow[level], found.yHigh[level], shape))
  {
    return problem;
  }
  shape.volume = found.total / 6.0 / 1000.0;
  if (!(shape.volume > 0))
  {
    return "encloses no volume above the ear plane (are its triangles oriented outward?)";
  }
  shape.asr = Ratio(found.quadrant[0], found.quadrant[2]);
  shape.psr = Ratio(found.quadrant[1], found.quadrant[3]);
  shape.osr = Ratio(found.quadrant[0] + found.quadrant[1], found.quadrant[2] + found.quadrant[3]);
  return "";
}

std::array<double, kHeadShapeColumns> HeadShapeValues(const HeadShape& s)
{
  return { s.level, s.length, s.width, s.ci, s.circumference, s.diagonalA, s.diagonalB, s.cva, s.cvai,
    static_cast<double>(s.plagiocephalyLevel), s.volume, s.asr, s.psr, s.osr };
}

std::string HeadShapeHeaderRow()
{
  std::string row = "file";
  for (const HeadShapeColumn& column : kHeadShapeColumn)
  {
    row += '\t';
    row += column.name;
  }
  return row + '\n';
}

std::string HeadShapeRow(const std::string& file, const HeadShape& shape)
{
  std::string row = file;
  char text[kNumberTextSize];
  for (double value : HeadShapeValues(shape))
  {
    row += '\t';
    row.append(text, FormatNumber(value, text));
  }
  return row + '\n';
}
