// RGB rows of text pages into dot rows, in place (dot i: byte i / 8, mask 80h >> i % 8):
//   TransToGray     one dot per pixel
//   TransToGray360  one dot per horizontal pixel pair, for 360 dpi rows printed at 180 dpi
// Dark pixels become dots; lighter ones only when visibly coloured; near-white and light
// neutral greys never do. The unused low bits of the last dot byte are cleared; bytes after it
// keep what they held.
#pragma once

#include <cstdint>

#include <cups/raster.h>

namespace kemb {

// Pixel sums R + G + B at native resolution.
inline constexpr int kPaperSum = 700;         // from here up: never a dot
inline constexpr int kAlwaysDotSum = 513;     // up to here: always a dot
inline constexpr int kNeutralSpread = 10;     // in between: a dot unless this neutral
// Pixel sums for a pixel of a 360 dpi pair.
inline constexpr int kPairDarkSum = 373;      // up to here: dark
inline constexpr int kPairPaperSum = 740;     // from here up: never dark
inline constexpr int kPairNeutralSpread = 20; // in between: dark unless this neutral

// Converts header.cupsWidth pixels of `row`. Returns 0.
int TransToGray(uint8_t* row, const cups_page_header2_t& header);
// Converts 2 * pairs + odd pixels into pairs + odd dots (odd: the row has a last lone pixel).
int TransToGray360(uint8_t* row, const cups_page_header2_t& header, int pairs, int odd);

}  // namespace kemb
