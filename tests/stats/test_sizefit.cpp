// The size fit on points with a planted growth, place and local change: the
// growth found exactly where nothing else moved, whatever the bump; and on
// the real heads, grown with a local change and noise, within 0.2%.
#include "realheadtest.h"
#include "stats/sizefit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <random>
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

TEST(SizeFit, RealHeadsGrownWithAFlatteningRoundingOutGiveTheirGrowth)
{
  // Each real head grown by 4 to 8% about a point of its own, a tenth of its
  // points at the back pushed 3 mm outward (away from the head's centre),
  // and 0.3 mm of noise in every coordinate of both visits.
  std::mt19937 random(5);
  std::normal_distribution<double> noise(0.0, 0.3);
  const double growths[3] = { 1.04, 1.06, 1.08 };
  for (int h = 0; h < 3; ++h)
  {
    PosedHead head;
    ASSERT_TRUE(LoadRealHeadForTest(kRealHeads[h], head));
    const size_t points = static_cast<size_t>(head.surface->GetNumberOfPoints());
    std::vector<double> earlier(3 * points), later(3 * points), backs(points);
    double centre[3] = { 0, 0, 0 };
    for (size_t i = 0; i < points; ++i)
    {
      head.surface->GetPoint(static_cast<vtkIdType>(i), &earlier[3 * i]);
      backs[i] = earlier[3 * i + 1];
      for (int k = 0; k < 3; ++k)
      {
        centre[k] += earlier[3 * i + k] / static_cast<double>(points);
      }
    }
    std::nth_element(backs.begin(), backs.begin() + 9 * points / 10, backs.end());
    const double back = backs[9 * points / 10]; // the face looks toward -y
    for (size_t i = 0; i < points; ++i)
    {
      double out[3], length = 0;
      for (int k = 0; k < 3; ++k)
      {
        out[k] = earlier[3 * i + k] - centre[k];
        length += out[k] * out[k];
      }
      const double bump = earlier[3 * i + 1] > back ? 3.0 / std::sqrt(length) : 0.0;
      for (int k = 0; k < 3; ++k)
      {
        later[3 * i + k] = growths[h] * (earlier[3 * i + k] - 20 * k) + bump * out[k] + noise(random);
        earlier[3 * i + k] += noise(random);
      }
    }
    const SizeFit fit = FitSize(earlier.data(), later.data(), points);
    EXPECT_NEAR(fit.growth / growths[h], 1.0, 0.002) << h;
    std::cout << "real head " << h << ": growth " << fit.growth << " for " << growths[h] << ", kept " << fit.kept
              << '\n';
  }
}
