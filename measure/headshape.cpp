#include "measure/headshape.h"

#include "geometry/convexhull.h"
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

// The level planes from level `lowest` on (negative below the ear plane)
// that an edge with finite heights lo <= hi crosses: those with
// lo <= z_k <= hi, compared with the planes' own double heights. An edge that
// reaches beyond kMaxLevel gives a last level beyond it.
bool CrossedLevels(double lo, double hi, long lowest, long& first, long& last)
{
  if (hi < LevelHeight(lowest))
  {
    return false;
  }
  // Level numbers beyond kMaxLevel + 1 are not told apart (nor converted).
  const double top = kMaxLevel + 1;
  first =
    static_cast<long>(std::clamp(std::ceil((lo - kEarMidpoint[2]) / kLevelSpacing), static_cast<double>(lowest), top));
  last = static_cast<long>(std::min(std::floor((hi - kEarMidpoint[2]) / kLevelSpacing), top));
  if (last > kMaxLevel)
  {
    return true;
  }
  while (first > lowest && LevelHeight(first - 1) >= lo)
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

// Six times the signed volume of the tetrahedron m, a, b, c.
double TripleProduct(const double m[3], const double a[3], const double b[3], const double c[3])
{
  const double u[3] = { a[0] - m[0], a[1] - m[1], a[2] - m[2] };
  const double v[3] = { b[0] - m[0], b[1] - m[1], b[2] - m[2] };
  const double w[3] = { c[0] - m[0], c[1] - m[1], c[2] - m[2] };
  return u[0] * (v[1] * w[2] - v[2] * w[1]) + u[1] * (v[2] * w[0] - v[0] * w[2]) + u[2] * (v[0] * w[1] - v[1] * w[0]);
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

// Six times the signed volume of the cone from the apex over a convex
// polygon, as a fan of triangles from its first corner.
double ConeVolume(const double apex[3], const Polygon& polygon)
{
  double sum = 0.0;
  for (int i = 1; i + 1 < polygon.count; ++i)
  {
    sum += TripleProduct(apex, polygon.p[0], polygon.p[i], polygon.p[i + 1]);
  }
  return sum;
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
  for (int level = 1; level < 5; ++level)
  {
    if (cvai < kPlagiocephalyLevelFrom[level])
    {
      return level;
    }
  }
  return 5;
}

namespace
{
// A front profile concavity shallower than this (mm) is no nasion.
constexpr double kNasionDepth = 2.0;
// A nose lies more than kNoseLead (mm) in front of the profile somewhere
// kNoseNear to kNoseFar levels (10 to 15 mm) above it and below it.
constexpr double kNoseLead = 4.0;
constexpr long kNoseNear = 20;
constexpr long kNoseFar = 30;
// A hollow of the profile is its deepest level within this many levels
// (5 mm) either side.
constexpr long kHollowReach = 10;
constexpr double kHollowShare = 0.5;

// The corners of the cells of a surface, as doubles; with `reversed`, in the
// opposite order (C, B, A), which turns a surface facing inward outward.
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
      this->Points->GetPoint(ids[this->Reversed ? 2 - k : k], c[k]);
    }
  }
  bool Reversed = false;

private:
  vtkPolyData* Surface;
  vtkPoints* Points;
};

// Checks that every point is finite, and turns the cells outward where they
// face inward: where the cones from the ear midpoint over all cells sum to
// a negative volume. Returns a problem, or nullptr.
const char* Orient(CellTriangles& cells)
{
  double total = 0.0;
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
    total += TripleProduct(kEarMidpoint, c[0], c[1], c[2]);
  }
  cells.Reversed = total < 0.0;
  return nullptr;
}

// The front profile: at every level (from `lowest`, below the ear plane),
// the least y (the face is toward -y) of the cut of the midline plane
// x = M_x; infinite where the plane does not reach that level.
struct FrontProfile
{
  long lowest = 0;
  std::vector<double> front;
};

// Calls add(y, z) for each point where the midline plane crosses the edge p-q.
template <class Add>
void MidlineCrossing(const double p[3], const double q[3], Add add)
{
  const double x = kEarMidpoint[0];
  if (!(std::min(p[0], q[0]) <= x && x <= std::max(p[0], q[0])))
  {
    return;
  }
  if (p[0] == x || q[0] == x)
  {
    if (p[0] == x)
    {
      add(p[1], p[2]);
    }
    if (q[0] == x)
    {
      add(q[1], q[2]);
    }
    return;
  }
  const double t = (x - p[0]) / (q[0] - p[0]);
  add(p[1] + t * (q[1] - p[1]), p[2] + t * (q[2] - p[2]));
}

// Adds the cell's part of the midline cut to the profile: the segments
// between the points where its edges cross the plane.
void AddToProfile(const double c[3][3], FrontProfile& profile)
{
  double points[6][3];
  int count = 0;
  for (int e = 0; e < 3; ++e)
  {
    MidlineCrossing(c[e], c[(e + 1) % 3], [&](double y, double z) {
      points[count][0] = 0.0;
      points[count][1] = y;
      points[count][2] = z;
      ++count;
    });
  }
  for (int i = 0; i < count; ++i)
  {
    for (int j = i; j < count; ++j)
    {
      const double* p = points[i];
      const double* q = points[j];
      long first;
      long last;
      if (!CrossedLevels(std::min(p[2], q[2]), std::max(p[2], q[2]), profile.lowest, first, last))
      {
        continue;
      }
      last = std::min(last, kMaxLevel);
      for (long k = first; k <= last; ++k)
      {
        double& front = profile.front[static_cast<size_t>(k - profile.lowest)];
        EdgeCrossing(p, q, LevelHeight(k), [&](double, double y) { front = std::min(front, y); });
      }
    }
  }
}

FrontProfile MeasureFrontProfile(const CellTriangles& cells, double bottom)
{
  FrontProfile profile;
  profile.lowest = static_cast<long>(
    std::clamp(std::floor((bottom - kEarMidpoint[2]) / kLevelSpacing), static_cast<double>(-kMaxLevel), 0.0));
  profile.front.assign(static_cast<size_t>(kMaxLevel - profile.lowest + 1), std::numeric_limits<double>::infinity());
  for (vtkIdType cell = 0; cell < cells.Count(); ++cell)
  {
    double c[3][3];
    cells.Corners(cell, c);
    AddToProfile(c, profile);
  }
  return profile;
}

// No level: no nasion, no nose.
constexpr long kNoLevel = std::numeric_limits<long>::min();

// The largest lag behind level i of the profile's levels i + from to i + to
// (those it has, within the profile); -infinity where it has none.
double LargestLag(const std::vector<double>& front, size_t i, long from, long to)
{
  double lag = -std::numeric_limits<double>::infinity();
  for (long j = from; j <= to; ++j)
  {
    const long k = static_cast<long>(i) + j;
    if (k >= 0 && k < static_cast<long>(front.size()) && std::isfinite(front[k]))
    {
      lag = std::max(lag, front[k] - front[i]);
    }
  }
  return lag;
}

// The nose's level: a nose lies more than kNoseLead in front of the profile
// somewhere 10 to 15 mm above it and somewhere 10 to 15 mm below it (a
// narrow protrusion); its prominence is the lesser of those two largest
// lags, and the nose is the most prominent level (of equal ones the lowest),
// which tells it from a chin, lips or a brow. A convex profile has none: its
// levels lie in front of their neighbours by no more than its sagitta over
// 15 mm, about 2 mm on a head. kNoLevel without one.
long NoseLevel(const FrontProfile& profile)
{
  const std::vector<double>& front = profile.front;
  long nose = kNoLevel;
  double prominence = kNoseLead;
  for (size_t i = 0; i < front.size(); ++i)
  {
    if (std::isfinite(front[i]))
    {
      const double lead =
        std::min(LargestLag(front, i, kNoseNear, kNoseFar), LargestLag(front, i, -kNoseFar, -kNoseNear));
      if (lead > prominence)
      {
        prominence = lead;
        nose = static_cast<long>(i) + profile.lowest;
      }
    }
  }
  return nose;
}

// The front side of the convex hull of the profile's points (z, y), z the
// level's height above M: from the lowest level to the highest.
std::vector<Point2> FrontHull(const FrontProfile& profile)
{
  std::vector<Point2> points;
  for (size_t i = 0; i < profile.front.size(); ++i)
  {
    if (std::isfinite(profile.front[i]))
    {
      points.push_back(
        { static_cast<double>(static_cast<long>(i) + profile.lowest) * kLevelSpacing, profile.front[i] });
    }
  }
  // ConvexHull starts at the lowest point and reaches the highest through the
  // front side.
  std::vector<Point2> hull = ConvexHull(points);
  if (!hull.empty())
  {
    hull.erase(std::max_element(hull.begin(), hull.end()) + 1, hull.end());
  }
  return hull;
}

// Of the levels that the hull edge a-b bridges, the one lying farthest
// behind the edge's line (of equal ones the highest), where that is more
// than kNasionDepth; kNoLevel otherwise. The distance from the line, not the
// lag in y, so that a pitched head gives the same point.
long DeepestBeneath(const FrontProfile& profile, const Point2& a, const Point2& b)
{
  const double length = std::hypot(b[0] - a[0], b[1] - a[1]);
  const long from = std::lround(a[0] / kLevelSpacing);
  long deepest = kNoLevel;
  double depth = kNasionDepth;
  for (long k = std::lround(b[0] / kLevelSpacing) - 1; k > from; --k)
  {
    const double y = profile.front[static_cast<size_t>(k - profile.lowest)];
    const double distance = Turn(a, b, { static_cast<double>(k) * kLevelSpacing, y }) / length;
    if (std::isfinite(y) && distance > depth)
    {
      depth = distance;
      deepest = k;
    }
  }
  return deepest;
}

// The nasion's level: the deepest point of the front profile beneath the
// line from the nose to the forehead. Where the hull's front side bridges
// levels, those lie behind the bridging edge; the nasion is the deepest
// level of the highest edge with a level more than kNasionDepth behind it.
// The edge that ends at the profile's highest point has no forehead above
// it (a scan cut off there) and bridges no nasion. kNoLevel without one.
long NasionLevel(const FrontProfile& profile)
{
  const std::vector<Point2> hull = FrontHull(profile);
  for (size_t v = hull.size() < 3 ? 0 : hull.size() - 2; v-- > 0;)
  {
    const long nasion = DeepestBeneath(profile, hull[v], hull[v + 1]);
    if (nasion != kNoLevel)
    {
      return nasion;
    }
  }
  return kNoLevel;
}

// The first hollow beneath the hull edge a-b, from its lower end up, above
// level `above`: the lowest level more than kNasionDepth, and more than
// kHollowShare of the deepest level's depth, behind the edge's line that
// lies at least as far behind it as every level within kHollowReach of it
// under the edge (so that a ripple of a slope is none); kNoLevel where
// there is none.
long FirstHollowBeneath(const FrontProfile& profile, const Point2& a, const Point2& b, long above)
{
  const double length = std::hypot(b[0] - a[0], b[1] - a[1]);
  const long from = std::lround(a[0] / kLevelSpacing) + 1;
  const long to = std::lround(b[0] / kLevelSpacing) - 1;
  auto depth = [&](long k) {
    const double y = profile.front[static_cast<size_t>(k - profile.lowest)];
    return std::isfinite(y) ? Turn(a, b, { static_cast<double>(k) * kLevelSpacing, y }) / length
                            : -std::numeric_limits<double>::infinity();
  };
  double deepestOfAll = kNasionDepth;
  for (long k = std::max(from, above + 1); k <= to; ++k)
  {
    deepestOfAll = std::max(deepestOfAll, depth(k));
  }
  for (long k = std::max(from, above + 1); k <= to; ++k)
  {
    bool deepest = depth(k) > std::max(kNasionDepth, kHollowShare * deepestOfAll);
    for (long j = std::max(from, k - kHollowReach); deepest && j <= std::min(to, k + kHollowReach); ++j)
    {
      deepest = depth(j) <= depth(k);
    }
    if (deepest)
    {
      return k;
    }
  }
  return kNoLevel;
}

// The level of the nasion nearest above the nose: the first hollow above
// the nose's level beneath the hull edges from the nose up (the last edge,
// as in NasionLevel, left out); kNoLevel without a nose or such a hollow.
long NasionLevelAboveNose(const FrontProfile& profile)
{
  const long nose = NoseLevel(profile);
  const std::vector<Point2> hull = FrontHull(profile);
  for (size_t v = 0; nose != kNoLevel && v + 2 < hull.size(); ++v)
  {
    const long nasion = FirstHollowBeneath(profile, hull[v], hull[v + 1], nose);
    if (nasion != kNoLevel)
    {
      return nasion;
    }
  }
  return kNoLevel;
}

// The nasion's level of the profile, kNoLevel on a head without a face;
// false where it shows a face whose nose does not lie below its nasion.
bool FindNasionLevel(const FrontProfile& profile, long& nasion)
{
  nasion = NasionLevel(profile);
  const long nose = NoseLevel(profile);
  return nose == kNoLevel || (nasion != kNoLevel && nasion > nose);
}

// What one pass over the cells finds: the y extent of every level's cut from
// the lowest level searched on, and six times the volume above that level,
// in all and per quadrant (quadrant q is 2 * (x >= M_x) + (y >= M_y): the
// front quadrants are 0 and 2), as cones from the apex (M_x, M_y) on it.
struct LevelsAndVolumes
{
  long lowest = 0;
  double apex[3] = { kEarMidpoint[0], kEarMidpoint[1], kEarMidpoint[2] };
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
    if (!CrossedLevels(std::min(p[2], q[2]), std::max(p[2], q[2]), found.lowest, first, last))
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

// Adds the cone volumes of the cell's part above the lowest level, in all
// and per quadrant.
void AddVolumes(const double c[3][3], LevelsAndVolumes& found)
{
  const double* m = found.apex;
  if (c[0][2] <= m[2] && c[1][2] <= m[2] && c[2][2] <= m[2])
  {
    return; // nothing above the plane
  }
  Polygon above;
  above.count = 3;
  std::copy(&c[0][0], &c[0][0] + 9, &above.p[0][0]);
  if (c[0][2] < m[2] || c[1][2] < m[2] || c[2][2] < m[2])
  {
    Polygon whole = above;
    Clip(whole, 2, m[2], true, above);
  }
  const double volume = ConeVolume(m, above);
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
    found.quadrant[q] += ConeVolume(m, part);
  }
}

// The pass over every cell from the lowest level on; returns a problem, or
// nullptr.
const char* FindLevelsAndVolumes(const CellTriangles& cells, LevelsAndVolumes& found)
{
  for (vtkIdType cell = 0; cell < cells.Count(); ++cell)
  {
    double c[3][3];
    cells.Corners(cell, c);
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
  for (size_t k = static_cast<size_t>(found.lowest); k < found.yLow.size(); ++k)
  {
    const double extent = found.yHigh[k] - found.yLow[k];
    if (found.yHigh[k] >= found.yLow[k] && (level < 0 || extent > found.yHigh[level] - found.yLow[level]))
    {
      level = static_cast<long>(k);
    }
  }
  return level;
}

// The cut at `height`: the points where it crosses every cell's edges, and
// the segments between each cell's points.
LevelCut CutAt(const CellTriangles& cells, double height)
{
  LevelCut cut;
  for (vtkIdType cell = 0; cell < cells.Count(); ++cell)
  {
    double c[3][3];
    cells.Corners(cell, c);
    const size_t first = cut.points.size();
    for (int e = 0; e < 3; ++e)
    {
      const double* p = c[e];
      const double* q = c[(e + 1) % 3];
      if (std::min(p[2], q[2]) <= height && height <= std::max(p[2], q[2]))
      {
        EdgeCrossing(p, q, height, [&](double x, double y) { cut.points.push_back({ x, y }); });
      }
    }
    for (size_t i = first; i + 1 < cut.points.size(); ++i)
    {
      cut.segments.push_back({ cut.points[i], cut.points[i + 1] });
    }
  }
  return cut;
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

// The volume and the quadrant ratios, and the patient's side of the smaller
// back quadrant (quadrant 1 is the patient's right, x < M_x). Returns a
// problem, or nullptr.
const char* MeasureVolumes(const LevelsAndVolumes& found, HeadShape& shape)
{
  shape.volume = found.total / 6.0 / 1000.0;
  if (!(shape.volume > 0))
  {
    return "encloses no volume above the ear plane";
  }
  const double* q = found.quadrant;
  shape.asr = Ratio(q[0], q[2]);
  shape.psr = Ratio(q[1], q[3]);
  shape.osr = Ratio(q[0] + q[1], q[2] + q[3]);
  shape.posteriorFlatSide = shape.psr >= 99.0 ? "none" : q[1] < q[3] ? "right" : "left";
  return nullptr;
}
}

LevelCut CutAtLevel(vtkPolyData* surface, double height)
{
  return CutAt(CellTriangles(surface), height);
}

namespace
{
// The nasion on the surface's profile at the level `levelOf` finds (false
// where FindNasionLevel refuses the profile, or levelOf finds none).
template <class Level>
bool NasionOnProfile(vtkPolyData* surface, Level levelOf, double nasion[3])
{
  CellTriangles cells(surface);
  if (cells.Count() == 0 || Orient(cells))
  {
    return false;
  }
  const FrontProfile profile = MeasureFrontProfile(cells, surface->GetBounds()[4]);
  long level;
  if (!FindNasionLevel(profile, level) || level == kNoLevel)
  {
    return false;
  }
  level = levelOf(profile);
  if (level == kNoLevel)
  {
    return false;
  }
  nasion[0] = kEarMidpoint[0];
  nasion[1] = profile.front[static_cast<size_t>(level - profile.lowest)];
  nasion[2] = LevelHeight(level);
  return true;
}
}

bool FindNasion(vtkPolyData* surface, double nasion[3])
{
  return NasionOnProfile(surface, NasionLevel, nasion);
}

bool FindNasionAboveNose(vtkPolyData* surface, double nasion[3])
{
  return NasionOnProfile(surface, NasionLevelAboveNose, nasion);
}

std::string MeasureHeadShape(vtkPolyData* surface, HeadShape& shape)
{
  shape = HeadShape();
  CellTriangles cells(surface);
  if (const char* problem = Orient(cells))
  {
    return problem;
  }
  LevelsAndVolumes found;
  if (cells.Count() > 0)
  {
    // Above the face: from the nasion's level where the front profile has one.
    long nasion;
    if (!FindNasionLevel(MeasureFrontProfile(cells, surface->GetBounds()[4]), nasion))
    {
      return "has a face but no nasion above it (no hollow between nose and forehead on the midline: is the "
             "forehead scanned, the head upright within 20 degrees?)";
    }
    found.lowest = std::max(0L, nasion);
    found.apex[2] = LevelHeight(found.lowest);
  }
  if (const char* problem = FindLevelsAndVolumes(cells, found))
  {
    return problem;
  }
  const long level = LongestLevel(found);
  if (level < 0)
  {
    return "has nothing above the ear plane (no level plane cuts it)";
  }
  // The hull of the cut, with the skull's outline in place of the auricles.
  const LevelCut cut = CutAt(cells, LevelHeight(level));
  const Auricles auricles = FindAuricles(cut, found.yLow[level], found.yHigh[level]);
  std::vector<Point2> points = SkullPoints(cut, found.yLow[level], found.yHigh[level], auricles);
  const std::vector<Point2> hull = ConvexHull(points);
  shape.auricles = auricles.Count();
  if (hull.size() < 3)
  {
    return "encloses no area at the measurement level";
  }
  shape.level = static_cast<double>(level) * kLevelSpacing;
  shape.measuredFrom = static_cast<double>(found.lowest) * kLevelSpacing;
  if (const char* problem = MeasureCut(hull, found.yLow[level], found.yHigh[level], shape))
  {
    return problem;
  }
  if (const char* problem = MeasureVolumes(found, shape))
  {
    return problem;
  }
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
  return row + "\tmeasured_from\tposterior_flat_side\n";
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
  row += '\t';
  row.append(text, FormatNumber(shape.measuredFrom, text));
  return row + '\t' + shape.posteriorFlatSide + '\n';
}
