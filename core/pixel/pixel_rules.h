// SPDX-License-Identifier: Apache-2.0
// The pixel rules the filter and the halftoner share, on 24-bit RGB pixels. A pixel's sum is
// R + G + B (0 to 765); a pixel is neutral within d when no two of its channels differ by more
// than d.
//   Sum, NeutralWithin      the two measures every rule is made of
//   kDarkSum                the picture test's dark pixels; the halftoner prints them solid
//   kInkedSum               the picture test's inked pixels; above it the halftoner sees paper
//   kTextPaperSum ...       text thresholding at the page's own resolution
//   kPairDarkSum ...        text thresholding of 360 dpi pixel pairs printed at 180 dpi
// Two limits both say "paper" and differ on purpose: text thresholding treats a sum from 700
// up as paper, the picture test and the halftoner only a sum above 730.
#pragma once

#include <cstdint>
#include <cstdlib>

namespace kemb::pixel {

// Picture test and halftoner targets.
inline constexpr int kDarkSum = 300;   // up to here: dark
inline constexpr int kInkedSum = 730;  // up to here: inked; above: paper

// Text thresholding, one dot per pixel.
inline constexpr int kTextPaperSum = 700;      // from here up: never a dot
inline constexpr int kTextAlwaysDotSum = 513;  // up to here: always a dot
inline constexpr int kTextNeutralSpread = 10;  // in between: a dot unless this neutral

// Text thresholding, one dot per 360 dpi pixel pair.
inline constexpr int kPairDarkSum = 373;       // up to here: dark
inline constexpr int kPairPaperSum = 740;      // from here up: never dark
inline constexpr int kPairNeutralSpread = 20;  // in between: dark unless this neutral

inline int Sum(const uint8_t* rgb) {
  return rgb[0] + rgb[1] + rgb[2];
}

inline bool NeutralWithin(int r, int g, int b, int spread) {
  return std::abs(r - g) <= spread && std::abs(g - b) <= spread && std::abs(r - b) <= spread;
}

}  // namespace kemb::pixel
