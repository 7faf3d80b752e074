// locatordiff: asks SurfaceLocator and vtkCellLocator the same random queries
// and counts where their answers differ in any bit; also times both.
//
//   locatordiff surface.vtk COUNT [SEED]
//
// Closest-point queries: points near random places of the surface (0 to 5 mm
// off on both sides, some exactly on corners and edges), some far outside.
// Line queries: segments between such points, and from them in random
// directions. Proofs of hits (LocatorSurelyHits, LocatorSurelyHitsNear): on
// the line queries, and on probes from the centre of the surface's bounds
// through the query points to five times their distance; a proof must never
// claim a hit that the locator does not report. The probes are also asked of
// a SurfaceLocator of their own with the query point's nearest cell, as
// helmetdiff asks its probes. Prints the counts and exits with status 1 on
// any difference or wrong proof.
#include "benchrandom.h"
#include "locate/locatorhit.h"
#include "locate/surfacelocator.h"
#include "surftools/surface.h"

#include <vtkCellLocator.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <vector>

namespace
{

// A query point: on a corner, on an edge, or off a random point of a cell
// along its normal; now and then far away. Rounded to single precision as a
// curve file gives it.
void QueryPoint(vtkPolyData* surface, Random& random, double p[3])
{
  const vtkIdType cells = surface->GetNumberOfCells();
  const vtkIdType cell = static_cast<vtkIdType>(random.Next() % static_cast<uint64_t>(cells));
  double corners[3][3];
  CellCorners(surface, cell, corners);
  double n[3];
  CellNormal(corners, n);
  const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  double a = random.Uniform(0, 1);
  double b = random.Uniform(0, 1);
  if (a + b > 1)
  {
    a = 1 - a;
    b = 1 - b;
  }
  const int kind = static_cast<int>(random.Next() % 16);
  if (kind == 0)
  {
    a = 0;
    b = 0;
  }
  else if (kind == 1)
  {
    b = 0;
  }
  else if (kind == 2)
  {
    b = 1 - a;
  }
  double off = random.Uniform(-5, 5);
  if (kind < 4)
  {
    off = kind == 3 ? 0 : random.Uniform(-0.5, 0.5) * (random.Next() % 2);
  }
  if (kind == 15)
  {
    off = random.Uniform(-300, 300);
  }
  for (int k = 0; k < 3; ++k)
  {
    const double on = corners[0][k] + a * (corners[1][k] - corners[0][k]) + b * (corners[2][k] - corners[0][k]);
    p[k] = static_cast<float>(on + (length > 0 ? off * n[k] / length : 0));
  }
}

bool Same(const double* a, const double* b, int count)
{
  return std::memcmp(a, b, sizeof(double) * count) == 0;
}

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from)
{
  return std::chrono::duration<double>(Clock::now() - from).count();
}

// The queries: a point each (the closest-point query and the segment's
// start) and the segment's end, to another such point or in a random
// direction.
std::vector<double> MakeQueries(vtkPolyData* surface, Random& random, long long count)
{
  std::vector<double> queries(6 * static_cast<size_t>(count));
  for (long long i = 0; i < count; ++i)
  {
    QueryPoint(surface, random, &queries[6 * i]);
    if (i % 2 == 0)
    {
      QueryPoint(surface, random, &queries[6 * i + 3]);
    }
    else
    {
      const double z = random.Uniform(-1, 1);
      const double angle = random.Uniform(0, 6.283185307179586);
      const double r = std::sqrt(1 - z * z);
      const double reach = random.Uniform(0, 30);
      queries[6 * i + 3] = static_cast<float>(queries[6 * i] + reach * r * std::cos(angle));
      queries[6 * i + 4] = static_cast<float>(queries[6 * i + 1] + reach * r * std::sin(angle));
      queries[6 * i + 5] = static_cast<float>(queries[6 * i + 2] + reach * z);
    }
  }
  return queries;
}

// Both locators and what is counted and timed of them.
struct Comparison
{
  Comparison(vtkPolyData* surface, vtkCellLocator* plain, SurfaceLocator& fast, SurfaceLocator& probing)
    : surface(surface)
    , plain(plain)
    , fast(fast)
    , probing(probing)
  {
    gridRead = ReadLocatorGrid(plain, &grid);
    LinkLocatorGrid(&grid);
    const double* bounds = surface->GetBounds();
    for (int k = 0; k < 3; ++k)
    {
      centre[k] = (bounds[2 * k] + bounds[2 * k + 1]) / 2;
    }
  }

  vtkPolyData* surface;
  vtkSmartPointer<vtkCellLocator> plain;
  SurfaceLocator& fast;
  SurfaceLocator& probing; // asked the probes alone, with a near cell
  LocatorGrid grid;        // the plain locator's, for the proofs
  bool gridRead = false;
  double centre[3];
  vtkIdType hint = -1;
  long long closestDiffer = 0;
  long long lineDiffer = 0;
  long long proofs = 0;
  long long proofsWrong = 0;
  long long probes = 0;
  long long probesProved = 0;
  long long probesWrong = 0;
  long long probesDiffer = 0;
  double plainTime[2] = { 0, 0 };
  double fastTime[2] = { 0, 0 };

  void Closest(const std::vector<double>& queries, long long from, long long to, std::vector<double>& answers);
  void Lines(const std::vector<double>& queries, long long from, long long to, std::vector<double>& lines);
  void Proofs(const std::vector<double>& queries, long long from, long long to, const std::vector<double>& answers,
    const std::vector<double>& lines, Random& random);
};

// Closest points: the locator, then the fast search, in turns; the
// locator's answers (point, dist2, cell, subId) into `answers`.
void Comparison::Closest(const std::vector<double>& queries, long long from, long long to, std::vector<double>& answers)
{
  Clock::time_point start = Clock::now();
  for (long long i = from; i < to; ++i)
  {
    double* answer = &answers[8 * (i - from)];
    vtkIdType cellId = -1;
    int subId = -1;
    plain->FindClosestPoint(&queries[6 * i], answer, cellId, subId, answer[3]);
    answer[4] = static_cast<double>(cellId);
    answer[5] = subId;
  }
  plainTime[0] += Seconds(start);
  start = Clock::now();
  for (long long i = from; i < to; ++i)
  {
    const double* answer = &answers[8 * (i - from)];
    double mine[6];
    vtkIdType cellId = -1;
    int subId = -1;
    fast.FindClosestPoint(&queries[6 * i], mine, cellId, subId, mine[3]);
    mine[4] = static_cast<double>(cellId);
    mine[5] = subId;
    if (!Same(answer, mine, 6) && ++closestDiffer <= 10)
    {
      std::cout.precision(17);
      std::cout << "closest point differs at " << queries[6 * i] << ' ' << queries[6 * i + 1] << ' '
                << queries[6 * i + 2] << ": cell " << answer[4] << " / " << mine[4] << '\n';
    }
  }
  fastTime[0] += Seconds(start);
}

// The answer of a line query as compared: x, pcoords, the flag, t, the cell
// and subId, all 0 (cell -1) for a miss.
void LineAnswer(int hit, const SurfaceLocator::LineHit& at, double answer[10])
{
  std::copy(at.x, at.x + 3, answer);
  std::copy(at.pcoords, at.pcoords + 3, answer + 3);
  answer[6] = hit;
  answer[7] = hit ? at.t : 0;
  answer[8] = hit ? static_cast<double>(at.cellId) : -1;
  answer[9] = hit ? at.subId : 0;
  if (!hit)
  {
    std::fill(answer, answer + 6, 0.0);
  }
}

// Lines: the locator's answers into `lines`, then the fast ones compared.
void Comparison::Lines(const std::vector<double>& queries, long long from, long long to, std::vector<double>& lines)
{
  Clock::time_point start = Clock::now();
  for (long long i = from; i < to; ++i)
  {
    SurfaceLocator::LineHit at = {};
    const int hit = plain->IntersectWithLine(
      &queries[6 * i], &queries[6 * i + 3], 0.001, at.t, at.x, at.pcoords, at.subId, at.cellId);
    LineAnswer(hit, at, &lines[10 * (i - from)]);
  }
  plainTime[1] += Seconds(start);
  start = Clock::now();
  for (long long i = from; i < to; ++i)
  {
    const double* answer = &lines[10 * (i - from)];
    SurfaceLocator::LineHit at = {};
    const int hit = fast.IntersectWithLine(&queries[6 * i], &queries[6 * i + 3], 0.001, &at);
    double mine[10];
    LineAnswer(hit, at, mine);
    if (!Same(answer, mine, 10) && ++lineDiffer <= 10)
    {
      std::cout.precision(17);
      std::cout << "line differs from " << queries[6 * i] << ' ' << queries[6 * i + 1] << ' ' << queries[6 * i + 2]
                << " to " << queries[6 * i + 3] << ' ' << queries[6 * i + 4] << ' ' << queries[6 * i + 5] << ": hit "
                << answer[6] << " / " << mine[6] << ", cell " << answer[8] << " / " << mine[8] << '\n';
    }
  }
  fastTime[1] += Seconds(start);
}

// Proofs: for the cell the locator reported, else a random one; and the
// probes, from the nearest cell of their query point on, proved on the
// locator's grid and asked of the probing SurfaceLocator.
void Comparison::Proofs(const std::vector<double>& queries, long long from, long long to,
  const std::vector<double>& answers, const std::vector<double>& lines, Random& random)
{
  for (long long i = from; i < to && gridRead; ++i)
  {
    const double* answer = &lines[10 * (i - from)];
    const vtkIdType cell = answer[8] >= 0 ? static_cast<vtkIdType>(answer[8])
                                          : static_cast<vtkIdType>(random.Next() % surface->GetNumberOfCells());
    if (LocatorSurelyHits(grid, &queries[6 * i], &queries[6 * i + 3], 0.001, cell))
    {
      ++proofs;
      proofsWrong += answer[6] != 1;
    }
    double end[3];
    for (int k = 0; k < 3; ++k)
    {
      end[k] = static_cast<float>(centre[k] + 5 * (queries[6 * i + k] - centre[k]));
    }
    const vtkIdType near = static_cast<vtkIdType>(answers[8 * (i - from) + 4]);
    ++probes;
    double t;
    double x[3];
    double pcoords[3];
    int subId;
    const int plainHit = plain->IntersectWithLine(centre, end, 0.001, t, x, pcoords, subId);
    if (near >= 0 && LocatorSurelyHitsNear(grid, centre, end, 0.001, near, &hint))
    {
      ++probesProved;
      probesWrong += plainHit != 1;
    }
    probesDiffer += probing.IntersectWithLine(centre, end, 0.001, nullptr, near) != plainHit;
  }
}
}

int main(int argc, char* argv[])
{
  if (argc != 3 && argc != 4)
  {
    std::cout << "Usage: locatordiff surface.vtk COUNT [SEED]\n";
    return -1;
  }
  vtkSmartPointer<vtkPolyData> surface = ReadSurface(argv[1]);
  if (!surface || surface->GetNumberOfCells() == 0)
  {
    return -1;
  }
  const long long count = std::atoll(argv[2]);
  Random random{ argc == 4 ? std::strtoull(argv[3], nullptr, 10) : 1 };

  const std::vector<double> queries = MakeQueries(surface, random, count);

  Clock::time_point start = Clock::now();
  auto plain = vtkSmartPointer<vtkCellLocator>::New();
  plain->SetDataSet(surface);
  plain->BuildLocator();
  const double plainBuild = Seconds(start);
  start = Clock::now();
  SurfaceLocator fast(surface);
  // The index is built on the first query: the first point's, asked again
  // below.
  if (count > 0)
  {
    double closest[3];
    vtkIdType cellId;
    int subId;
    double dist2;
    fast.FindClosestPoint(&queries[0], closest, cellId, subId, dist2);
  }
  const double fastBuild = Seconds(start);
  SurfaceLocator probing(surface);

  Comparison comparison(surface, plain, fast, probing);
  const long long block = 4096;
  for (long long from = 0; from < count; from += block)
  {
    const long long to = std::min(count, from + block);
    std::vector<double> answers(8 * static_cast<size_t>(to - from));
    std::vector<double> lines(10 * static_cast<size_t>(to - from));
    comparison.Closest(queries, from, to, answers);
    comparison.Lines(queries, from, to, lines);
    comparison.Proofs(queries, from, to, answers, lines, random);
  }
  const Comparison& c = comparison;
  std::cout << count << " closest-point queries, " << c.closestDiffer << " differ; " << count << " line queries, "
            << c.lineDiffer << " differ; asked of the locator: " << fast.AskedClosest << " closest-point and "
            << fast.AskedLine << " line queries\n";
  std::cout << "build: locator " << plainBuild << " s, fast " << fastBuild << " s\n";
  std::cout << "closest points: locator " << count / c.plainTime[0] << "/s, fast " << count / c.fastTime[0] << "/s\n";
  std::cout << "lines: locator " << count / c.plainTime[1] << "/s, fast " << count / c.fastTime[1] << "/s\n";
  std::cout << "proofs of hits: " << c.proofs << " on line queries, " << c.proofsWrong << " wrong; " << c.probesProved
            << " of " << c.probes << " probes from the centre, " << c.probesWrong << " wrong\n";
  std::cout << "probes asked with their near cell: " << c.probesDiffer << " differ; " << probing.ProvedLine
            << " proved, " << probing.AskedLine << " asked of the locator\n";
  const bool same = c.closestDiffer == 0 && c.lineDiffer == 0 && c.probesDiffer == 0;
  return same && c.proofsWrong == 0 && c.probesWrong == 0 ? 0 : 1;
}
