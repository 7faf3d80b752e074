#include "fit/graphsystem.h"

#include "geometry/vector.h"

#include <algorithm>

namespace deformation
{
int Pattern::Find(int k, int l) const
{
  const auto at = std::lower_bound(pairs.begin(), pairs.end(), std::make_pair(k, l));
  return static_cast<int>(at - pairs.begin());
}

namespace
{
// The pairs (k, l), k <= l, of nodes that move a common point, and every
// node with itself; sorted.
std::vector<std::pair<int, int>> SharedPairs(int nodeCount, const std::vector<Binding>& bindings)
{
  std::vector<std::pair<int, int>> pairs;
  for (int n = 0; n < nodeCount; ++n)
  {
    pairs.emplace_back(n, n);
  }
  for (const Binding& b : bindings)
  {
    for (int i = 0; i < b.count; ++i)
    {
      for (int j = i + 1; j < b.count; ++j)
      {
        pairs.emplace_back(b.node[i], b.node[j]);
      }
    }
  }
  std::sort(pairs.begin(), pairs.end());
  pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
  return pairs;
}

// Block (k, l) entry (r, c) is the matrix entry (12 k + r, 12 l + c); its
// mirror (12 l + c, 12 k + r) is the one stored when k < l, and of a
// diagonal block only the lower triangle is.
void EmptyMatrix(const std::vector<std::pair<int, int>>& pairs, int nodeCount, Eigen::SparseMatrix<double>& matrix)
{
  std::vector<Eigen::Triplet<double>> triplets;
  for (const auto& [k, l] : pairs)
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
  matrix.resize(size, size);
  matrix.setFromTriplets(triplets.begin(), triplets.end());
  matrix.makeCompressed();
}
}

Pattern MakePattern(int nodeCount, const std::vector<Binding>& bindings, Eigen::SparseMatrix<double>& matrix)
{
  Pattern pattern;
  pattern.pairs = SharedPairs(nodeCount, bindings);
  EmptyMatrix(pattern.pairs, nodeCount, matrix);
  const int* outer = matrix.outerIndexPtr();
  const int* inner = matrix.innerIndexPtr();
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

std::vector<int> BlockIndices(const std::vector<Binding>& bindings, size_t count, const Pattern& pattern)
{
  std::vector<int> blockOf(count * kNeighbours * kNeighbours, 0);
  for (size_t i = 0; i < count; ++i)
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
  return blockOf;
}

void System::Reset(size_t pairs, size_t nodes)
{
  blocks.assign(pairs * kBlock, 0.0);
  right.assign(nodes * kParameters, 0.0);
}

void System::Add(const System& other, double scale)
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

void System::AddInto(const Pattern& pattern, Eigen::SparseMatrix<double>& matrix) const
{
  double* values = matrix.valuePtr();
  for (size_t p = 0; p < pattern.pairs.size(); ++p)
  {
    const double* block = &blocks[p * kBlock];
    const int* at = &pattern.positions[p * kBlock];
    for (int e = 0; e < kBlock; ++e)
    {
      if (at[e] >= 0)
      {
        values[at[e]] += block[e];
      }
    }
  }
}

void AddRegulariser(
  const Pattern& pattern, const std::vector<double>& nodePositions, double spacing, double bend, System& system)
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
      double d[3];
      Subtract(gl, gk, d);
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

void AddNodePull(const Pattern& pattern, int nodeCount, double weight, double translationWeight, System& system)
{
  for (int n = 0; n < nodeCount; ++n)
  {
    double* block = &system.blocks[static_cast<size_t>(pattern.Find(n, n)) * kBlock];
    for (int a = 0; a < 3; ++a)
    {
      for (int j = 0; j < 4; ++j)
      {
        const double w = j == 3 ? translationWeight : weight;
        block[(4 * a + j) * kParameters + 4 * a + j] += w;
        system.right[static_cast<size_t>(n) * kParameters + 4 * a + j] += j == a ? w : 0.0;
      }
    }
  }
}

namespace
{
// How a point's place follows its nodes' maps: the place is
// sum over k, a of u[k] . (row a of node k's map) plus s, per axis a.
struct PointMaps
{
  double u[kNeighbours][4];
  double s[3] = { 0, 0, 0 };
};

PointMaps MapsOf(const double* p, const Binding& b, const std::vector<double>& nodePositions)
{
  PointMaps maps;
  for (int k = 0; k < b.count; ++k)
  {
    const double* g = &nodePositions[3 * static_cast<size_t>(b.node[k])];
    for (int a = 0; a < 3; ++a)
    {
      maps.u[k][a] = b.weight[k] * (p[a] - g[a]);
      maps.s[a] += b.weight[k] * g[a];
    }
    maps.u[k][3] = b.weight[k];
  }
  return maps;
}

// A point's pull: the matrix W and W (target - s) summed over its terms.
struct Pull
{
  double matrix[3][3] = { { 0, 0, 0 }, { 0, 0, 0 }, { 0, 0, 0 } };
  double pulled[3] = { 0, 0, 0 };
};

// (n n^T + pointWeight I), times the point's weight, toward the match;
// sideWeight (I - t t^T) toward the point's own place, t its direction: the
// displacement's part across that direction.
Pull PullOf(const DataPoints& data, size_t i, const ScanMatch& m, bool side, const double s[3])
{
  Pull pull;
  const double weight = data.weights[i];
  if (m.trusted)
  {
    for (int a = 0; a < 3; ++a)
    {
      for (int c = 0; c < 3; ++c)
      {
        pull.matrix[a][c] = weight * (m.normal[a] * m.normal[c] + (a == c ? data.pointWeight : 0.0));
      }
    }
    double target[3];
    Subtract(m.point, s, target);
    for (int a = 0; a < 3; ++a)
    {
      pull.pulled[a] = Dot(pull.matrix[a], target);
    }
  }
  if (side)
  {
    const double* t = &(*data.directions)[3 * i];
    double sideMatrix[3][3];
    for (int a = 0; a < 3; ++a)
    {
      for (int c = 0; c < 3; ++c)
      {
        sideMatrix[a][c] = data.sideWeight * weight * ((a == c ? 1.0 : 0.0) - t[a] * t[c]);
        pull.matrix[a][c] += sideMatrix[a][c];
      }
    }
    double target[3];
    Subtract(&data.points[3 * i], s, target);
    for (int a = 0; a < 3; ++a)
    {
      pull.pulled[a] += Dot(sideMatrix[a], target);
    }
  }
  return pull;
}

// A point's pull into the blocks of its pairs of nodes and their right-hand sides.
void AddPull(const Binding& b, const PointMaps& maps, const Pull& pull, const int* blocks, System& system)
{
  for (int k = 0; k < b.count; ++k)
  {
    double* right = &system.right[kParameters * static_cast<size_t>(b.node[k])];
    for (int a = 0; a < 3; ++a)
    {
      for (int j = 0; j < 4; ++j)
      {
        right[4 * a + j] += maps.u[k][j] * pull.pulled[a];
      }
    }
    for (int l = k; l < b.count; ++l)
    {
      double* block = &system.blocks[static_cast<size_t>(blocks[k * kNeighbours + l]) * kBlock];
      for (int a = 0; a < 3; ++a)
      {
        for (int c = 0; c < 3; ++c)
        {
          const double w = pull.matrix[a][c];
          if (w == 0)
          {
            continue;
          }
          for (int j = 0; j < 4; ++j)
          {
            const double wj = w * maps.u[k][j];
            double* row = block + (4 * a + j) * kParameters + 4 * c;
            row[0] += wj * maps.u[l][0];
            row[1] += wj * maps.u[l][1];
            row[2] += wj * maps.u[l][2];
            row[3] += wj * maps.u[l][3];
          }
        }
      }
    }
  }
}
}

void AddData(const DataPoints& data, const std::vector<ScanMatch>& matches, size_t begin, size_t end, System& system)
{
  const bool side = data.directions && data.sideWeight > 0;
  for (size_t i = begin; i < end; ++i)
  {
    const ScanMatch& m = matches[i];
    if ((!m.trusted && !side) || data.weights[i] <= 0)
    {
      continue;
    }
    const Binding& b = data.bindings[i];
    const PointMaps maps = MapsOf(&data.points[3 * i], b, data.nodePositions);
    const Pull pull = PullOf(data, i, m, side, maps.s);
    AddPull(b, maps, pull, &data.blockOf[i * kNeighbours * kNeighbours], system);
  }
}
}
