// How well two sets of landmarks fit each other under a similarity (a
// rotation, a translation and a scale: heads differ in size), for telling a
// user which landmark is off or misordered.
//
// Inputs: the same number of landmarks (at least three) on a scan and on the
// template, in the order the files give them. Outputs: each landmark's
// distance after the best rigid fit, and an order of the scan's landmarks
// that fits much better, where there is one. Nothing fails.
#pragma once

#include "fit/landmarks.h"

#include <string>
#include <vector>

// The distance of each landmark of `from`, moved by the similarity that
// brings `from` closest to `to`, from its landmark in `to` (the two lists the
// same length).
std::vector<double> LandmarkResiduals(const std::vector<Landmark>& from, const std::vector<Landmark>& to);

// The root mean square of the residuals.
double RootMeanSquare(const std::vector<double>& values);

// An order of `from` (order[i] is the landmark of `from` that goes with
// landmark i of `to`) whose fit's root mean square is below half that of the
// given order and below `limit`: the best such order, or an empty one.
// Every order is tried for up to seven landmarks, else every swap of two.
std::vector<int> BetterLandmarkOrder(const std::vector<Landmark>& from, const std::vector<Landmark>& to, double limit);

// The name of landmark i (from 0) of five in the recommended order (nasion,
// the patient's right tragus, left tragus, vertex, opisthocranion), or of
// the three on the midline (nasion, vertex, opisthocranion); empty for
// another count.
std::string RecommendedLandmarkName(size_t i, size_t count);
