// Synthetic raw scans of a head for the template fit: a surface on the
// template mesh, deformed by a known field, re-triangulated, cut open below
// the ears, with holes, moved rigidly, with landmarks given with noise. The
// sample generator, the tests and the benchmark make them.
//
// Inputs: a template surface (VTK), a seed and the scan's options; the same
// seed gives the same bytes on every platform. Outputs: the raw scan and its
// landmarks, whole cases written into a folder, and the scores of a fit of
// such a case. Writing a file that cannot be written prints a message and
// returns false; a case that cannot be read scores 1e9; nothing here ends the
// process.
#pragma once

#include "fit/landmarks.h"
#include "geometry/rigidtransform.h"

#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// A smooth displacement field: a stretch of the head along its three axes
// (up to 2%) and six Gaussian bumps 15 to 30 mm wide, each 4 to 12 mm
// outward or inward from the centre (growth, flattening) plus up to 6 mm
// sideways, scaled so that its largest displacement over the points it was
// made for is `amplitude`. Moving each template point along its normal onto
// the deformed surface leaves it about 1 mm (p95 about 3 mm) from its true
// place on such fields: the part of the field along the surface.
struct SmoothField
{
  struct Bump
  {
    double center[3];
    double vector[3];
    double radial; // along the direction from the centre
    double width;
  };
  std::vector<Bump> bumps;
  double center[3] = { 0, 0, 0 };
  double stretch[3] = { 0, 0, 0 };
  double scale = 1;
  void At(const double p[3], double d[3]) const;
};
// Which way a random field's bumps push: as above, or each 4 to 12 mm in a
// random direction, along the surface as much as across it (a field the fit's
// preference for moves toward or away from the centre knows nothing of).
enum class BumpDirection
{
  FromCentre,
  Any
};
SmoothField RandomField(const std::vector<double>& points, uint64_t seed, double amplitude,
  BumpDirection direction = BumpDirection::FromCentre);

struct RawScanOptions
{
  int triangles = 0;                        // about this many triangles after the cut and the holes
  int subdivisions = 1;                     // times each triangle is split in four before the cut
  double cutBelow = 0;                      // z below which the head is cut open (the neck), in the surface's frame
  std::vector<std::array<double, 4>> holes; // centre and radius of each hole
  double maxRotation = 25;                  // degrees
  double maxTranslation = 60;               // mm
  double landmarkNoise = 1;                 // mm, standard deviation per coordinate
  uint64_t seed = 1;
};

struct RawScan
{
  vtkSmartPointer<vtkPolyData> surface; // in the scanner's frame
  RigidTransform motion;                // from the surface's frame to the scanner's
  std::vector<Landmark> landmarks;      // in the scanner's frame, with noise
};

// Makes a raw scan of `surface` (triangles): each triangle split in four
// (options.subdivisions times: once by default, twice or more for a coarse
// mesh that should have more triangles than four times its own), the
// triangles whose centre lies below the cut or in a hole left out, the
// rest decimated (quadric error) to about options.triangles, then moved by a
// random rotation (a random axis through the surface's centre, 60 to 100% of
// the largest angle) and translation (60 to 100% of the largest length).
// `landmarks` are points of the surface, which the scan gets moved and with
// noise.
RawScan MakeRawScan(vtkPolyData* surface, const std::vector<Landmark>& landmarks, const RawScanOptions& options);

// The five landmarks of a head mesh in the template's frame (the face toward
// -y, the top toward +z), by point id, in the order fittemplate's
// documentation recommends: the nasion (the point nearest to the nasion that
// the head-shape measures find; without a face, the point farthest toward
// the front), the patient's right and left tragus (the points nearest to
// where the line through the ear midpoint along x leaves the head; where it
// misses the head, the points farthest toward -x and +x from the centre of
// its points), the vertex and the opisthocranion (the points farthest toward
// the top and the back from that centre).
std::vector<vtkIdType> HeadLandmarkIds(vtkPolyData* surface);

// A whole synthetic case from a template: a random field of 15 mm, a scan of
// about `triangles` triangles cut 35% of the head's height below its centre,
// holes at both ears (12 mm), on the upper back (20 mm, hair) and three
// smaller random ones, moved by a rotation of up to `maxRotation` degrees
// (RawScanOptions; 180 turns it any way). Writes into `dir`: truth.vtk (the
// deformed template, in the template's frame), scan.stl,
// template_landmarks.crv, scan_landmarks.crv, true_landmarks.crv (the
// scan's landmarks without their noise). Returns false after a message when
// a file cannot be written.
bool WriteFitCase(vtkPolyData* templ, const std::string& dir, uint64_t seed, int triangles,
  BumpDirection direction = BumpDirection::FromCentre, double maxRotation = 25);

// The errors of a fitted template against the case in `dir` (as
// WriteFitCase wrote it), where the scan has surface: template points whose
// true place lies within 0.5 mm of the scan.
struct FitErrors
{
  double mean = 0; // distance from each fitted point to its true place
  double p95 = 0;
  double largest = 0;
  double scanMean = 0;  // the same in the scanner's frame: each fitted point taken there by the fit's
  double scanP95 = 0;   // transform, its true place by the true motion
  double shapeMean = 0; // the same after the rigid motion that brings the fitted points closest to
  double shapeP95 = 0;  // their true places: the error of the shape and the correspondence alone
  double onScan = 0;    // mean distance from the fitted points to the scan, in the frame of the fit
  double covered = 0;   // share of the template points where the scan has surface
};
// `transform` is the fit's rigid transform, scan to template.
FitErrors ScoreFit(const std::string& dir, vtkPolyData* fitted, const RigidTransform& transform);

// Writes a surface's triangles as binary STL, as a scanner does. False after
// a message when the file cannot be written.
bool WriteBinaryStl(vtkPolyData* surface, const std::string& path);

// Writes landmarks as curve rows, one a line. False after a message when the
// file cannot be written.
bool WriteLandmarks(const std::vector<Landmark>& landmarks, const std::string& path);

// The rigid transform that fittemplate printed: the four lines after
// "Rigid transform". False when its output holds none.
bool ParseTransform(const std::string& output, RigidTransform& transform);
