// SPDX-License-Identifier: Apache-2.0
// Tone curve: the dot gain model, its inverse, and the table built from them.
#include "tone_curve.h"

#include <gtest/gtest.h>

#include <numbers>

namespace kemb::halftone {
namespace {

constexpr int kResolutions[] = {1, 60, 90, 120, 180, 240, 360, 720};

TEST(ToneCurve, EndsArePinnedAndInteriorIsStrictlyBetween) {
  for (int xres : kResolutions) {
    const ToneCurve curve(xres);
    EXPECT_EQ(curve.Density(0), kFullDot) << "xres " << xres;
    EXPECT_EQ(curve.Density(255), 0) << "xres " << xres;
    for (int v = 1; v < 255; ++v) {
      EXPECT_GT(curve.Density(v), 0) << "xres " << xres << " lightness " << v;
      EXPECT_LT(curve.Density(v), kFullDot) << "xres " << xres << " lightness " << v;
    }
  }
}

TEST(ToneCurve, LighterNeverTakesMoreDots) {
  for (int xres : kResolutions) {
    const ToneCurve curve(xres);
    for (int v = 1; v < 256; ++v) {
      EXPECT_LE(curve.Density(v), curve.Density(v - 1)) << "xres " << xres << " lightness " << v;
    }
  }
}

TEST(ToneCurve, TablePrintsEachGreyAtItsTargetCoverage) {
  for (int xres : kResolutions) {
    const ToneCurve curve(xres);
    for (int v = 1; v < 255; ++v) {
      const double density = static_cast<double>(curve.Density(v)) / kFullDot;
      EXPECT_NEAR(PrintedCoverage(density, curve.gain()), TargetCoverage(v), 0.003)
          << "xres " << xres << " lightness " << v;
    }
  }
}

TEST(ToneCurve, DensityForInvertsPrintedCoverage) {
  for (double gain : {1.0, 1.5, 2.47, 4.9, 9.9}) {
    for (int step = 0; step <= 100; ++step) {
      const double coverage = step / 100.0;
      EXPECT_NEAR(PrintedCoverage(DensityFor(coverage, gain), gain), coverage, 1e-9)
          << "gain " << gain << " coverage " << coverage;
    }
  }
}

TEST(ToneCurve, GainGrowsWithColumnDensityAndNeverShrinksADot) {
  // A 0.25 mm dot is narrower than a 1/60 inch column, so it gains nothing there; from
  // the first overlap on, doubling the columns doubles how often each point is inked.
  EXPECT_EQ(DotGain(60), 1.0);
  EXPECT_EQ(DotGain(1), 1.0);
  EXPECT_GT(DotGain(120), 1.0);
  EXPECT_NEAR(DotGain(360), 2 * DotGain(180), 1e-9);
  EXPECT_NEAR(DotGain(720), 2 * DotGain(360), 1e-9);
  // The cell at 180 x 180 dpi is 1/180 inch square.
  const double cell = (25.4 / 180) * (25.4 / 180);
  EXPECT_NEAR(DotGain(180), std::numbers::pi * kDotDiameterMm * kDotDiameterMm / 4 / cell, 1e-9);
}

TEST(ToneCurve, MoreGainPrintsAGreyWithFewerDots) {
  for (int v : {32, 96, 128, 188, 230}) {
    int previous = ToneCurve(60).Density(v);
    for (int xres : {120, 180, 240, 360, 720}) {
      const int density = ToneCurve(xres).Density(v);
      EXPECT_LT(density, previous) << "lightness " << v << " at " << xres << " dpi";
      previous = density;
    }
  }
}

TEST(ToneCurve, TargetIsTheSrgbReflectanceOfTheGrey) {
  EXPECT_DOUBLE_EQ(TargetCoverage(0), 1.0);
  EXPECT_DOUBLE_EQ(TargetCoverage(255), 0.0);
  // sRGB reflects half the light at about 188 and a fifth at about 124.
  EXPECT_NEAR(TargetCoverage(188), 0.5, 0.005);
  EXPECT_NEAR(TargetCoverage(124), 0.8, 0.005);
  // Without gain the density is the coverage itself.
  const ToneCurve flat(60);
  for (int v = 1; v < 255; ++v) {
    EXPECT_NEAR(static_cast<double>(flat.Density(v)) / kFullDot, TargetCoverage(v),
                0.5 / kFullDot + 1e-12)
        << "lightness " << v;
  }
}

}  // namespace
}  // namespace kemb::halftone
