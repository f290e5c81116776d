// SPDX-License-Identifier: Apache-2.0
// ToneCurve: the sRGB target and the lookup table built from it.
//   TargetCoverage          sRGB decoding of a lightness value
//   ToneCurve::ToneCurve    fills the table, pinning its two ends
#include "tone_curve.h"

#include <algorithm>
#include <cmath>

namespace kemb::halftone {

double TargetCoverage(int lightness) {
  const double v = std::clamp(lightness, 0, 255) / 255.0;
  const double linear = v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  return 1.0 - linear;
}

ToneCurve::ToneCurve() {
  for (int v = 0; v < 256; ++v) {
    const auto units = static_cast<int32_t>(std::lround(TargetCoverage(v) * kFullDot));
    table_[v] = std::clamp(units, int32_t{1}, kFullDot - 1);
  }
  table_[0] = kFullDot;
  table_[255] = 0;
}

}  // namespace kemb::halftone
