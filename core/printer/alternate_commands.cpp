// SPDX-License-Identifier: Apache-2.0
// The alternate command set (ESC % sequences): page set-up, bit-image header with a big-endian
// column count, advance in ESC % 5 units of 1/16 band, nothing at the job's end.
#include <cstdint>

#include "printer/command_set.h"

namespace kemb {
namespace {

constexpr uint8_t ESC = 0x1B;

class AlternateCommandSet final : public CommandSet {
 public:
  int SetUpPage(ByteSink& out, const PageDescription& page) const override {
    // Page length as two byte values, tens and units (66 lines: 06 06, not ASCII digits).
    const unsigned lines = PageLengthLines(page);
    out.Write({ESC, 'N', ESC, '%', 'B', ESC, '6'});
    out.Write({ESC, 'F', static_cast<uint8_t>(lines / 10), static_cast<uint8_t>(lines % 10)});
    return 0;
  }

  void BitImageHeader(ByteSink& out, const PageDescription&, size_t columns) const override {
    out.Write({ESC, '%', '1', static_cast<uint8_t>(columns >> 8), static_cast<uint8_t>(columns)});
  }

  void Advance(ByteSink& out, unsigned band_steps) const override {
    // One move command carries at most 255 units.
    unsigned units = band_steps * 16;
    for (; units > 255; units -= 255) out.Write({ESC, '%', '5', 0xFF});
    out.Write({ESC, '%', '5', static_cast<uint8_t>(units)});
  }

  void EndJob(ByteSink&) const override {}
};

}  // namespace

const CommandSet& AlternateCommands() {
  static const AlternateCommandSet alternate;
  return alternate;
}

}  // namespace kemb
