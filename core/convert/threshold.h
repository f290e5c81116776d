// SPDX-License-Identifier: Apache-2.0
// RGB rows of text pages into dot rows, in place (dot i: byte i / 8, mask 80h >> i % 8):
//   TransToGray     one dot per pixel
//   TransToGray360  one dot per horizontal pixel pair, for 360 dpi rows printed at 180 dpi
// Dark pixels become dots; lighter ones only when visibly coloured; near-white and light
// neutral greys never do. The unused low bits of the last dot byte are cleared; bytes after it
// keep what they held.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kemb {

// Converts `width` pixels of `row`. Returns 0.
int TransToGray(uint8_t* row, size_t width);
// Converts 2 * pairs + odd pixels into pairs + odd dots (odd: the row has a last lone pixel).
int TransToGray360(uint8_t* row, int pairs, int odd);

}  // namespace kemb
