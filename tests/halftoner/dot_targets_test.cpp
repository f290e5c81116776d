// Dot targets: which pixels each mode forces, and the lightness the others are toned by.
#include "dot_targets.h"

#include <gtest/gtest.h>

#include <vector>

namespace kemb::halftone {
namespace {

struct PixelCase {
  uint8_t r, g, b;
  const char* what;
  int32_t mixed;  // expected in kMixed; 0 means "toned by the curve"
};

TEST(DotTargets, MixedModeForcesExactlyTheFiltersDarkAndPaperPixels) {
  const PixelCase cases[] = {
      {0, 0, 0, "black", kForceDot},          {100, 100, 100, "grey sum 300", kForceDot},
      {255, 0, 45, "red sum 300", kForceDot}, {101, 100, 100, "grey sum 301", 0},
      {0, 0, 255, "blue sum 255", kForceDot}, {244, 243, 243, "sum 730", 0},
      {0, 255, 255, "cyan sum 510", 0},       {244, 244, 243, "sum 731", kForceBlank},
      {255, 255, 255, "white", kForceBlank},
  };
  const ToneCurve curve(180);
  for (const PixelCase& c : cases) {
    const std::vector<uint8_t> rgb = {c.r, c.g, c.b};
    std::vector<int32_t> mixed(1), picture(1);
    MakeTargets(rgb, Mode::kMixed, curve, mixed);
    MakeTargets(rgb, Mode::kPicture, curve, picture);
    const int32_t toned = curve.Density(Lightness(c.r, c.g, c.b));
    EXPECT_EQ(mixed[0], c.mixed != 0 ? c.mixed : toned) << c.what << " in mode 3";
    EXPECT_EQ(picture[0], toned) << c.what << " in mode 2";
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

TEST(DotTargets, EveryPixelOfARowIsConverted) {
  const ToneCurve curve(360);
  const std::vector<uint8_t> rgb = {0, 0, 0, 128, 128, 128, 255, 255, 255, 200, 200, 200};
  std::vector<int32_t> targets(4, -99);
  MakeTargets(rgb, Mode::kPicture, curve, targets);
  for (size_t x = 0; x < targets.size(); ++x) {
    EXPECT_EQ(targets[x], curve.Density(rgb[3 * x])) << "column " << x;
  }
}

}  // namespace
}  // namespace kemb::halftone
