// The measures table of one subject's visits, as the cohort workflow writes
// it: a header row, then one row per visit in the order of the visits,
// tab-separated: subject, visit, age_days, scan, the head-shape columns as
// `headshape` writes them after its `file` column, the four figures of the
// template fit of a raw scan, a check text, and the child's sex with its
// head circumference's z-score and percentile against the WHO growth
// standard (a table written before these three were added is read without
// them: no sex known). ReadMeasuresTable reads and
// checks it and returns an empty text, or the reason it refuses the table
// (to follow "Cannot read the measures table FILE: "): a file that cannot be
// opened, a header that differs, a row of another number of fields, of
// another subject, without a name or repeating one, a number that does not
// parse, a level or side that is none, fewer than two visits (a table of one
// scan's page: other than one), ages given on some rows only, or ages that do
// not increase.
#pragma once

#include "measure/headshape.h"

#include <array>
#include <string>
#include <vector>

// The fit's figures of a raw scan fitted onto the template (fittemplate's):
// the rms and the largest landmark residual after the fit and the mean
// distance from the fitted points to the scan (mm), and the share of template
// points without a match (%). None for a scan that already lay on the template.
struct FitFigures
{
  bool fitted = false;
  double landmarkRms = 0;
  double landmarkLargest = 0;
  double distanceMean = 0;
  double unmatchedPercent = 0;
};

struct Visit
{
  std::string name;
  int ageDays = -1;                               // -1 where ages are not known
  std::string scan;                               // as the cohort names it
  std::array<double, kHeadShapeColumns> values{}; // in kHeadShapeColumn's order
  double measuredFrom = 0;
  std::string flatSide; // posterior_flat_side: right, left or none
  FitFigures fit;
  std::string check; // why the workflow wants the visit checked (fittemplate's "Check the fit" line
                     // for a fit past fit/fitcheck.h's limits); empty when it does not
  // The head circumference against the WHO growth standard (hcstandard's
  // columns): none where the sex is unknown or the age past the standard.
  bool growthKnown = false;
  double hcZ = 0;
  double hcPercentile = 0;
};

struct VisitTable
{
  std::string subject;
  std::string sex; // female, male, or empty where unknown (or the table has no such column)
  bool agesKnown = false;
  std::vector<Visit> visits; // in order, at least two (one of a single scan's page)
};

// Reads the table of a page of two scans, or (`oneVisit`) of one.
std::string ReadMeasuresTable(const std::string& path, VisitTable& table, bool oneVisit = false);

// The table's header row, without its line feed.
std::string MeasuresHeaderRow();

// The index in kHeadShapeColumn of the column named `name`; -1 when none is.
int HeadShapeColumnIndex(const std::string& name);

// A visit's age in months of 30.4375 days (a year's average month).
double AgeInMonths(const Visit& visit);

// A visit's value of the head-shape column named `column` ("ci", "cvai", ...).
double Measure(const Visit& visit, const char* column);

// Whether a visit's row holds the measures of `shape` as headshape writes
// them (six significant digits, the side in words).
bool HoldsMeasures(const Visit& visit, const HeadShape& shape);
