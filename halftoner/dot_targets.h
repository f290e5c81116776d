// SPDX-License-Identifier: Apache-2.0
// Dot targets: what each pixel of an RGB row asks of the diffusion, by halftoning mode.
//   kForceBlank / kForceDot     targets that take no part in the diffusion
//   Lightness                   the luma of one pixel
//   SolidInSolidDarkMode        the pixels kSolidDark prints solid
//   MakeTargets                 one RGB row -> one row of targets
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

#include "pixel/halftone_mode.h"
#include "pixel/pixel_rules.h"
#include "tone_curve.h"

namespace kemb::halftone {

// Outside the density range 0..kFullDot on purpose: the diffusion tells them apart.
inline constexpr int32_t kForceBlank = -1;
inline constexpr int32_t kForceDot = kFullDot + 1;

// Rec. 601 weights in 1/256; a neutral grey keeps its value.
inline uint8_t Lightness(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<uint8_t>((77 * r + 150 * g + 29 * b + 128) >> 8);
}

// kSolidDark's solid pixels: text and rules, told by neutrality and lightness, so a saturated
// colour (pure green is as light as a mid grey) keeps its tone instead of printing black. A
// near-neutral pixel is solid up to the picture test's dark sum, as a grey always was; a
// coloured one only when it is near black (navy text).
inline constexpr int kSolidNeutralSpread = 64;
inline constexpr int kSolidAnyLightness = 40;

inline bool SolidInSolidDarkMode(uint8_t r, uint8_t g, uint8_t b) {
  const int spread = std::max({r, g, b}) - std::min({r, g, b});
  if (spread <= kSolidNeutralSpread) return r + g + b <= pixel::kDarkSum;
  return Lightness(r, g, b) <= kSolidAnyLightness;
}

// `rgb` holds targets.size() pixels. In kDiffuseAll every pixel is a density from the tone
// curve; in kSolidDark solid pixels (above) are kForceDot and paper pixels kForceBlank, so text
// and rules print crisp.
void MakeTargets(std::span<const uint8_t> rgb, HalftoneMode mode, const ToneCurve& curve,
                 std::span<int32_t> targets);

}  // namespace kemb::halftone
