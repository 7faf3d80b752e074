// The landmarks that fittemplate found on a raw scan given without them, as
// the cohort workflow keeps a visit's fit in the visit's folder beside the
// subject's measures table: FOLDER/<visit>/fit.txt (what fittemplate
// printed: the landmarks found, named, with how sure each is, and the rigid
// transform, scan to template) and FOLDER/<visit>/fitted.vtk (the fitted
// surface, in the template's frame).
//
// ReadFoundFits reads them for every fitted visit of a table whose fit.txt
// lists landmarks found; a visit without fit.txt (a table moved away from
// its visits' folders), or whose fit.txt lists none (its landmarks were
// given), has none. It returns an empty text, or why it refuses a fit.txt
// that lists landmarks found but not as fittemplate prints them (to follow
// "Cannot read the fit of visit V: "). LandmarkMarks marks them on the
// fitted surface, which the caller reads. Nothing is printed.
#pragma once

#include "tools/scanreport/measurestable.h"

#include <string>
#include <vector>

#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

// The cells within this distance (mm) of a landmark mark it on the picture.
constexpr double kMarkMm = 6;

// A landmark as fit.txt lists it.
struct ListedLandmark
{
  int index = 0;                      // in kLandmarkNames (fit/findlandmarks.h), which also picks its mark's color
  double certainty = 0;               // 0 to 1, as fittemplate printed it
  std::string position;               // "x y z" as printed, in the scan's coordinates (mm)
  double inTemplate[3] = { 0, 0, 0 }; // brought into the template's frame by the fit's transform
};

// A visit whose landmarks were found, and what its page shows of them.
struct FoundFit
{
  std::string visit;
  std::string folder; // the visit's folder, as the measures table's path names it
  std::vector<ListedLandmark> landmarks;
  vtkSmartPointer<vtkPolyData> fitted; // read by the caller
  std::string png;                     // the picture of the marks, once painted
};

std::string ReadFoundFits(const std::string& measuresTable, const VisitTable& table, std::vector<FoundFit>& found);

// The fit.txt and fitted.vtk of a visit whose landmarks were found.
std::string FitText(const FoundFit& fit);
std::string FittedSurface(const FoundFit& fit);

// Per cell of the fitted surface, the index of the landmark it marks (its
// centroid within kMarkMm of the landmark, or the cell nearest to it; the
// nearest landmark where marks meet), and NaN for a cell that marks none.
std::vector<double> LandmarkMarks(const FoundFit& fit);

// A landmark's name in words ("right tragus") and the color of its mark on
// the rainbow map from 0 to 4 ("blue" for the nasion, "cyan", "green",
// "yellow", "red" for the opisthocranion).
std::string LandmarkWords(int index);
const char* MarkColor(int index);
