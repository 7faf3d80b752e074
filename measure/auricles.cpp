#include "measure/auricles.h"

#include "geometry/headframe.h"

#include <Eigen/Dense>

#include <cmath>
#include <limits>

// The method. An auricle stands out of the side of the head 5 to 25 mm from
// about the tragus backward (by 0.1 to 0.25 of the head's length): as a flap
// with a gap behind it, where the skull's outline goes on beneath it in the
// cut, or under a cap as a bump with nothing beneath. The cut's outline is
// followed in directions from the cut's centre, where a head's outline is a
// smooth function of the direction: in front of and behind the ear the
// outline is the skull's, and the least-squares cubic in the direction
// through both stretches passes within 0.2 mm inside and 1.8 mm outside an
// ellipse, a broad or long head, a sheared one (plagiocephaly) or one turned
// by 8 degrees over the zone between them, and no more than 2.7 mm inside
// the scalp of real heads without ears at their measurement levels (pitched
// up to 20 degrees): what stands out of it by 5 mm or more is the ear. The
// tragi lie on y = M_y; the zone reaches a little further than an auricle
// both ways, for a head pitched or turned a little. A coarse mesh (triangles
// 10 to 15 mm across the side of the head) can make a corner of its outline
// stand 5 mm out of the curve.

namespace
{
constexpr double kDegree = 3.141592653589793 / 180;

constexpr double kStep = 0.5 * kDegree; // between the directions followed
constexpr int kSteps = 320;             // directions -80° to 80°: kSteps + 1 of them
constexpr double kZoneFront = 0.1;      // the ear zone, in cut lengths from the tragi forward
constexpr double kZoneBack = 0.35;      // and backward
constexpr int kAnchorSteps = 24;        // the curve follows the outline over 12° either side of the zone
constexpr int kFewestAnchors = 4;       // on each side of the zone at least
constexpr double kLeast = 5;            // an auricle stands out of the curve by 5 to 25 mm
constexpr double kMost = 25;
constexpr double kBeyond = 0.5; // a point of the zone more than 0.5 mm beyond the curve is the auricle's
constexpr double kBeneath = 2;  // a point within 2 mm of the curve may be the skull's beneath an auricle

double Direction(int i)
{
  return (i - kSteps / 2) * kStep;
}

Point2 Unit(int side, double phi)
{
  return { (side == 0 ? -1.0 : 1.0) * std::cos(phi), std::sin(phi) };
}

// Calls visit(t) for each t > 0 where the ray c + t d crosses a segment.
template <class Visit>
void RayCrossings(const LevelCut& cut, const Point2& c, const Point2& d, Visit visit)
{
  for (const CutSegment& s : cut.segments)
  {
    const double ex = s.b[0] - s.a[0];
    const double ey = s.b[1] - s.a[1];
    const double den = d[0] * ey - d[1] * ex;
    if (den == 0)
    {
      continue;
    }
    const double ax = s.a[0] - c[0];
    const double ay = s.a[1] - c[1];
    const double t = (ax * ey - ay * ex) / den;
    const double u = (ax * d[1] - ay * d[0]) / den;
    if (t > 0 && u >= 0 && u <= 1)
    {
      visit(t);
    }
  }
}

// The outline of one side: the distance from c to the farthest crossing in
// each direction, NaN where the ray crosses nothing.
std::vector<double> Outline(const LevelCut& cut, const Point2& c, int side)
{
  std::vector<double> outline(kSteps + 1, std::numeric_limits<double>::quiet_NaN());
  for (int i = 0; i <= kSteps; ++i)
  {
    double& r = outline[i];
    RayCrossings(cut, c, Unit(side, Direction(i)), [&](double t) { r = std::isnan(r) ? t : std::max(r, t); });
  }
  return outline;
}

// The least-squares cubic in t = phi - mid through the outline in the
// kAnchorSteps directions either side of the zone [zoneFirst, zoneLast].
// False where a side has fewer than kFewestAnchors of them with an outline.
bool FitSkull(const std::vector<double>& outline, int zoneFirst, int zoneLast, double mid, double curve[4])
{
  Eigen::Matrix4d normal = Eigen::Matrix4d::Zero();
  Eigen::Vector4d right = Eigen::Vector4d::Zero();
  int count[2] = { 0, 0 };
  for (int i = zoneFirst - kAnchorSteps; i <= zoneLast + kAnchorSteps; ++i)
  {
    if (i < 0 || i > kSteps || (i >= zoneFirst && i <= zoneLast) || std::isnan(outline[i]))
    {
      continue;
    }
    const double t = Direction(i) - mid;
    const Eigen::Vector4d powers(1, t, t * t, t * t * t);
    normal += powers * powers.transpose();
    right += powers * outline[i];
    ++count[i > zoneLast];
  }
  if (count[0] < kFewestAnchors || count[1] < kFewestAnchors)
  {
    return false;
  }
  const Eigen::Vector4d c = normal.ldlt().solve(right);
  for (int k = 0; k < 4; ++k)
  {
    curve[k] = c[k];
  }
  return std::isfinite(c.sum());
}

// One side's ear zone, skull curve and auricle.
Auricle FindSide(const LevelCut& cut, const Point2& c, double length, int side)
{
  Auricle ear;
  const std::vector<double> outline = Outline(cut, c, side);
  int first = -1;
  int last = -1;
  for (int i = 0; i <= kSteps; ++i)
  {
    const double y = c[1] + outline[i] * std::sin(Direction(i));
    if (y >= kEarMidpoint[1] - kZoneFront * length && y <= kEarMidpoint[1] + kZoneBack * length)
    {
      first = first < 0 ? i : first;
      last = i;
    }
  }
  if (first < 0)
  {
    return ear;
  }
  ear.from = Direction(first);
  ear.to = Direction(last);
  if (!FitSkull(outline, first, last, (ear.from + ear.to) / 2, ear.curve))
  {
    return ear;
  }
  for (int i = first; i <= last; ++i)
  {
    if (!std::isnan(outline[i]))
    {
      ear.standsOut = std::max(ear.standsOut, outline[i] - ear.Skull(Direction(i)));
    }
  }
  ear.found = ear.standsOut >= kLeast && ear.standsOut <= kMost;
  return ear;
}

Point2 Centre(double yLow, double yHigh)
{
  return { kEarMidpoint[0], (yLow + yHigh) / 2 };
}
}

double Auricle::Skull(double phi) const
{
  const double t = phi - (this->from + this->to) / 2;
  return this->curve[0] + t * (this->curve[1] + t * (this->curve[2] + t * this->curve[3]));
}

Auricles FindAuricles(const LevelCut& cut, double yLow, double yHigh)
{
  Auricles found;
  for (int side = 0; side < 2; ++side)
  {
    found.side[side] = FindSide(cut, Centre(yLow, yHigh), yHigh - yLow, side);
  }
  return found;
}

namespace
{
// The curve's points in the directions of the zone where the outline stands
// out of the curve by more than kBeneath but the ray crosses the cut nowhere
// within kBeneath of it: where the skull is not in the cut.
void AddSkullBeneath(const LevelCut& cut, const Point2& c, int side, const Auricle& ear, std::vector<Point2>& points)
{
  for (int i = 0; i <= kSteps; ++i)
  {
    const double phi = Direction(i);
    if (phi < ear.from || phi > ear.to)
    {
      continue;
    }
    const double skull = ear.Skull(phi);
    const Point2 d = Unit(side, phi);
    double farthest = 0;
    bool beneath = false;
    RayCrossings(cut, c, d, [&](double t) {
      farthest = std::max(farthest, t);
      beneath = beneath || std::abs(t - skull) <= kBeneath;
    });
    if (farthest > skull + kBeneath && !beneath)
    {
      points.push_back({ c[0] + skull * d[0], c[1] + skull * d[1] });
    }
  }
}
}

std::vector<Point2> SkullPoints(const LevelCut& cut, double yLow, double yHigh, const Auricles& auricles)
{
  if (auricles.Count() == 0)
  {
    return cut.points;
  }
  const Point2 c = Centre(yLow, yHigh);
  std::vector<Point2> points;
  for (const Point2& p : cut.points)
  {
    const int side = p[0] >= c[0];
    const Auricle& ear = auricles.side[side];
    const double dx = std::abs(p[0] - c[0]);
    const double dy = p[1] - c[1];
    const double phi = std::atan2(dy, dx);
    const bool beyond = ear.found && phi >= ear.from && phi <= ear.to && std::hypot(dx, dy) > ear.Skull(phi) + kBeyond;
    if (!beyond)
    {
      points.push_back(p);
    }
  }
  for (int side = 0; side < 2; ++side)
  {
    if (auricles.side[side].found)
    {
      AddSkullBeneath(cut, c, side, auricles.side[side], points);
    }
  }
  return points;
}
