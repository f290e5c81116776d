// SPDX-License-Identifier: Apache-2.0
// The built-in monospace font the preview draws printed characters with (internal).
//
//   Glyph       7 x 12 cells of one character; the cell scales to the character's pitch,
//               each row to two head pins (24 pins a line)
//   BuildFont   a glyph for every byte the code page 437 table prints; empty for the rest
//
// Letters and figures sit in columns 1-5, capitals from row 2, the baseline at row 8,
// descenders to row 10; row 11 is left for the underline. Box drawing reaches every edge,
// so lines join from character to character and, where the line spacing allows, line to line.
#pragma once

#include <array>
#include <cstdint>

namespace kembview::detail {

inline constexpr int kGlyphColumns = 7;
inline constexpr int kGlyphRows = 12;
inline constexpr int kPinsPerGlyphRow = 2;
inline constexpr int kUnderlineRow = 11;

struct Glyph {
  std::array<uint8_t, kGlyphRows> rows{};  // bit c: column c, from the left

  bool Ink(int column, int row) const { return (rows[row] >> column & 1) != 0; }
  void Set(int column, int row) { rows[row] |= static_cast<uint8_t>(1u << column); }
  bool Empty() const;
};

using Font = std::array<Glyph, 256>;

Font BuildFont();

}  // namespace kembview::detail
