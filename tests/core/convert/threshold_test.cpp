// SPDX-License-Identifier: Apache-2.0
// Thresholding at the boundary of every rule, both functions, and the partial last byte.
#include <gtest/gtest.h>

#include <vector>

#include "convert/threshold.h"
#include "support/raster_writer.h"

namespace kemb::testing {
namespace {

struct Rgb {
  uint8_t r, g, b;
};

// Dot i of a converted row.
bool DotAt(const std::vector<uint8_t>& row, size_t i) { return row[i / 8] & (0x80 >> (i % 8)); }

std::vector<uint8_t> RowOf(const std::vector<Rgb>& pixels) {
  std::vector<uint8_t> row;
  for (const Rgb& p : pixels) row.insert(row.end(), {p.r, p.g, p.b});
  return row;
}

TEST(TransToGray, EachPixelAgainstTheThresholds) {
  struct Case {
    Rgb pixel;
    bool dot;
    const char* why;
  };
  const Case cases[] = {
      {{255, 255, 255}, false, "white"},
      {{234, 233, 233}, false, "sum 700"},
      {{233, 233, 233}, false, "sum 699, neutral"},
      {{240, 230, 229}, true, "sum 699, R-B 11"},
      {{238, 228, 233}, false, "sum 699, spread 10"},
      {{172, 171, 171}, false, "sum 514, neutral"},
      {{171, 171, 171}, true, "sum 513"},
      {{250, 0, 250}, true, "sum 500, magenta"},
      {{255, 255, 190}, false, "sum 700, yellow"},
      {{0, 0, 0}, true, "black"},
  };
  for (const Case& c : cases) {
    // The pixel at every position of a byte, among white neighbours.
    for (size_t at = 0; at < 9; ++at) {
      std::vector<Rgb> pixels(9, Rgb{255, 255, 255});
      pixels[at] = c.pixel;
      std::vector<uint8_t> row = RowOf(pixels);
      TransToGray(row.data(), 9);
      for (size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(DotAt(row, i), i == at && c.dot) << c.why << ", pixel at " << at << ", dot " << i;
      }
    }
  }
}

TEST(TransToGray, PartialLastByteHasItsLowBitsCleared) {
  std::vector<uint8_t> row = RowOf(std::vector<Rgb>(10, Rgb{0, 0, 0}));
  const std::vector<uint8_t> before = row;
  TransToGray(row.data(), 10);
  EXPECT_EQ(row[0], 0xFF);
  EXPECT_EQ(row[1], 0xC0);
  // Bytes after the dot row keep what they held.
  EXPECT_EQ(std::vector<uint8_t>(row.begin() + 2, row.end()),
            std::vector<uint8_t>(before.begin() + 2, before.end()));
}

TEST(TransToGray360, EachPairAgainstTheThresholds) {
  const Rgb white{255, 255, 255};
  struct Case {
    Rgb a, b;
    bool dot;
    const char* why;
  };
  const Case cases[] = {
      {white, {0, 0, 0}, true, "B black"},
      {{0, 0, 0}, white, true, "A black"},
      {{250, 250, 240}, white, false, "A sum 740"},
      {{200, 200, 150}, white, true, "A sum 550, R-B 50"},
      {{125, 124, 124}, white, true, "A sum 373"},
      {{125, 125, 124}, white, false, "A sum 374, neutral"},
      {{130, 130, 130}, {130, 130, 130}, false, "both sum 390, neutral"},
      {white, {250, 229, 250}, true, "B sum 729, spread 21"},
      {white, {249, 229, 249}, false, "B sum 727, spread 20"},
      {white, white, false, "white pair"},
  };
  for (const Case& c : cases) {
    for (size_t at = 0; at < 9; ++at) {
      std::vector<Rgb> pixels(18, white);
      pixels[2 * at] = c.a;
      pixels[2 * at + 1] = c.b;
      std::vector<uint8_t> row = RowOf(pixels);
      TransToGray360(row.data(), 9, 0);
      for (size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(DotAt(row, i), i == at && c.dot) << c.why << ", pair at " << at << ", dot " << i;
      }
      EXPECT_EQ(row[1] & 0x7F, 0) << c.why << ": low bits of the last byte";
    }
  }
}

TEST(TransToGray360, LonePixelGoesBySumAlone) {
  struct Case {
    Rgb pixel;
    bool dot;
  };
  const Case cases[] = {{{250, 240, 249}, true}, {{247, 247, 246}, false}, {{0, 0, 0}, true}};
  for (const Case& c : cases) {
    std::vector<Rgb> pixels(5, Rgb{255, 255, 255});
    pixels[4] = c.pixel;
    std::vector<uint8_t> row = RowOf(pixels);
    TransToGray360(row.data(), 2, 1);
    EXPECT_EQ(row[0], c.dot ? 0x20 : 0x00)
        << int(c.pixel.r) << "," << int(c.pixel.g) << "," << int(c.pixel.b);
  }
}

}  // namespace
}  // namespace kemb::testing
