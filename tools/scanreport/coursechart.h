// A chart of one head-shape measure over a subject's visits, as inline SVG
// (no script, nothing fetched): the measure against the age in months, or
// against the visit's number where ages are not known, with axes, ticks and
// labels; for the CVAI the five plagiocephaly levels as shaded, labelled
// bands; for the circumference of a child whose sex and ages are known, the
// WHO growth standard's 3rd, 15th, 50th, 85th and 97th centiles as labelled
// curves (<polyline class="centile" data-centile="50">) over the visits' ages
// up to the standard's 60 months. Every visit is a <circle class="point"> carrying data-visit and
// data-value (the value as the table holds it); the <svg> carries its axes'
// ranges (data-x-from, data-x-to, data-y-from, data-y-to), which the
// <rect class="plot"> spans, so that a reader of the page can map a point
// back to its value. Nothing fails.
#pragma once

#include "tools/scanreport/measurestable.h"

#include <string>

// The chart of the head-shape column named `column` ("ci", "cvai",
// "circumference") as a <figure> with its title.
std::string CourseChart(const VisitTable& table, const char* column);

// Whether the circumference chart of `table` draws the growth standard's
// centiles: the child's sex and the visits' ages known, the first visit
// within the standard's 60 months.
bool DrawsCentiles(const VisitTable& table);
