#include "stats/celltests.h"

#include <boost/math/distributions/students_t.hpp>

#include <algorithm>
#include <cmath>
#include <numeric>

CellMoments::CellMoments(size_t cells)
  : Means(cells, 0.0)
  , Squares(cells, 0.0)
{
}

void CellMoments::Add(const double* values)
{
  ++this->Subjects;
  const double n = static_cast<double>(this->Subjects);
  for (size_t c = 0; c < this->Means.size(); ++c)
  {
    const double delta = values[c] - this->Means[c];
    this->Means[c] += delta / n;
    this->Squares[c] += delta * (values[c] - this->Means[c]);
  }
}

double CellMoments::Deviation(size_t cell) const
{
  if (this->Subjects < 2)
  {
    return 0.0;
  }
  return std::sqrt(this->Squares[cell] / static_cast<double>(this->Subjects - 1));
}

PairedTest TestChanges(double mean, double deviation, size_t n)
{
  PairedTest test;
  if (n < 2 || !(deviation > 0.0) || !std::isfinite(mean))
  {
    return test;
  }
  test.t = mean / (deviation / std::sqrt(static_cast<double>(n)));
  if (!std::isfinite(test.t))
  {
    test.t = 0;
    return test;
  }
  const boost::math::students_t distribution(static_cast<double>(n - 1));
  test.p = std::min(1.0, 2.0 * boost::math::cdf(boost::math::complement(distribution, std::abs(test.t))));
  return test;
}

std::vector<double> BenjaminiHochberg(const std::vector<double>& p)
{
  const size_t m = p.size();
  std::vector<double> sorted(m);
  for (size_t i = 0; i < m; ++i)
  {
    sorted[i] = std::isnan(p[i]) ? 1.0 : p[i];
  }
  std::vector<size_t> order(m);
  std::iota(order.begin(), order.end(), size_t{ 0 });
  // Ties keep their cell order, so that the result does not depend on the sort.
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return sorted[a] < sorted[b]; });
  std::vector<double> q(m);
  double least = 1.0;
  for (size_t rank = m; rank >= 1; --rank)
  {
    const size_t i = order[rank - 1];
    least = std::min(least, sorted[i] * static_cast<double>(m) / static_cast<double>(rank));
    q[i] = least;
  }
  return q;
}
