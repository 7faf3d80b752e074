// shapestats modes: the principal components of a cohort's surfaces, in one
// frame and on one template mesh: the points less their mean (not scaled),
// decomposed through the Gram matrix of the surfaces. Each mode is shown as
// the mean moved 2 standard deviations either way, and as the displacement
// of each cell per standard deviation.

#include "commands.h"

#include "geometry/vector.h"
#include "surftools/outputfile.h"
#include "surftools/surface.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iostream>

namespace
{
constexpr long kDefaultModes = 5;

// The number of modes asked for: a whole number of at least 1. False after
// one line.
bool ParseModeCount(const char* text, long& count)
{
  if (!text)
  {
    count = kDefaultModes;
    return true;
  }
  char* end = nullptr;
  errno = 0;
  count = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || errno != 0 || count < 1)
  {
    std::cout << "Mode count " << text << " is not a whole number of at least 1\n";
    return false;
  }
  return true;
}

// Gives every mode the sign that moves the mean outward from its centre on
// the whole (the sum over points of the mode's component away from the
// centre of the mean's points is not negative), so that "plus" makes a head
// larger where it can; the weights (and so the scores) follow.
void OrientOutward(const Eigen::RowVectorXd& mean, Eigen::MatrixXd& vectors, GramModes& modes)
{
  const Eigen::Index points = mean.size() / 3;
  const Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, 3, Eigen::RowMajor>> at(mean.data(), points, 3);
  const Eigen::RowVector3d centre = at.colwise().mean();
  for (Eigen::Index k = 0; k < vectors.cols(); ++k)
  {
    const Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, 3, Eigen::RowMajor>> mode(
      vectors.col(k).data(), points, 3);
    const double outward = ((at.rowwise() - centre).array() * mode.array()).sum();
    if (outward < 0)
    {
      vectors.col(k) *= -1.0;
      modes.weights.col(k) *= -1.0;
    }
  }
}

// Each cell's displacement per standard deviation of a mode: the length of
// the mode's move of the cell's centroid.
std::vector<double> CellDisplacements(const CohortReader& reader, const Eigen::VectorXd& move)
{
  std::vector<double> lengths(reader.CellCount());
  for (size_t c = 0; c < lengths.size(); ++c)
  {
    double d[3];
    TriangleCentroid(move.data(), &reader.Triangles()[3 * c], d);
    lengths[c] = Norm(d);
  }
  return lengths;
}

// modes.tsv and scores.tsv, with the table of modes on standard output.
bool WriteTables(
  const OutputFolder& folder, const std::vector<std::string>& names, const GramModes& modes, Eigen::Index count)
{
  std::string table = TableRow({ "mode", "variance", "share" });
  std::vector<std::string> header = { "file" };
  for (Eigen::Index k = 0; k < count; ++k)
  {
    const double share = modes.variance(k) / modes.total;
    std::cout << "Mode " << k + 1 << ": variance " << NumberText(modes.variance(k)) << ", " << NumberText(100.0 * share)
              << "% of the variance\n";
    table += TableRow({ std::to_string(k + 1), NumberText(modes.variance(k)), NumberText(share) });
    header.push_back("mode" + std::to_string(k + 1));
  }
  std::string scores = TableRow(header);
  const double degrees = std::sqrt(static_cast<double>(names.size() - 1));
  for (size_t j = 0; j < names.size(); ++j)
  {
    std::vector<std::string> row = { names[j] };
    for (Eigen::Index k = 0; k < count; ++k)
    {
      row.push_back(NumberText(degrees * modes.weights(static_cast<Eigen::Index>(j), k)));
    }
    scores += TableRow(row);
  }
  const bool written = WriteTable(folder.File("modes.tsv"), table);
  return WriteTable(folder.File("scores.tsv"), scores) && written;
}

// mode<k>_plus2sd.vtk, mode<k>_minus2sd.vtk and mode<k>.clr of every mode.
bool WriteModeFiles(const OutputFolder& folder, const CohortReader& reader, const Eigen::RowVectorXd& mean,
  const Eigen::MatrixXd& vectors, const GramModes& modes)
{
  bool written = true;
  for (Eigen::Index k = 0; k < vectors.cols(); ++k)
  {
    const std::string name = "mode" + std::to_string(k + 1);
    const Eigen::VectorXd move = std::sqrt(modes.variance(k)) * vectors.col(k);
    const Eigen::RowVectorXd plus = mean + 2.0 * move.transpose();
    const Eigen::RowVectorXd minus = mean - 2.0 * move.transpose();
    written = WriteCohortSurface(reader, plus.data(), folder.File(name + "_plus2sd.vtk")) && written;
    written = WriteCohortSurface(reader, minus.data(), folder.File(name + "_minus2sd.vtk")) && written;
    const std::vector<double> lengths = CellDisplacements(reader, move);
    written = WriteValues(folder.File(name + ".clr"), lengths, 0, LargestMagnitude(lengths), "rainbow") && written;
  }
  return written;
}
}

int RunModes(const char* list, const char* outDir, const char* modeCount)
{
  long asked = 0;
  std::vector<std::string> names;
  OutputFolder folder;
  CohortReader reader;
  CoordinateRows rows;
  if (!ParseModeCount(modeCount, asked) || !ReadListNames(list, names) ||
    !EnoughNames(list, names, 2, "a decomposition into modes") || !NamesFitTables(list, names) ||
    !folder.Create(outDir) || !ReadRows(names, reader, rows))
  {
    return -1;
  }
  const Eigen::RowVectorXd mean = rows.colwise().mean();
  rows.rowwise() -= mean;
  GramModes modes = ModesFromGram(GramMatrix(rows));
  const Eigen::Index count = std::min<Eigen::Index>(asked, modes.Count());
  std::cout << "Surfaces: " << names.size() << '\n';
  if (count == 0)
  {
    std::cout << "The surfaces are all alike: no mode varies; writing their mean alone\n";
  }
  else if (count < asked)
  {
    std::cout << "Only " << count << (count == 1 ? " mode varies" : " modes vary") << ": writing " << count << '\n';
  }
  Eigen::MatrixXd vectors = ModeVectors(rows, modes, count);
  OrientOutward(mean, vectors, modes);
  bool written = WriteTables(folder, names, modes, count);
  written = WriteCohortSurface(reader, mean.data(), folder.File("mean.vtk")) && written;
  written = WriteModeFiles(folder, reader, mean, vectors, modes) && written;
  return written ? 0 : -1;
}
