// The auricles (outer ears) in the transverse cut of a head at its
// measurement level, and the skull's outline in their place, so that the
// cut's width and circumference are those of the skull.
//
// The frame is the template's: x from the patient's right to left with the
// mirror plane x = M_x through the ear midpoint M (the midpoint of the two
// tragi, so the tragi lie near y = M_y), y front to back, millimetres. The
// rule, with its numbers, is in docs/headshape.md ("Auricles").
#pragma once

#include "geometry/convexhull.h"

#include <vector>

// The cut of a surface by a level plane, in (x, y): the points where the
// plane crosses the edges of cells, and the pieces of the cut, each between
// two of the points of one cell.
struct CutSegment
{
  Point2 a;
  Point2 b;
};
struct LevelCut
{
  std::vector<Point2> points;
  std::vector<CutSegment> segments;
};

// One side of the cut beside the ear, in directions phi (radians) from the
// side's lateral direction toward the back, seen from the cut's centre C =
// (M_x, the middle of its y extent): the point at r in direction phi is
// C + r (-cos phi, sin phi) on the patient's right, C + r (cos phi, sin phi)
// on the left.
struct Auricle
{
  bool found = false;   // an auricle stands out of the skull's outline
  double standsOut = 0; // the most the outline stands out of the curve in the zone (mm), or 0
  double from = 0;      // the ear zone's directions
  double to = 0;
  double curve[4] = {}; // the skull's curve r = c0 + c1 t + c2 t^2 + c3 t^3, t = phi - (from + to) / 2
  double Skull(double phi) const;
};

// The auricles of a cut whose y extent is [yLow, yHigh]: side 0 is the
// patient's right (x < M_x), side 1 the left. A side has an auricle where
// the cut's outline stands out of the skull's curve (a smooth curve through
// the outline in front of and behind the ear zone) by 5 to 25 mm within the
// ear zone, which reaches from 0.1 of the cut's length in front of the
// tragi to 0.35 behind them. Never fails; a cut too small or too ragged for
// an ear zone has no auricle.
struct Auricles
{
  Auricle side[2];
  int Count() const { return side[0].found + side[1].found; }
};
Auricles FindAuricles(const LevelCut& cut, double yLow, double yHigh);

// The cut's points with the auricles left out: on a side with an auricle,
// the points of its ear zone lying more than 0.5 mm beyond the skull's curve
// go, and where the cut has no point of the skull beneath the auricle (an
// ear under a cap, a bump without a gap behind it) the curve's points take
// their place. Without auricles, the cut's points as they are.
std::vector<Point2> SkullPoints(const LevelCut& cut, double yLow, double yHigh, const Auricles& auricles);
