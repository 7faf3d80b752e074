#include "tools/scanreport/foundlandmarks.h"

#include "fit/findlandmarks.h"
#include "geometry/rigidtransform.h"
#include "geometry/vector.h"
#include "surftools/listfile.h"
#include "surftools/surface.h"
#include "tools/scanreport/toolruns.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <sstream>

namespace fs = std::filesystem;

namespace
{
// The lines of fittemplate's output that come before the landmarks found and
// before the transform.
const char* const kFoundHeader = "Landmarks found on the scan (x y z name certainty):";
const char* const kTransformHeader = "Rigid transform, scan to template:";
const char* const kFoundBy = "Found by: ";

using Lines = std::vector<std::string>;

Lines TextLines(const std::string& text)
{
  Lines lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
  {
    lines.push_back(line);
  }
  return lines;
}

// The words of a line (split at blanks), exactly `count` of them; false
// otherwise.
bool Words(const std::string& line, size_t count, std::vector<std::string>& words)
{
  std::istringstream in(line);
  words.clear();
  for (std::string word; in >> word;)
  {
    words.push_back(word);
  }
  return words.size() == count;
}

bool FiniteNumber(const std::string& text, double& value)
{
  return FieldNumber(text, value) && std::isfinite(value);
}

// A row "x y z name certainty" into `landmark`; false when it is not one.
bool ReadRow(const std::string& line, ListedLandmark& landmark)
{
  std::vector<std::string> words;
  double scan[3];
  if (!Words(line, 5, words) || !FiniteNumber(words[0], scan[0]) || !FiniteNumber(words[1], scan[1]) ||
    !FiniteNumber(words[2], scan[2]) || !FiniteNumber(words[4], landmark.certainty))
  {
    return false;
  }
  const auto name = std::find(kLandmarkNames, kLandmarkNames + kFiveLandmarks, words[3]);
  landmark.index = static_cast<int>(name - kLandmarkNames);
  landmark.position = words[0] + ' ' + words[1] + ' ' + words[2];
  std::copy(scan, scan + 3, landmark.inTemplate);
  return landmark.index < kFiveLandmarks;
}

// The three rows of the transform after its header line, into `transform`.
bool ReadTransform(Lines::const_iterator row, Lines::const_iterator end, RigidTransform& transform)
{
  for (int i = 0; i < 3; ++i, ++row)
  {
    std::vector<std::string> words;
    if (row == end || !Words(*row, 4, words))
    {
      return false;
    }
    for (int j = 0; j < 4; ++j)
    {
      if (!FiniteNumber(words[static_cast<size_t>(j)], j < 3 ? transform.r[i][j] : transform.t[i]))
      {
        return false;
      }
    }
  }
  return true;
}

// The landmarks listed after the header line at `header` (three or five,
// up to the "Found by" line), brought into the template's frame by the
// transform that follows. Returns an empty text, or what is wrong.
std::string ReadListed(const Lines& lines, Lines::const_iterator header, FoundFit& fit)
{
  auto row = header + 1;
  for (; row != lines.end() && row->rfind(kFoundBy, 0) != 0; ++row)
  {
    fit.landmarks.emplace_back();
    if (!ReadRow(*row, fit.landmarks.back()))
    {
      return "lists the landmark \"" + *row + "\", not x y z, one of fittemplate's names and a certainty";
    }
  }
  if (row == lines.end() || (fit.landmarks.size() != 3 && fit.landmarks.size() != kFiveLandmarks))
  {
    return "does not list five or three landmarks found, then how they were found";
  }
  RigidTransform toTemplate;
  const auto transform = std::find(row, lines.end(), kTransformHeader);
  if (transform == lines.end() || !ReadTransform(transform + 1, lines.end(), toTemplate))
  {
    return "has no rigid transform, scan to template, of three rows of four numbers";
  }
  for (ListedLandmark& landmark : fit.landmarks)
  {
    const double scan[3] = { landmark.inTemplate[0], landmark.inTemplate[1], landmark.inTemplate[2] };
    toTemplate.Apply(scan, landmark.inTemplate);
  }
  return "";
}
}

std::string FitText(const FoundFit& fit)
{
  return fit.folder + "/fit.txt";
}

std::string FittedSurface(const FoundFit& fit)
{
  return fit.folder + "/fitted.vtk";
}

std::string ReadFoundFits(const std::string& measuresTable, const VisitTable& table, std::vector<FoundFit>& found)
{
  const fs::path folder = fs::path(measuresTable).parent_path();
  for (const Visit& visit : table.visits)
  {
    FoundFit fit;
    fit.visit = visit.name;
    fit.folder = (folder / visit.name).string();
    const std::string path = FitText(fit);
    if (!visit.fit.fitted || !fs::is_regular_file(path))
    {
      continue;
    }
    const std::string text = ReadWhole(path);
    const Lines lines = TextLines(text);
    const auto header = std::find(lines.begin(), lines.end(), kFoundHeader);
    const std::string problem = text.empty() ? "cannot be read"
      : header == lines.end()                ? ""
                                             : ReadListed(lines, header, fit);
    if (!problem.empty())
    {
      return path + ' ' + problem;
    }
    if (header != lines.end())
    {
      found.push_back(fit);
    }
  }
  return "";
}

std::vector<double> LandmarkMarks(const FoundFit& fit)
{
  const vtkIdType cells = fit.fitted->GetNumberOfCells();
  const double none = std::numeric_limits<double>::infinity();
  std::vector<double> marks(static_cast<size_t>(cells), std::numeric_limits<double>::quiet_NaN());
  std::vector<double> markDistance(marks.size(), none);
  std::vector<double> nearest(fit.landmarks.size(), none);
  std::vector<size_t> nearestCell(fit.landmarks.size(), 0);
  for (size_t c = 0; c < marks.size(); ++c)
  {
    double centroid[3];
    CellCentroid(fit.fitted, static_cast<vtkIdType>(c), centroid);
    for (size_t l = 0; l < fit.landmarks.size(); ++l)
    {
      const double d = Distance(centroid, fit.landmarks[l].inTemplate);
      if (d < nearest[l])
      {
        nearest[l] = d;
        nearestCell[l] = c;
      }
      if (d <= kMarkMm && d < markDistance[c])
      {
        markDistance[c] = d;
        marks[c] = fit.landmarks[l].index;
      }
    }
  }
  for (size_t l = 0; l < fit.landmarks.size() && cells > 0; ++l)
  {
    if (nearest[l] < markDistance[nearestCell[l]])
    {
      markDistance[nearestCell[l]] = nearest[l];
      marks[nearestCell[l]] = fit.landmarks[l].index;
    }
  }
  return marks;
}

std::string LandmarkWords(int index)
{
  std::string words = kLandmarkNames[index];
  std::replace(words.begin(), words.end(), '_', ' ');
  return words;
}

const char* MarkColor(int index)
{
  static const char* const colors[kFiveLandmarks] = { "blue", "cyan", "green", "yellow", "red" };
  return colors[index];
}
