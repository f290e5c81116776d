// SPDX-License-Identifier: Apache-2.0
// ToneCurve: the sRGB target and the channel tables built from it.
//   TargetCoverage          sRGB decoding of a lightness value
//   ToneCurve::ToneCurve    fills the tables; green takes the rounding, so greys add up exactly
#include "tone_curve.h"

#include <algorithm>
#include <cmath>

namespace kemb::halftone {
namespace {

double Linear(int value) {
  const double v = std::clamp(value, 0, 255) / 255.0;
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

}  // namespace

double TargetCoverage(int lightness) { return 1.0 - Linear(lightness); }

ToneCurve::ToneCurve() {
  for (int v = 0; v < 256; ++v) {
    const double linear = Linear(v);
    const auto grey = static_cast<int32_t>(std::lround(linear * kFullLight));
    red_[v] = static_cast<int32_t>(std::lround(0.2126 * linear * kFullLight));
    blue_[v] = static_cast<int32_t>(std::lround(0.0722 * linear * kFullLight));
    green_[v] = grey - red_[v] - blue_[v];
  }
}

}  // namespace kemb::halftone
