// SPDX-License-Identifier: Apache-2.0
// Dot targets: which pixels each mode forces, and the luminance the others are toned by.
#include "dot_targets.h"

#include <gtest/gtest.h>

#include <vector>

namespace kemb::halftone {
namespace {

struct PixelCase {
  uint8_t r, g, b;
  const char* what;
  int32_t mixed;  // expected in kSolidDark; 0 means "toned by the curve"
};

// Each case fills a row of 16 pixels, so the vector path (blocks of 8) and the plain loop
// (the rest of the row) both meet it.
TEST(DotTargets, SolidDarkModeForcesDarkNeutralsAndNearBlackAndPaper) {
  const PixelCase cases[] = {
      {0, 0, 0, "black", kForceDot},
      {100, 100, 100, "grey 100", kForceDot},
      {101, 100, 100, "grey 100.3", 0},
      {102, 102, 102, "grey 102", 0},
      {100, 80, 60, "dark brown, neutral within 40", kForceDot},
      {0, 0, 128, "navy, lightness 15", kForceDot},
      {0, 0, 255, "blue, lightness 29", kForceDot},
      {255, 0, 45, "red with blue, sum 300", 0},
      {255, 0, 0, "red, lightness 77", 0},
      {0, 255, 0, "green, lightness 149", 0},
      {0, 128, 0, "dark green, lightness 75", 0},
      {120, 100, 80, "brown, sum 300, neutral within 40", kForceDot},
      {40, 40, 160, "dark blue, lightness 45", 0},
      {0, 255, 255, "cyan sum 510", 0},
      {244, 243, 243, "sum 730", 0},
      {244, 244, 243, "sum 731", kForceBlank},
      {255, 255, 255, "white", kForceBlank},
  };
  const ToneCurve curve;
  constexpr size_t kRow = 16;
  for (const PixelCase& c : cases) {
    std::vector<uint8_t> rgb;
    for (size_t x = 0; x < kRow; ++x) rgb.insert(rgb.end(), {c.r, c.g, c.b});
    std::vector<int32_t> mixed(kRow), picture(kRow);
    MakeTargets(rgb, HalftoneMode::kSolidDark, curve, mixed);
    MakeTargets(rgb, HalftoneMode::kDiffuseAll, curve, picture);
    const int32_t toned = curve.Coverage(c.r, c.g, c.b);
    for (size_t x = 0; x < kRow; ++x) {
      EXPECT_EQ(mixed[x], c.mixed != 0 ? c.mixed : toned) << c.what << " in mode 3, pixel " << x;
      EXPECT_EQ(picture[x], toned) << c.what << " in mode 2, pixel " << x;
    }
  }
}

TEST(DotTargets, NeutralGreyKeepsItsValueAndGreenWeighsMost) {
  for (int v = 0; v < 256; ++v) {
    const auto c = static_cast<uint8_t>(v);
    EXPECT_EQ(Lightness(c, c, c), v) << "grey " << v;
  }
  EXPECT_GT(Lightness(0, 255, 0), Lightness(255, 0, 0));
  EXPECT_GT(Lightness(255, 0, 0), Lightness(0, 0, 255));
}

// Every pixel of rows of several lengths, colours included, so the vector blocks and the
// plain tail meet each pixel at every position and agree with the curve.
TEST(DotTargets, EveryPixelOfARowIsConverted) {
  const ToneCurve curve;
  uint32_t state = 12345;
  for (size_t pixels : {size_t{1}, size_t{4}, size_t{9}, size_t{37}}) {
    std::vector<uint8_t> rgb(3 * pixels);
    for (uint8_t& byte : rgb) {
      state = state * 1103515245u + 12345u;
      byte = static_cast<uint8_t>(state >> 16);
    }
    rgb[0] = rgb[1] = rgb[2] = 0;
    if (pixels > 1) rgb[3] = rgb[4] = rgb[5] = 255;
    std::vector<int32_t> targets(pixels, -99);
    MakeTargets(rgb, HalftoneMode::kDiffuseAll, curve, targets);
    for (size_t x = 0; x < pixels; ++x) {
      EXPECT_EQ(targets[x], curve.Coverage(rgb[3 * x], rgb[3 * x + 1], rgb[3 * x + 2]))
          << pixels << " pixels, column " << x;
    }
  }
}

}  // namespace
}  // namespace kemb::halftone
