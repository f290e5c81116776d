// MakeTargets: per pixel, the forced cases of the mixed mode first, then the tone curve.
#include "dot_targets.h"

#include <cstddef>

namespace kemb {

void MakeTargets(std::span<const uint8_t> rgb, Mode mode, const ToneCurve& curve,
                 std::span<int32_t> targets) {
  const bool mixed = mode == Mode::kMixed;
  for (size_t x = 0; x < targets.size(); ++x) {
    const uint8_t r = rgb[3 * x];
    const uint8_t g = rgb[3 * x + 1];
    const uint8_t b = rgb[3 * x + 2];
    if (mixed) {
      const int sum = r + g + b;
      if (sum <= kDarkSum) {
        targets[x] = kForceDot;
        continue;
      }
      if (sum > kPaperSum) {
        targets[x] = kForceBlank;
        continue;
      }
    }
    targets[x] = curve.Density(Lightness(r, g, b));
  }
}

}  // namespace kemb
