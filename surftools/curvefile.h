// Curve files: plain text, one 3-D point per line, the first three numbers of
// a line being x, y and z. There is no header and no comment syntax.
#pragma once

#include "surftools/outputfile.h"

#include <vtkPoints.h>
#include <vtkSmartPointer.h>

#include <string>

// Reads a curve file into a new points object (single precision), `points`. Lines are read one per pass, as a
// 512-character line buffer takes them, until the file is at its end:
// - each line is parsed with sscanf's "%f %f %f "; a field that does not
//   convert keeps its value from the row before (0 before any row), and
//   every pass appends one point, so a blank line repeats the previous point;
// - a file whose last line ends with a line feed gives one more pass, which
//   reads nothing and repeats the last point; an empty file gives (0, 0, 0);
// - a line longer than 511 characters is one row: its first 511 characters
//   are parsed and the rest of the line is skipped.
// Returns false, and leaves `points` empty, when the file cannot be opened or
// read (CurveFileError then gives the message).
bool ReadCurveFile(const char* fileName, vtkSmartPointer<vtkPoints>& points);

// The message for a curve file that cannot be opened: "Error opening file",
// then " <fileName>" and a line end when nameFile is true (nothing more, no
// line end, when false).
std::string CurveFileError(const char* fileName, bool nameFile);

// The first three columns of a curve row: x, y and z rounded to single
// precision, as default-formatted numbers separated by single blanks, into
// `text` (at least 3 * kNumberTextSize characters, not terminated). Returns
// the end of the text.
char* FormatCurvePoint(const double point[3], char* text);

// Whether x, y and z are all finite numbers (a curve row may hold nan or inf,
// or a number too large for single precision, which reads as inf).
bool IsFinitePoint(const double point[3]);
