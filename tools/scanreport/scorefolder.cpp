#include "tools/scanreport/scorefolder.h"

#include "surftools/colorfile.h"
#include "surftools/listfile.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace
{
// The one row of score.tsv under its header; an empty text or the problem.
std::string ReadScoreTable(const std::string& path, SubjectScore& score)
{
  std::ifstream in(path);
  if (!in)
  {
    return "has no score.tsv";
  }
  std::string header, row, more;
  std::getline(in, header);
  std::getline(in, row);
  if (header != "file\tdistance\tpercentile")
  {
    return "score.tsv's first line is not the header \"file\\tdistance\\tpercentile\"";
  }
  const std::vector<std::string> fields = TabFields(row);
  if (fields.size() != 3 || (std::getline(in, more) && !more.empty()))
  {
    return "score.tsv does not hold one row of three fields";
  }
  score.file = fields[0];
  if (!FieldNumber(fields[1], score.distance) || std::isnan(score.distance) || score.distance < 0)
  {
    return "score.tsv's distance \"" + fields[1] + "\" is not a number of at least 0";
  }
  if (!FieldNumber(fields[2], score.percentile) || std::isnan(score.percentile) || score.percentile < 0 ||
    score.percentile > 100)
  {
    return "score.tsv's percentile \"" + fields[2] + "\" is not a number from 0 to 100";
  }
  return "";
}
}

std::string ReadScoreFolder(const std::string& folder, long long cells, SubjectScore& score)
{
  score.folder = folder;
  const std::string problem = ReadScoreTable(folder + "/score.tsv", score);
  if (!problem.empty())
  {
    return problem;
  }
  ColorFileContents zscores;
  const std::string zscoreProblem = ReadColorFile((folder + "/zscore.clr").c_str(), zscores);
  if (!zscoreProblem.empty())
  {
    return "zscore.clr " + zscoreProblem;
  }
  if (static_cast<long long>(zscores.values.size()) != cells)
  {
    return "zscore.clr has " + std::to_string(zscores.values.size()) + " value lines, not one for each of the " +
      std::to_string(cells) + " cells of the scans";
  }
  return "";
}
