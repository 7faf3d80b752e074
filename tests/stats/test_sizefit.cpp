// The size fit on points with a planted growth, place and local change: the
// growth found exactly where nothing else moved, whatever the bump.
#include "stats/sizefit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

TEST(SizeFit, GrowthAndPlaceFoundExactlyBesideALocalBump)
{
  // Points on a sphere of radius 70 grown by 6% and moved; a fifth of them
  // (the cap around +y) pushed 3 mm further out.
  std::vector<double> earlier, later;
  const int rings = 40, segments = 50;
  size_t bumped = 0;
  for (int r = 1; r < rings; ++r)
  {
    for (int s = 0; s < segments; ++s)
    {
      const double polar = M_PI * r / rings, azimuth = 2 * M_PI * s / segments;
      const double unit[3] = { std::sin(polar) * std::cos(azimuth), std::cos(polar),
        std::sin(polar) * std::sin(azimuth) };
      const double bump = unit[1] > 0.8 ? 3.0 : 0.0;
      bumped += bump > 0 ? 1 : 0;
      for (int k = 0; k < 3; ++k)
      {
        earlier.push_back(70 * unit[k] + 100);
        later.push_back(1.06 * (70 * unit[k] + 100) + (k == 2 ? 4.0 : 0.0) + bump * unit[k]);
      }
    }
  }
  const size_t points = earlier.size() / 3;
  const SizeFit fit = FitSize(earlier.data(), later.data(), points);
  EXPECT_NEAR(fit.growth, 1.06, 1e-9);
  EXPECT_LE(fit.kept, 1.0 - static_cast<double>(bumped) / static_cast<double>(points));
  EXPECT_GE(fit.kept, 0.5);
  ApplySize(fit, later.data(), points);
  for (size_t x = 0; x < later.size(); ++x)
  {
    const bool inBump = (later[x - x % 3 + 1] - 100) / 70 > 0.8 + 1e-3;
    if (!inBump)
    {
      ASSERT_NEAR(later[x], earlier[x], 1e-9) << x;
    }
  }
  // Nothing to fit: no scale.
  EXPECT_EQ(FitSize(earlier.data(), later.data(), 0).growth, 1.0);
  const std::vector<double> same(9, 5.0);
  EXPECT_EQ(FitSize(same.data(), same.data(), 3).scale, 1.0);
}
