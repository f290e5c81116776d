// SPDX-License-Identifier: Apache-2.0
// Tone curve and dot model: the coverage table, and the ink a dot adds beside its neighbours.
#include <gtest/gtest.h>

#include <numbers>

#include "dot_model.h"
#include "tone_curve.h"

namespace kemb::halftone {
namespace {

TEST(ToneCurve, EndsArePinnedAndLighterNeverAsksForMoreInk) {
  const ToneCurve curve;
  EXPECT_EQ(curve.Coverage(0), kFullDot);
  EXPECT_EQ(curve.Coverage(255), 0);
  for (int v = 1; v < 255; ++v) {
    EXPECT_GT(curve.Coverage(v), 0) << "lightness " << v;
    EXPECT_LT(curve.Coverage(v), kFullDot) << "lightness " << v;
    EXPECT_LE(curve.Coverage(v), curve.Coverage(v - 1)) << "lightness " << v;
    EXPECT_NEAR(static_cast<double>(curve.Coverage(v)) / kFullDot, TargetCoverage(v),
                0.5 / kFullDot + 1e-12)
        << "lightness " << v;
  }
}

TEST(ToneCurve, TargetIsTheSrgbReflectanceOfTheGrey) {
  EXPECT_DOUBLE_EQ(TargetCoverage(0), 1.0);
  EXPECT_DOUBLE_EQ(TargetCoverage(255), 0.0);
  // sRGB reflects half the light at about 188 and a fifth at about 124.
  EXPECT_NEAR(TargetCoverage(188), 0.5, 0.005);
  EXPECT_NEAR(TargetCoverage(124), 0.8, 0.005);
}

// A colour asks for the ink that reflects its luminance, as the page's original does: the
// linear channels weighted by sRGB's primaries. Saturated colours are where a luma of the
// encoded values is far off (it prints pure green at 70 % instead of 28 %).
TEST(ToneCurve, AColourPrintsAsTheLightItReflects) {
  struct Case {
    uint8_t r, g, b;
    double coverage;
  };
  const ToneCurve curve;
  for (const Case c : {Case{255, 0, 0, 1 - 0.2126}, Case{0, 255, 0, 1 - 0.7152},
                       Case{0, 0, 255, 1 - 0.0722}, Case{255, 255, 0, 0.0722},
                       Case{0, 255, 255, 0.2126}, Case{255, 0, 255, 1 - 0.2848},
                       Case{188, 0, 0, 1 - 0.2126 * 0.5029}, Case{255, 255, 254, 0.0722 * 0.0087},
                       Case{0, 0, 1, 1 - 0.0722 * 0.0003}}) {
    const int32_t coverage = curve.Coverage(c.r, c.g, c.b);
    EXPECT_NEAR(static_cast<double>(coverage) / kFullDot, c.coverage, 1.0 / kFullDot)
        << int{c.r} << "," << int{c.g} << "," << int{c.b};
    // Only white is paper and only black solid.
    EXPECT_GT(coverage, 0);
    EXPECT_LT(coverage, kFullDot);
  }
  EXPECT_EQ(curve.Coverage(255, 255, 255), 0);
  EXPECT_EQ(curve.Coverage(0, 0, 0), kFullDot);
}

TEST(DotModel, ALoneDotInksItsDiscAndNeighboursTakeTheirShare) {
  struct Case {
    int xres, behind, reach;
  };
  // 180 dpi: one column behind, the row above one column each side; 360 dpi: three behind,
  // two each side above.
  for (const Case c : {Case{60, 0, 0}, Case{180, 1, 1}, Case{360, 3, 2}}) {
    const DotModel model(c.xres);
    EXPECT_EQ(model.behind(), c.behind) << c.xres;
    EXPECT_EQ(model.reach(), c.reach) << c.xres;
    const uint32_t all = (1u << (c.behind + 2 * c.reach + 1)) - 1;
    for (uint32_t pattern = 0; pattern <= all; ++pattern) {
      for (int bit = 0; bit < c.behind + 2 * c.reach + 1; ++bit) {
        // One more neighbour never leaves more paper for the dot to ink.
        EXPECT_LE(model.NewInk(pattern | (1u << bit)), model.NewInk(pattern))
            << c.xres << " dpi, pattern " << pattern << ", bit " << bit;
      }
    }
  }
  // At 180 dpi and up the discs of a solid print cover the paper: a lone dot inks its disc in
  // cells, and a dot in a solid area one cell.
  for (int xres : {180, 360}) {
    const DotModel model(xres);
    const double cell = (25.4 / xres) * kRowPitchMm;
    const double disc = std::numbers::pi * kDotDiameterMm * kDotDiameterMm / 4;
    EXPECT_NEAR(model.LoneDot(), disc / cell * kFullDot, 0.01 * kFullDot) << xres;
    const uint32_t all = (1u << (model.behind() + 2 * model.reach() + 1)) - 1;
    EXPECT_NEAR(model.NewInk(all), kFullDot, 0.01 * kFullDot) << xres;
  }
}

}  // namespace
}  // namespace kemb::halftone
