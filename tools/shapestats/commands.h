// The commands of shapestats and what they share. Each command returns the
// exit status: 0 when every output was written, -1 after the one line that
// refuses its input or names an output that could not be written.
#pragma once

#include "stats/cohort.h"
#include "stats/grammodes.h"

#include <filesystem>
#include <string>
#include <vector>

// `size`: null, or "size" for the change beyond growth (stats/sizefit.h).
int RunChange(const char* firstList, const char* latestList, const char* outDir, const char* size);
int RunModes(const char* list, const char* outDir, const char* modeCount);
int RunScore(const char* referenceList, const char* surface, const char* outDir);

// The folder a command writes into. Create makes it (with its parents) when
// it is missing; the folders it made are removed again at the end of the
// run while they are still empty, so that a refusal leaves nothing behind.
class OutputFolder
{
public:
  OutputFolder() = default;
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;
  ~OutputFolder();

  // False after one line when the folder cannot be made or written into.
  bool Create(const char* path);
  std::string File(const std::string& name) const { return this->Path + "/" + name; }

private:
  std::string Path;
  std::vector<std::filesystem::path> Made;
};

// Whether the list names at least `least` surfaces, as `purpose` needs.
// False after one line.
bool EnoughNames(const char* listPath, const std::vector<std::string>& names, size_t least, const char* purpose);

// Whether no name holds a tab or a carriage return, so that the names can go
// into tables. False after one line naming the name and `source` (the list
// it came from, or "the arguments").
bool NamesFitTables(const char* source, const std::vector<std::string>& names);

// Reads the surfaces named, in order, one row of coordinates each. False
// after one line when one is refused.
bool ReadRows(const std::vector<std::string>& names, CohortReader& reader, CoordinateRows& rows);

// A table row: the fields joined by tabs, with its line end.
std::string TableRow(const std::vector<std::string>& fields);

// Writes a whole text file; false after one line when it cannot be written.
bool WriteTable(const std::string& path, const std::string& text);

// Writes a color file of one value per cell with the range `first second`
// (written as values are) and the color map; false after one line when it
// cannot be written.
bool WriteValues(
  const std::string& path, const std::vector<double>& values, double first, double second, const char* colorMap);

// The largest magnitude among the values, for a range symmetric about 0; 1
// when there is none above 0, so that the range's ends always differ.
double LargestMagnitude(const std::vector<double>& values);

// Writes a surface on the cells of the cohort's first surface with the
// given coordinates; false after one line when it cannot be written.
bool WriteCohortSurface(const CohortReader& reader, const double* coordinates, const std::string& path);
