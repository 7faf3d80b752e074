#include "locate/surfacelocator.h"

#include "geometry/triangleclosest.h"

#include <vtkBox.h>
#include <vtkCellArray.h>
#include <vtkCellType.h>
#include <vtkFloatArray.h>
#include <vtkTriangle.h>
#include <vtkVersionMacros.h>

#include <algorithm>
#include <cmath>
#include <array>
#include <limits>
#include <tuple>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace
{
const double kHuge = 1.7976931348623157e308; // VTK_DOUBLE_MAX
const int kLeafSize = 8; // at most 15: a leaf's count takes four bits
// A triangle whose area is below this share of its longest edge squared is
// too thin for the closest-point figures here.
const double kThin = 1.0e-3;
// Octant indices beyond this are asked of the locator (its integer
// conversions are exact well within it).
const double kIndexReach = 1.0e6;

double Square(double v)
{
  return v * v;
}

// The locator's distance from a point to a box (0 inside), with its arithmetic.
double Distance2ToBounds(const double x[3], const double bounds[6])
{
  if (x[0] >= bounds[0] && x[0] <= bounds[1] && x[1] >= bounds[2] && x[1] <= bounds[3] && x[2] >= bounds[4] &&
    x[2] <= bounds[5])
  {
    return 0.0;
  }
  double deltas[3] = { 0.0, 0.0, 0.0 };
  for (int i = 0; i < 3; ++i)
  {
    if (x[i] < bounds[2 * i])
    {
      deltas[i] = bounds[2 * i] - x[i];
    }
    else if (x[i] > bounds[2 * i + 1])
    {
      deltas[i] = x[i] - bounds[2 * i + 1];
    }
  }
  return deltas[0] * deltas[0] + deltas[1] * deltas[1] + deltas[2] * deltas[2];
}


#if !defined(__SSE2__)
// Whether the segment from a0 along d (t in [0, 1]) may meet the node's box
// widened by `slack` on every side.
bool SegmentMeetsNode(const double a0[3], const double d[3], const float* axis, const float* lowest,
  const float* highest, double slack)
{
  double low = 0.0;
  double high = 1.0;
  for (int i = 0; i < 3; ++i)
  {
    const double ax = axis[3 * i];
    const double ay = axis[3 * i + 1];
    const double az = axis[3 * i + 2];
    const double from = ax * a0[0] + ay * a0[1] + az * a0[2];
    const double along = ax * d[0] + ay * d[1] + az * d[2];
    const double lo = lowest[i] - slack;
    const double hi = highest[i] + slack;
    if (along == 0.0)
    {
      if (from < lo || from > hi)
      {
        return false;
      }
      continue;
    }
    double t0 = (lo - from) / along;
    double t1 = (hi - from) / along;
    if (t0 > t1)
    {
      std::swap(t0, t1);
    }
    low = std::max(low, t0);
    high = std::min(high, t1);
    if (low > high)
    {
      return false;
    }
  }
  return true;
}
#endif

// Which of four boxes (bit c for box c, laid out as in SurfaceLocator::Wide)
// the segment from a0 along d (t in [0, 1]) may meet: each widened by
// `slack`, and the segment's parameters by a little more than the rounding
// of single precision. Never a box that it meets.
int SegmentMeetsWide(const double a0[3], const double d[3], const float (*axis)[3][4], const float (*low)[4],
  const float (*high)[4], double slack)
{
#if defined(__SSE2__)
  const __m128 p0 = _mm_set1_ps(static_cast<float>(a0[0]));
  const __m128 p1 = _mm_set1_ps(static_cast<float>(a0[1]));
  const __m128 p2 = _mm_set1_ps(static_cast<float>(a0[2]));
  const __m128 d0 = _mm_set1_ps(static_cast<float>(d[0]));
  const __m128 d1 = _mm_set1_ps(static_cast<float>(d[1]));
  const __m128 d2 = _mm_set1_ps(static_cast<float>(d[2]));
  const __m128 widen = _mm_set1_ps(static_cast<float>(slack));
  const __m128 zero = _mm_setzero_ps();
  const __m128 infinity = _mm_set1_ps(std::numeric_limits<float>::infinity());
  __m128 enter = _mm_set1_ps(-1.0e-5f);
  __m128 leave = _mm_set1_ps(1.0f + 1.0e-5f);
  for (int i = 0; i < 3; ++i)
  {
    const __m128 a = _mm_load_ps(axis[i][0]);
    const __m128 b = _mm_load_ps(axis[i][1]);
    const __m128 c = _mm_load_ps(axis[i][2]);
    const __m128 from = _mm_add_ps(_mm_add_ps(_mm_mul_ps(a, p0), _mm_mul_ps(b, p1)), _mm_mul_ps(c, p2));
    const __m128 along = _mm_add_ps(_mm_add_ps(_mm_mul_ps(a, d0), _mm_mul_ps(b, d1)), _mm_mul_ps(c, d2));
    const __m128 lo = _mm_sub_ps(_mm_sub_ps(_mm_load_ps(low[i]), widen), from);
    const __m128 hi = _mm_sub_ps(_mm_add_ps(_mm_load_ps(high[i]), widen), from);
    // Along the box's face: inside or not at all.
    const __m128 flat = _mm_cmpeq_ps(along, zero);
    const __m128 inside = _mm_and_ps(_mm_cmple_ps(lo, zero), _mm_cmpge_ps(hi, zero));
    const __m128 safe = _mm_or_ps(_mm_and_ps(flat, _mm_set1_ps(1.0f)), _mm_andnot_ps(flat, along));
    const __m128 t0 = _mm_div_ps(lo, safe);
    const __m128 t1 = _mm_div_ps(hi, safe);
    __m128 first = _mm_min_ps(t0, t1);
    __m128 second = _mm_max_ps(t0, t1);
    const __m128 open = _mm_and_ps(flat, inside);
    const __m128 shut = _mm_andnot_ps(inside, flat);
    first = _mm_or_ps(_mm_andnot_ps(flat, first), _mm_or_ps(_mm_and_ps(open, _mm_sub_ps(zero, infinity)),
                                                    _mm_and_ps(shut, infinity)));
    second = _mm_or_ps(_mm_andnot_ps(flat, second), _mm_or_ps(_mm_and_ps(open, infinity),
                                                      _mm_and_ps(shut, _mm_sub_ps(zero, infinity))));
    // Widen the parameters for their rounding.
    const __m128 spread = _mm_mul_ps(_mm_set1_ps(1.0e-5f), _mm_max_ps(_mm_max_ps(first, _mm_sub_ps(zero, first)),
                                                                     _mm_set1_ps(1.0f)));
    enter = _mm_max_ps(enter, _mm_sub_ps(first, spread));
    leave = _mm_min_ps(leave, _mm_add_ps(second, spread));
  }
  // An empty slot has an empty range.
  const __m128 filled = _mm_cmple_ps(_mm_load_ps(low[0]), _mm_load_ps(high[0]));
  return _mm_movemask_ps(_mm_and_ps(filled, _mm_cmple_ps(enter, leave)));
#else
  int meets = 0;
  for (int c = 0; c < 4; ++c)
  {
    float axisOf[9];
    float lowOf[3];
    float highOf[3];
    for (int i = 0; i < 3; ++i)
    {
      for (int k = 0; k < 3; ++k)
      {
        axisOf[3 * i + k] = axis[i][k][c];
      }
      lowOf[i] = low[i][c];
      highOf[i] = high[i][c];
    }
    if (lowOf[0] <= highOf[0] && SegmentMeetsNode(a0, d, axisOf, lowOf, highOf, slack))
    {
      meets |= 1 << c;
    }
  }
  return meets;
#endif
}

// Whether the segment from a0 along d surely misses the triangle as VTK's
// line test with tolerance `tol` sees it: it stays on one side of the
// triangle's plane, or crosses the plane farther than the tolerance from the
// triangle, by more than the margin that covers the rounding of both tests.
// For triangles with reliable figures only.
bool SurelyMissed(const double* corner, const double a0[3], const double d[3], double tol, double margin)
{
  const double* a = corner;
  const double u[3] = { corner[3] - a[0], corner[4] - a[1], corner[5] - a[2] };
  const double w[3] = { corner[6] - a[0], corner[7] - a[1], corner[8] - a[2] };
  const double n[3] = { u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0] };
  const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  const double s0 = (n[0] * (a0[0] - a[0]) + n[1] * (a0[1] - a[1]) + n[2] * (a0[2] - a[2])) / length;
  const double travel = (n[0] * d[0] + n[1] * d[1] + n[2] * d[2]) / length;
  const double s1 = s0 + travel;
  if ((s0 > margin && s1 > margin) || (s0 < -margin && s1 < -margin))
  {
    return true;
  }
  const double segment = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
  if (!(std::fabs(travel) > 1.0e-3 * segment))
  {
    // Nearly along the plane: where it crosses is too uncertain here.
    return false;
  }
  const double t = s0 / (s0 - s1);
  const double x[3] = { a0[0] + t * d[0], a0[1] + t * d[1], a0[2] + t * d[2] };
  const double reach = tol + margin * 1.0e3;
  return PointTriangleDistance2(x, corner, corner + 3, corner + 6) > reach * reach;
}

// Whether every coordinate lies within `reach` octants of the grid, so that
// the locator's conversions of it to octant indices are exact.
bool WithinIndexReach(const LocatorGridShape& shape, const double x[3], double extra)
{
  for (int i = 0; i < 3; ++i)
  {
    const double place = (x[i] - shape.bounds[2 * i]) / shape.width[i];
    const double spread = extra / shape.width[i];
    if (!(std::fabs(place) + spread < kIndexReach))
    {
      return false;
    }
  }
  return true;
}
}

struct SurfaceLocator::BuildData
{
  std::vector<int32_t> order;
  std::vector<float> centers;   // 3 per cell
  std::vector<double> corners;  // 9 per cell
  std::vector<double> normals;  // 3 per cell: (B - A) x (C - A)
  std::vector<double> sums;     // 4 per node: its cells' normals summed, and their lengths summed
  std::vector<std::pair<float, int32_t>> keys; // scratch for the splits
};

namespace
{
// Axes for a box around cells whose normals sum to n (their lengths to
// `total`): the mean normal and two across it when the normals agree well
// enough, the coordinate axes otherwise; as floats.
void NodeAxes(const double n[3], double total, float axis[9])
{
  const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  if (!(length > 0.5 * total) || !(length > 0.0))
  {
    const float identity[9] = { 1, 0, 0, 0, 1, 0, 0, 0, 1 };
    std::copy(identity, identity + 9, axis);
    return;
  }
  const double u[3] = { n[0] / length, n[1] / length, n[2] / length };
  int least = 0;
  for (int i = 1; i < 3; ++i)
  {
    if (std::fabs(u[i]) < std::fabs(u[least]))
    {
      least = i;
    }
  }
  double v[3] = { 0, 0, 0 };
  v[least] = 1.0;
  const double along = v[0] * u[0] + v[1] * u[1] + v[2] * u[2];
  for (int i = 0; i < 3; ++i)
  {
    v[i] -= along * u[i];
  }
  const double vLength = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  for (int i = 0; i < 3; ++i)
  {
    v[i] /= vLength;
  }
  const double w[3] = { u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0] };
  for (int i = 0; i < 3; ++i)
  {
    axis[i] = static_cast<float>(u[i]);
    axis[3 + i] = static_cast<float>(v[i]);
    axis[6 + i] = static_cast<float>(w[i]);
  }
}

// Widens a range for the rounding of the axes and of the projections, and
// stores it as floats that hold it.
void StoreRange(double low, double high, float* lowOut, float* highOut)
{
  const double widen = 1.0e-5 * (std::fabs(low) + std::fabs(high)) + 1.0e-6;
  low -= widen;
  high += widen;
  float lo = static_cast<float>(low);
  float hi = static_cast<float>(high);
  if (lo > low)
  {
    lo = std::nextafter(lo, -std::numeric_limits<float>::infinity());
  }
  if (hi < high)
  {
    hi = std::nextafter(hi, std::numeric_limits<float>::infinity());
  }
  *lowOut = lo;
  *highOut = hi;
}
}

SurfaceLocator::SurfaceLocator(vtkPolyData* surface)
  : Surface(surface)
  , Locator(vtkSmartPointer<vtkCellLocator>::New())
  , Cell(vtkSmartPointer<vtkGenericCell>::New())
  , Triangle(vtkSmartPointer<vtkTriangle>::New())
{
  if (surface->GetNumberOfCells() < 1)
  {
    // A locator over no cells has nothing to answer (and VTK would complain).
    return;
  }
  this->Locator->SetDataSet(surface);
  // The index is made for the grid that the locator plans; the locator
  // itself is built only when a query is left to it.
  if (surface->NeedToBuildCells())
  {
    surface->BuildCells();
  }
  this->Fast = this->Build(LocatorPlannedLevel(this->Locator));
}

vtkCellLocator* SurfaceLocator::BuiltLocator()
{
  if (this->LocatorBuilt)
  {
    return this->Locator;
  }
  this->Locator->BuildLocator();
  this->LocatorBuilt = true;
  // The index holds only for the grid the locator has.
  const int level = LocatorBuiltLevel(this->Locator);
  if (this->Fast && (level < 0 || (1 << level) != this->Shape.divisions))
  {
    this->Fast = false;
    this->PlanFailed = true;
  }
  return this->Locator;
}

bool SurfaceLocator::AnswersHold()
{
  const bool held = !this->PlanFailed;
  this->PlanFailed = false;
  return held;
}

bool SurfaceLocator::Build(int level)
{
#if VTK_MAJOR_VERSION != 9 || VTK_MINOR_VERSION != 1
  // The search order repeated here is VTK 9.1's.
  return false;
#else
  vtkPolyData* surface = this->Surface;
  const vtkIdType count = surface->GetNumberOfCells();
  if (count < 1 || count > std::numeric_limits<int32_t>::max() / 2 || this->Locator->GetLazyEvaluation() ||
    surface->GetNumberOfVerts() + surface->GetNumberOfLines() + surface->GetNumberOfStrips() > 0 || level < 0 ||
    level > 8)
  {
    return false;
  }
  this->Shape = LocatorShape(surface, level);
  for (int i = 0; i < 6; ++i)
  {
    this->Reach = std::max(this->Reach, std::fabs(this->Shape.bounds[i]));
  }

  vtkPoints* points = surface->GetPoints();
  const size_t cells = static_cast<size_t>(count);
  std::vector<double> corners(9 * cells);
  std::vector<double> normals(3 * cells);
  std::vector<float> centers(3 * cells);
  std::vector<CellKind> kinds(cells);
  this->Built.Octants.resize(6 * cells);
  double weights[3];
  // Single-precision points are read in place.
  vtkFloatArray* floatArray = vtkFloatArray::FastDownCast(points->GetData());
  const float* floats =
    floatArray && floatArray->GetNumberOfComponents() == 3 ? floatArray->GetPointer(0) : nullptr;
  for (vtkIdType c = 0; c < count; ++c)
  {
    vtkIdType size;
    const vtkIdType* ids;
    surface->GetCellPoints(c, size, ids);
    if (size != 3 || surface->GetCellType(c) != VTK_TRIANGLE)
    {
      return false;
    }
    double* corner = &corners[9 * c];
    for (int v = 0; v < 3; ++v)
    {
      if (floats)
      {
        const float* p = floats + 3 * ids[v];
        corner[3 * v] = p[0];
        corner[3 * v + 1] = p[1];
        corner[3 * v + 2] = p[2];
        continue;
      }
      points->GetPoint(ids[v], corner + 3 * v);
    }
    // The cell's bounds, as the locator takes them.
    double bounds[6];
    for (int i = 0; i < 3; ++i)
    {
      bounds[2 * i] = std::min({ corner[i], corner[3 + i], corner[6 + i] });
      bounds[2 * i + 1] = std::max({ corner[i], corner[3 + i], corner[6 + i] });
      if (!std::isfinite(bounds[2 * i]) || !std::isfinite(bounds[2 * i + 1]))
      {
        return false;
      }
      centers[3 * c + i] = static_cast<float>(0.5 * (bounds[2 * i] + bounds[2 * i + 1]));
    }
    int first[3];
    int last[3];
    LocatorCellOctants(this->Shape, bounds, first, last);
    for (int i = 0; i < 3; ++i)
    {
      if (first[i] > last[i] || last[i] < 0 || first[i] >= this->Shape.divisions)
      {
        return false;
      }
      this->Built.Octants[6 * c + i] = static_cast<uint8_t>(first[i]);
      this->Built.Octants[6 * c + 3 + i] = static_cast<uint8_t>(last[i]);
    }
    // The shape: twice the area against the longest edge squared.
    const double* a = corner;
    const double* b = corner + 3;
    const double* cc = corner + 6;
    const double u[3] = { b[0] - a[0], b[1] - a[1], b[2] - a[2] };
    const double w[3] = { cc[0] - a[0], cc[1] - a[1], cc[2] - a[2] };
    const double n[3] = { u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0] };
    const double longest = std::max({ Square(u[0]) + Square(u[1]) + Square(u[2]),
      Square(w[0]) + Square(w[1]) + Square(w[2]), Square(cc[0] - b[0]) + Square(cc[1] - b[1]) + Square(cc[2] - b[2]) });
    const double area2 = std::sqrt(Square(n[0]) + Square(n[1]) + Square(n[2]));
    std::copy(n, n + 3, &normals[3 * c]);
    kinds[c] = Good;
    if (!(area2 >= kThin * longest) || longest == 0.0)
    {
      // VTK's closest-point test of a triangle flat in its own projection
      // reports it unusable, and the locator then never takes it.
      surface->GetCell(c, this->Cell);
      double closest[3];
      double pcoords[3];
      double dist2;
      int subId;
      kinds[c] = this->Cell->EvaluatePosition(a, closest, subId, pcoords, dist2, weights) == -1 ? Flat : Thin;
    }
  }
  // The octants that list a cell the closest-point search can take.
  const int divisions = this->Shape.divisions;
  this->Built.Usable.assign(static_cast<size_t>(divisions) * divisions * divisions, 0);
  for (size_t c = 0; c < cells; ++c)
  {
    if (kinds[c] == Flat)
    {
      continue;
    }
    const uint8_t* o = &this->Built.Octants[6 * c];
    for (int k = o[2]; k <= o[5]; ++k)
    {
      for (int j = o[1]; j <= o[4]; ++j)
      {
        for (int i = o[0]; i <= o[3]; ++i)
        {
          this->Built.Usable[i + j * divisions + static_cast<size_t>(k) * divisions * divisions] = 1;
        }
      }
    }
  }
  BuildData build;
  build.order.resize(cells);
  for (size_t c = 0; c < cells; ++c)
  {
    build.order[c] = static_cast<int32_t>(c);
  }
  build.centers.swap(centers);
  build.corners.swap(corners);
  build.normals.swap(normals);
  this->Nodes.clear();
  this->Nodes.reserve(cells / 2 + 1);
  this->BuildNode(0, static_cast<int>(count), build);
  this->Built.Wides.clear();
  this->Built.Wides.reserve(this->Nodes.size() / 3 + 1);
  this->BuildWide(0);
  this->Nodes.clear();
  this->Nodes.shrink_to_fit();
  const std::vector<int32_t>& order = build.order;
  corners.swap(build.corners);
  // The cells in the order the leaves hold them.
  this->Built.Cells.resize(cells);
  this->Built.Position.resize(cells);
  double largest = 0.0;
  for (size_t k = 0; k < cells; ++k)
  {
    const size_t c = static_cast<size_t>(order[k]);
    LeafCell& leafCell = this->Built.Cells[k];
    for (int v = 0; v < 9; ++v)
    {
      leafCell.corner[v] = static_cast<float>(corners[9 * c + v]);
      largest = std::max(largest, std::fabs(corners[9 * c + v]));
    }
    leafCell.cell = static_cast<int32_t>(c);
    leafCell.kind = kinds[c];
    this->Built.Position[c] = static_cast<int32_t>(k);
  }
  // Corners of double precision are held rounded: each coordinate within
  // half a unit of its last place.
  this->CornerError = points->GetDataType() == VTK_FLOAT ? 0.0 : largest * 0x1.0p-23;
  return true;
#endif
}

void SurfaceLocator::CellBounds(vtkIdType cell, double bounds[6]) const
{
  double corner[9];
  if (this->CornerError == 0.0)
  {
    const float* held = this->Built.Cells[static_cast<size_t>(this->Built.Position[cell])].corner;
    std::copy(held, held + 9, corner);
  }
  else
  {
    vtkIdType size;
    const vtkIdType* ids;
    this->Surface->GetCellPoints(cell, size, ids);
    for (int v = 0; v < 3; ++v)
    {
      this->Surface->GetPoints()->GetPoint(ids[v], corner + 3 * v);
    }
  }
  for (int i = 0; i < 3; ++i)
  {
    bounds[2 * i] = std::min({ corner[i], corner[3 + i], corner[6 + i] });
    bounds[2 * i + 1] = std::max({ corner[i], corner[3 + i], corner[6 + i] });
  }
}

int SurfaceLocator::BuildNode(int start, int count, BuildData& build)
{
  const int index = static_cast<int>(this->Nodes.size());
  this->Nodes.push_back(Node());
  build.sums.resize(4 * this->Nodes.size(), 0.0);
  std::vector<int32_t>& order = build.order;
  if (count <= kLeafSize)
  {
    double n[3] = { 0, 0, 0 };
    double total = 0.0;
    for (int k = start; k < start + count; ++k)
    {
      const double* normal = &build.normals[3 * static_cast<size_t>(order[k])];
      for (int i = 0; i < 3; ++i)
      {
        n[i] += normal[i];
      }
      total += std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
    }
    Node& leaf = this->Nodes[index];
    NodeAxes(n, total, leaf.axis);
    for (int i = 0; i < 3; ++i)
    {
      const double a[3] = { leaf.axis[3 * i], leaf.axis[3 * i + 1], leaf.axis[3 * i + 2] };
      double low = kHuge;
      double high = -kHuge;
      for (int k = start; k < start + count; ++k)
      {
        const double* corner = &build.corners[9 * static_cast<size_t>(order[k])];
        for (int v = 0; v < 3; ++v)
        {
          const double s = a[0] * corner[3 * v] + a[1] * corner[3 * v + 1] + a[2] * corner[3 * v + 2];
          low = std::min(low, s);
          high = std::max(high, s);
        }
      }
      StoreRange(low, high, &leaf.low[i], &leaf.high[i]);
    }
    leaf.next = start;
    leaf.count = count;
    double* sum = &build.sums[4 * static_cast<size_t>(index)];
    std::copy(n, n + 3, sum);
    sum[3] = total;
    return index;
  }
  float spread[6] = { 3e38f, -3e38f, 3e38f, -3e38f, 3e38f, -3e38f };
  for (int k = start; k < start + count; ++k)
  {
    const float* center = &build.centers[3 * static_cast<size_t>(order[k])];
    for (int i = 0; i < 3; ++i)
    {
      spread[2 * i] = std::min(spread[2 * i], center[i]);
      spread[2 * i + 1] = std::max(spread[2 * i + 1], center[i]);
    }
  }
  int axis = 0;
  for (int i = 1; i < 3; ++i)
  {
    if (spread[2 * i + 1] - spread[2 * i] > spread[2 * axis + 1] - spread[2 * axis])
    {
      axis = i;
    }
  }
  // The median along that axis, the cells' centres beside their ids.
  const int half = count / 2;
  std::vector<std::pair<float, int32_t>>& keys = build.keys;
  keys.resize(static_cast<size_t>(count));
  for (int k = 0; k < count; ++k)
  {
    const int32_t cell = order[start + k];
    keys[k] = { build.centers[3 * static_cast<size_t>(cell) + axis], cell };
  }
  std::nth_element(keys.begin(), keys.begin() + half, keys.end());
  for (int k = 0; k < count; ++k)
  {
    order[start + k] = keys[k].second;
  }
  const int children[2] = { this->BuildNode(start, half, build), this->BuildNode(start + half, count - half, build) };
  double* sum = &build.sums[4 * static_cast<size_t>(index)];
  for (int c = 0; c < 2; ++c)
  {
    for (int i = 0; i < 4; ++i)
    {
      sum[i] += build.sums[4 * static_cast<size_t>(children[c]) + i];
    }
  }
  Node& node = this->Nodes[index];
  NodeAxes(sum, sum[3], node.axis);
  // The range along each axis of the corners of the children's boxes.
  for (int i = 0; i < 3; ++i)
  {
    const double a[3] = { node.axis[3 * i], node.axis[3 * i + 1], node.axis[3 * i + 2] };
    double low = kHuge;
    double high = -kHuge;
    for (int c = 0; c < 2; ++c)
    {
      const Node& child = this->Nodes[children[c]];
      for (int corner = 0; corner < 8; ++corner)
      {
        double p[3] = { 0, 0, 0 };
        for (int j = 0; j < 3; ++j)
        {
          const double along = (corner >> j) & 1 ? child.high[j] : child.low[j];
          for (int k = 0; k < 3; ++k)
          {
            p[k] += along * child.axis[3 * j + k];
          }
        }
        const double s = a[0] * p[0] + a[1] * p[1] + a[2] * p[2];
        low = std::min(low, s);
        high = std::max(high, s);
      }
    }
    StoreRange(low, high, &node.low[i], &node.high[i]);
  }
  node.next = children[1];
  node.count = 0;
  return index;
}

int SurfaceLocator::BuildWide(int node)
{
  // The boxes under this node: its children's children, or its children
  // where those are leaves (a leaf root stands alone).
  int slots[4];
  int count = 0;
  const Node& top = this->Nodes[node];
  if (top.count > 0)
  {
    slots[count++] = node;
  }
  else
  {
    for (const int child : { node + 1, top.next })
    {
      const Node& below = this->Nodes[child];
      if (below.count > 0)
      {
        slots[count++] = child;
      }
      else
      {
        slots[count++] = child + 1;
        slots[count++] = below.next;
      }
    }
  }
  const int index = static_cast<int>(this->Built.Wides.size());
  this->Built.Wides.push_back(Wide());
  int32_t children[4] = { 0, 0, 0, 0 };
  for (int c = 0; c < 4; ++c)
  {
    if (c >= count)
    {
      children[c] = ~0;
      continue;
    }
    const Node& box = this->Nodes[slots[c]];
    children[c] = box.count > 0 ? ~(box.next * 16 + box.count) : this->BuildWide(slots[c]);
  }
  Wide& wide = this->Built.Wides[index];
  for (int c = 0; c < 4; ++c)
  {
    wide.child[c] = children[c];
    for (int i = 0; i < 3; ++i)
    {
      for (int k = 0; k < 3; ++k)
      {
        wide.axis[i][k][c] = c < count ? this->Nodes[slots[c]].axis[3 * i + k] : (i == k ? 1.0f : 0.0f);
      }
      wide.low[i][c] = c < count ? this->Nodes[slots[c]].low[i] : std::numeric_limits<float>::infinity();
      wide.high[i][c] = c < count ? this->Nodes[slots[c]].high[i] : -std::numeric_limits<float>::infinity();
    }
  }
  return index;
}

// The squared distances from x to the four boxes, each no more than the
// true one: the ranges are widened by `slack` for the rounding of x and of
// the products to single precision. Infinite for an empty slot.
void SurfaceLocator::Distance2ToWide(const double x[3], const Wide& wide, double slack, double d[4]) const
{
#if defined(__SSE2__)
  const __m128 x0 = _mm_set1_ps(static_cast<float>(x[0]));
  const __m128 x1 = _mm_set1_ps(static_cast<float>(x[1]));
  const __m128 x2 = _mm_set1_ps(static_cast<float>(x[2]));
  const __m128 widen = _mm_set1_ps(static_cast<float>(slack));
  const __m128 zero = _mm_setzero_ps();
  __m128 sum = zero;
  for (int i = 0; i < 3; ++i)
  {
    const __m128 s = _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_load_ps(wide.axis[i][0]), x0),
                                  _mm_mul_ps(_mm_load_ps(wide.axis[i][1]), x1)),
      _mm_mul_ps(_mm_load_ps(wide.axis[i][2]), x2));
    const __m128 below = _mm_sub_ps(_mm_sub_ps(_mm_load_ps(wide.low[i]), widen), s);
    const __m128 above = _mm_sub_ps(s, _mm_add_ps(_mm_load_ps(wide.high[i]), widen));
    const __m128 gap = _mm_max_ps(_mm_max_ps(below, above), zero);
    sum = _mm_add_ps(sum, _mm_mul_ps(gap, gap));
  }
  alignas(16) float out[4];
  _mm_store_ps(out, sum);
  for (int c = 0; c < 4; ++c)
  {
    d[c] = static_cast<double>(out[c]) * (1.0 - 1.0e-5);
  }
#else
  for (int c = 0; c < 4; ++c)
  {
    double sum = 0.0;
    for (int i = 0; i < 3; ++i)
    {
      const double s = wide.axis[i][0][c] * x[0] + wide.axis[i][1][c] * x[1] + wide.axis[i][2][c] * x[2];
      const double low = wide.low[i][c] - slack;
      const double high = wide.high[i][c] + slack;
      const double gap = s < low ? low - s : (s > high ? s - high : 0.0);
      sum += gap * gap;
    }
    d[c] = sum * (1.0 - 1.0e-5);
  }
#endif
}

void SurfaceLocator::Prefetch(int32_t child) const
{
#if defined(__SSE2__)
  // What a box holds is fetched while other work goes on: a wide node, or a
  // leaf's cells.
  const char* data = child >= 0 ? reinterpret_cast<const char*>(&this->Built.Wides[child])
                                : reinterpret_cast<const char*>(&this->Built.Cells[(~child) >> 4]);
  const int lines = child >= 0 ? 5 : 6;
  for (int line = 0; line < lines; ++line)
  {
    _mm_prefetch(data + 64 * line, _MM_HINT_T0);
  }
#else
  (void)child;
#endif
}

void SurfaceLocator::LoadTriangle(vtkIdType cell)
{
  // The cell's corners as GetCell gives them: the surface's points, in
  // double precision.
  vtkPoints* corners = this->Triangle->GetPoints();
  if (this->CornerError == 0.0)
  {
    const float* held = this->Built.Cells[static_cast<size_t>(this->Built.Position[cell])].corner;
    for (int v = 0; v < 3; ++v)
    {
      corners->SetPoint(v, held[3 * v], held[3 * v + 1], held[3 * v + 2]);
    }
    return;
  }
  vtkIdType size;
  const vtkIdType* ids;
  this->Surface->GetCellPoints(cell, size, ids);
  for (int v = 0; v < 3; ++v)
  {
    corners->SetPoint(v, this->Surface->GetPoint(ids[v]));
  }
}

bool SurfaceLocator::Listed(vtkIdType cell, int i, int j, int k) const
{
  const uint8_t* o = &this->Built.Octants[6 * cell];
  return o[0] <= i && i <= o[3] && o[1] <= j && j <= o[4] && o[2] <= k && k <= o[5];
}

// The cells whose squared distance from x may be within the margin of the
// least: every cell not returned is farther than the least by more than half
// the margin, by VTK's figures as well as by those here. False when a thin
// triangle might be as near.
bool SurfaceLocator::ClosestCandidates(const double x[3], std::vector<Candidate>& found)
{
  const double reach = std::max({ this->Reach, std::fabs(x[0]), std::fabs(x[1]), std::fabs(x[2]) });
  const double scale = reach * reach;
  // The margin: far wider than the rounding of either figure, and than the
  // rounding of the corners held.
  const double error = 2.0 * this->CornerError;
  auto limit = [scale, error](double best) {
    return best + 1.0e-10 * (scale + best) + 2.0 * error * (2.0 * std::sqrt(best) + error);
  };
  double best = kHuge;
  double bound = kHuge; // limit(best)
  double thinNearest = kHuge;
  found.clear();
  // The cell of the last answer first: the points of a curve follow each
  // other, and a near cell found first keeps the search narrow.
  const int seed = this->Seed;
  if (seed >= 0)
  {
    const LeafCell& leafCell = this->Built.Cells[static_cast<size_t>(seed)];
    double corner[9];
    std::copy(leafCell.corner, leafCell.corner + 9, corner);
    best = PointTriangleDistance2(x, corner, corner + 3, corner + 6);
    bound = limit(best);
    found.push_back({ leafCell.cell, best, { 0, 0, 0 }, 0 });
  }
  auto visitLeaf = [&](int start, int count) {
    for (int k = start; k < start + count; ++k)
    {
      if (k == seed)
      {
        continue;
      }
      const LeafCell& leafCell = this->Built.Cells[static_cast<size_t>(k)];
      const vtkIdType cell = leafCell.cell;
      if (leafCell.kind == Flat)
      {
        continue;
      }
      double corner[9];
      std::copy(leafCell.corner, leafCell.corner + 9, corner);
      if (leafCell.kind == Thin)
      {
        // VTK's figure for a thin triangle may fall short of its true
        // distance, but not by more than a few times its size.
        double bounds[6];
        this->CellBounds(cell, bounds);
        const double size =
          std::max({ bounds[1] - bounds[0], bounds[3] - bounds[2], bounds[5] - bounds[4] }) * 3.0 + 1.0e-6 + error;
        const double lower = std::max(0.0, std::sqrt(Distance2ToBounds(x, bounds)) - size);
        thinNearest = std::min(thinNearest, lower * lower);
        continue;
      }
      const double d2 = PointTriangleDistance2(x, corner, corner + 3, corner + 6);
      if (d2 < best)
      {
        best = d2;
        bound = limit(best);
      }
      if (d2 <= bound)
      {
        found.push_back({ cell, d2, { 0, 0, 0 }, 0 });
      }
    }
  };
  // Boxes by increasing distance: the search ends when the nearest box
  // left is beyond the margin of the best cell. The boxes are measured in
  // single precision, with a slack for its rounding.
  const double slack = 1.0e-6 * reach;
  // A binary heap, the nearest box at its top.
  std::vector<Entry>& heap = this->Stack;
  heap.clear();
  heap.push_back({ 0, 0.0 });
  auto push = [&heap](const Entry& entry) {
    size_t at = heap.size();
    heap.push_back(entry);
    while (at > 0)
    {
      const size_t parent = (at - 1) / 2;
      if (!(heap[parent].distance2 > entry.distance2))
      {
        break;
      }
      heap[at] = heap[parent];
      at = parent;
    }
    heap[at] = entry;
  };
  while (!heap.empty())
  {
    const Entry entry = heap.front();
    const Entry last = heap.back();
    heap.pop_back();
    if (!heap.empty())
    {
      const size_t size = heap.size();
      size_t at = 0;
      for (;;)
      {
        size_t child = 2 * at + 1;
        if (child >= size)
        {
          break;
        }
        if (child + 1 < size && heap[child + 1].distance2 < heap[child].distance2)
        {
          ++child;
        }
        if (!(heap[child].distance2 < last.distance2))
        {
          break;
        }
        heap[at] = heap[child];
        at = child;
      }
      heap[at] = last;
    }
    if (entry.distance2 > bound)
    {
      break;
    }
    if (entry.node < 0)
    {
      const int code = ~entry.node;
      visitLeaf(code >> 4, code & 15);
      continue;
    }
    const Wide& wide = this->Built.Wides[entry.node];
    double d[4];
    this->Distance2ToWide(x, wide, slack, d);
    for (int c = 0; c < 4; ++c)
    {
      if (d[c] <= bound)
      {
        push({ wide.child[c], d[c] });
        this->Prefetch(wide.child[c]);
      }
    }
  }
  if (best == kHuge || thinNearest <= bound)
  {
    return false;
  }
  found.erase(
    std::remove_if(found.begin(), found.end(), [bound](const Candidate& c) { return c.distance2 > bound; }),
    found.end());
  // What every cell left out is surely farther than, by VTK's figures too.
  found.push_back({ -1, best + 0.5 * (bound - best), { 0, 0, 0 }, 0 });
  return true;
}

bool SurfaceLocator::SettleClosest(
  const double x[3], double closestPoint[3], vtkIdType& cellId, int& subId, double& dist2)
{
  if (!this->Fast || !WithinIndexReach(this->Shape, x, 0.0))
  {
    return false;
  }
  std::vector<Candidate>& found = this->Candidates;
  if (!this->ClosestCandidates(x, found))
  {
    return false;
  }
  const double farther = found.back().distance2;
  found.pop_back();

  // VTK's own figures for the candidates: the least, how many share it, and
  // the next.
  double least = kHuge;
  double next = farther;
  int ties = 0;
  vtkIdType winner = -1;
  double winnerPoint[3] = { 0, 0, 0 };
  int winnerSub = 0;
  for (Candidate& candidate : found)
  {
    this->LoadTriangle(candidate.cell);
    double point[3];
    double pcoords[3];
    double weights[3];
    double d2 = 0;
    int sub = 0;
    if (this->Triangle->EvaluatePosition(x, point, sub, pcoords, d2, weights) == -1)
    {
      return false;
    }
    candidate.distance2 = d2;
    std::copy(point, point + 3, candidate.point);
    candidate.subId = sub;
    if (d2 < least)
    {
      next = std::min(next, least);
      least = d2;
      ties = 1;
      winner = candidate.cell;
      std::copy(point, point + 3, winnerPoint);
      winnerSub = sub;
    }
    else if (d2 == least)
    {
      ++ties;
      if (candidate.cell < winner)
      {
        winner = candidate.cell;
        std::copy(point, point + 3, winnerPoint);
        winnerSub = sub;
      }
    }
    else
    {
      next = std::min(next, d2);
    }
  }
  if (winner < 0 || !(least < farther))
  {
    return false;
  }
  const LocatorGridShape& shape = this->Shape;
  if (ties > 1)
  {
    // Several cells share the least distance. Until the locator evaluates
    // one of them, the best it holds is no nearer than `next`: it evaluates
    // each of them when it meets it in an octant that it searches, if the
    // cell's box is nearer than that, and keeps the first; in an octant it
    // takes them by increasing id. The octants that list them are gone
    // through in the locator's order: those of its first pass (the cube
    // around the point's octant, grown a layer at a time until a layer lists
    // a cell it can take), then those of its second pass (within the
    // distance of its best so far, at least `next`) by increasing k, j, i.
    // An octant the locator surely searches ends the list; one it may search
    // or not adds its answer as a possibility. Settled when there is one.
    for (const Candidate& candidate : found)
    {
      double bounds[6];
      this->CellBounds(candidate.cell, bounds);
      if (candidate.distance2 == least && !(Distance2ToBounds(x, bounds) < next))
      {
        return false;
      }
    }
    const int divisions = shape.divisions;
    const Candidate* answer = nullptr;
    bool sure = false;
    // Whether the octant lists one of them: its answer, and whether the
    // locator searches it as soon as it is met.
    auto consider = [&](int i, int j, int k, bool met) {
      const Candidate* first = nullptr;
      for (const Candidate& candidate : found)
      {
        if (candidate.distance2 == least && this->Listed(candidate.cell, i, j, k) &&
          (!first || candidate.cell < first->cell))
        {
          first = &candidate;
        }
      }
      if (!first)
      {
        return true;
      }
      if (answer && answer->cell != first->cell)
      {
        return false; // two possible answers
      }
      answer = first;
      double octant[6];
      const int index[3] = { i, j, k };
      for (int axis = 0; axis < 3; ++axis)
      {
        octant[2 * axis] = index[axis] * shape.width[axis] + shape.bounds[2 * axis];
        octant[2 * axis + 1] = (index[axis] + 1) * shape.width[axis] + shape.bounds[2 * axis];
      }
      sure = met && Distance2ToBounds(x, octant) < next;
      return true;
    };
    int ijk[3];
    for (int j = 0; j < 3; ++j)
    {
      ijk[j] = static_cast<int>((x[j] - shape.bounds[2 * j]) / shape.width[j]);
      ijk[j] = std::min(std::max(ijk[j], 0), divisions - 1);
    }
    const int kMaxLevel = 8;
    bool layerTakes = false;
    int level = 0;
    for (; level <= kMaxLevel && !layerTakes && !sure; ++level)
    {
      int low[3];
      int high[3];
      for (int i = 0; i < 3; ++i)
      {
        low[i] = std::max(ijk[i] - level, 0);
        high[i] = std::min(ijk[i] + level, divisions - 1);
      }
      for (int k = low[2]; k <= high[2] && !sure; ++k)
      {
        for (int j = low[1]; j <= high[1] && !sure; ++j)
        {
          for (int i = low[0]; i <= high[0] && !sure; ++i)
          {
            if (!(i == ijk[0] + level || i == ijk[0] - level || j == ijk[1] + level || j == ijk[1] - level ||
                  k == ijk[2] + level || k == ijk[2] - level))
            {
              continue;
            }
            layerTakes = layerTakes || this->Built.Usable[i + j * divisions + k * divisions * divisions];
            if (!consider(i, j, k, true))
            {
              return false;
            }
          }
        }
      }
    }
    if (!sure)
    {
      if (!layerTakes)
      {
        return false;
      }
      // The second pass: the octants that list one of them, by increasing
      // k, j, i.
      const int cube = level - 1;
      int reachLow[3];
      int reachHigh[3];
      const double reach = std::sqrt(next);
      for (int i = 0; i < 3; ++i)
      {
        int low = static_cast<int>(static_cast<double>(((x[i] - reach) - shape.bounds[2 * i]) / shape.width[i]));
        int high = static_cast<int>(static_cast<double>(((x[i] + reach) - shape.bounds[2 * i]) / shape.width[i]));
        reachLow[i] = low < 0 ? 0 : (low >= divisions ? divisions - 1 : low);
        reachHigh[i] = high >= divisions ? divisions - 1 : (high < 0 ? 0 : high);
      }
      std::vector<std::array<int, 3>>& octants = this->Octs;
      octants.clear();
      for (const Candidate& candidate : found)
      {
        if (candidate.distance2 != least)
        {
          continue;
        }
        const uint8_t* o = &this->Built.Octants[6 * candidate.cell];
        for (int k = o[2]; k <= o[5]; ++k)
        {
          for (int j = o[1]; j <= o[4]; ++j)
          {
            for (int i = o[0]; i <= o[3]; ++i)
            {
              octants.push_back({ k, j, i });
            }
          }
        }
      }
      std::sort(octants.begin(), octants.end());
      octants.erase(std::unique(octants.begin(), octants.end()), octants.end());
      for (const std::array<int, 3>& o : octants)
      {
        // Surely searched within the reach of `next` outside the cube;
        // perhaps beyond it, and perhaps again inside the cube (when the
        // second pass's range starts inside the cube's, it does not skip
        // the cube).
        const bool inCube =
          std::abs(o[2] - ijk[0]) <= cube && std::abs(o[1] - ijk[1]) <= cube && std::abs(o[0] - ijk[2]) <= cube;
        const bool met = !inCube && reachLow[0] <= o[2] && o[2] <= reachHigh[0] && reachLow[1] <= o[1] &&
          o[1] <= reachHigh[1] && reachLow[2] <= o[0] && o[0] <= reachHigh[2];
        if (!consider(o[2], o[1], o[0], met))
        {
          return false;
        }
        if (sure)
        {
          break;
        }
      }
    }
    if (!sure)
    {
      return false;
    }
    winner = answer->cell;
    std::copy(answer->point, answer->point + 3, winnerPoint);
    winnerSub = answer->subId;
  }
  else
  {
    // One cell strictly nearest. Until the locator evaluates it, the best it
    // holds is no nearer than `next`; so it evaluates the cell when it meets
    // it in an octant nearer than that, if the cell's box is nearer too.
    double bounds[6];
    this->CellBounds(winner, bounds);
    if (!(Distance2ToBounds(x, bounds) < next))
    {
      return false;
    }
    // The octants the locator is sure to search: those within the least
    // distance of the point, as its second pass bounds them (or the first
    // octant, at distance 0).
    const double reach = std::sqrt(least);
    const uint8_t* o = &this->Built.Octants[6 * winner];
    int nei[3];
    for (int i = 0; i < 3; ++i)
    {
      int low = static_cast<int>(static_cast<double>(((x[i] - reach) - shape.bounds[2 * i]) / shape.width[i]));
      int high = static_cast<int>(static_cast<double>(((x[i] + reach) - shape.bounds[2 * i]) / shape.width[i]));
      low = low < 0 ? 0 : (low >= shape.divisions ? shape.divisions - 1 : low);
      high = high >= shape.divisions ? shape.divisions - 1 : (high < 0 ? 0 : high);
      low = std::max(low, static_cast<int>(o[i]));
      high = std::min(high, static_cast<int>(o[3 + i]));
      if (low > high)
      {
        return false;
      }
      // The octant of the interval nearest to the point.
      const double place = std::floor((x[i] - shape.bounds[2 * i]) / shape.width[i]);
      nei[i] = place <= low ? low : (place >= high ? high : static_cast<int>(place));
    }
    double octant[6];
    for (int i = 0; i < 3; ++i)
    {
      octant[2 * i] = nei[i] * shape.width[i] + shape.bounds[2 * i];
      octant[2 * i + 1] = (nei[i] + 1) * shape.width[i] + shape.bounds[2 * i];
    }
    if (!(Distance2ToBounds(x, octant) < next))
    {
      return false;
    }
  }
  std::copy(winnerPoint, winnerPoint + 3, closestPoint);
  this->Seed = this->Built.Position[winner];
  cellId = winner;
  subId = winnerSub;
  dist2 = least;
  return true;
}

void SurfaceLocator::FindClosestPoint(
  const double x[3], double closestPoint[3], vtkIdType& cellId, int& subId, double& dist2)
{
  if (this->SettleClosest(x, closestPoint, cellId, subId, dist2))
  {
    return;
  }
  ++this->AskedClosest;
  this->BuiltLocator()->FindClosestPoint(x, closestPoint, cellId, subId, dist2);
}

bool SurfaceLocator::SettleLine(const double a0[3], const double a1[3], double tol, double& t, double x[3],
  double pcoords[3], int& subId, vtkIdType& cellId, int& result)
{
  if (!this->Fast || !WithinIndexReach(this->Shape, a0, 0.0) || !WithinIndexReach(this->Shape, a1, 0.0) ||
    !(tol >= 0.0) || !std::isfinite(tol))
  {
    return false;
  }
  // Every cell that the segment meets as the locator tests it: its box is
  // met (without tolerance), then the cell itself.
  const double direction[3] = { a1[0] - a0[0], a1[1] - a0[1], a1[2] - a0[2] };
  const double reach =
    std::max({ this->Reach, std::fabs(a0[0]), std::fabs(a0[1]), std::fabs(a0[2]), std::fabs(a1[0]),
      std::fabs(a1[1]), std::fabs(a1[2]) });
  const double slack = 1.0e-9 * reach + 1.0e-12 + 2.0 * this->CornerError;
  const double margin = 1.0e-9 * (reach + 1.0) + 4.0 * this->CornerError;
  // The boxes are measured in single precision; and a cell is met where the
  // segment passes within the tolerance of it, outside its box (and outside
  // the boxes around it, which hold it more tightly than its bounds, across
  // which the locator's own box test is made).
  const double wideSlack = slack + 1.0e-6 * reach + tol;
  std::vector<Hit>& hits = this->Hits;
  hits.clear();
  std::vector<Entry>& stack = this->Stack;
  stack.clear();
  stack.push_back({ 0, 0.0 });
  while (!stack.empty())
  {
    const int code = stack.back().node;
    stack.pop_back();
    if (code >= 0)
    {
      const Wide& wide = this->Built.Wides[code];
      const int meets = SegmentMeetsWide(a0, direction, wide.axis, wide.low, wide.high, wideSlack);
      for (int c = 0; c < 4; ++c)
      {
        if (meets & (1 << c))
        {
          stack.push_back({ wide.child[c], 0.0 });
          this->Prefetch(wide.child[c]);
        }
      }
      continue;
    }
    const int start = (~code) >> 4;
    const int count = (~code) & 15;
    for (int k = start; k < start + count; ++k)
    {
      const LeafCell& leafCell = this->Built.Cells[static_cast<size_t>(k)];
      const vtkIdType cell = leafCell.cell;
      double corner[9];
      std::copy(leafCell.corner, leafCell.corner + 9, corner);
      if (leafCell.kind == Good && SurelyMissed(corner, a0, direction, tol, margin))
      {
        continue;
      }
      double bounds[6];
      if (this->CornerError == 0.0)
      {
        for (int i = 0; i < 3; ++i)
        {
          bounds[2 * i] = std::min({ corner[i], corner[3 + i], corner[6 + i] });
          bounds[2 * i + 1] = std::max({ corner[i], corner[3 + i], corner[6 + i] });
        }
      }
      else
      {
        this->CellBounds(cell, bounds);
      }
      double boxPoint[3];
      double boxT;
      if (!vtkBox::IntersectBox(bounds, a0, direction, boxPoint, boxT))
      {
        continue;
      }
      this->LoadTriangle(cell);
      Hit hit;
      hit.cell = cell;
      if (this->Triangle->IntersectWithLine(a0, a1, tol, hit.t, hit.x, hit.pcoords, hit.subId))
      {
        // As the locator measures it on its generic cell, which does not
        // pass this on to the triangle: vtkCell's own measure, not
        // vtkTriangle's.
        hit.pDistance = this->Triangle->vtkCell::GetParametricDistance(hit.pcoords);
        hits.push_back(hit);
      }
    }
  }
  if (hits.empty())
  {
    result = 0;
    return true;
  }

  // The walk: the first octant in which a hit lies (within the tolerance) on
  // a cell that the octant lists.
  const LocatorGridShape& shape = this->Shape;
  std::vector<size_t>& taken = this->Taken;
  taken.clear();
  WalkLocatorOctants(shape, a0, a1, [&](int i, int j, int k) {
    const double low[3] = { shape.bounds[0] + i * shape.width[0], shape.bounds[2] + j * shape.width[1],
      shape.bounds[4] + k * shape.width[2] };
    const double high[3] = { low[0] + shape.width[0], low[1] + shape.width[1], low[2] + shape.width[2] };
    for (size_t h = 0; h < hits.size(); ++h)
    {
      const double* p = hits[h].x;
      if (this->Listed(hits[h].cell, i, j, k) && low[0] - tol <= p[0] && p[0] <= high[0] + tol &&
        low[1] - tol <= p[1] && p[1] <= high[1] + tol && low[2] - tol <= p[2] && p[2] <= high[2] + tol)
      {
        taken.push_back(h);
      }
    }
    return !taken.empty();
  });
  if (taken.empty())
  {
    result = 0;
    return true;
  }
  // The choice within the octant, by increasing id.
  std::sort(taken.begin(), taken.end(), [&](size_t p, size_t q) { return hits[p].cell < hits[q].cell; });
  double maxLength = 0.0;
  for (int i = 0; i < 3; ++i)
  {
    maxLength = std::max(maxLength, shape.bounds[2 * i + 1] - shape.bounds[2 * i]);
  }
  const double deltaT = tol / maxLength;
  double tMax = kHuge;
  double minPDistance = 1.0e38;
  size_t best = taken.front();
  bool chosen = false;
  for (size_t h : taken)
  {
    if (hits[h].t < (tMax + deltaT))
    {
      const double pDistance = hits[h].pDistance;
      if (pDistance < minPDistance || (pDistance == minPDistance && hits[h].t < tMax))
      {
        tMax = hits[h].t;
        minPDistance = pDistance;
        best = h;
        chosen = true;
      }
    }
  }
  if (!chosen)
  {
    return false;
  }
  const Hit& hit = hits[best];
  t = hit.t;
  std::copy(hit.x, hit.x + 3, x);
  std::copy(hit.pcoords, hit.pcoords + 3, pcoords);
  subId = hit.subId;
  cellId = hit.cell;
  result = 1;
  return true;
}

int SurfaceLocator::IntersectWithLine(const double a0[3], const double a1[3], double tol, double& t, double x[3],
  double pcoords[3], int& subId, vtkIdType& cellId)
{
  int result = 0;
  if (this->SettleLine(a0, a1, tol, t, x, pcoords, subId, cellId, result))
  {
    return result;
  }
  ++this->AskedLine;
  return this->BuiltLocator()->IntersectWithLine(a0, a1, tol, t, x, pcoords, subId, cellId);
}
