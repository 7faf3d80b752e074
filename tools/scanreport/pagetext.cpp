#include "tools/scanreport/pagetext.h"

#include "surftools/outputfile.h"
#include "tools/scanreport/measurestable.h"

#include <algorithm>
#include <charconv>

const MeasureText kMeasureText[kHeadShapeColumns] = {
  { "Measurement level", "Measurement level",
    "Height above the ear plane of the level where the head is longest (from the level it is measured from "
    "up); the measures down to the CVAI are taken there." },
  { "Head length", "Length", "Length of the head from front to back at the measurement level." },
  { "Head width", "Width", "Width of the head from side to side at the measurement level." },
  { "Cephalic index (CI)", "CI",
    "The width as a percentage of the length. Higher means a shorter, broader head, lower a longer, narrower "
    "one." },
  { "Head circumference", "Circumference",
    "Circumference at the measurement level, as a tape laid around the head measures it." },
  { "Diagonal A", "Diagonal A",
    "The diagonal 30 degrees off the front-back axis that reaches the back on the patient's left (+x)." },
  { "Diagonal B", "Diagonal B",
    "The diagonal 30 degrees off the front-back axis that reaches the back on the patient's right (-x)." },
  { "Cranial vault asymmetry (CVA)", "CVA", "The difference between the two diagonals; 0 for a symmetric head." },
  { "Cranial vault asymmetry index (CVAI)", "CVAI", "That difference as a percentage of the shorter diagonal." },
  { "Plagiocephaly level", "Level", "From the CVAI, on the five-level scale: " },
  { "Cranial volume", "Volume", "Volume of the head above the level it is measured from." },
  { "Anterior symmetry ratio (ASR)", "ASR",
    "The smaller front quarter of the volume as a percentage of the larger; 100 is balanced." },
  { "Posterior symmetry ratio (PSR)", "PSR", "The same for the two back quarters; 100 is balanced." },
  { "Overall symmetry ratio (OSR)", "OSR",
    "The smaller half of the volume (the patient's left or right) as a percentage of the larger." },
};

std::string Escape(const std::string& text)
{
  std::string escaped;
  for (char c : text)
  {
    switch (c)
    {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string Rounded(double value, int decimals)
{
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals).ptr;
  std::string rounded(text, end);
  if (rounded[0] == '-' && rounded.find_first_not_of("-0.") == std::string::npos)
  {
    rounded.erase(0, 1);
  }
  return rounded;
}

std::string FileName(const std::string& path)
{
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos || slash + 1 == path.size() ? path : path.substr(slash + 1);
}

std::string MeasureMeaning(int column)
{
  const std::string meaning = kMeasureText[column].meaning;
  return column == HeadShapeColumnIndex("plagiocephaly_level") ? meaning + LevelScaleText() + '.' : meaning;
}

const char* LevelWord(int level)
{
  static const char* const words[5] = { "normal", "mild", "moderate", "severe", "very severe" };
  return level >= 1 && level <= 5 ? words[level - 1] : "";
}

std::string LevelScaleText()
{
  std::string text;
  for (int level = 1; level <= 5; ++level)
  {
    text += std::to_string(level) + ' ' + LevelWord(level) + " (";
    const std::string from = NumberText(kPlagiocephalyLevelFrom[level - 1]);
    const std::string to = level < 5 ? NumberText(kPlagiocephalyLevelFrom[level]) : "";
    text += level == 1 ? "below " + to : level == 5 ? from + " and above" : from + " to " + to;
    text += level < 5 ? "), " : ")";
  }
  return text;
}

std::string PatientSideText(const std::string& side)
{
  return side == "right" || side == "left" ? "the patient's " + side : "";
}

std::string Base64(const std::string& bytes)
{
  static const char* const digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3)
  {
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    unsigned long group = 0;
    for (size_t k = 0; k < 3; ++k)
    {
      group = group << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    }
    for (size_t k = 0; k < 4; ++k)
    {
      text += k <= n ? digits[(group >> (18 - 6 * k)) & 63] : '=';
    }
  }
  return text;
}
