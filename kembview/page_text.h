// SPDX-License-Identifier: Apache-2.0
// Where a run of characters puts ink on a page grid (internal).
//
//   kTextColumnDpi, kTextRowDpi   the grid a page with characters needs at least
//   InkBox                        grid dots [x0, x1) x [y0, y1)
//   ForEachInk                    the inked spans of every character of a run
//   HasInk                        whether a run prints anything (spaces alone do not)
//
// A glyph cell is one character width wide and 24 pins high from the head's position; each
// glyph row takes two pins (one in draft, which prints lighter). Bold strikes each span again
// half a glyph column to the right; the underline fills the glyph's last row across the cell.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "font.h"
#include "page_draft.h"

namespace kembview::detail {

inline constexpr int kTextColumnDpi = 360;
inline constexpr int kTextRowDpi = 180;

struct InkBox {
  int64_t x0, x1, y0, y1;
};

template <typename Visit>
void ForEachInk(const PlacedText& run, std::span<const uint8_t> stream, const Units& units,
                int xdpi, int ydpi, const Font& font, Visit visit) {
  const auto grid_x = [&](int64_t x) { return x * xdpi / units.x_per_inch; };
  const auto grid_y = [&](int64_t y) { return y * ydpi / units.y_per_inch; };
  const int64_t pin = units.y_per_inch / kTextRowDpi;
  const int64_t pins = run.draft ? 1 : kPinsPerGlyphRow;
  const int64_t bold_shift =
      run.bold ? std::max<int64_t>(1, grid_x(run.advance / (2 * kGlyphColumns))) : 0;
  constexpr uint8_t kFullRow = (1u << kGlyphColumns) - 1;
  for (size_t i = 0; i < run.count; ++i) {
    const Glyph& glyph = font[stream[run.data_offset + i]];
    const int64_t left = run.x + static_cast<int64_t>(i) * run.advance;
    for (int row = 0; row < kGlyphRows; ++row) {
      const uint8_t bits = glyph.rows[row] | (run.underline && row == kUnderlineRow ? kFullRow : 0);
      if (bits == 0) continue;
      const int64_t top = run.y + row * kPinsPerGlyphRow * pin;
      const int64_t y0 = grid_y(top);
      const int64_t y1 = std::max(grid_y(top + pins * pin), y0 + 1);
      for (int column = 0; column < kGlyphColumns;) {
        if ((bits >> column & 1) == 0) {
          ++column;
          continue;
        }
        int end = column;
        while (end < kGlyphColumns && (bits >> end & 1) != 0) ++end;
        const int64_t x0 = grid_x(left + column * run.advance / kGlyphColumns);
        const int64_t x1 = std::max(grid_x(left + end * run.advance / kGlyphColumns), x0 + 1);
        visit(InkBox{x0, x1 + bold_shift, y0, y1});
        column = end;
      }
    }
  }
}

inline bool HasInk(const PlacedText& run, std::span<const uint8_t> stream, const Font& font) {
  if (run.underline && run.count > 0) return true;
  const auto bytes = stream.subspan(run.data_offset, run.count);
  return std::any_of(bytes.begin(), bytes.end(),
                     [&font](uint8_t byte) { return !font[byte].Empty(); });
}

}  // namespace kembview::detail
