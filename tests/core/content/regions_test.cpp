// SPDX-License-Identifier: Apache-2.0
// Picture regions without the filter around them:
//   CopyDots.EveryMaskAgainstABitLoop   spans of every start and end against a dot-by-dot copy
//   RegionMap.PagesAndTheirRegions      a table of small pages: what becomes a picture region,
//                                       where its edges land, and which joins stay open
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "content/regions.h"

namespace kemb {
namespace {

bool Bit(const std::vector<uint8_t>& row, unsigned x) {
  return row[x / 8] & (0x80 >> (x % 8));
}

TEST(CopyDots, EveryMaskAgainstABitLoop) {
  std::mt19937 random(7);
  for (unsigned x0 = 0; x0 <= 32; ++x0) {
    for (unsigned x1 = 0; x1 <= 34; ++x1) {  // past the 32 dots of the rows: clipped
      std::vector<uint8_t> dots(4), image(4);
      for (auto& b : dots) b = uint8_t(random());
      for (auto& b : image) b = uint8_t(random());
      std::vector<uint8_t> expected = dots;
      for (unsigned x = x0; x < std::min(x1, 32u); ++x) {
        const uint8_t mask = uint8_t(0x80 >> (x % 8));
        expected[x / 8] = uint8_t((expected[x / 8] & ~mask) | (Bit(image, x) ? mask : 0));
      }
      CopyDots(dots, image, x0, x1);
      ASSERT_EQ(dots, expected) << x0 << " to " << x1;
    }
  }
}

struct Rgb {
  uint8_t r, g, b;
};
using Painter = std::function<Rgb(unsigned x, unsigned y)>;

constexpr Rgb kPaper = {255, 255, 255};
constexpr Rgb kInk = {0, 0, 0};

// A 2-pixel stroke glyph grid, the look of body text, in the box.
Painter Text(PixelRect box) {
  return [box](unsigned x, unsigned y) {
    if (x < box.x0 || x >= box.x1 || y < box.y0 || y >= box.y1) return kPaper;
    const unsigned gx = (x - box.x0) % 8, gy = (y - box.y0) % 12;
    return (gy < 9 && gx < 6 && (gx < 2 || gy < 2 || gy >= 7)) ? kInk : kPaper;
  };
}

// A photo-like patch: tone that varies, `base` its darkest value.
Painter Photo(PixelRect box, int base) {
  return [box, base](unsigned x, unsigned y) {
    if (x < box.x0 || x >= box.x1 || y < box.y0 || y >= box.y1) return kPaper;
    const auto v = uint8_t(std::min(255, base + int((x * 7 + y * 3) % 60)));
    return Rgb{v, uint8_t(v * 9 / 10), uint8_t(v * 8 / 10)};
  };
}

Painter Fill(PixelRect box, Rgb colour) {
  return [box, colour](unsigned x, unsigned y) {
    return (x < box.x0 || x >= box.x1 || y < box.y0 || y >= box.y1) ? kPaper : colour;
  };
}

// Each painter over the paper; the first that inks a pixel wins.
Regions Map(unsigned width, unsigned height, const std::vector<Painter>& painters) {
  RegionMap map;
  EXPECT_TRUE(map.Start(width, height));
  std::vector<uint8_t> row(size_t{width} * 3);
  for (unsigned y = 0; y < height; ++y) {
    for (unsigned x = 0; x < width; ++x) {
      Rgb px = kPaper;
      for (const Painter& paint : painters) {
        const Rgb p = paint(x, y);
        if (p.r != 255 || p.g != 255 || p.b != 255) {
          px = p;
          break;
        }
      }
      row[3 * x] = px.r;
      row[3 * x + 1] = px.g;
      row[3 * x + 2] = px.b;
    }
    map.AddRow(row.data(), y);
  }
  return map.Find();
}

TEST(RegionMap, PagesAndTheirRegions) {
  struct Case {
    std::string name;
    std::vector<Painter> page;
    std::vector<PixelRect> regions;
    unsigned open_joins = 0;
  };
  const Case cases[] = {
      {"blank", {}, {}},
      {"text only", {Text({8, 8, 190, 150})}, {}},
      {"solid black block: the same dots either way", {Fill({40, 40, 120, 120}, kInk)}, {}},
      // Edges off the cell grid: the region takes in the blank cell line just outside.
      {"light photo", {Photo({41, 37, 139, 101}, 150)}, {{36, 32, 144, 108}}},
      {"dark photo", {Photo({41, 37, 139, 101}, 10)}, {{36, 32, 144, 108}}},
      {"flat colour disc area", {Fill({40, 40, 100, 100}, {220, 20, 20})}, {{36, 36, 104, 104}}},
      {"photo beside text, a 7-pixel gutter",
       {Text({8, 8, 73, 150}), Photo({80, 20, 180, 120}, 60)},
       {{76, 16, 184, 124}}},
      {"photo to the page edge", {Photo({0, 0, 100, 60}, 60)}, {{0, 0, 104, 64}}},
      {"speck of three tiles", {Photo({16, 16, 64, 32}, 60)}, {}},
      // Text right against the photo: the edge stays on the tiles and the join is counted.
      {"text touching the photo",
       {Photo({64, 32, 144, 112}, 60), Text({144, 8, 198, 150})},
       {{60, 28, 144, 116}},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Regions found = Map(200, 160, c.page);
    std::string got;
    for (const PixelRect& r : found.pictures) {
      got += std::to_string(r.x0) + "," + std::to_string(r.y0) + "-" + std::to_string(r.x1) + "," +
             std::to_string(r.y1) + " ";
    }
    EXPECT_EQ(found.pictures, c.regions) << got;
    EXPECT_EQ(found.open_joins, c.open_joins);
    EXPECT_EQ(found.tiles, 13u * 10u);
  }
}

TEST(RegionMap, RefusesAMapTooLargeToHold) {
  RegionMap map;
  EXPECT_FALSE(map.Start(1u << 20, 1u << 20));
  EXPECT_TRUE(map.Find().pictures.empty());
}

}  // namespace
}  // namespace kemb
