// SPDX-License-Identifier: Apache-2.0
// ToneCurve: the ink coverage a pixel asks of the paper.
//   kFullDot           a solid print's ink per pixel in the fixed-point units of the diffusion
//   TargetCoverage     the ink coverage a neutral lightness value stands for
//   ToneCurve          per pixel: the light it reflects (linear luminance) -> ink coverage
// How many dots print that coverage is the diffusion's business (diffusion.h, dot_model.h).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

namespace kemb::halftone {

// Ink coverages and diffused errors are integers in units of 1/kFullDot of a solid print.
inline constexpr int32_t kFullDot = 1 << 12;

// A pixel value is sRGB-encoded lightness; the print reflects 1 - coverage of the light,
// so the coverage that prints value v is 1 - linear(v).
double TargetCoverage(int lightness);

// The print is black ink on white paper, so it keeps of a colour only the light it reflects:
// the luminance of the linear channels (sRGB's weights), not a luma of the encoded values.
// A luma weighs pure green at 149 of 255 (a coverage of 70 %) where it reflects 72 % of the
// light (a coverage of 28 %): saturated hues printed far too dark.
class ToneCurve {
 public:
  // Luminance in units of 1/kFullLight of white.
  static constexpr int32_t kFullLight = 1 << 20;

  ToneCurve();

  // Each channel's share of the luminance; the three add up to a neutral grey's linear value
  // exactly, so a grey prints as TargetCoverage of its value.
  const int32_t* Red() const { return red_.data(); }
  const int32_t* Green() const { return green_.data(); }
  const int32_t* Blue() const { return blue_.data(); }

  // Exactly 0 for white and kFullDot for black, and strictly between for every other pixel,
  // so paper white never gets a dot and black never misses one.
  static int32_t CoverageOfLight(int32_t light) {
    if (light <= 0) return kFullDot;
    if (light >= kFullLight) return 0;
    return std::clamp(kFullDot - ((light + 128) >> 8), int32_t{1}, kFullDot - 1);
  }
  int32_t Coverage(uint8_t r, uint8_t g, uint8_t b) const {
    return CoverageOfLight(red_[r] + green_[g] + blue_[b]);
  }
  int32_t Coverage(uint8_t grey) const { return Coverage(grey, grey, grey); }

 private:
  std::array<int32_t, 256> red_{}, green_{}, blue_{};
};

static_assert(ToneCurve::kFullLight >> 8 == kFullDot, "CoverageOfLight's shift");

}  // namespace kemb::halftone
