// Real head meshes for the tests and the benchmarks, from files that Debian
// ships, read and converted by this code alone: a scanned head with a face
// and a neck and no ears (head.off), a sculpted bust with face, ears, neck,
// horns and a third eye (mannequin-devil.off), both from libcgal-demo, and an
// adult scalp averaged from MRI scans with its fiducials (fsaverage-head.fif,
// fsaverage-fiducials.fif, from python3-mne). scripts/fetch-realheads.sh puts
// the four files into one folder (build/realheads).
//
// Inputs: that folder, or any OFF or FIF file. Outputs: surfaces of triangles
// facing outward in the template's frame (geometry/headframe.h; mm) with
// their five landmarks, scaled, pitched, made symmetric, and raw scans of
// them. A file that is missing, truncated or malformed makes a reader return
// null (or false) with the reason in `problem`; every size a file declares is
// checked against the bytes it holds before anything is read or allocated.
// Nothing here prints, but the writers of rawscan.h when a file cannot be
// written, and nothing ends the process.
#pragma once

#include "fit/landmarks.h"
#include "rawscan.h"

#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// An OFF file: the line "OFF", the counts of points, faces and edges, one
// point a line (x y z, more numbers ignored), one face a line (n, then n
// point ids from 0, more numbers ignored); '#' starts a comment. A face of
// n corners becomes the fan of n - 2 triangles around its first corner.
// Null, with the reason, for a file that cannot be read, lacks the header,
// declares more than it holds, or has a point that is not three finite
// numbers or a face that names a point that does not exist.
vtkSmartPointer<vtkPolyData> ReadOffSurface(const std::string& path, std::string& problem);

// The first surface of a FIF file of boundary-element surfaces: its nodes
// (a float matrix of n rows of 3, in metres, given in millimetres) and its
// triangles (an int matrix of rows of 3 node numbers from 1). Null, with the
// reason, for a file that cannot be read, a tag that runs past the end or
// points back, a matrix of another type or shape, a node that is not finite,
// a node number out of range, or a file without the two.
vtkSmartPointer<vtkPolyData> ReadFifSurface(const std::string& path, std::string& problem);

// The three cardinal points of a FIF file's digitizer points, in
// millimetres, in its frame: the left preauricular point, the nasion and the
// right preauricular point, in that order. False, with the reason, when the
// file cannot be read or one of the three is missing or not finite.
bool ReadFifFiducials(const std::string& path, std::array<Landmark, 3>& fiducials, std::string& problem);

// The three heads.
enum class RealHead
{
  Scanned, // head.off: a coarse scan, 1487 points, face and neck, no ears
  Bust,    // mannequin-devil.off: 12977 points, face, ears, neck, horns, a third eye
  Average  // fsaverage-head.fif: 2033 points, closed below the neck, nose but no mouth or chin
};
constexpr RealHead kRealHeads[3] = { RealHead::Scanned, RealHead::Bust, RealHead::Average };
// "head", "mannequin-devil" or "fsaverage".
const char* RealHeadName(RealHead head);

// The landmarks' rows, in fittemplate's order (docs/fit.md).
enum LandmarkRow
{
  kNasion = 0,
  kRightTragus = 1,
  kLeftTragus = 2,
  kVertex = 3,
  kOpisthocranion = 4
};

// A head in the template's frame: x from the patient's right to left, the
// face toward -y, z up, millimetres; the tragi on a line along x, their
// midpoint at the ear midpoint kEarMidpoint.
struct PosedHead
{
  vtkSmartPointer<vtkPolyData> surface; // triangles facing outward
  std::vector<Landmark> landmarks;      // the five, by LandmarkRow
  Landmark chin;                        // the lowest point of the chin: a raw scan is cut below it
};

// Reads one head from `dir` and poses it upright at its own size: the
// scalp's millimetres, the meshes of libcgal-demo at a fixed number of
// millimetres to their unit that makes an adult head of them. False, with
// the file's path and reason, when a file cannot be read.
bool LoadRealHead(RealHead head, const std::string& dir, PosedHead& posed, std::string& problem);

// Scales a head about the ear midpoint so that its circumference
// (MeasureHeadShape) becomes `circumference` mm: measured once, then scaled
// by the ratio (a changed level of measurement can leave it a few tenths of
// a millimetre off). False, with the measure's problem, when the head cannot
// be measured.
bool ScaleHead(PosedHead& head, double circumference, std::string& problem);

// Turns a head about the x axis through the ear midpoint by `degrees`:
// positive tips the forehead forward and down, negative back and up.
void PitchHead(PosedHead& head, double degrees);

// The patient's right half (x <= M_x) with its mirror image across the
// plane x = M_x, the points on the plane shared by both halves: a surface
// whose every point's mirror image is one of its points, closed where the
// head was, facing outward. The midline landmarks and the chin are moved
// onto the plane, the left tragus is the right one mirrored. False, with
// the reason, when the head has no triangle on its right.
bool MirrorRightHalf(const PosedHead& head, PosedHead& symmetric, std::string& problem);

// The options of a raw scan of `head`: cut 10 mm below the chin (so a neck
// goes), about `triangles` triangles (each of the head's split in four as
// often as it takes to have that many before the decimation), no holes, the
// motion and the landmark noise of RawScanOptions, the seed.
RawScanOptions RealScanOptions(const PosedHead& head, int triangles, uint64_t seed);

// Which landmarks a raw scan is given: all five, or only the three on the
// midline (nasion, vertex, opisthocranion).
enum class ScanLandmarks
{
  All,
  Midline
};

// A raw scan of `head` (MakeRawScan), its landmarks those asked for, moved
// with the scan and with its noise.
RawScan MakeRealRawScan(const PosedHead& head, const RawScanOptions& options, ScanLandmarks which);

// Makes that scan into `scan` and writes it as binary STL to `stlPath` and
// its landmarks as curve rows to `landmarksPath`. False after a message when
// a file cannot be written.
bool WriteRealRawScan(const PosedHead& head, const RawScanOptions& options, ScanLandmarks which,
  const std::string& stlPath, const std::string& landmarksPath, RawScan& scan);
