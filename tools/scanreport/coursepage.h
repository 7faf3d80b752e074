// The course of a subject over its visits on scanreport's page, from the
// measures table: one summary sentence of the course, a table of every
// visit's measures by age, charts of the CI, the CVAI and the circumference,
// and the quality of the fits of raw scans. A visit that must be checked
// (its `check` text) is marked wherever it appears. Nothing fails.
#pragma once

#include "tools/scanreport/foundlandmarks.h"
#include "tools/scanreport/measurestable.h"

#include <string>
#include <vector>

// The course in one plain sentence (not HTML): the CVAI and its level at the
// first and the latest visit (ages in whole months, or "at the first visit"
// and "at the latest visit"), the patient's side of a flattened back of the
// head at the first visit and whether the flattening lessened, grew or is
// unchanged by the latest (the posterior symmetry ratio up by 1 or more,
// down by 1 or more, or neither), which visits are marked for checking, and
// those whose landmarks were found (`found`). Of one visit: its CVAI and
// level, and the side of a flattening.
std::string CourseSummary(const VisitTable& table, const std::vector<FoundFit>& found);

// The top of the page for a course (HTML): the visits' names with their
// ages, and the summary sentence.
std::string CourseHeader(const VisitTable& table, const std::vector<FoundFit>& found);

// The course's section of the page (HTML): the visits' table, the charts (of
// two visits or more) and, where a visit's scan was fitted, the fits' table
// with the limits, then for each visit whose landmarks were found (`found`,
// painted) the landmarks named with their certainty, the picture that marks
// them and what to do where they are off.
std::string CourseSection(const VisitTable& table, const std::vector<FoundFit>& found = {});
