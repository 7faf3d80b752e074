// The normal equations of the template fit's deformation graph
// (deformationgraph.h): which pairs of nodes share a point, the 12 x 12
// block of each pair, and the terms that go into them (the graph's
// regulariser, the data term of points pulled toward matches).
//
// Inputs: the nodes' places, the points' bindings and matches. Outputs:
// blocks and right-hand sides gathered in a System, and a sparse matrix (its
// lower triangle) that a System's blocks are added into. Nothing here fails.
#pragma once

#include "fit/deformationgraph.h"
#include "fit/scanmatch.h"

#include <Eigen/Sparse>

#include <cstddef>
#include <utility>
#include <vector>

namespace deformation
{
constexpr int kBlock = kParameters * kParameters;

// The pairs of nodes that share a point, and where each entry of a pair's
// block goes among the values of the sparse matrix of the normal equations.
struct Pattern
{
  std::vector<std::pair<int, int>> pairs; // (k, l) with k <= l, sorted; the diagonal pairs included
  std::vector<int> positions;             // kBlock per pair: index into the matrix values, -1 above the diagonal

  // The index of pair (k, l), k <= l, which must be one of them.
  int Find(int k, int l) const;
};

// The pattern of `nodeCount` nodes moving the points of `bindings`, and in
// `matrix` the sparse matrix (lower triangle, compressed, all zero) whose
// values its positions index.
Pattern MakePattern(int nodeCount, const std::vector<Binding>& bindings, Eigen::SparseMatrix<double>& matrix);

// Per binding of the first `count`: the pair index of every two of its nodes
// k <= l, at k * kNeighbours + l of its kNeighbours^2 entries.
std::vector<int> BlockIndices(const std::vector<Binding>& bindings, size_t count, const Pattern& pattern);

// The normal equations' blocks and right-hand side, gathered before they go
// into the sparse matrix.
struct System
{
  std::vector<double> blocks; // kBlock per pair of the pattern
  std::vector<double> right;  // kParameters per node

  // All zero, for `pairs` pairs and `nodes` nodes.
  void Reset(size_t pairs, size_t nodes);
  // Adds `scale` times another system of the same size, entry by entry.
  void Add(const System& other, double scale);
  // Adds the blocks into `matrix`'s values at the pattern's positions.
  void AddInto(const Pattern& pattern, Eigen::SparseMatrix<double>& matrix) const;
};

// The regulariser's part of the normal equations, for a stiffness of 1: for
// every pair of nodes that share a point, in both directions, node k's map
// sends node l where l's own map puts it, and `bend` times the two maps'
// linear parts agree (times `spacing`).
void AddRegulariser(
  const Pattern& pattern, const std::vector<double>& nodePositions, double spacing, double bend, System& system);

// Adds `weight` to the diagonal of every node's linear part, pulled toward
// the identity, and `translationWeight` to that of its translation, pulled
// toward 0.
void AddNodePull(const Pattern& pattern, int nodeCount, double weight, double translationWeight, System& system);

// The points of a data term and how they follow the nodes.
struct DataPoints
{
  const std::vector<double>& points;        // x, y, z each
  const std::vector<double>& weights;       // per point; a point of weight 0 or less is left out
  const std::vector<Binding>& bindings;     // per point
  const std::vector<int>& blockOf;          // per point, as BlockIndices
  const std::vector<double>& nodePositions; // x, y, z per node
  double pointWeight;                       // point-to-point share of a match's pull
  const std::vector<double>* directions;    // per point, or nullptr: no pull across them
  double sideWeight;                        // pull of the displacement across the direction toward none
};

// The data term of points [begin, end) into `system`: each point with a
// trusted match pulled toward it (n n^T + pointWeight I, n the match's
// normal, times the point's weight), and with `directions`, the part of its
// displacement across its direction t toward none (sideWeight (I - t t^T),
// times its weight).
void AddData(const DataPoints& data, const std::vector<ScanMatch>& matches, size_t begin, size_t end, System& system);
}
