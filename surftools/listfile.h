// List files: one surface name per line, as `ls scans/*.vtk > list.txt`
// writes them; and the fields of a row of a tab-separated table and the
// numbers they hold.
#pragma once

#include <istream>
#include <string>
#include <vector>

// The next name of the list: a line up to LF, without the CR of a CR LF line
// end, otherwise exactly as written (blanks included, of any length). Blank
// lines, and the empty rest after a final line end, name nothing and are
// passed over. False at the end of the list (or when it cannot be read
// further: the stream's bad bit tells).
bool NextListEntry(std::istream& list, std::string& entry);

// The fields of one row of a tab-separated table (without its line end): the
// texts between tabs, an empty last field included, so that a row of n tabs
// has n + 1 fields. Nothing fails.
std::vector<std::string> TabFields(const std::string& row);

// The number a field holds: true when the whole text is one number as
// std::from_chars reads it (no blanks or '+' around it; "inf" and "nan"
// included, for the caller to accept or not), with it in `value`.
bool FieldNumber(const std::string& text, double& value);
