// scanreport's page: one self-contained HTML page (style inline, pictures as
// data: URIs, charts as inline SVG, no script) from what the tools made of a
// first and a final scan: their head-shape measures and the change, the
// pictures with their statistics and the extremes of the asymmetry ratios,
// and the command lines that make each picture by hand (of one scan: its
// measures, its asymmetry's picture and statistics); with a measures
// table, first the subject's course over every visit (coursepage.h); with a
// score folder, the subject against the cohort (its z-score map, distance
// and percentile). Numbers
// are rounded for reading; the exact ones are in the tools' tables. Reads and
// writes no file; nothing fails.
#pragma once

#include "measure/headshape.h"
#include "tools/scanreport/foundlandmarks.h"
#include "tools/scanreport/measurestable.h"
#include "tools/scanreport/scorefolder.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

// A command as the page shows it: the tool and its arguments, with the
// inputs named as the user named them.
struct ShownCommand
{
  std::string tool;
  std::vector<std::string> arguments;
};

struct PagePicture
{
  std::string title;
  std::string shortTitle; // the heading of its column of statistics
  std::string caption;
  int decimals;                        // its values' places, as the page rounds them
  std::string png;                     // the picture's PNG bytes
  std::vector<std::string> statistics; // its row of colorstats' table, split at tabs
  ShownCommand made;                   // what made its color file
  ShownCommand painted;                // the colorsnap run that painted it
  ShownCommand counted;                // the colorstats run of its statistics
};

// The subject against a reference group: the figures of its score folder
// and the picture of its z-scores.
struct PageScore
{
  SubjectScore figures;
  std::string png;      // the picture's PNG bytes
  ShownCommand painted; // the colorsnap run that painted it
};

struct ReportContents
{
  std::string firstScan; // the four inputs as the user named them
  std::string finalScan;
  std::string templateMesh;
  std::string templateMask;
  std::string date;    // the day the page is made: YYYY-MM-DD
  HeadShape shapes[2]; // of the first and of the final scan
  std::vector<PagePicture> pictures;
  std::vector<std::string> statisticsHeader;                 // colorstats' header row, split at tabs
  std::vector<std::pair<std::string, std::string>> extremes; // scancompare's report block: name, value
  std::string measuresTable;                                 // the measures table as the user named it, or ""
  std::optional<VisitTable> course;                          // read from it
  std::vector<FoundFit> found;                               // its visits whose landmarks were found, painted
  std::optional<PageScore> score;                            // where a score folder is given

  // The page of one scan: "-" for the final scan (then shapes[1] is not
  // measured and there are no extremes).
  bool OneScan() const { return finalScan == "-"; }
  int ScanCount() const { return OneScan() ? 1 : 2; }
};

// The whole page.
std::string ReportPage(const ReportContents& contents);
