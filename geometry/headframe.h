// The frame of the head scans: coordinates in millimetres, the face toward
// -y, z up, the patient's right toward -x; the mirror plane of a symmetric
// template is x = 102.665. The ear midpoint is the fixed point between the
// ears from which the tools measure radii, in the precisions they take it.
#pragma once

// The ear midpoint (102.665, 99.1929, 50.9238): the doubles nearest to the
// decimals.
constexpr double kEarMidpoint[3] = { 102.665, 99.1929, 50.9238 };

// The same in single precision (helmetdiff's radii).
constexpr float kEarMidpointFloat[3] = { 102.665f, 99.1929f, 50.9238f };

// The same with x one unit in the last place below the double nearest to
// 102.665 (scancompare's asymmetry ratios are defined with it).
constexpr double kEarMidpointRatios[3] = { 102.66499999999999, 99.1929, 50.9238 };

// The x of the mirror plane of a symmetric template.
constexpr double kMirrorX = 102.665;
