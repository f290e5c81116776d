// SPDX-License-Identifier: Apache-2.0
// The LQ command set (ESC/P family): page set-up, bit-image header by resolution, advance in
// ESC ( v steps of 1/180 inch, reset at the job's end.
#include <cstdint>

#include "printer/command_set.h"

namespace kemb {
namespace {

constexpr uint8_t ESC = 0x1B, FS = 0x1C;

class LqCommandSet final : public CommandSet {
 public:
  int SetUpPage(ByteSink& out, const PageDescription& page) const override {
    const unsigned xdpi = page.xdpi, ydpi = page.ydpi;
    if (page.okidata) out.Write({ESC, '{', 'A'});
    out.Write({ESC, '@', ESC, '6'});
    const uint8_t high_density = (xdpi == 360 || xdpi == 240) ? '1' : '0';
    out.Write({FS, 'x', high_density, ESC, 'U', high_density});
    out.Write({ESC, '2', ESC, 'C', static_cast<uint8_t>(PageLengthLines(page))});

    switch (xdpi) {
      case 60:
      case 120:
      case 240:
        out.Write({ESC, '3', 24});
        return 0;
      case 180:
      case 360:
        // Two half-passes 8/180 inch apart: ESC 3 8 at 180 rows per inch, ESC + 8 at 360.
        if (ydpi == 180) {
          out.Write({ESC, '3', 8});
        } else {
          out.Write({ESC, '+', 8});
        }
        return 1;
      default:
        return 0;
    }
  }

  void BitImageHeader(ByteSink& out, const PageDescription& page,
                      size_t columns) const override {
    out.Write({ESC, '*'});
    switch (page.xdpi) {
      case 60: out.Put(0x00); break;
      case 120: out.Put(0x01); break;
      case 180: out.Put(0x27); break;
      case 240: out.Put(0x03); break;
      case 360: out.Put(page.ydpi == 180 ? 0x28 : 0x48); break;
      default: break;  // the printer takes its current density
    }
    out.Write({static_cast<uint8_t>(columns), static_cast<uint8_t>(columns >> 8)});
  }

  void Advance(ByteSink& out, unsigned band_steps) const override {
    // Unit 20/3600 = 1/180 inch for the move, then back to the 64/3600 unit the page uses.
    const unsigned units = band_steps * 8;
    out.Write({ESC, '(', 'U', 0x01, 0x00, 0x14});
    out.Write({ESC, '(', 'v', 0x02, 0x00, static_cast<uint8_t>(units),
               static_cast<uint8_t>(units >> 8)});
    out.Write({ESC, '(', 'U', 0x01, 0x00, 0x40});
  }

  void EndJob(ByteSink& out) const override { out.Write({ESC, '@'}); }
};

}  // namespace

const CommandSet& LqCommands() {
  static const LqCommandSet lq;
  return lq;
}

unsigned PageLengthLines(const PageDescription& page) {
  return static_cast<unsigned>(page.length_points / 12.0 + 0.5);
}

}  // namespace kemb
