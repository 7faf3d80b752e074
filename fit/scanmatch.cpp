#include "fit/scanmatch.h"

#include "geometry/vector.h"

#include <algorithm>
#include <cmath>

namespace
{
// The cosine of the largest angle between the two surfaces' normals.
constexpr double kNormalCosine = 0.5;
}

ScanMatch MatchOnScan(const TriangleTree& scan, const double x[3], const double normal[3], double limit,
  double borderReach, const RigidTransform* toTemplate)
{
  ScanMatch match;
  const TriangleTree::Hit hit = scan.Closest(x, limit);
  // A hit's distance is a number (never NaN), so a negative reach leaves out
  // every point of the border.
  if (!hit.found || (hit.onBorder && !(hit.distance <= borderReach)))
  {
    return match;
  }
  double scanNormal[3];
  if (toTemplate)
  {
    toTemplate->Rotate(scan.Normal(hit.triangle), scanNormal);
  }
  else
  {
    std::copy(scan.Normal(hit.triangle), scan.Normal(hit.triangle) + 3, scanNormal);
  }
  if (std::abs(Dot(scanNormal, normal)) < kNormalCosine)
  {
    return match;
  }
  match.trusted = true;
  match.distance = hit.distance;
  std::copy(hit.point, hit.point + 3, match.point);
  std::copy(scanNormal, scanNormal + 3, match.normal);
  return match;
}

std::vector<double> TrustedDistances(const std::vector<ScanMatch>& matches)
{
  std::vector<double> distances;
  for (const ScanMatch& m : matches)
  {
    if (m.trusted)
    {
      distances.push_back(m.distance);
    }
  }
  return distances;
}
