// SPDX-License-Identifier: Apache-2.0
// The characters the printer can print as text, from Unicode code points:
//   ToCodePage437   the byte of the printer's resident code page 437 table, or 0 when the
//                   table has no such character
//   ToPlainAscii    a printable ASCII look-alike for what the printer cannot print as itself:
//                   dashes, quotes and bullets as - ' " *; box drawing as + - |, shades and
//                   blocks as #, accented Latin letters as their base letter; 0 when nothing
//                   looks alike
#pragma once

#include <cstdint>

namespace kemb {

uint8_t ToCodePage437(uint32_t code_point);
uint8_t ToPlainAscii(uint32_t code_point);

}  // namespace kemb
