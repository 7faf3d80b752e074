#include "fit/templatefit.h"

#include "fit/scanmatch.h"
#include "parallel/parallel.h"
#include "geometry/statistics.h"

#include <Eigen/IterativeLinearSolvers>
#include <Eigen/Sparse>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <unordered_map>

namespace
{
constexpr int kNeighbours = 4;     // nodes that move a point
constexpr int kParameters = 12;    // per node: the rows (A_a0, A_a1, A_a2, t_a) for a = x, y, z
constexpr int kBlock = kParameters * kParameters;
constexpr double kNormalCosine = 0.5;
constexpr double kBorderReach = 0.5; // mm: at the end, a point this near the scan's border is on the scan
constexpr double kSettled = 0.01;  // mm: a level ends when no point moves more
constexpr double kAnchorStiffness = 0.3; // below this stiffness the anchor eases off with it
constexpr double kDamping = 1e-6;  // pulls each solve toward the step before, relative to the regulariser
// A point whose match has turned from trusted to not, or back, this often in
// the graph fit is not trusted again: its match comes and goes from step to
// step (a fold where the scan goes on past the template's edge, into a neck
// or the shoulders the template does not have), and the pull it gives one
// step and takes back the next keeps the fit from settling. It follows its
// neighbours.
constexpr unsigned char kUnsteady = 3;

double Distance2(const double* a, const double* b)
{
  const double d[3] = { a[0] - b[0], a[1] - b[1], a[2] - b[2] };
  return d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
}

// The nodes: template points at least `spacing` apart, picked in a fixed
// shuffled order so that they spread evenly (a Poisson-disk pick).
std::vector<size_t> PickNodes(const TriangleSurface& templ, const std::vector<double>& areas, double spacing)
{
  std::vector<size_t> candidates;
  for (size_t i = 0; i < areas.size(); ++i)
  {
    if (areas[i] > 0)
    {
      candidates.push_back(i);
    }
  }
  std::mt19937_64 random(20240611);
  for (size_t i = candidates.size(); i > 1; --i)
  {
    std::swap(candidates[i - 1], candidates[random() % i]);
  }
  // A hash grid of cells `spacing` wide holds the nodes picked so far.
  std::unordered_map<int64_t, std::vector<size_t>> grid;
  auto cellOf = [spacing](const double* p, int k) { return static_cast<int64_t>(std::floor(p[k] / spacing)); };
  auto key = [](int64_t x, int64_t y, int64_t z) { return (x * 73856093) ^ (y * 19349663) ^ (z * 83492791); };
  std::vector<size_t> nodes;
  const double spacing2 = spacing * spacing;
  for (size_t i : candidates)
  {
    const double* p = &templ.points[3 * i];
    const int64_t c[3] = { cellOf(p, 0), cellOf(p, 1), cellOf(p, 2) };
    bool free = true;
    for (int64_t dx = -1; dx <= 1 && free; ++dx)
    {
      for (int64_t dy = -1; dy <= 1 && free; ++dy)
      {
        for (int64_t dz = -1; dz <= 1 && free; ++dz)
        {
          const auto found = grid.find(key(c[0] + dx, c[1] + dy, c[2] + dz));
          if (found == grid.end())
          {
            continue;
          }
          for (size_t n : found->second)
          {
            if (Distance2(&templ.points[3 * n], p) < spacing2)
            {
              free = false;
              break;
            }
          }
        }
      }
    }
    if (free)
    {
      nodes.push_back(i);
      grid[key(c[0], c[1], c[2])].push_back(i);
    }
  }
  std::sort(nodes.begin(), nodes.end());
  return nodes;
}

// How a point follows the nodes: its nearest nodes (ascending ids) and their weights.
struct Binding
{
  int node[kNeighbours];
  double weight[kNeighbours];
  int count = 0;
};

Binding Bind(const double* p, const std::vector<double>& nodePositions)
{
  const int nodeCount = static_cast<int>(nodePositions.size() / 3);
  // The kNeighbours + 1 nearest, by insertion into a short sorted list.
  constexpr int kList = kNeighbours + 1;
  double best[kList];
  int bestNode[kList];
  int found = 0;
  for (int n = 0; n < nodeCount; ++n)
  {
    const double d = Distance2(p, &nodePositions[3 * static_cast<size_t>(n)]);
    if (found == kList && d >= best[kList - 1])
    {
      continue;
    }
    int at = found < kList ? found++ : kList - 1;
    while (at > 0 && best[at - 1] > d)
    {
      best[at] = best[at - 1];
      bestNode[at] = bestNode[at - 1];
      --at;
    }
    best[at] = d;
    bestNode[at] = n;
  }
  Binding binding;
  binding.count = std::min(found, kNeighbours);
  const double far = found > kNeighbours ? std::sqrt(best[kNeighbours]) : 0.0;
  double sum = 0;
  for (int k = 0; k < binding.count; ++k)
  {
    const double w = far > 0 ? 1.0 - std::sqrt(best[k]) / far : 1.0;
    binding.node[k] = bestNode[k];
    binding.weight[k] = w * w;
    sum += binding.weight[k];
  }
  for (int k = 0; k < binding.count; ++k)
  {
    binding.weight[k] = sum > 0 ? binding.weight[k] / sum : 1.0 / binding.count;
  }
  // Ascending node ids, so that a pair of them names its block in one order.
  for (int a = 1; a < binding.count; ++a)
  {
    for (int b = a; b > 0 && binding.node[b - 1] > binding.node[b]; --b)
    {
      std::swap(binding.node[b - 1], binding.node[b]);
      std::swap(binding.weight[b - 1], binding.weight[b]);
    }
  }
  return binding;
}

// Where the field of the nodes' maps takes point p.
void Deformed(const double* p, const Binding& binding, const std::vector<double>& nodePositions,
  const std::vector<double>& theta, double out[3])
{
  double x[3] = { 0, 0, 0 };
  for (int k = 0; k < binding.count; ++k)
  {
    const size_t n = static_cast<size_t>(binding.node[k]);
    const double* g = &nodePositions[3 * n];
    const double* map = &theta[kParameters * n];
    const double u[3] = { p[0] - g[0], p[1] - g[1], p[2] - g[2] };
    for (int a = 0; a < 3; ++a)
    {
      const double* row = map + 4 * a;
      x[a] += binding.weight[k] * (row[0] * u[0] + row[1] * u[1] + row[2] * u[2] + row[3] + g[a]);
    }
  }
  std::copy(x, x + 3, out);
}

// The pairs of nodes that share a point, each pair's 12 x 12 block of the
// normal equations, and where its entries go in the sparse matrix (whose
// lower triangle alone is stored).
struct Pattern
{
  std::vector<std::pair<int, int>> pairs; // (k, l) with k <= l, sorted; the diagonal pairs included
  std::vector<int> positions;             // kBlock per pair: index into the matrix values, -1 above the diagonal
  Eigen::SparseMatrix<double> matrix;

  int Find(int k, int l) const
  {
    const auto at = std::lower_bound(pairs.begin(), pairs.end(), std::make_pair(k, l));
    return static_cast<int>(at - pairs.begin());
  }
};

Pattern MakePattern(int nodeCount, const std::vector<Binding>& bindings)
{
  Pattern pattern;
  for (int n = 0; n < nodeCount; ++n)
  {
    pattern.pairs.emplace_back(n, n);
  }
  for (const Binding& b : bindings)
  {
    for (int i = 0; i < b.count; ++i)
    {
      for (int j = i + 1; j < b.count; ++j)
      {
        pattern.pairs.emplace_back(b.node[i], b.node[j]);
      }
    }
  }
  std::sort(pattern.pairs.begin(), pattern.pairs.end());
  pattern.pairs.erase(std::unique(pattern.pairs.begin(), pattern.pairs.end()), pattern.pairs.end());

  // Block (k, l) entry (r, c) is the matrix entry (12 k + r, 12 l + c); its
  // mirror (12 l + c, 12 k + r) is the one stored when k < l.
  std::vector<Eigen::Triplet<double>> triplets;
  for (const auto& [k, l] : pattern.pairs)
  {
    for (int r = 0; r < kParameters; ++r)
    {
      for (int c = 0; c < kParameters; ++c)
      {
        const int row = kParameters * l + c;
        const int column = kParameters * k + r;
        if (k < l || row >= column)
        {
          triplets.emplace_back(std::max(row, column), std::min(row, column), 0.0);
        }
      }
    }
  }
  const int size = kParameters * nodeCount;
  pattern.matrix.resize(size, size);
  pattern.matrix.setFromTriplets(triplets.begin(), triplets.end());
  pattern.matrix.makeCompressed();
  const int* outer = pattern.matrix.outerIndexPtr();
  const int* inner = pattern.matrix.innerIndexPtr();
  pattern.positions.assign(pattern.pairs.size() * kBlock, -1);
  for (size_t p = 0; p < pattern.pairs.size(); ++p)
  {
    const auto [k, l] = pattern.pairs[p];
    for (int r = 0; r < kParameters; ++r)
    {
      for (int c = 0; c < kParameters; ++c)
      {
        const int row = kParameters * l + c;
        const int column = kParameters * k + r;
        if (k == l && row < column)
        {
          continue;
        }
        const int* at = std::lower_bound(inner + outer[column], inner + outer[column + 1], row);
        pattern.positions[p * kBlock + r * kParameters + c] = static_cast<int>(at - inner);
      }
    }
  }
  return pattern;
}

// The normal equations' blocks and right-hand side, gathered before they go
// into the sparse matrix.
struct System
{
  std::vector<double> blocks; // kBlock per pair of the pattern
  std::vector<double> right;  // kParameters per node

  void Reset(size_t pairs, size_t nodes)
  {
    blocks.assign(pairs * kBlock, 0.0);
    right.assign(nodes * kParameters, 0.0);
  }
  void Add(const System& other, double scale)
  {
    for (size_t i = 0; i < blocks.size(); ++i)
    {
      blocks[i] += scale * other.blocks[i];
    }
    for (size_t i = 0; i < right.size(); ++i)
    {
      right[i] += scale * other.right[i];
    }
  }
};

// The regulariser's part of the normal equations, for a stiffness of 1: for
// every pair of nodes that share a point, in both directions, node k's map
// sends node l where l's own map puts it, and the two maps' linear parts agree
// (times `spacing`).
void AddRegulariser(const Pattern& pattern, const std::vector<double>& nodePositions, double spacing,
  double bend, System& system)
{
  const double gradient = bend * spacing * spacing;
  for (size_t p = 0; p < pattern.pairs.size(); ++p)
  {
    const auto [first, second] = pattern.pairs[p];
    if (first == second)
    {
      continue;
    }
    const int kk = pattern.Find(first, first);
    const int ll = pattern.Find(second, second);
    for (int direction = 0; direction < 2; ++direction)
    {
      const int k = direction == 0 ? first : second;
      const int l = direction == 0 ? second : first;
      const double* gk = &nodePositions[3 * static_cast<size_t>(k)];
      const double* gl = &nodePositions[3 * static_cast<size_t>(l)];
      const double d[3] = { gl[0] - gk[0], gl[1] - gk[1], gl[2] - gk[2] };
      const double ek[4] = { d[0], d[1], d[2], 1.0 };
      const double el[4] = { 0.0, 0.0, 0.0, -1.0 };
      double* blockK = &system.blocks[static_cast<size_t>(direction == 0 ? kk : ll) * kBlock];
      double* blockL = &system.blocks[static_cast<size_t>(direction == 0 ? ll : kk) * kBlock];
      double* blockKL = &system.blocks[p * kBlock];
      for (int a = 0; a < 3; ++a)
      {
        for (int i = 0; i < 4; ++i)
        {
          for (int j = 0; j < 4; ++j)
          {
            blockK[(4 * a + i) * kParameters + 4 * a + j] += ek[i] * ek[j];
            blockL[(4 * a + i) * kParameters + 4 * a + j] += el[i] * el[j];
            // The pair's block runs from the lower id to the higher.
            if (direction == 0)
            {
              blockKL[(4 * a + i) * kParameters + 4 * a + j] += ek[i] * el[j];
            }
            else
            {
              blockKL[(4 * a + j) * kParameters + 4 * a + i] += ek[i] * el[j];
            }
          }
          system.right[kParameters * static_cast<size_t>(k) + 4 * a + i] += ek[i] * d[a];
          system.right[kParameters * static_cast<size_t>(l) + 4 * a + i] += el[i] * d[a];
        }
      }
    }
    // The linear parts agree: (A_first - A_second)[a][j] = 0.
    double* blockFirst = &system.blocks[static_cast<size_t>(kk) * kBlock];
    double* blockSecond = &system.blocks[static_cast<size_t>(ll) * kBlock];
    double* blockPair = &system.blocks[p * kBlock];
    for (int a = 0; a < 3; ++a)
    {
      for (int j = 0; j < 3; ++j)
      {
        const int at = (4 * a + j) * kParameters + 4 * a + j;
        blockFirst[at] += gradient;
        blockSecond[at] += gradient;
        blockPair[at] -= gradient;
      }
    }
  }
}

// Each point's direction: the line from the centre of the points on
// triangles through it, where that line is within 60 degrees of the point's
// normal (the normal elsewhere, and everywhere unless `radial`).
std::vector<double> PointDirections(const TriangleSurface& templ, const std::vector<double>& normals,
  const std::vector<double>& areas, bool radial)
{
  std::vector<double> directions = normals;
  if (!radial)
  {
    return directions;
  }
  double center[3] = { 0, 0, 0 };
  size_t count = 0;
  for (size_t i = 0; i < areas.size(); ++i)
  {
    if (areas[i] > 0)
    {
      for (int k = 0; k < 3; ++k)
      {
        center[k] += templ.points[3 * i + k];
      }
      ++count;
    }
  }
  for (double& c : center)
  {
    c /= static_cast<double>(std::max<size_t>(1, count));
  }
  for (size_t i = 0; i < areas.size(); ++i)
  {
    const double* p = &templ.points[3 * i];
    const double* n = &normals[3 * i];
    const double r[3] = { p[0] - center[0], p[1] - center[1], p[2] - center[2] };
    const double length = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    if (length > 0 && std::abs(r[0] * n[0] + r[1] * n[1] + r[2] * n[2]) >= kNormalCosine * length)
    {
      for (int k = 0; k < 3; ++k)
      {
        directions[3 * i + k] = r[k] / length;
      }
    }
  }
  return directions;
}

// The data term of the points [begin, end) into `system`.
void AddData(const TriangleSurface& templ, const std::vector<double>& weights, const std::vector<Binding>& bindings,
  const std::vector<int>& blockOf, const std::vector<double>& nodePositions, const std::vector<ScanMatch>& matches,
  double pointWeight, const std::vector<double>* directions, double sideWeight, size_t begin, size_t end,
  System& system)
{
  for (size_t i = begin; i < end; ++i)
  {
    const ScanMatch& m = matches[i];
    const bool side = directions && sideWeight > 0;
    if ((!m.trusted && !side) || weights[i] <= 0)
    {
      continue;
    }
    const Binding& b = bindings[i];
    const double* p = &templ.points[3 * i];
    double u[kNeighbours][4];
    double s[3] = { 0, 0, 0 };
    for (int k = 0; k < b.count; ++k)
    {
      const double* g = &nodePositions[3 * static_cast<size_t>(b.node[k])];
      for (int a = 0; a < 3; ++a)
      {
        u[k][a] = b.weight[k] * (p[a] - g[a]);
        s[a] += b.weight[k] * g[a];
      }
      u[k][3] = b.weight[k];
    }
    // (n n^T + pointWeight I), times the point's weight, toward the match;
    // sideWeight (I - t t^T) toward the point's own place, t its direction:
    // the displacement's part across that direction.
    double nn[3][3] = { { 0, 0, 0 }, { 0, 0, 0 }, { 0, 0, 0 } };
    double pulled[3] = { 0, 0, 0 };
    if (m.trusted)
    {
      for (int a = 0; a < 3; ++a)
      {
        for (int c = 0; c < 3; ++c)
        {
          nn[a][c] = weights[i] * (m.normal[a] * m.normal[c] + (a == c ? pointWeight : 0.0));
        }
      }
      const double target[3] = { m.point[0] - s[0], m.point[1] - s[1], m.point[2] - s[2] };
      for (int a = 0; a < 3; ++a)
      {
        pulled[a] = nn[a][0] * target[0] + nn[a][1] * target[1] + nn[a][2] * target[2];
      }
    }
    if (side)
    {
      const double* t = &(*directions)[3 * i];
      double sideMatrix[3][3];
      for (int a = 0; a < 3; ++a)
      {
        for (int c = 0; c < 3; ++c)
        {
          sideMatrix[a][c] = sideWeight * weights[i] * ((a == c ? 1.0 : 0.0) - t[a] * t[c]);
          nn[a][c] += sideMatrix[a][c];
        }
      }
      const double target[3] = { p[0] - s[0], p[1] - s[1], p[2] - s[2] };
      for (int a = 0; a < 3; ++a)
      {
        pulled[a] += sideMatrix[a][0] * target[0] + sideMatrix[a][1] * target[1] + sideMatrix[a][2] * target[2];
      }
    }
    const int* blocks = &blockOf[i * kNeighbours * kNeighbours];
    for (int k = 0; k < b.count; ++k)
    {
      double* right = &system.right[kParameters * static_cast<size_t>(b.node[k])];
      for (int a = 0; a < 3; ++a)
      {
        for (int j = 0; j < 4; ++j)
        {
          right[4 * a + j] += u[k][j] * pulled[a];
        }
      }
      for (int l = k; l < b.count; ++l)
      {
        double* block = &system.blocks[static_cast<size_t>(blocks[k * kNeighbours + l]) * kBlock];
        for (int a = 0; a < 3; ++a)
        {
          for (int c = 0; c < 3; ++c)
          {
            const double w = nn[a][c];
            if (w == 0)
            {
              continue;
            }
            for (int j = 0; j < 4; ++j)
            {
              const double wj = w * u[k][j];
              double* row = block + (4 * a + j) * kParameters + 4 * c;
              row[0] += wj * u[l][0];
              row[1] += wj * u[l][1];
              row[2] += wj * u[l][2];
              row[3] += wj * u[l][3];
            }
          }
        }
      }
    }
  }
}
}

FitResult FitTemplate(const TriangleSurface& templ, const TriangleTree& scan,
  const std::vector<std::array<double, 3>>& extra, const std::vector<std::array<double, 3>>& targets,
  const FitOptions& options)
{
  FitResult result;
  const size_t pointCount = templ.PointCount();
  std::vector<double> normals;
  std::vector<double> areas;
  PointNormalsAndAreas(templ, normals, areas);
  double totalArea = 0;
  size_t onTriangles = 0;
  for (double a : areas)
  {
    totalArea += a;
    onTriangles += a > 0 ? 1 : 0;
  }
  const std::vector<double> directions = PointDirections(templ, normals, areas, options.radial);
  result.points = templ.points;
  result.matched.assign(pointCount, 0);
  for (const auto& e : extra)
  {
    result.moved.push_back(e);
  }
  if (onTriangles == 0 || !(totalArea > 0))
  {
    return result;
  }
  // Data weights: each point's share of the area, 1 on average.
  std::vector<double> weights(pointCount);
  for (size_t i = 0; i < pointCount; ++i)
  {
    weights[i] = areas[i] * static_cast<double>(onTriangles) / totalArea;
  }

  const std::vector<size_t> nodeIds = PickNodes(templ, areas, options.nodeSpacing);
  const int nodeCount = static_cast<int>(nodeIds.size());
  result.nodes = nodeCount;
  std::vector<double> nodePositions;
  for (size_t id : nodeIds)
  {
    nodePositions.insert(nodePositions.end(), &templ.points[3 * id], &templ.points[3 * id] + 3);
  }
  std::vector<Binding> bindings(pointCount);
  ParallelRanges(pointCount, [&](size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i)
    {
      bindings[i] = Bind(&templ.points[3 * i], nodePositions);
    }
  });
  std::vector<Binding> extraBindings;
  for (const auto& e : extra)
  {
    extraBindings.push_back(Bind(e.data(), nodePositions));
  }
  std::vector<Binding> allBindings = bindings;
  allBindings.insert(allBindings.end(), extraBindings.begin(), extraBindings.end());
  Pattern pattern = MakePattern(nodeCount, allBindings);
  // Each point's blocks, for every pair of its nodes k <= l.
  std::vector<int> blockOf(pointCount * kNeighbours * kNeighbours, 0);
  for (size_t i = 0; i < pointCount; ++i)
  {
    const Binding& b = bindings[i];
    for (int k = 0; k < b.count; ++k)
    {
      for (int l = k; l < b.count; ++l)
      {
        blockOf[i * kNeighbours * kNeighbours + k * kNeighbours + l] = pattern.Find(b.node[k], b.node[l]);
      }
    }
  }
  System regulariser;
  regulariser.Reset(pattern.pairs.size(), static_cast<size_t>(nodeCount));
  AddRegulariser(pattern, nodePositions, options.nodeSpacing, options.bendWeight, regulariser);
  // The landmarks, as points of their own pulled toward their targets (the
  // point-to-point term alone).
  {
    // The field's gradient small: each node's linear part near the identity.
    const double g = options.gradientWeight * options.nodeSpacing * options.nodeSpacing;
    for (int n = 0; n < nodeCount; ++n)
    {
      double* block = &regulariser.blocks[static_cast<size_t>(pattern.Find(n, n)) * kBlock];
      for (int a = 0; a < 3; ++a)
      {
        for (int j = 0; j < 3; ++j)
        {
          block[(4 * a + j) * kParameters + 4 * a + j] += g;
          regulariser.right[static_cast<size_t>(n) * kParameters + 4 * a + j] += j == a ? g : 0.0;
        }
      }
    }
  }
  System landmarks;
  landmarks.Reset(pattern.pairs.size(), static_cast<size_t>(nodeCount));
  const size_t landmarkCount = std::min(extra.size(), targets.size());
  if (landmarkCount > 0)
  {
    TriangleSurface landmarkPoints;
    std::vector<double> landmarkWeights(landmarkCount, options.landmarkWeight * static_cast<double>(onTriangles) /
        static_cast<double>(landmarkCount));
    std::vector<ScanMatch> landmarkTargets(landmarkCount);
    std::vector<int> landmarkBlocks(landmarkCount * kNeighbours * kNeighbours, 0);
    for (size_t l = 0; l < landmarkCount; ++l)
    {
      landmarkPoints.points.insert(landmarkPoints.points.end(), extra[l].begin(), extra[l].end());
      landmarkTargets[l].trusted = true;
      std::copy(targets[l].begin(), targets[l].end(), landmarkTargets[l].point);
      const Binding& b = extraBindings[l];
      for (int k = 0; k < b.count; ++k)
      {
        for (int m = k; m < b.count; ++m)
        {
          landmarkBlocks[l * kNeighbours * kNeighbours + k * kNeighbours + m] = pattern.Find(b.node[k], b.node[m]);
        }
      }
    }
    // A zero normal leaves the point-to-point term, of weight 1.
    AddData(landmarkPoints, landmarkWeights, extraBindings, landmarkBlocks, nodePositions, landmarkTargets, 1.0,
      nullptr, 0.0, 0, landmarkCount, landmarks);
  }
  // The anchor: every node's translation toward 0, its linear part toward the
  // identity (times nodeSpacing).
  System anchors;
  anchors.Reset(pattern.pairs.size(), static_cast<size_t>(nodeCount));
  const double anchor = options.anchorWeight * static_cast<double>(onTriangles) / std::max(1, nodeCount);
  for (int n = 0; n < nodeCount; ++n)
  {
    double* block = &anchors.blocks[static_cast<size_t>(pattern.Find(n, n)) * kBlock];
    for (int a = 0; a < 3; ++a)
    {
      for (int j = 0; j < 4; ++j)
      {
        const double w = j == 3 ? anchor : anchor * options.nodeSpacing * options.nodeSpacing;
        block[(4 * a + j) * kParameters + 4 * a + j] += w;
        anchors.right[static_cast<size_t>(n) * kParameters + 4 * a + j] += j == a ? w : 0.0;
      }
    }
  }
  // Stiffness 1 weighs the regulariser as much, in all, as the data term of
  // every point: the graph's pairs are far fewer than the template's points.
  const double pairCount = static_cast<double>(std::max<size_t>(1, pattern.pairs.size() - nodeCount));
  const double scale = static_cast<double>(onTriangles) / (2.0 * pairCount);

  // Every node starts with the identity.
  std::vector<double> theta(static_cast<size_t>(nodeCount) * kParameters, 0.0);
  for (int n = 0; n < nodeCount; ++n)
  {
    for (int a = 0; a < 3; ++a)
    {
      theta[static_cast<size_t>(n) * kParameters + 4 * a + a] = 1.0;
    }
  }

  TriangleSurface moving = templ;
  std::vector<double> movingNormals = normals;
  std::vector<double> movingAreas;
  std::vector<ScanMatch> matches(pointCount);
  Eigen::ConjugateGradient<Eigen::SparseMatrix<double>, Eigen::Lower> solver;
  solver.setTolerance(1e-9);
  solver.setMaxIterations(4000);
  System data[2];
  System total;
  double limit = options.startDistance;
  // How often each point's match has turned from trusted to not or back.
  std::vector<unsigned char> trustChanges(pointCount, 0);
  std::vector<char> wasTrusted(pointCount, 0);
  for (size_t level = 0; level < options.stiffness.size(); ++level)
  {
    const double stiffness = options.stiffness[level];
    const int steps = level + 1 < options.stiffness.size() ? options.stepsPerLevel : options.lastLevelSteps;
    for (int step = 0; step < steps; ++step)
    {
      ParallelRanges(pointCount, [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i)
        {
          matches[i] = areas[i] > 0 ? MatchOnScan(scan, &moving.points[3 * i], &movingNormals[3 * i], limit, 0.0) : ScanMatch();
          const char trusted = matches[i].trusted ? 1 : 0;
          if (result.steps > 0 && trusted != wasTrusted[i] && trustChanges[i] < kUnsteady)
          {
            ++trustChanges[i];
          }
          wasTrusted[i] = trusted;
          matches[i].trusted = matches[i].trusted && trustChanges[i] < kUnsteady;
        }
      });
      std::vector<double> distances;
      for (const ScanMatch& m : matches)
      {
        if (m.trusted)
        {
          distances.push_back(m.distance);
        }
      }
      if (distances.empty())
      {
        result.points = moving.points;
        return result;
      }
      // The data term in two fixed halves, added in order: the same sums
      // whatever the number of threads.
      const size_t half = pointCount / 2;
      for (System& d : data)
      {
        d.Reset(pattern.pairs.size(), static_cast<size_t>(nodeCount));
      }
      BesideThread helper([&] {
        AddData(templ, weights, bindings, blockOf, nodePositions, matches, options.pointWeight, &directions,
          options.sideWeight, half, pointCount, data[1]);
      });
      AddData(templ, weights, bindings, blockOf, nodePositions, matches, options.pointWeight, &directions,
        options.sideWeight, 0, half, data[0]);
      helper.Join();
      total = data[0];
      total.Add(data[1], 1.0);
      const double weight = stiffness * scale;
      total.Add(regulariser, weight);
      total.Add(landmarks, 1.0);
      // Below kAnchorStiffness the anchor eases off with the regulariser, so
      // that the points over a hole keep following their neighbours.
      total.Add(anchors, std::min(1.0, stiffness / kAnchorStiffness));
      const double damping = kDamping * weight * options.nodeSpacing * options.nodeSpacing + 1e-12;
      for (int n = 0; n < nodeCount; ++n)
      {
        double* block = &total.blocks[static_cast<size_t>(pattern.Find(n, n)) * kBlock];
        for (int r = 0; r < kParameters; ++r)
        {
          block[r * kParameters + r] += damping;
          const size_t at = static_cast<size_t>(n) * kParameters + r;
          total.right[at] += damping * theta[at];
        }
      }
      double* values = pattern.matrix.valuePtr();
      std::fill(values, values + pattern.matrix.nonZeros(), 0.0);
      for (size_t p = 0; p < pattern.pairs.size(); ++p)
      {
        const double* block = &total.blocks[p * kBlock];
        const int* at = &pattern.positions[p * kBlock];
        for (int e = 0; e < kBlock; ++e)
        {
          if (at[e] >= 0)
          {
            values[at[e]] += block[e];
          }
        }
      }
      solver.compute(pattern.matrix);
      const Eigen::Index size = static_cast<Eigen::Index>(theta.size());
      const Eigen::VectorXd solution =
        solver.solveWithGuess(Eigen::Map<const Eigen::VectorXd>(total.right.data(), size),
          Eigen::Map<const Eigen::VectorXd>(theta.data(), size));
      if (!solution.allFinite())
      {
        break;
      }
      theta.assign(solution.data(), solution.data() + solution.size());
      std::vector<double> change(pointCount, 0.0);
      ParallelRanges(pointCount, [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i)
        {
          double x[3];
          Deformed(&templ.points[3 * i], bindings[i], nodePositions, theta, x);
          change[i] = Distance2(x, &moving.points[3 * i]);
          std::copy(x, x + 3, &moving.points[3 * i]);
        }
      });
      PointNormalsAndAreas(moving, movingNormals, movingAreas);
      // The 99th percentile: a few points whose match comes and goes (at the
      // scan's borders) do not hold the fit up.
      const size_t rank = change.size() - 1 - change.size() / 100;
      std::nth_element(change.begin(), change.begin() + rank, change.end());
      result.change = std::sqrt(change[rank]);
      ++result.steps;
      const size_t middle = distances.size() / 2;
      std::nth_element(distances.begin(), distances.begin() + middle, distances.end());
      limit = std::min(options.startDistance, std::max(options.minDistance, 4.0 * distances[middle]));
      if (result.change < kSettled)
      {
        break;
      }
    }
  }
  for (size_t e = 0; e < extra.size(); ++e)
  {
    Deformed(extra[e].data(), extraBindings[e], nodePositions, theta, result.moved[e].data());
  }

  // The last, short move along each point's direction onto the scan.
  for (int pass = 0; pass < 2; ++pass)
  {
    ParallelRanges(pointCount, [&](size_t begin, size_t end) {
      for (size_t i = begin; i < end; ++i)
      {
        matches[i] = areas[i] > 0 ? MatchOnScan(scan, &moving.points[3 * i], &movingNormals[3 * i], limit, kBorderReach)
                                  : ScanMatch();
        const ScanMatch& m = matches[i];
        if (!m.trusted)
        {
          continue;
        }
        double* x = &moving.points[3 * i];
        const double* along = options.radial ? &directions[3 * i] : &movingNormals[3 * i];
        const double facing = m.normal[0] * along[0] + m.normal[1] * along[1] + m.normal[2] * along[2];
        const double gap = m.normal[0] * (m.point[0] - x[0]) + m.normal[1] * (m.point[1] - x[1]) +
          m.normal[2] * (m.point[2] - x[2]);
        const double move = gap / facing;
        if (std::abs(move) <= options.projectionLimit)
        {
          for (int k = 0; k < 3; ++k)
          {
            x[k] += move * along[k];
          }
        }
      }
    });
  }

  // The fitted points' distances to the scan, where they have a trusted match.
  std::vector<double> distances;
  for (size_t i = 0; i < pointCount; ++i)
  {
    const ScanMatch m = areas[i] > 0
      ? MatchOnScan(scan, &moving.points[3 * i], &movingNormals[3 * i], limit, kBorderReach)
      : ScanMatch();
    if (m.trusted)
    {
      result.matched[i] = 1;
      distances.push_back(m.distance);
    }
  }
  result.points = moving.points;
  result.unmatched = 1.0 - static_cast<double>(distances.size()) / static_cast<double>(onTriangles);
  if (!distances.empty())
  {
    double sum = 0;
    for (double d : distances)
    {
      sum += d;
    }
    result.mean = sum / static_cast<double>(distances.size());
    std::sort(distances.begin(), distances.end());
    result.p95 = Percentile(distances, 95);
    result.largest = distances.back();
  }
  return result;
}

