// The text of scanreport's page as a clinician reads it: HTML escaping,
// numbers rounded for reading, the head-shape measures named in words and the
// plagiocephaly levels' words; and the pictures' bytes as the page embeds
// them. Pure functions of their arguments; nothing fails.
#pragma once

#include "measure/headshape.h"

#include <string>

// The text with &, <, >, " and ' escaped for HTML text and attributes.
std::string Escape(const std::string& text);

// A value rounded for reading to `decimals` places ("%.1f" for one), never
// "-0.0": a value that rounds to zero is written without a sign.
std::string Rounded(double value, int decimals = 1);

// The file name of a path: what follows its last '/' (the whole path when it
// ends with one).
std::string FileName(const std::string& path);

// A head-shape measure as the page names it, in kHeadShapeColumn's order:
// in words with its short name ("Cephalic index (CI)"), the short name alone
// for narrow places ("CI"; the words where there is none) and one plain
// sentence of what it means.
struct MeasureText
{
  const char* words;
  const char* shortName;
  const char* meaning;
};
extern const MeasureText kMeasureText[kHeadShapeColumns];

// The meaning of the measure in column `column` (the plagiocephaly level's
// with the scale of LevelScaleText).
std::string MeasureMeaning(int column);

// The word of a plagiocephaly level from 1 to 5 ("normal", "mild",
// "moderate", "severe", "very severe"); "" for any other number.
const char* LevelWord(int level);

// The five-level scale in one phrase, from kPlagiocephalyLevelFrom: "1 normal
// (below 3.5), 2 mild (3.5 to 6.25), ..., 5 very severe (11 and above)".
std::string LevelScaleText();

// The patient's side of a flattened back of the head in words: "the
// patient's right" or "the patient's left"; "" for "none".
std::string PatientSideText(const std::string& side);

// The bytes in base64 (RFC 4648, with padding), as data: URIs embed them.
std::string Base64(const std::string& bytes);
