// The non-rigid fit: an embedded deformation graph whose nodes carry affine
// maps, fitted from stiff to supple, then a short move of each point along
// its direction onto the scan.
//
// Nodes are spread over the template nodeSpacing apart (a Poisson-disk pick
// among its points), and every template point moves with the blend of its
// four nearest nodes' affine maps, weighted (1 - d / d5)^2 by its distances
// d to them (d5: the fifth nearest). So the displacement is smooth at the
// nodes' scale whatever the template's triangles look like, and a point with
// no match on the scan (a hole, the open neck) moves with its neighbours.
// Each step matches every template point to its closest scan point, trusts
// the match by the rule of MatchOnScan within the current distance limit,
// and as long as the point's match has not turned from trusted to untrusted
// or back three times already (one that comes and goes from step to step,
// where the scan goes on past the template's edge, holds the fit from
// settling), and solves one linear least-squares problem for all the nodes'
// maps at once (conjugate gradients, started from the step before):
//   - the point-to-plane distances of the trusted matches, weighted by each
//     point's share of the template's area, plus `pointWeight` times the
//     point-to-point distances;
//   - for every point, `sideWeight` times the part of its displacement
//     across its direction: the line from the centre of the template's
//     points through it (`radial`), or its normal. Normal to the surface the
//     data say where the surface went; along it they say nothing, and a
//     head's deformations (growth, flattening, a helmet's correction) push
//     its surface out or in from its centre, so a point keeps its place;
//   - the graph's regulariser, stiffness times: for each pair of nodes that
//     move a common point, how far node k's affine map sends node l from
//     where l's own map puts it (the field is locally affine), `bendWeight`
//     times the difference of their linear parts times nodeSpacing, and
//     `gradientWeight` times each linear part's departure from the identity
//     times nodeSpacing (none by default: a stretch of the head is no fault);
//     stiffness 1 weighs it as much, in all, as the data term of every point;
//   - the landmarks pulled toward the scan's (point to point), and every node
//     weakly toward no displacement (a head's surface barely resists a turn
//     about its long axis, and the smallest deformation is the one kept),
//     less so once the stiffness runs below 0.3;
//   - a slight damping toward the step before.
// The stiffness runs down the schedule, each level until no point with a
// trusted match moves by more than 0.01 mm (99% of them: a few points whose
// match comes and goes at the scan's borders do not count; nor do the points
// without a match, which follow their neighbours and may go on moving where
// the scan has nothing for them, a neck below a face the template has no
// part for) or for `stepsPerLevel` steps; the last,
// most supple level for up to `lastLevelSteps`: where the scan goes on past the
// template's edge (a neck, the shoulders), the points near that edge take it
// up a few at a time, and the fit settles only once they have. The distance
// limit starts at `startDistance` and then follows the fit: four times the
// median distance of the trusted matches of the step before, within
// [minDistance, startDistance]. Finally each template point with a trusted
// match (or within 0.5 mm of the scan's border) moves along its direction to
// the scan's tangent plane at the match (twice, matching again), by at most
// `projectionLimit`: the fitted points lie on the scan and slide along it by
// no more than the angle between that direction and the scan's normal allows.
#include "fit/templatefit.h"

#include "fit/deformationgraph.h"
#include "fit/graphsystem.h"
#include "fit/scanmatch.h"
#include "geometry/statistics.h"
#include "geometry/vector.h"
#include "parallel/parallel.h"

#include <Eigen/IterativeLinearSolvers>
#include <Eigen/Sparse>

#include <algorithm>
#include <cmath>

using namespace deformation;

namespace
{
constexpr double kRadialCosine = 0.5;    // a point's radial line within 60 degrees of its normal is its direction
constexpr double kBorderReach = 0.5;     // mm: at the end, a point this near the scan's border is on the scan
constexpr double kSettled = 0.01;        // mm: a level ends when no point moves more
constexpr double kAnchorStiffness = 0.3; // below this stiffness the anchor eases off with it
constexpr double kDamping = 1e-6;        // pulls each solve toward the step before, relative to the regulariser
// A point whose match has turned from trusted to not, or back, this often in
// the graph fit is not trusted again: its match comes and goes from step to
// step (a fold where the scan goes on past the template's edge, into a neck
// or the shoulders the template does not have), and the pull it gives one
// step and takes back the next keeps the fit from settling. It follows its
// neighbours.
constexpr unsigned char kUnsteady = 3;

// The template's points as the fit weighs them.
struct TemplatePoints
{
  std::vector<double> normals;
  std::vector<double> areas;      // each point's share of the area; 0 on no triangle
  std::vector<double> directions; // along which each point moves (PointDirections)
  std::vector<double> weights;    // of each point's data: its share of the area, 1 on average
  size_t onTriangles = 0;         // points on triangles
  double totalArea = 0;
};

// The deformation graph over the template.
struct NodeGraph
{
  int nodeCount = 0;
  std::vector<double> positions;      // x, y, z per node
  std::vector<Binding> bindings;      // per template point
  std::vector<Binding> extraBindings; // per extra point (the landmarks)
  Pattern pattern;
  std::vector<int> blockOf; // per template point, as BlockIndices
};

// The terms of the normal equations that do not change from step to step.
struct FixedTerms
{
  System regulariser; // for a stiffness of 1
  System landmarks;
  System anchors;   // every node toward no displacement
  double scale = 0; // of the regulariser: stiffness 1 weighs it as the data of every point
};

// Each point's direction: the line from the centre of the points on
// triangles through it, where that line is within 60 degrees of the point's
// normal (the normal elsewhere, and everywhere unless `radial`).
std::vector<double> PointDirections(
  const TriangleSurface& templ, const std::vector<double>& normals, const std::vector<double>& areas, bool radial)
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
    const double* n = &normals[3 * i];
    double r[3];
    Subtract(&templ.points[3 * i], center, r);
    const double length = Norm(r);
    if (length > 0 && std::abs(Dot(r, n)) >= kRadialCosine * length)
    {
      for (int k = 0; k < 3; ++k)
      {
        directions[3 * i + k] = r[k] / length;
      }
    }
  }
  return directions;
}

TemplatePoints WeighTemplate(const TriangleSurface& templ, bool radial)
{
  TemplatePoints points;
  PointNormalsAndAreas(templ, points.normals, points.areas);
  for (double a : points.areas)
  {
    points.totalArea += a;
    points.onTriangles += a > 0 ? 1 : 0;
  }
  points.directions = PointDirections(templ, points.normals, points.areas, radial);
  if (points.onTriangles > 0 && points.totalArea > 0)
  {
    points.weights.resize(points.areas.size());
    for (size_t i = 0; i < points.areas.size(); ++i)
    {
      points.weights[i] = points.areas[i] * static_cast<double>(points.onTriangles) / points.totalArea;
    }
  }
  return points;
}

// The nodes, every point's and extra point's binding to them, and the
// pattern of the normal equations (its empty matrix into `matrix`).
NodeGraph MakeNodeGraph(const TriangleSurface& templ, const std::vector<double>& areas,
  const std::vector<std::array<double, 3>>& extra, double spacing, Eigen::SparseMatrix<double>& matrix)
{
  NodeGraph graph;
  const std::vector<size_t> nodeIds = PickNodes(templ, areas, spacing);
  graph.nodeCount = static_cast<int>(nodeIds.size());
  for (size_t id : nodeIds)
  {
    graph.positions.insert(graph.positions.end(), &templ.points[3 * id], &templ.points[3 * id] + 3);
  }
  const size_t pointCount = templ.PointCount();
  graph.bindings.resize(pointCount);
  ParallelRanges(pointCount, [&](size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i)
    {
      graph.bindings[i] = Bind(&templ.points[3 * i], graph.positions);
    }
  });
  for (const auto& e : extra)
  {
    graph.extraBindings.push_back(Bind(e.data(), graph.positions));
  }
  std::vector<Binding> allBindings = graph.bindings;
  allBindings.insert(allBindings.end(), graph.extraBindings.begin(), graph.extraBindings.end());
  graph.pattern = MakePattern(graph.nodeCount, allBindings, matrix);
  graph.blockOf = BlockIndices(graph.bindings, pointCount, graph.pattern);
  return graph;
}

// The landmarks as points of their own pulled toward their targets (the
// point-to-point term alone: a zero normal, a point weight of 1), all of them
// weighing landmarkWeight times the data of every point.
System LandmarkTerm(const NodeGraph& graph, const std::vector<std::array<double, 3>>& extra,
  const std::vector<std::array<double, 3>>& targets, size_t onTriangles, double landmarkWeight)
{
  System landmarks;
  landmarks.Reset(graph.pattern.pairs.size(), static_cast<size_t>(graph.nodeCount));
  const size_t landmarkCount = std::min(extra.size(), targets.size());
  if (landmarkCount == 0)
  {
    return landmarks;
  }
  std::vector<double> landmarkPoints;
  const std::vector<double> landmarkWeights(
    landmarkCount, landmarkWeight * static_cast<double>(onTriangles) / static_cast<double>(landmarkCount));
  std::vector<ScanMatch> landmarkTargets(landmarkCount);
  for (size_t l = 0; l < landmarkCount; ++l)
  {
    landmarkPoints.insert(landmarkPoints.end(), extra[l].begin(), extra[l].end());
    landmarkTargets[l].trusted = true;
    std::copy(targets[l].begin(), targets[l].end(), landmarkTargets[l].point);
  }
  const std::vector<int> landmarkBlocks = BlockIndices(graph.extraBindings, landmarkCount, graph.pattern);
  const DataPoints data{ landmarkPoints, landmarkWeights, graph.extraBindings, landmarkBlocks, graph.positions, 1.0,
    nullptr, 0.0 };
  AddData(data, landmarkTargets, 0, landmarkCount, landmarks);
  return landmarks;
}

FixedTerms MakeFixedTerms(const NodeGraph& graph, const std::vector<std::array<double, 3>>& extra,
  const std::vector<std::array<double, 3>>& targets, size_t onTriangles, const FitOptions& options)
{
  FixedTerms fixed;
  const size_t pairCount = graph.pattern.pairs.size();
  const size_t nodeCount = static_cast<size_t>(graph.nodeCount);
  fixed.regulariser.Reset(pairCount, nodeCount);
  AddRegulariser(graph.pattern, graph.positions, options.nodeSpacing, options.bendWeight, fixed.regulariser);
  // The field's gradient small: each node's linear part near the identity.
  AddNodePull(graph.pattern, graph.nodeCount, options.gradientWeight * options.nodeSpacing * options.nodeSpacing, 0.0,
    fixed.regulariser);
  fixed.landmarks = LandmarkTerm(graph, extra, targets, onTriangles, options.landmarkWeight);
  // The anchor: every node's translation toward 0, its linear part toward
  // the identity (times nodeSpacing).
  fixed.anchors.Reset(pairCount, nodeCount);
  const double anchor = options.anchorWeight * static_cast<double>(onTriangles) / std::max(1, graph.nodeCount);
  AddNodePull(
    graph.pattern, graph.nodeCount, anchor * options.nodeSpacing * options.nodeSpacing, anchor, fixed.anchors);
  // The graph's pairs are far fewer than the template's points.
  const double pairs = static_cast<double>(std::max<size_t>(1, pairCount - graph.nodeCount));
  fixed.scale = static_cast<double>(onTriangles) / (2.0 * pairs);
  return fixed;
}

// What every step of the graph fit reads.
struct FitInputs
{
  const TriangleSurface& templ;
  const TriangleTree& scan;
  const TemplatePoints& points;
  const NodeGraph& graph;
  const FixedTerms& fixed;
  const FitOptions& options;
};

// What the steps of the graph fit carry from one to the next.
struct FitState
{
  std::vector<double> theta; // the nodes' maps
  TriangleSurface moving;    // the template as the maps move it
  std::vector<double> movingNormals;
  std::vector<double> movingAreas;
  std::vector<ScanMatch> matches;          // per point, of this step
  double limit = 0;                        // mm: the distance limit of this step's matches
  std::vector<unsigned char> trustChanges; // per point: how often its match turned from trusted to not or back
  std::vector<char> wasTrusted;
  Eigen::SparseMatrix<double> matrix;
  Eigen::ConjugateGradient<Eigen::SparseMatrix<double>, Eigen::Lower> solver;
  System data[2];
  System total;
};

// Every node starts with the identity, every point where the template has it.
void StartFit(const FitInputs& in, FitState& state)
{
  const size_t pointCount = in.templ.PointCount();
  state.theta = IdentityMaps(in.graph.nodeCount);
  state.moving = in.templ;
  state.movingNormals = in.points.normals;
  state.matches.assign(pointCount, ScanMatch());
  state.limit = in.options.startDistance;
  state.trustChanges.assign(pointCount, 0);
  state.wasTrusted.assign(pointCount, 0);
  state.solver.setTolerance(1e-6);
  state.solver.setMaxIterations(4000);
}

// Every point's match at its current place. From the second step on
// (`counting`), a match that turns from trusted to not or back counts toward
// kUnsteady, after which the point's match is no longer trusted.
void MatchPoints(const FitInputs& in, bool counting, FitState& state)
{
  ParallelRanges(in.templ.PointCount(), [&](size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i)
    {
      state.matches[i] = in.points.areas[i] > 0
        ? MatchOnScan(in.scan, &state.moving.points[3 * i], &state.movingNormals[3 * i], state.limit, 0.0)
        : ScanMatch();
      const char trusted = state.matches[i].trusted ? 1 : 0;
      if (counting && trusted != state.wasTrusted[i] && state.trustChanges[i] < kUnsteady)
      {
        ++state.trustChanges[i];
      }
      state.wasTrusted[i] = trusted;
      state.matches[i].trusted = state.matches[i].trusted && state.trustChanges[i] < kUnsteady;
    }
  });
}

// The data term of the step's matches in two fixed halves, added in order:
// the same sums whatever the number of threads.
void AddDataTerm(const FitInputs& in, FitState& state)
{
  const size_t pointCount = in.templ.PointCount();
  const size_t half = pointCount / 2;
  for (System& d : state.data)
  {
    d.Reset(in.graph.pattern.pairs.size(), static_cast<size_t>(in.graph.nodeCount));
  }
  const DataPoints data{ in.templ.points, in.points.weights, in.graph.bindings, in.graph.blockOf, in.graph.positions,
    in.options.pointWeight, &in.points.directions, in.options.sideWeight };
  BesideThread helper([&] { AddData(data, state.matches, half, pointCount, state.data[1]); });
  AddData(data, state.matches, 0, half, state.data[0]);
  helper.Join();
}

// The step's normal equations: the data, the fixed terms at `stiffness`, and
// a slight damping toward the step's start.
void AssembleSystem(const FitInputs& in, double stiffness, FitState& state)
{
  System& total = state.total;
  total = state.data[0];
  total.Add(state.data[1], 1.0);
  const double weight = stiffness * in.fixed.scale;
  total.Add(in.fixed.regulariser, weight);
  total.Add(in.fixed.landmarks, 1.0);
  // Below kAnchorStiffness the anchor eases off with the regulariser, so
  // that the points over a hole keep following their neighbours.
  total.Add(in.fixed.anchors, std::min(1.0, stiffness / kAnchorStiffness));
  const double damping = kDamping * weight * in.options.nodeSpacing * in.options.nodeSpacing + 1e-12;
  for (int n = 0; n < in.graph.nodeCount; ++n)
  {
    double* block = &total.blocks[static_cast<size_t>(in.graph.pattern.Find(n, n)) * kBlock];
    for (int r = 0; r < kParameters; ++r)
    {
      block[r * kParameters + r] += damping;
      const size_t at = static_cast<size_t>(n) * kParameters + r;
      total.right[at] += damping * state.theta[at];
    }
  }
}

// Solves the step's normal equations for the nodes' maps, started from the
// maps of the step before; false, the maps kept, when the solution is not a
// finite number.
bool SolveMaps(const FitInputs& in, FitState& state)
{
  double* values = state.matrix.valuePtr();
  std::fill(values, values + state.matrix.nonZeros(), 0.0);
  state.total.AddInto(in.graph.pattern, state.matrix);
  state.solver.compute(state.matrix);
  const Eigen::Index size = static_cast<Eigen::Index>(state.theta.size());
  const Eigen::VectorXd solution =
    state.solver.solveWithGuess(Eigen::Map<const Eigen::VectorXd>(state.total.right.data(), size),
      Eigen::Map<const Eigen::VectorXd>(state.theta.data(), size));
  if (!solution.allFinite())
  {
    return false;
  }
  state.theta.assign(solution.data(), solution.data() + solution.size());
  return true;
}

// Moves every point where the maps take it, and returns the 99th percentile
// of the moves of the points with a trusted match (of all of them when none
// has one): a few points whose match comes and goes (at the scan's borders)
// do not hold the fit up.
double MovePoints(const FitInputs& in, FitState& state)
{
  const size_t pointCount = in.templ.PointCount();
  std::vector<double> change(pointCount, 0.0);
  ParallelRanges(pointCount, [&](size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i)
    {
      double x[3];
      Deformed(&in.templ.points[3 * i], in.graph.bindings[i], in.graph.positions, state.theta, x);
      change[i] = Distance2(x, &state.moving.points[3 * i]);
      std::copy(x, x + 3, &state.moving.points[3 * i]);
    }
  });
  PointNormalsAndAreas(state.moving, state.movingNormals, state.movingAreas);
  // The points that the scan holds: those without a match follow their
  // neighbours and may go on moving where the scan gives them nothing to
  // settle on (a face or a neck the template has no part for).
  std::vector<double> held;
  for (size_t i = 0; i < pointCount; ++i)
  {
    if (state.matches[i].trusted)
    {
      held.push_back(change[i]);
    }
  }
  if (!held.empty())
  {
    change.swap(held);
  }
  const size_t rank = change.size() - 1 - change.size() / 100;
  std::nth_element(change.begin(), change.begin() + rank, change.end());
  return std::sqrt(change[rank]);
}

// The distance limit of the next step: four times the median of the step's
// trusted distances (which it reorders), within [minDistance, startDistance].
double NextLimit(std::vector<double>& distances, const FitOptions& options)
{
  const size_t middle = distances.size() / 2;
  std::nth_element(distances.begin(), distances.begin() + middle, distances.end());
  return std::min(options.startDistance, std::max(options.minDistance, 4.0 * distances[middle]));
}

enum class StepEnd
{
  Moved,     // the next step follows
  LevelDone, // the points settled, or the solve failed: the next level follows
  NoMatch    // no point has a trusted match: the fit ends
};

// One step of the graph fit at `stiffness`.
StepEnd FitStep(const FitInputs& in, double stiffness, FitState& state, FitResult& result)
{
  MatchPoints(in, result.steps > 0, state);
  std::vector<double> distances = TrustedDistances(state.matches);
  if (distances.empty())
  {
    return StepEnd::NoMatch;
  }
  AddDataTerm(in, state);
  AssembleSystem(in, stiffness, state);
  if (!SolveMaps(in, state))
  {
    return StepEnd::LevelDone;
  }
  result.change = MovePoints(in, state);
  ++result.steps;
  state.limit = NextLimit(distances, in.options);
  return result.change < kSettled ? StepEnd::LevelDone : StepEnd::Moved;
}

// The graph fit down the stiffness schedule; false when a step found no
// trusted match.
bool FitGraph(const FitInputs& in, FitState& state, FitResult& result)
{
  const std::vector<double>& schedule = in.options.stiffness;
  for (size_t level = 0; level < schedule.size(); ++level)
  {
    const int steps = level + 1 < schedule.size() ? in.options.stepsPerLevel : in.options.lastLevelSteps;
    for (int step = 0; step < steps; ++step)
    {
      const StepEnd end = FitStep(in, schedule[level], state, result);
      if (end == StepEnd::NoMatch)
      {
        return false;
      }
      if (end == StepEnd::LevelDone)
      {
        break;
      }
    }
  }
  return true;
}

// The extra points (the landmarks) moved by the fitted field.
void MoveExtra(const std::vector<std::array<double, 3>>& extra, const NodeGraph& graph,
  const std::vector<double>& theta, std::vector<std::array<double, 3>>& moved)
{
  for (size_t e = 0; e < extra.size(); ++e)
  {
    Deformed(extra[e].data(), graph.extraBindings[e], graph.positions, theta, moved[e].data());
  }
}

// The last, short move of each point with a trusted match (or near the
// scan's border) along its direction onto the scan's tangent plane at the
// match, by at most projectionLimit; twice, matching again.
void ProjectOntoScan(const FitInputs& in, FitState& state)
{
  for (int pass = 0; pass < 2; ++pass)
  {
    ParallelRanges(in.templ.PointCount(), [&](size_t begin, size_t end) {
      for (size_t i = begin; i < end; ++i)
      {
        state.matches[i] = in.points.areas[i] > 0
          ? MatchOnScan(in.scan, &state.moving.points[3 * i], &state.movingNormals[3 * i], state.limit, kBorderReach)
          : ScanMatch();
        const ScanMatch& m = state.matches[i];
        if (!m.trusted)
        {
          continue;
        }
        double* x = &state.moving.points[3 * i];
        const double* along = in.options.radial ? &in.points.directions[3 * i] : &state.movingNormals[3 * i];
        double gap[3];
        Subtract(m.point, x, gap);
        const double move = Dot(m.normal, gap) / Dot(m.normal, along);
        if (std::abs(move) <= in.options.projectionLimit)
        {
          for (int k = 0; k < 3; ++k)
          {
            x[k] += move * along[k];
          }
        }
      }
    });
  }
}

// The fitted points, which of them have a trusted match on the scan, and
// the figures of their distances to it.
void MeasureFit(const FitInputs& in, const FitState& state, FitResult& result)
{
  std::vector<double> distances;
  for (size_t i = 0; i < in.templ.PointCount(); ++i)
  {
    const ScanMatch m = in.points.areas[i] > 0
      ? MatchOnScan(in.scan, &state.moving.points[3 * i], &state.movingNormals[3 * i], state.limit, kBorderReach)
      : ScanMatch();
    if (m.trusted)
    {
      result.matched[i] = 1;
      distances.push_back(m.distance);
    }
  }
  result.points = state.moving.points;
  result.unmatched = 1.0 - static_cast<double>(distances.size()) / static_cast<double>(in.points.onTriangles);
  const Summary summary = Summarize(distances);
  result.mean = summary.mean;
  result.p95 = summary.p95;
  result.largest = summary.largest;
}
}

FitResult FitTemplate(const TriangleSurface& templ, const TriangleTree& scan,
  const std::vector<std::array<double, 3>>& extra, const std::vector<std::array<double, 3>>& targets,
  const FitOptions& options)
{
  FitResult result;
  const TemplatePoints points = WeighTemplate(templ, options.radial);
  result.points = templ.points;
  result.matched.assign(templ.PointCount(), 0);
  result.moved = extra;
  if (points.onTriangles == 0 || !(points.totalArea > 0))
  {
    return result;
  }
  FitState state;
  const NodeGraph graph = MakeNodeGraph(templ, points.areas, extra, options.nodeSpacing, state.matrix);
  result.nodes = graph.nodeCount;
  const FixedTerms fixed = MakeFixedTerms(graph, extra, targets, points.onTriangles, options);
  const FitInputs in{ templ, scan, points, graph, fixed, options };
  StartFit(in, state);
  if (!FitGraph(in, state, result))
  {
    result.points = state.moving.points;
    return result;
  }
  MoveExtra(extra, graph, state.theta, result.moved);
  ProjectOntoScan(in, state);
  MeasureFit(in, state, result);
  return result;
}
