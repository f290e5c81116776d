// SPDX-License-Identifier: Apache-2.0
// ToneCurve: the dot gain model, the sRGB target and the lookup table built from both.
//   DotGain, PrintedCoverage, DensityFor   the model
//   TargetCoverage                         sRGB decoding of a lightness value
//   ToneCurve::ToneCurve                   fills the table, pinning its two ends
#include "tone_curve.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kemb::halftone {

double DotGain(int xres) {
  const double column_pitch_mm = 25.4 / std::max(xres, 1);
  const double dot_area = std::numbers::pi * kDotDiameterMm * kDotDiameterMm / 4.0;
  return std::max(1.0, dot_area / (column_pitch_mm * kRowPitchMm));
}

double PrintedCoverage(double density, double gain) {
  return 1.0 - std::pow(1.0 - std::clamp(density, 0.0, 1.0), gain);
}

double DensityFor(double coverage, double gain) {
  return 1.0 - std::pow(1.0 - std::clamp(coverage, 0.0, 1.0), 1.0 / gain);
}

double TargetCoverage(int lightness) {
  const double v = std::clamp(lightness, 0, 255) / 255.0;
  const double linear = v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  return 1.0 - linear;
}

ToneCurve::ToneCurve(int xres) : gain_(DotGain(xres)) {
  for (int v = 0; v < 256; ++v) {
    const double density = DensityFor(TargetCoverage(v), gain_);
    const auto units = static_cast<int32_t>(std::lround(density * kFullDot));
    table_[v] = std::clamp(units, int32_t{1}, kFullDot - 1);
  }
  table_[0] = kFullDot;
  table_[255] = 0;
}

}  // namespace kemb::halftone
