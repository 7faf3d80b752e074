// A fit can hold (fittemplate writes it) and still deserve a look: a scan
// that covers little of the head leaves much of the template matched to
// nothing, carried only by its stiffness, and a landmark that stays far off
// after the fit points at a misplaced landmark or a wrong part of the head.
// The limits lie well inside fittemplate's refusals (80% unmatched, 10 mm
// rms), so a visit between the two is kept but marked.
#include "fit/fitcheck.h"

#include <cstdio>

namespace
{
std::string Formatted(const char* format, double value)
{
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}
}

std::string FitCheckReasons(double unmatchedPercent, double largestLandmarkResidual)
{
  std::string reasons;
  if (unmatchedPercent > kCheckUnmatchedPercent)
  {
    reasons = Formatted("%.1f", unmatchedPercent) + "% of the template unmatched (over " +
      Formatted("%g", kCheckUnmatchedPercent) + "%)";
  }
  if (largestLandmarkResidual > kCheckLandmarkMm)
  {
    reasons += (reasons.empty() ? "" : "; ") + std::string("a landmark ") + Formatted("%.1f", largestLandmarkResidual) +
      " mm off after the fit (over " + Formatted("%g", kCheckLandmarkMm) + " mm)";
  }
  return reasons;
}
