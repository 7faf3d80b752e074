// The index build: the cells read and sorted out, then a binary tree of
// oriented boxes split at the median of the cells' centres, whose nodes are
// then regrouped four at a time (a node's grandchildren side by side) for
// the searches to measure four boxes at once.
//
// Each box is oriented to its cells: its first axis is their mean normal
// where their normals agree well enough, so that the boxes of a curved
// surface stay thin. Its ranges are computed in double precision and stored
// as floats widened past their rounding, so that a box always holds its
// cells. The octant ranges per cell are those the locator lists the cell in,
// on the grid it plans; a cell's kind tells whether the closest-point figures
// here are reliable for it (Good), whether VTK's own test rejects it as flat
// (Flat: the locator never takes it), or whether it is left to the locator
// (Thin).
#include "locate/surfaceindex.h"

#include "geometry/vector.h"

#include <vtkCellType.h>
#include <vtkGenericCell.h>
#include <vtkSmartPointer.h>
#include <vtkVersionMacros.h>

#include <cmath>
#include <limits>
#include <utility>

namespace
{
const double kHuge = SurfaceIndex::kHuge;
const int kLeafSize = 12; // at most 15: a leaf's count takes four bits
// A triangle whose area is below this share of its longest edge squared is
// too thin for the closest-point figures here.
const double kThin = 1.0e-3;

// Axes for a box around cells whose normals sum to n (their lengths to
// `total`): the mean normal and two across it when the normals agree well
// enough, the coordinate axes otherwise; as floats.
void NodeAxes(const double n[3], double total, float axis[9])
{
  const double length = Norm(n);
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
  const double along = Dot(v, u);
  for (int i = 0; i < 3; ++i)
  {
    v[i] -= along * u[i];
  }
  const double vLength = Norm(v);
  for (int i = 0; i < 3; ++i)
  {
    v[i] /= vLength;
  }
  double w[3];
  Cross(u, v, w);
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

// A triangle's normal, (B - A) x (C - A), and the edges beside A.
void TriangleNormal(const double corner[9], double u[3], double w[3], double n[3])
{
  Subtract(corner + 3, corner, u);
  Subtract(corner + 6, corner, w);
  Cross(u, w, n);
}

// A node's box, oriented to its cells: three (nearly) orthonormal axes and
// the range of the cells along each, widened for rounding.
struct Node
{
  float axis[9];
  float low[3];
  float high[3];
  int32_t next;  // a leaf: its first cell in the order; an inner node: its
                 // second child (the first follows it)
  int32_t count; // a leaf: its number of cells (0 for an inner node)
};

// Makes one index: reads the cells, builds the binary tree over them and
// the wide nodes from it, and stores the cells in the leaves' order.
class IndexBuilder
{
public:
  IndexBuilder(SurfaceIndex& index, vtkPolyData* surface)
    : Index(index)
    , Surface(surface)
    , Count(static_cast<size_t>(surface->GetNumberOfCells()))
    , Cell(vtkSmartPointer<vtkGenericCell>::New())
  {
  }

  bool ReadCells();
  void BuildTree();
  void StoreLeafCells();

private:
  bool PlaceCell(vtkIdType c, const double corner[9]);
  void SortCell(vtkIdType c, const double corner[9]);
  int BuildNode(int start, int count);
  void MakeLeaf(int index, int start, int count);
  int SplitAxis(int start, int count) const;
  void OrderByMedian(int start, int count, int axis);
  void MakeInner(int index, const int children[2]);
  int BuildWide(int node);
  int WideSlots(int node, int slots[4]) const;

  SurfaceIndex& Index;
  vtkPolyData* Surface;
  const size_t Count;
  vtkSmartPointer<vtkGenericCell> Cell; // scratch for sorting the cells out
  std::vector<float> Centers;           // 3 per cell
  std::vector<SurfaceIndex::CellKind> Kinds;
  std::vector<int32_t> Order;                  // the cells in the order the leaves hold them
  std::vector<double> Sums;                    // 4 per node: its cells' normals summed, and their lengths summed
  std::vector<std::pair<float, int32_t>> Keys; // scratch for the splits
  std::vector<Node> Nodes;
};

bool IndexBuilder::ReadCells()
{
  this->Centers.resize(3 * this->Count);
  this->Kinds.resize(this->Count);
  const int divisions = this->Index.Shape.divisions;
  this->Index.Usable.assign(static_cast<size_t>(divisions) * divisions * divisions, 0);
  const vtkIdType count = static_cast<vtkIdType>(this->Count);
  for (vtkIdType c = 0; c < count; ++c)
  {
    vtkIdType size;
    const vtkIdType* ids;
    this->Surface->GetCellPoints(c, size, ids);
    if (size != 3 || this->Surface->GetCellType(c) != VTK_TRIANGLE)
    {
      return false;
    }
    double corner[9];
    this->Index.Corners(c, corner);
    this->SortCell(c, corner);
    if (!this->PlaceCell(c, corner))
    {
      return false;
    }
  }
  return true;
}

// The cell's centre, and the octants that list it marked usable unless the
// closest-point search never takes it; false where its bounds are not
// finite or fall outside the grid.
bool IndexBuilder::PlaceCell(vtkIdType c, const double corner[9])
{
  double bounds[6];
  TriangleBounds(corner, bounds);
  for (int i = 0; i < 3; ++i)
  {
    if (!std::isfinite(bounds[2 * i]) || !std::isfinite(bounds[2 * i + 1]))
    {
      return false;
    }
    this->Centers[3 * c + i] = static_cast<float>(0.5 * (bounds[2 * i] + bounds[2 * i + 1]));
  }
  int first[3];
  int last[3];
  LocatorCellOctants(this->Index.Shape, bounds, first, last);
  for (int i = 0; i < 3; ++i)
  {
    if (first[i] > last[i] || last[i] < 0 || first[i] >= this->Index.Shape.divisions)
    {
      return false;
    }
  }
  if (this->Kinds[c] == SurfaceIndex::Flat)
  {
    return true;
  }
  const size_t divisions = static_cast<size_t>(this->Index.Shape.divisions);
  for (int k = first[2]; k <= last[2]; ++k)
  {
    for (int j = first[1]; j <= last[1]; ++j)
    {
      for (int i = first[0]; i <= last[0]; ++i)
      {
        this->Index.Usable[i + j * divisions + k * divisions * divisions] = 1;
      }
    }
  }
  return true;
}

// The cell's normal and its kind, by its shape: twice the area against the
// longest edge squared.
void IndexBuilder::SortCell(vtkIdType c, const double corner[9])
{
  const double* a = corner;
  double u[3];
  double w[3];
  double n[3];
  TriangleNormal(corner, u, w, n);
  const double longest = std::max({ Norm2(u), Norm2(w), Distance2(corner + 6, corner + 3) });
  const double area2 = Norm(n);
  this->Kinds[c] = SurfaceIndex::Good;
  if (!(area2 >= kThin * longest) || longest == 0.0)
  {
    // VTK's closest-point test of a triangle flat in its own projection
    // reports it unusable, and the locator then never takes it.
    this->Surface->GetCell(c, this->Cell);
    double closest[3];
    double pcoords[3];
    double dist2;
    int subId;
    double weights[3];
    this->Kinds[c] = this->Cell->EvaluatePosition(a, closest, subId, pcoords, dist2, weights) == -1
      ? SurfaceIndex::Flat
      : SurfaceIndex::Thin;
  }
}

// The number of nodes of the tree over `count` cells.
size_t TreeNodes(size_t count)
{
  return count <= kLeafSize ? 1 : 1 + TreeNodes(count / 2) + TreeNodes(count - count / 2);
}

void IndexBuilder::BuildTree()
{
  this->Order.resize(this->Count);
  for (size_t c = 0; c < this->Count; ++c)
  {
    this->Order[c] = static_cast<int32_t>(c);
  }
  // Every array of the build is made once at its full size (the wide nodes'
  // first: memory reserved is not taken until it is written) and freed as
  // soon as it has served, so that the build holds little at once.
  const size_t nodes = TreeNodes(this->Count);
  this->Index.Wides.clear();
  this->Index.Wides.reserve(nodes / 3 + 1);
  this->Nodes.reserve(nodes);
  this->Sums.reserve(4 * nodes);
  this->BuildNode(0, static_cast<int>(this->Count));
  this->Keys = std::vector<std::pair<float, int32_t>>();
  this->Centers = std::vector<float>();
  this->BuildWide(0);
  this->Nodes = std::vector<Node>();
  this->Sums = std::vector<double>();
}

// The node of the cells Order[start] to Order[start + count - 1]: a leaf
// for a few, else split in two halves at the median of the centres along
// their widest spread.
int IndexBuilder::BuildNode(int start, int count)
{
  const int index = static_cast<int>(this->Nodes.size());
  this->Nodes.push_back(Node());
  this->Sums.resize(4 * this->Nodes.size(), 0.0);
  if (count <= kLeafSize)
  {
    this->MakeLeaf(index, start, count);
    return index;
  }
  const int half = count / 2;
  this->OrderByMedian(start, count, this->SplitAxis(start, count));
  const int children[2] = { this->BuildNode(start, half), this->BuildNode(start + half, count - half) };
  this->MakeInner(index, children);
  return index;
}

// A leaf's box: the range of its cells' corners along its axes.
void IndexBuilder::MakeLeaf(int index, int start, int count)
{
  double corners[kLeafSize][9];
  double n[3] = { 0, 0, 0 };
  double total = 0.0;
  for (int k = 0; k < count; ++k)
  {
    this->Index.Corners(this->Order[start + k], corners[k]);
    double u[3];
    double w[3];
    double normal[3];
    TriangleNormal(corners[k], u, w, normal);
    for (int i = 0; i < 3; ++i)
    {
      n[i] += normal[i];
    }
    total += Norm(normal);
  }
  Node& leaf = this->Nodes[index];
  NodeAxes(n, total, leaf.axis);
  for (int i = 0; i < 3; ++i)
  {
    const double a[3] = { leaf.axis[3 * i], leaf.axis[3 * i + 1], leaf.axis[3 * i + 2] };
    double low = kHuge;
    double high = -kHuge;
    for (int k = 0; k < count; ++k)
    {
      for (int v = 0; v < 3; ++v)
      {
        const double s = Dot(a, corners[k] + 3 * v);
        low = std::min(low, s);
        high = std::max(high, s);
      }
    }
    StoreRange(low, high, &leaf.low[i], &leaf.high[i]);
  }
  leaf.next = start;
  leaf.count = count;
  double* sum = &this->Sums[4 * static_cast<size_t>(index)];
  std::copy(n, n + 3, sum);
  sum[3] = total;
}

// The axis along which the cells' centres spread the most.
int IndexBuilder::SplitAxis(int start, int count) const
{
  float spread[6] = { 3e38f, -3e38f, 3e38f, -3e38f, 3e38f, -3e38f };
  for (int k = start; k < start + count; ++k)
  {
    const float* center = &this->Centers[3 * static_cast<size_t>(this->Order[k])];
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
  return axis;
}

// Puts the median along the axis in the middle, the cells' centres beside
// their ids.
void IndexBuilder::OrderByMedian(int start, int count, int axis)
{
  const int half = count / 2;
  std::vector<std::pair<float, int32_t>>& keys = this->Keys;
  keys.resize(static_cast<size_t>(count));
  for (int k = 0; k < count; ++k)
  {
    const int32_t cell = this->Order[start + k];
    keys[k] = { this->Centers[3 * static_cast<size_t>(cell) + axis], cell };
  }
  std::nth_element(keys.begin(), keys.begin() + half, keys.end());
  for (int k = 0; k < count; ++k)
  {
    this->Order[start + k] = keys[k].second;
  }
}

// An inner node's box: the range along its axes of the corners of its
// children's boxes.
void IndexBuilder::MakeInner(int index, const int children[2])
{
  double* sum = &this->Sums[4 * static_cast<size_t>(index)];
  for (int c = 0; c < 2; ++c)
  {
    for (int i = 0; i < 4; ++i)
    {
      sum[i] += this->Sums[4 * static_cast<size_t>(children[c]) + i];
    }
  }
  Node& node = this->Nodes[index];
  NodeAxes(sum, sum[3], node.axis);
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
        const double s = Dot(a, p);
        low = std::min(low, s);
        high = std::max(high, s);
      }
    }
    StoreRange(low, high, &node.low[i], &node.high[i]);
  }
  node.next = children[1];
  node.count = 0;
}

// The boxes under a node: its children's children, or its children where
// those are leaves (a leaf root stands alone). Returns how many.
int IndexBuilder::WideSlots(int node, int slots[4]) const
{
  int count = 0;
  const Node& top = this->Nodes[node];
  if (top.count > 0)
  {
    slots[count++] = node;
    return count;
  }
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
  return count;
}

int IndexBuilder::BuildWide(int node)
{
  int slots[4];
  const int count = this->WideSlots(node, slots);
  const int index = static_cast<int>(this->Index.Wides.size());
  this->Index.Wides.push_back(SurfaceIndex::Wide());
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
  SurfaceIndex::Wide& wide = this->Index.Wides[index];
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

// The cells in the order the leaves hold them.
void IndexBuilder::StoreLeafCells()
{
  this->Index.Cells.resize(this->Count);
  for (size_t k = 0; k < this->Count; ++k)
  {
    const size_t c = static_cast<size_t>(this->Order[k]);
    this->Index.Cells[k] = { static_cast<int32_t>(c), this->Kinds[c] };
  }
  this->Order = std::vector<int32_t>();
  this->Kinds = std::vector<SurfaceIndex::CellKind>();
}
}

bool SurfaceIndex::Build(vtkPolyData* surface, vtkCellLocator* locator)
{
#if VTK_MAJOR_VERSION != 9 || VTK_MINOR_VERSION != 1
  // The search order repeated with the index is VTK 9.1's.
  (void)surface;
  (void)locator;
  return false;
#else
  const vtkIdType count = surface->GetNumberOfCells();
  const int level = LocatorPlannedLevel(locator);
  if (count < 1 || count > std::numeric_limits<int32_t>::max() / 2 || locator->GetLazyEvaluation() ||
    surface->GetNumberOfVerts() + surface->GetNumberOfLines() + surface->GetNumberOfStrips() > 0 || level < 0 ||
    level > 8)
  {
    return false;
  }
  this->Surface = surface;
  this->Arrays = SurfaceArrays(surface);
  this->Shape = LocatorShape(surface, level);
  for (int i = 0; i < 6; ++i)
  {
    this->Reach = std::max(this->Reach, std::fabs(this->Shape.bounds[i]));
  }
  IndexBuilder builder(*this, surface);
  if (!builder.ReadCells())
  {
    return false;
  }
  builder.BuildTree();
  builder.StoreLeafCells();
  return true;
#endif
}
