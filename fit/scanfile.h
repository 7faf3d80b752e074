// Raw scans as a scanner writes them: legacy VTK (.vtk), VTK XML (.vtp),
// STL, PLY and OBJ surfaces, read as plain triangle surfaces.
//
// Input: a file's path; its format goes by the extension of the name.
// Output: the scan's triangles on its points, equal points merged. A file
// that cannot be read makes ReadScan print one line naming it on standard
// output and return false; nothing here ends the process (the VTK readers
// run in a child process first, so a reader that crashes refuses the file).
#pragma once

#include "geometry/trianglesurface.h"

#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <string>

// Reads the scan `path` into `scan` by the extension of its name, upper or
// lower case: .vtk (as every surface of these tools is read, with the check
// of its sections), .vtp, .stl, .ply or .obj. Points at exactly the same
// place are merged into one (a format that repeats a point per triangle, as
// STL does, then gives a connected surface), and triangles that lose a corner
// by it are dropped. Returns false after printing one line naming the file
// when the file cannot be read, is of another format, holds a point used by a
// triangle that is not a finite number, or holds no triangle at all.
bool ReadScan(const char* path, TriangleSurface& scan);

// Reads the file `path` by the extension of its name, as ReadScan does, into
// the surface its reader gives: its points and cells as the file holds them.
// Returns nullptr after printing the line that refuses it, as ReadScan.
vtkSmartPointer<vtkPolyData> ReadScanSurface(const char* path);

// The extension of a file's name, lower-cased, without its dot: "vtp" for
// "scan.VTP"; empty when the name has none.
std::string LowerExtension(const char* path);

// The unit a scan seems to be in when its size is that of a head in another
// unit than millimetres: "metres" when it is less than 1 across (its largest
// extent along x, y or z), "centimetres" when less than 50; nullptr
// otherwise. `extent` receives the largest extent.
const char* ScanUnitProblem(const TriangleSurface& scan, double& extent);
