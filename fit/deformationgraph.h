// The embedded deformation graph of the template fit (templatefit.h): nodes
// spread over the template, each carrying an affine map, and how every
// point follows the maps of its nearest nodes.
//
// Inputs: the template's points and per-point areas, the node spacing; a
// node's map as 12 numbers, the rows (A_a0, A_a1, A_a2, t_a) for a = x, y, z,
// acting on the offset from the node. Outputs: the nodes, each point's
// binding, and where the field takes a point. Nothing here fails.
#pragma once

#include "geometry/trianglesurface.h"

#include <cstddef>
#include <vector>

namespace deformation
{
constexpr int kNeighbours = 4;  // nodes that move a point
constexpr int kParameters = 12; // per node: the rows (A_a0, A_a1, A_a2, t_a) for a = x, y, z

// The nodes: ids of template points on triangles (area above 0) at least
// `spacing` apart, picked in a fixed shuffled order so that they spread
// evenly (a Poisson-disk pick); ascending.
std::vector<size_t> PickNodes(const TriangleSurface& templ, const std::vector<double>& areas, double spacing);

// How a point follows the nodes: its nearest nodes (ascending ids) and their
// weights, which sum to 1.
struct Binding
{
  int node[kNeighbours];
  double weight[kNeighbours];
  int count = 0;
};

// The binding of point p to the nodes at `nodePositions` (x, y, z each): its
// kNeighbours nearest nodes, weighted (1 - d / d5)^2 by their distances d (d5:
// the next nearest node's), then scaled to sum to 1 (equal weights where all
// are 0, or where there are no more nodes than kNeighbours).
Binding Bind(const double* p, const std::vector<double>& nodePositions);

// Where the field of the nodes' maps `theta` (kParameters per node) takes
// point p bound by `binding`.
void Deformed(const double* p, const Binding& binding, const std::vector<double>& nodePositions,
  const std::vector<double>& theta, double out[3]);

// The maps of `nodeCount` nodes that leave every point in place.
std::vector<double> IdentityMaps(int nodeCount);
}
