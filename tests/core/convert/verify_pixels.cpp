// SPDX-License-Identifier: Apache-2.0
// verify_pixels: the fast pixel loops (TransToGray, TransToGray360, InkCount) against the
// rules written out plainly, for every one of the 2^24 RGB values and for random rows of every
// width up to 300 pixels, in place, with the bytes after the dot row untouched. Prints the
// first difference and exits 1, or prints a summary and exits 0. CTest runs it twice: as the
// loops run here, and with KEMB_PORTABLE_LOOPS=1 for the loops of processors without AVX2.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "convert/ink_count.h"
#include "convert/threshold.h"

namespace {

struct Rgb {
  int r, g, b;
};

int Spread(const Rgb& p) {
  const int high = std::max({p.r, p.g, p.b}), low = std::min({p.r, p.g, p.b});
  return high - low;
}
int Sum(const Rgb& p) {
  return p.r + p.g + p.b;
}

bool TextDot(const Rgb& p) {
  return Sum(p) <= 513 || (Sum(p) <= 699 && Spread(p) > 10);
}
bool PairDark(const Rgb& p) {
  return Sum(p) <= 373 || (Sum(p) <= 739 && Spread(p) > 20);
}
bool LoneDot(const Rgb& p) {
  return Sum(p) < 740;
}

Rgb PixelAt(const std::vector<uint8_t>& rgb, size_t i) {
  return {rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]};
}
bool Bit(const std::vector<uint8_t>& dots, size_t i) {
  return dots[i / 8] & (0x80 >> (i % 8));
}

int failures = 0;

bool Expect(bool ok, const char* what, size_t width, size_t at, const Rgb& p) {
  if (!ok && failures++ < 10) {
    std::printf("FAIL %s: width %zu, index %zu, pixel (%d, %d, %d)\n", what, width, at, p.r, p.g,
                p.b);
  }
  return ok;
}

// Every RGB value once, in order.
std::vector<uint8_t> AllPixels() {
  std::vector<uint8_t> rgb(3u << 24);
  for (uint32_t v = 0; v < (1u << 24); ++v) {
    rgb[3 * v] = static_cast<uint8_t>(v >> 16);
    rgb[3 * v + 1] = static_cast<uint8_t>(v >> 8);
    rgb[3 * v + 2] = static_cast<uint8_t>(v);
  }
  return rgb;
}

void AllPixelsThroughTransToGray(const std::vector<uint8_t>& all) {
  std::vector<uint8_t> row = all;
  kemb::TransToGray(row.data(), 1u << 24);
  for (size_t i = 0; i < (1u << 24); ++i) {
    if (!Expect(Bit(row, i) == TextDot(PixelAt(all, i)), "TransToGray", 1u << 24, i,
                PixelAt(all, i))) {
      return;
    }
  }
}

// Each value once as the first pixel of a pair with white, once as the second.
void AllPixelsThroughTransToGray360(const std::vector<uint8_t>& all) {
  for (int second = 0; second < 2; ++second) {
    std::vector<uint8_t> row(6u << 24, 0xFF);
    for (size_t i = 0; i < (1u << 24); ++i) {
      std::copy_n(&all[3 * i], 3, &row[6 * i + 3 * second]);
    }
    kemb::TransToGray360(row.data(), 1 << 24, 0);
    for (size_t i = 0; i < (1u << 24); ++i) {
      if (!Expect(Bit(row, i) == PairDark(PixelAt(all, i)),
                  second ? "TransToGray360, second of pair" : "TransToGray360, first of pair",
                  2u << 24, i, PixelAt(all, i))) {
        return;
      }
    }
  }
}

// Every value counted, 64 pixels to a row, each row's counts checked.
void AllPixelsThroughInkCount(const std::vector<uint8_t>& all) {
  constexpr size_t kRow = 64;
  for (size_t start = 0; start < (1u << 24); start += kRow) {
    kemb::InkCount count;
    count.AddRow(&all[3 * start], 3 * kRow);
    uint64_t inked = 0, dark = 0;
    for (size_t i = start; i < start + kRow; ++i) {
      inked += Sum(PixelAt(all, i)) <= 730;
      dark += Sum(PixelAt(all, i)) <= 300;
    }
    if (!Expect(count.inked == inked && count.dark == dark, "InkCount", kRow, start,
                PixelAt(all, start))) {
      return;
    }
  }
}

// Pixels near the limits more often than uniform ones, and runs of white paper.
Rgb RandomPixel(std::mt19937& rng) {
  switch (rng() % 4) {
    case 0:
      return {255, 255, 255};
    case 1: {
      const int v = static_cast<int>(rng() % 256);
      return {v, std::clamp(v + static_cast<int>(rng() % 45) - 22, 0, 255),
              std::clamp(v + static_cast<int>(rng() % 45) - 22, 0, 255)};
    }
    default:
      return {static_cast<int>(rng() % 256), static_cast<int>(rng() % 256),
              static_cast<int>(rng() % 256)};
  }
}

void RandomRows() {
  std::mt19937 rng(20240611);
  for (size_t width = 1; width <= 300; ++width) {
    for (int round = 0; round < 40; ++round) {
      std::vector<uint8_t> rgb(3 * width + 16);
      const bool paper = round % 5 == 0;  // mostly white rows take the paper shortcut
      for (size_t i = 0; i < width; ++i) {
        const Rgb p = paper && rng() % 50 != 0 ? Rgb{255, 255, 255} : RandomPixel(rng);
        rgb[3 * i] = static_cast<uint8_t>(p.r);
        rgb[3 * i + 1] = static_cast<uint8_t>(p.g);
        rgb[3 * i + 2] = static_cast<uint8_t>(p.b);
      }
      for (size_t i = 3 * width; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(rng());

      std::vector<uint8_t> row = rgb;
      kemb::TransToGray(row.data(), width);
      const size_t bytes = (width + 7) / 8;
      for (size_t i = 0; i < bytes * 8; ++i) {
        const bool want = i < width && TextDot(PixelAt(rgb, i));
        Expect(Bit(row, i) == want, "TransToGray, random row", width, i,
               i < width ? PixelAt(rgb, i) : Rgb{-1, -1, -1});
      }
      for (size_t k = bytes; k < row.size(); ++k) {
        Expect(row[k] == rgb[k], "TransToGray, byte after the dots changed", width, k, {});
      }

      const size_t pairs = width / 2, odd = width % 2, dots = pairs + odd;
      row = rgb;
      kemb::TransToGray360(row.data(), static_cast<int>(pairs), static_cast<int>(odd));
      for (size_t i = 0; i < (dots + 7) / 8 * 8; ++i) {
        bool want = false;
        if (i < pairs) want = PairDark(PixelAt(rgb, 2 * i)) || PairDark(PixelAt(rgb, 2 * i + 1));
        if (i == pairs && odd) want = LoneDot(PixelAt(rgb, 2 * i));
        Expect(Bit(row, i) == want, "TransToGray360, random row", width, i,
               i < width ? PixelAt(rgb, std::min(2 * i, width - 1)) : Rgb{-1, -1, -1});
      }
      for (size_t k = (dots + 7) / 8; k < row.size(); ++k) {
        Expect(row[k] == rgb[k], "TransToGray360, byte after the dots changed", width, k, {});
      }

      // Rows with nothing after the last pixel give the same dots, and the loops do not read
      // past them (which AddressSanitizer builds would report).
      for (const bool pairs_of_pixels : {false, true}) {
        std::vector<uint8_t> exact(rgb.begin(), rgb.begin() + static_cast<long>(3 * width));
        std::vector<uint8_t> slack = rgb;
        const size_t dot_bytes = pairs_of_pixels ? (dots + 7) / 8 : bytes;
        if (pairs_of_pixels) {
          kemb::TransToGray360(exact.data(), static_cast<int>(pairs), static_cast<int>(odd));
          kemb::TransToGray360(slack.data(), static_cast<int>(pairs), static_cast<int>(odd));
        } else {
          kemb::TransToGray(exact.data(), width);
          kemb::TransToGray(slack.data(), width);
        }
        for (size_t k = 0; k < dot_bytes; ++k)
          Expect(exact[k] == slack[k],
                 pairs_of_pixels ? "TransToGray360, row without slack"
                                 : "TransToGray, row without slack",
                 width, 8 * k, {});
      }

      kemb::InkCount count;
      count.AddRow(rgb.data(), 3 * width);
      uint64_t inked = 0, dark = 0;
      for (size_t i = 0; i < width; ++i) {
        inked += Sum(PixelAt(rgb, i)) <= 730;
        dark += Sum(PixelAt(rgb, i)) <= 300;
      }
      Expect(count.inked == inked && count.dark == dark, "InkCount, random row", width, 0,
             PixelAt(rgb, 0));
    }
  }
}

}  // namespace

int main() {
  const std::vector<uint8_t> all = AllPixels();
  AllPixelsThroughTransToGray(all);
  AllPixelsThroughTransToGray360(all);
  AllPixelsThroughInkCount(all);
  RandomRows();
  if (failures != 0) {
    std::printf("verify_pixels: %d differences\n", failures);
    return 1;
  }
  std::printf("verify_pixels: all 2^24 pixels and 12000 random rows agree\n");
  return 0;
}
