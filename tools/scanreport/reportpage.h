// scanreport's page: one self-contained HTML page (style inline, pictures as
// data: URIs, no script) from what the tools made of a first and a final
// scan: their head-shape measures and the change, the pictures with their
// statistics and the extremes of the asymmetry ratios, and the command lines
// that make each picture by hand. Reads and writes no file; nothing fails.
#pragma once

#include "measure/headshape.h"

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
  std::string caption;
  std::string png;                     // the picture's PNG bytes
  std::vector<std::string> statistics; // its row of colorstats' table, split at tabs
  ShownCommand made;                   // what made its color file
  ShownCommand painted;                // the colorsnap run that painted it
  ShownCommand counted;                // the colorstats run of its statistics
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
};

// The whole page.
std::string ReportPage(const ReportContents& contents);
