// Landmarks of a head: named points (nasion, tragi, ...) given in the same
// order on the template and on a scan, read from curve files.
//
// Inputs: a curve file's path, or landmarks read from one. Outputs: the
// landmarks in file order, or why they cannot anchor an alignment. A file
// that cannot be opened or read makes ReadLandmarks return false (the caller
// reports it, with CurveFileError); nothing here prints or ends the process.
#pragma once

#include <array>
#include <vector>

using Landmark = std::array<double, 3>;

// Reads the landmark file `path` into `landmarks`: a curve file whose rows
// are the landmarks, in order (a final line feed adds no landmark). False
// when the file cannot be opened or read.
bool ReadLandmarks(const char* path, std::vector<Landmark>& landmarks);

// Why `landmarks` cannot anchor an alignment: fewer than three, a coordinate
// that is not a finite number, or all of them on one line (every landmark
// within 1% of their largest spread from the line through their mean along
// it). nullptr when they can.
const char* LandmarkProblem(const std::vector<Landmark>& landmarks);
