// When a fit that held is still to be looked at by a person before its
// surface is used: more of the template without a match on the scan than
// kCheckUnmatchedPercent, or a landmark farther from the scan's after the fit
// than kCheckLandmarkMm. FitCheckReasons returns the reasons in words, joined
// by "; ", or an empty text for a fit within both limits. Nothing fails.
#pragma once

#include <string>

constexpr double kCheckUnmatchedPercent = 40; // % of the template's points
constexpr double kCheckLandmarkMm = 5;        // mm, the largest landmark residual after the fit

std::string FitCheckReasons(double unmatchedPercent, double largestLandmarkResidual);
