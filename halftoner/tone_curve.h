// SPDX-License-Identifier: Apache-2.0
// ToneCurve: the ink coverage a lightness value asks of the paper.
//   kFullDot           a solid print's ink per pixel in the fixed-point units of the diffusion
//   TargetCoverage     the ink coverage a lightness value stands for
//   ToneCurve          table: lightness 0..255 -> ink coverage in kFullDot units
// How many dots print that coverage is the diffusion's business (diffusion.h, dot_model.h).
#pragma once

#include <array>
#include <cstdint>

namespace kemb::halftone {

// Ink coverages and diffused errors are integers in units of 1/kFullDot of a solid print.
inline constexpr int32_t kFullDot = 1 << 12;

// A pixel value is sRGB-encoded lightness; the print reflects 1 - coverage of the light,
// so the coverage that prints value v is 1 - linear(v).
double TargetCoverage(int lightness);

class ToneCurve {
 public:
  ToneCurve();

  // Exactly 0 for 255 and kFullDot for 0, and strictly between for every other value,
  // so paper white never gets a dot and black never misses one.
  int32_t Coverage(uint8_t lightness) const { return table_[lightness]; }

 private:
  std::array<int32_t, 256> table_;
};

}  // namespace kemb::halftone
