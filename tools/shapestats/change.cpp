// shapestats change: where a cohort's heads changed between two visits. Per
// cell, each subject's change is the displacement of the cell's centroid
// from the first visit to the latest along the first visit's unit cell
// normal; the changes are tested against no change with the paired t-test,
// and the p-values of all cells adjusted for the false discovery rate.
// Beyond growth, each latest surface is first scaled and moved onto its
// first visit's by a fit that a local change does not sway
// (stats/sizefit.h), so that what is left is the change of shape.

#include "commands.h"

#include "stats/celltests.h"
#include "stats/sizefit.h"
#include "surftools/outputfile.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <memory>

namespace
{
constexpr double kFalseDiscoveryRate = 0.05;

// Reads both lists of the same subjects. False after one line.
bool ReadPairedLists(
  const char* firstList, const char* latestList, std::vector<std::string>& first, std::vector<std::string>& latest)
{
  if (!ReadListNames(firstList, first) || !ReadListNames(latestList, latest))
  {
    return false;
  }
  if (first.size() != latest.size())
  {
    std::cout << "List files " << firstList << " and " << latestList
              << " name different numbers of surfaces: " << first.size() << " and " << latest.size() << '\n';
    return false;
  }
  return EnoughNames(firstList, first, 2, "a change");
}

// Every subject's change at every cell, gathered as moments, and the mean
// area of each cell over the first visits.
struct Changes
{
  bool beyondGrowth = false; // each latest surface brought to its first's size and place first
  std::unique_ptr<CellMoments> moments;
  std::vector<double> area;
  std::vector<double> growth; // each subject's growth factor, beyond growth
};

// Reads the pairs of visits one subject at a time. False after one line.
bool GatherChanges(const std::vector<std::string>& first, const std::vector<std::string>& latest, Changes& changes)
{
  CohortReader reader;
  std::vector<double> before;
  std::vector<double> after;
  std::vector<double> change;
  const double subjects = static_cast<double>(first.size());
  for (size_t s = 0; s < first.size(); ++s)
  {
    if (!reader.Read(first[s]))
    {
      return false;
    }
    if (s == 0)
    {
      before.resize(3 * static_cast<size_t>(reader.PointCount()));
      after.resize(before.size());
      change.resize(reader.CellCount());
      changes.moments = std::make_unique<CellMoments>(reader.CellCount());
      changes.area.assign(reader.CellCount(), 0.0);
    }
    reader.CopyCoordinates(before.data());
    if (!reader.Read(latest[s]))
    {
      return false;
    }
    reader.CopyCoordinates(after.data());
    if (changes.beyondGrowth)
    {
      const SizeFit fit = FitSize(before.data(), after.data(), before.size() / 3);
      ApplySize(fit, after.data(), after.size() / 3);
      changes.growth.push_back(fit.growth);
    }
    const std::vector<CellFrame> frames = CellFrames(before.data(), reader.Triangles());
    for (size_t c = 0; c < frames.size(); ++c)
    {
      change[c] = Departure(frames[c], after.data(), &reader.Triangles()[3 * c]);
      changes.area[c] += frames[c].area / subjects;
    }
    changes.moments->Add(change.data());
  }
  return true;
}

// The maps of the test and the figures of its summary.
struct ChangeMaps
{
  std::vector<double> mean, t, q, significant;
  size_t unvarying = 0; // cells whose changes do not vary: t undefined, written 0
  size_t significantCells = 0;
  double significantArea = 0; // share of the area
  size_t largestCell = 0;     // the cell of the largest mean change in magnitude
};

ChangeMaps TestCells(const Changes& changes)
{
  const CellMoments& moments = *changes.moments;
  const size_t cells = changes.area.size();
  ChangeMaps maps;
  maps.mean.resize(cells);
  maps.t.resize(cells);
  maps.significant.resize(cells);
  std::vector<double> p(cells);
  for (size_t c = 0; c < cells; ++c)
  {
    maps.mean[c] = moments.Mean(c);
    const PairedTest test = TestChanges(moments.Mean(c), moments.Deviation(c), moments.Count());
    maps.t[c] = test.t;
    p[c] = test.p;
    maps.unvarying += moments.Deviation(c) == 0.0 ? 1 : 0;
    if (std::abs(maps.mean[c]) > std::abs(maps.mean[maps.largestCell]))
    {
      maps.largestCell = c;
    }
  }
  maps.q = BenjaminiHochberg(p);
  double area = 0;
  double significantArea = 0;
  for (size_t c = 0; c < cells; ++c)
  {
    const bool significant = maps.q[c] < kFalseDiscoveryRate;
    maps.significant[c] = significant ? 1.0 : 0.0;
    maps.significantCells += significant ? 1 : 0;
    area += changes.area[c];
    significantArea += significant ? changes.area[c] : 0.0;
  }
  maps.significantArea = area > 0 ? significantArea / area : 0.0;
  return maps;
}

// Beyond growth: each subject's growth factor in growth.tsv, named by its
// latest surface, and their mean and spread on standard output.
bool WriteGrowth(const OutputFolder& folder, const std::vector<std::string>& latest, const std::vector<double>& growth)
{
  std::string table = TableRow({ "subject", "growth_factor" });
  CellMoments moments(1);
  for (size_t s = 0; s < growth.size(); ++s)
  {
    table += TableRow({ latest[s], NumberText(growth[s]) });
    moments.Add(&growth[s]);
  }
  std::cout << "Growth factors (latest against first): mean " << NumberText(moments.Mean(0)) << ", sd "
            << NumberText(moments.Deviation(0)) << ", from "
            << NumberText(*std::min_element(growth.begin(), growth.end())) << " to "
            << NumberText(*std::max_element(growth.begin(), growth.end())) << '\n';
  return WriteTable(folder.File("growth.tsv"), table);
}

// The summary on standard output and in summary.tsv.
bool WriteSummary(const OutputFolder& folder, size_t subjects, const ChangeMaps& maps)
{
  const size_t cells = maps.mean.size();
  const double largest = cells > 0 ? maps.mean[maps.largestCell] : 0.0;
  std::cout << "Subjects: " << subjects << ", cells: " << cells << '\n'
            << "Cells significant (q < 0.05): " << maps.significantCells << ", "
            << NumberText(100.0 * maps.significantArea) << "% of the area\n"
            << "Largest mean change: " << NumberText(largest) << " at cell " << maps.largestCell << '\n'
            << "Cells whose changes do not vary (t written as 0, q as 1): " << maps.unvarying << '\n';
  const std::string table = TableRow({ "subjects", "cells", "significant", "area_share", "largest_change",
                              "largest_change_cell", "unvarying" }) +
    TableRow({ std::to_string(subjects), std::to_string(cells), std::to_string(maps.significantCells),
      NumberText(maps.significantArea), NumberText(largest), std::to_string(maps.largestCell),
      std::to_string(maps.unvarying) });
  return WriteTable(folder.File("summary.tsv"), table);
}
}

int RunChange(const char* firstList, const char* latestList, const char* outDir, const char* size)
{
  if (size && std::string(size) != "size")
  {
    std::cout << "The change's fourth argument is size (the change beyond growth), not " << size << '\n';
    return -1;
  }
  std::vector<std::string> first;
  std::vector<std::string> latest;
  OutputFolder folder;
  Changes changes;
  changes.beyondGrowth = size != nullptr;
  if (!ReadPairedLists(firstList, latestList, first, latest) || !folder.Create(outDir) ||
    !GatherChanges(first, latest, changes))
  {
    return -1;
  }
  const ChangeMaps maps = TestCells(changes);
  const double meanRange = LargestMagnitude(maps.mean);
  const double tRange = LargestMagnitude(maps.t);
  bool written =
    WriteValues(folder.File("change_mean.clr"), maps.mean, -meanRange, meanRange, "rainbow_symmetric_whitemid");
  written = WriteValues(folder.File("change_t.clr"), maps.t, -tRange, tRange, "rainbow_symmetric_whitemid") && written;
  written = WriteValues(folder.File("change_q.clr"), maps.q, 0, 1, "rainbow") && written;
  written = WriteValues(folder.File("change_significant.clr"), maps.significant, 0, 1, "rainbow") && written;
  written = WriteSummary(folder, first.size(), maps) && written;
  written = (!changes.beyondGrowth || WriteGrowth(folder, latest, changes.growth)) && written;
  return written ? 0 : -1;
}
