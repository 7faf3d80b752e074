// Tests run on every cell of a template mesh at once: running moments of a
// value per cell, the paired t-test of a cohort's changes, and the
// Benjamini-Hochberg adjustment of the p-values of all cells. Pure
// arithmetic: nothing is read or written, nothing fails.
#pragma once

#include <cstddef>
#include <vector>

// The running mean and sum of squared deviations of one value per cell over
// subjects added one at a time (Welford's update, so that equal values give
// a standard deviation of exactly zero).
class CellMoments
{
public:
  explicit CellMoments(size_t cells);

  // Adds one subject's value at every cell (`values` holds one per cell).
  void Add(const double* values);

  size_t Count() const { return this->Subjects; }
  double Mean(size_t cell) const { return this->Means[cell]; }
  // The sample standard deviation (n - 1 in the denominator); 0 with fewer
  // than two subjects.
  double Deviation(size_t cell) const;

private:
  size_t Subjects = 0;
  std::vector<double> Means;
  std::vector<double> Squares;
};

// The paired t-test of n changes (latest minus first) against no change.
struct PairedTest
{
  double t = 0; // mean / (sd / sqrt(n))
  double p = 1; // two-sided, from Student's t with n - 1 degrees of freedom
};

// The test from the changes' mean and sample standard deviation. Where the
// deviation is zero (or n < 2) t is undefined: t = 0 and p = 1, so that the
// cell never counts as changed.
PairedTest TestChanges(double mean, double deviation, size_t n);

// The false-discovery-rate-adjusted p-values (q-values) of Benjamini and
// Hochberg, in the order of `p`: with p sorted ascending, q at rank i (from 1)
// is the least p(j) m / j over j >= i, at most 1. A p that is not a number
// gives a q of 1 and counts among the m tests.
std::vector<double> BenjaminiHochberg(const std::vector<double>& p);
