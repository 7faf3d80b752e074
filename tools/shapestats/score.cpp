// shapestats score: one head against a reference group on the same template
// mesh and in the same frame. Per cell, the head's signed departure from the
// group's mean surface along the mean's unit cell normal, in standard
// deviations of the members' own departures; as a whole, the head's
// Mahalanobis distance in the group's modes that explain 95% of its
// variance, ranked among the members' distances (each member measured
// against the others).

#include "commands.h"

#include "geometry/statistics.h"
#include "stats/celltests.h"
#include "surftools/outputfile.h"

#include <iostream>

namespace
{
constexpr double kExplained = 0.95;

struct ZScores
{
  std::vector<double> z;
  size_t unvarying = 0; // cells where the members do not vary: z written as 0
};

// The z-scores of the head (the last row) against the members (the rows
// before it), from the coordinates before the mean is taken off.
ZScores CellZScores(const CoordinateRows& rows, const Eigen::RowVectorXd& mean, const CohortReader& reader)
{
  const std::vector<vtkIdType>& triangles = reader.Triangles();
  const std::vector<CellFrame> frames = CellFrames(mean.data(), triangles);
  const Eigen::Index members = rows.rows() - 1;
  CellMoments moments(frames.size());
  std::vector<double> departures(frames.size());
  for (Eigen::Index j = 0; j <= members; ++j)
  {
    for (size_t c = 0; c < frames.size(); ++c)
    {
      departures[c] = Departure(frames[c], rows.row(j).data(), &triangles[3 * c]);
    }
    if (j < members)
    {
      moments.Add(departures.data());
    }
  }
  // `departures` now holds the head's.
  ZScores scores;
  scores.z.resize(frames.size());
  for (size_t c = 0; c < frames.size(); ++c)
  {
    const double deviation = moments.Deviation(c);
    scores.z[c] = deviation > 0 ? (departures[c] - moments.Mean(c)) / deviation : 0.0;
    scores.unvarying += deviation > 0 ? 0 : 1;
  }
  return scores;
}
}

int RunScore(const char* referenceList, const char* surface, const char* outDir)
{
  std::vector<std::string> names;
  OutputFolder folder;
  CohortReader reader;
  CoordinateRows rows;
  if (!ReadListNames(referenceList, names) || !EnoughNames(referenceList, names, 3, "a reference group") ||
    !NamesFitTables(referenceList, names) || !NamesFitTables("the arguments", { surface }) || !folder.Create(outDir))
  {
    return -1;
  }
  const Eigen::Index members = static_cast<Eigen::Index>(names.size());
  names.push_back(surface);
  if (!ReadRows(names, reader, rows))
  {
    return -1;
  }
  const Eigen::RowVectorXd mean = rows.topRows(members).colwise().mean();
  const ZScores scores = CellZScores(rows, mean, reader);
  rows.rowwise() -= mean;
  const Eigen::MatrixXd gram = GramMatrix(rows);
  std::vector<Eigen::Index> group(static_cast<size_t>(members));
  for (Eigen::Index j = 0; j < members; ++j)
  {
    group[static_cast<size_t>(j)] = j;
  }
  Eigen::Index used = 0;
  const double distance = ModeDistance(gram, group, members, kExplained, &used);
  if (used == 0)
  {
    std::cout << "The surfaces of reference list " << referenceList
              << " are all alike: a group without variance gives no scores\n";
    return -1;
  }
  const double percentile = PercentRank(LeaveOneOutDistances(gram, members, kExplained), distance);

  std::cout << "Reference surfaces: " << members << '\n'
            << "Mahalanobis distance in the " << used << (used == 1 ? " mode that explains" : " modes that explain")
            << " 95% of the variance: " << NumberText(distance) << '\n'
            << "Percentile among the reference group (each member against the others): " << NumberText(percentile)
            << '\n'
            << "Cells where the reference group does not vary (z written as 0): " << scores.unvarying << '\n';
  bool written = WriteValues(folder.File("zscore.clr"), scores.z, -3, 3, "rainbow_symmetric_whitemid");
  const std::string table = TableRow({ "file", "distance", "percentile" }) +
    TableRow({ surface, NumberText(distance), NumberText(percentile) });
  written = WriteTable(folder.File("score.tsv"), table) && written;
  return written ? 0 : -1;
}
