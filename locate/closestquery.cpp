// The closest-point query of SurfaceLocator.
//
// The index finds the cells that can hold the answer (those whose distance,
// by the figures here, is within a margin of the least); VTK's own cell test
// (vtkTriangle::EvaluatePosition, on the corners as GetCell gives them)
// gives their exact figures; and the locator's search order is repeated only
// as far as it decides between them. The locator keeps the first cell, in
// the order it meets cells, whose distance is strictly the least:
// - When one cell is strictly nearest, and the locator is sure to reach it
//   while nothing it met yet could make it skip the cell (its box and an
//   octant listing it are nearer than every other cell), that cell is the
//   answer.
// - Where several cells are equally near, the octants that list them are
//   gone through in the locator's order (its first pass: the cube around the
//   point's octant, grown a layer at a time; its second pass: by increasing
//   k, j, i), and the first octant it surely searches gives the answer (the
//   least id among them that it lists), provided every octant it might
//   search before that gives the same.
// Whatever falls outside those proofs (equal distances whose order the
// locator's search leaves open, cells so thin that their figures are
// unreliable, a surface of other cells than triangles, points too far for
// the locator's integer octant indices) is asked of the locator itself.
#include "locate/surfacelocator.h"

#include "geometry/triangleclosest.h"
#include "locate/boxtests.h"

#include <algorithm>
#include <cmath>

namespace
{
const double kHuge = SurfaceIndex::kHuge;
using Entry = SurfaceIndex::Entry;

// A binary heap of boxes, the nearest at its top.
void HeapPush(std::vector<Entry>& heap, const Entry& entry)
{
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
}

Entry HeapPop(std::vector<Entry>& heap)
{
  const Entry entry = heap.front();
  const Entry last = heap.back();
  heap.pop_back();
  if (heap.empty())
  {
    return entry;
  }
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
  return entry;
}

// The bounds of leaf octant `index` of the grid, as the locator finds them.
void OctantBounds(const LocatorGridShape& shape, const int index[3], double octant[6])
{
  for (int axis = 0; axis < 3; ++axis)
  {
    octant[2 * axis] = index[axis] * shape.width[axis] + shape.bounds[2 * axis];
    octant[2 * axis + 1] = (index[axis] + 1) * shape.width[axis] + shape.bounds[2 * axis];
  }
}

// The octant indices along `axis` within `reach` of x, as the locator's
// second pass bounds them.
void ReachRange(const LocatorGridShape& shape, const double x[3], double reach, int axis, int& low, int& high)
{
  const int divisions = shape.divisions;
  low = static_cast<int>(static_cast<double>(((x[axis] - reach) - shape.bounds[2 * axis]) / shape.width[axis]));
  high = static_cast<int>(static_cast<double>(((x[axis] + reach) - shape.bounds[2 * axis]) / shape.width[axis]));
  low = low < 0 ? 0 : (low >= divisions ? divisions - 1 : low);
  high = high >= divisions ? divisions - 1 : (high < 0 ? 0 : high);
}
}

// The search for a point's candidates over the index: the least squared
// distance so far, the bound it sets (the least and its margin: far wider
// than the rounding of either figure), and the least that a thin triangle
// may be.
struct SurfaceLocator::CandidateSearch
{
  const SurfaceIndex& index;
  const double* x;
  double scale;
  std::vector<Candidate>& found;
  vtkIdType seed;
  double best = kHuge;
  double bound = kHuge; // Limit(best)
  double thinNearest = kHuge;

  double Limit(double least) const { return least + 1.0e-10 * (scale + least); }

  // The cell of the last answer first: the points of a curve follow each
  // other, and a near cell found first keeps the search narrow.
  void StartFromSeed()
  {
    if (seed < 0)
    {
      return;
    }
    double corner[9];
    index.Corners(seed, corner);
    best = PointTriangleDistance2(x, corner, corner + 3, corner + 6);
    bound = Limit(best);
    found.push_back({ seed, best, { 0, 0, 0 }, 0 });
  }

  void VisitLeaf(int start, int count)
  {
    for (int k = start; k < start + count; ++k)
    {
      const SurfaceIndex::LeafCell& leafCell = index.Cells[static_cast<size_t>(k)];
      if (leafCell.cell == seed || leafCell.kind == SurfaceIndex::Flat)
      {
        continue;
      }
      if (leafCell.kind == SurfaceIndex::Thin)
      {
        TakeThin(leafCell.cell);
        continue;
      }
      double corner[9];
      index.Corners(leafCell.cell, corner);
      const double d2 = PointTriangleDistance2(x, corner, corner + 3, corner + 6);
      if (d2 < best)
      {
        best = d2;
        bound = Limit(best);
      }
      if (d2 <= bound)
      {
        found.push_back({ leafCell.cell, d2, { 0, 0, 0 }, 0 });
      }
    }
  }

  // VTK's figure for a thin triangle may fall short of its true distance,
  // but not by more than a few times its size.
  void TakeThin(vtkIdType cell)
  {
    double bounds[6];
    index.CellBounds(cell, bounds);
    const double size =
      std::max({ bounds[1] - bounds[0], bounds[3] - bounds[2], bounds[5] - bounds[4] }) * 3.0 + 1.0e-6;
    const double lower = std::max(0.0, std::sqrt(Distance2ToBounds(x, bounds)) - size);
    thinNearest = std::min(thinNearest, lower * lower);
  }
};

// The cells whose squared distance from x may be within the margin of the
// least: every cell not returned is farther than the least by more than half
// the margin, by VTK's figures as well as by those here; after them, an entry
// of cell -1 whose distance every cell left out surely exceeds. False when a
// thin triangle might be as near.
bool SurfaceLocator::ClosestCandidates(const double x[3], std::vector<Candidate>& found)
{
  const double reach = std::max({ this->Index.Reach, std::fabs(x[0]), std::fabs(x[1]), std::fabs(x[2]) });
  found.clear();
  CandidateSearch search{ this->Index, x, reach * reach, found, this->Seed };
  search.StartFromSeed();
  // Boxes by increasing distance: the search ends when the nearest box
  // left is beyond the margin of the best cell. The boxes are measured in
  // single precision, with a slack for its rounding.
  const double slack = 1.0e-6 * reach;
  std::vector<Entry>& heap = this->Stack;
  heap.clear();
  heap.push_back({ 0, 0.0 });
  while (!heap.empty())
  {
    const Entry entry = HeapPop(heap);
    if (entry.distance2 > search.bound)
    {
      break;
    }
    if (entry.node < 0)
    {
      const int code = ~entry.node;
      search.VisitLeaf(code >> 4, code & 15);
      continue;
    }
    const SurfaceIndex::Wide& wide = this->Index.Wides[entry.node];
    double d[4];
    Distance2ToWide(x, wide, slack, d);
    for (int c = 0; c < 4; ++c)
    {
      if (d[c] <= search.bound)
      {
        HeapPush(heap, { wide.child[c], d[c] });
        PrefetchBox(this->Index, wide.child[c]);
      }
    }
  }
  const double best = search.best;
  const double bound = search.bound;
  if (best == kHuge || search.thinNearest <= bound)
  {
    return false;
  }
  found.erase(std::remove_if(found.begin(), found.end(), [bound](const Candidate& c) { return c.distance2 > bound; }),
    found.end());
  found.push_back({ -1, best + 0.5 * (bound - best), { 0, 0, 0 }, 0 });
  return true;
}

// VTK's own figures for the candidates: the least, how many share it, the
// least id among those, and the next figure (no more than `farther`).
struct SurfaceLocator::ClosestFigures
{
  double least;
  double next;
  int ties;
  vtkIdType winner;
  double winnerPoint[3];
  int winnerSub;

  void Take(const Candidate& candidate)
  {
    winner = candidate.cell;
    std::copy(candidate.point, candidate.point + 3, winnerPoint);
    winnerSub = candidate.subId;
  }
};

bool SurfaceLocator::EvaluateCandidates(const double x[3], double farther, ClosestFigures& figures)
{
  figures = { kHuge, farther, 0, -1, { 0, 0, 0 }, 0 };
  for (Candidate& candidate : this->Candidates)
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
    if (d2 < figures.least)
    {
      figures.next = std::min(figures.next, figures.least);
      figures.least = d2;
      figures.ties = 1;
      figures.Take(candidate);
    }
    else if (d2 == figures.least)
    {
      ++figures.ties;
      if (candidate.cell < figures.winner)
      {
        figures.Take(candidate);
      }
    }
    else
    {
      figures.next = std::min(figures.next, d2);
    }
  }
  return true;
}

// One cell strictly nearest. Until the locator evaluates it, the best it
// holds is no nearer than `next`; so it evaluates the cell when it meets it
// in an octant nearer than that, if the cell's box is nearer too.
bool SurfaceLocator::SurelyReached(const double x[3], const ClosestFigures& figures) const
{
  const LocatorGridShape& shape = this->Index.Shape;
  double bounds[6];
  this->Index.CellBounds(figures.winner, bounds);
  if (!(Distance2ToBounds(x, bounds) < figures.next))
  {
    return false;
  }
  // The octants the locator is sure to search: those within the least
  // distance of the point, as its second pass bounds them (or the first
  // octant, at distance 0).
  const double reach = std::sqrt(figures.least);
  int first[3];
  int last[3];
  this->Index.CellOctants(figures.winner, first, last);
  int nei[3];
  for (int i = 0; i < 3; ++i)
  {
    int low;
    int high;
    ReachRange(shape, x, reach, i, low, high);
    low = std::max(low, first[i]);
    high = std::min(high, last[i]);
    if (low > high)
    {
      return false;
    }
    // The octant of the interval nearest to the point.
    const double place = std::floor((x[i] - shape.bounds[2 * i]) / shape.width[i]);
    nei[i] = place <= low ? low : (place >= high ? high : static_cast<int>(place));
  }
  double octant[6];
  OctantBounds(shape, nei, octant);
  return Distance2ToBounds(x, octant) < figures.next;
}

// Several cells share the least distance. Until the locator evaluates one of
// them, the best it holds is no nearer than `next`: it evaluates each of them
// when it meets it in an octant that it searches, if the cell's box is nearer
// than that, and keeps the first; in an octant it takes them by increasing
// id. The octants that list them are gone through in the locator's order:
// those of its first pass (the cube around the point's octant, grown a layer
// at a time until a layer lists a cell it can take), then those of its second
// pass (within the distance of its best so far, at least `next`) by
// increasing k, j, i. An octant the locator surely searches ends the list;
// one it may search or not adds its answer as a possibility. Settled when
// there is one.
struct SurfaceLocator::TieOrder
{
  const SurfaceIndex& index;
  const double* x;
  const std::vector<Candidate>& found;
  double least;
  double next;
  const Candidate* answer = nullptr;
  bool sure = false; // the answer is the locator's

  // Whether the octant lists one of them: its answer, and whether the
  // locator searches it as soon as it is met. False when its answer is
  // another than one before.
  bool Consider(int i, int j, int k, bool met)
  {
    const Candidate* first = nullptr;
    for (const Candidate& candidate : found)
    {
      if (candidate.distance2 == least && index.Listed(candidate.cell, i, j, k) &&
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
    const int at[3] = { i, j, k };
    OctantBounds(index.Shape, at, octant);
    sure = met && Distance2ToBounds(x, octant) < next;
    return true;
  }

  // The first pass, around the point's octant ijk, a layer at a time; `level`
  // ends one past the last layer searched, `layerTakes` tells whether that
  // layer lists a cell the locator can take.
  bool FirstPass(const int ijk[3], int& level, bool& layerTakes)
  {
    const int divisions = index.Shape.divisions;
    const int kMaxLevel = 8;
    layerTakes = false;
    level = 0;
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
            layerTakes = layerTakes || index.Usable[i + j * divisions + k * divisions * divisions];
            if (!Consider(i, j, k, true))
            {
              return false;
            }
          }
        }
      }
    }
    return true;
  }

  // The second pass: the octants that list one of them, by increasing k, j,
  // i, beyond the first pass's cube of half-width `cube`.
  bool SecondPass(const int ijk[3], int cube, std::vector<std::array<int, 3>>& octants)
  {
    int reachLow[3];
    int reachHigh[3];
    const double reach = std::sqrt(next);
    for (int i = 0; i < 3; ++i)
    {
      ReachRange(index.Shape, x, reach, i, reachLow[i], reachHigh[i]);
    }
    ListedOctants(octants);
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
      if (!Consider(o[2], o[1], o[0], met))
      {
        return false;
      }
      if (sure)
      {
        break;
      }
    }
    return true;
  }

  // The octants that list one of the nearest cells, as (k, j, i) in order.
  void ListedOctants(std::vector<std::array<int, 3>>& octants) const
  {
    octants.clear();
    for (const Candidate& candidate : found)
    {
      if (candidate.distance2 != least)
      {
        continue;
      }
      int first[3];
      int last[3];
      index.CellOctants(candidate.cell, first, last);
      for (int k = first[2]; k <= last[2]; ++k)
      {
        for (int j = first[1]; j <= last[1]; ++j)
        {
          for (int i = first[0]; i <= last[0]; ++i)
          {
            octants.push_back({ k, j, i });
          }
        }
      }
    }
    std::sort(octants.begin(), octants.end());
    octants.erase(std::unique(octants.begin(), octants.end()), octants.end());
  }
};

bool SurfaceLocator::SettleTie(const double x[3], ClosestFigures& figures)
{
  for (const Candidate& candidate : this->Candidates)
  {
    double bounds[6];
    this->Index.CellBounds(candidate.cell, bounds);
    if (candidate.distance2 == figures.least && !(Distance2ToBounds(x, bounds) < figures.next))
    {
      return false;
    }
  }
  const LocatorGridShape& shape = this->Index.Shape;
  int ijk[3];
  for (int j = 0; j < 3; ++j)
  {
    ijk[j] = static_cast<int>((x[j] - shape.bounds[2 * j]) / shape.width[j]);
    ijk[j] = std::min(std::max(ijk[j], 0), shape.divisions - 1);
  }
  TieOrder order{ this->Index, x, this->Candidates, figures.least, figures.next };
  int level;
  bool layerTakes;
  if (!order.FirstPass(ijk, level, layerTakes))
  {
    return false;
  }
  if (!order.sure)
  {
    // Down to the second pass, which starts only where the first one found
    // a cell to take.
    if (!layerTakes || !order.SecondPass(ijk, level - 1, this->Octs) || !order.sure)
    {
      return false;
    }
  }
  figures.Take(*order.answer);
  return true;
}

bool SurfaceLocator::SettleClosest(
  const double x[3], double closestPoint[3], vtkIdType& cellId, int& subId, double& dist2)
{
  if (!this->IndexReady() || !WithinIndexReach(this->Index.Shape, x))
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
  ClosestFigures figures;
  if (!this->EvaluateCandidates(x, farther, figures) || figures.winner < 0 || !(figures.least < farther))
  {
    return false;
  }
  if (figures.ties > 1 ? !this->SettleTie(x, figures) : !this->SurelyReached(x, figures))
  {
    return false;
  }
  std::copy(figures.winnerPoint, figures.winnerPoint + 3, closestPoint);
  this->Seed = figures.winner;
  cellId = figures.winner;
  subId = figures.winnerSub;
  dist2 = figures.least;
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
