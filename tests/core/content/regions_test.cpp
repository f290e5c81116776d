// SPDX-License-Identifier: Apache-2.0
// Pictures without the filter around them:
//   CopyDots.EveryMaskAgainstABitLoop   spans of every start and end against a dot-by-dot copy
//   RegionMap.DarkStrokesCrispEverythingElseItsTone
//                                       a table of small pages at 180 x 180 and 360 x 180: which
//                                       pixels keep their thresholded dot and which take the
//                                       halftoner's, and how many shapes take tone
//   RegionMap.RefusesAMapTooLargeToHold, RegionMap.NoiseIsNotMapped
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "content/regions.h"
#include "pixel/pixel_rules.h"

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
// A painter paints the page in 180 dpi units; at 360 x 180 each of its pixels is two across.
using Painter = std::function<Rgb(unsigned x, unsigned y)>;

constexpr Rgb kPaper = {255, 255, 255};
constexpr Rgb kInk = {0, 0, 0};

bool Inside(PixelRect box, unsigned x, unsigned y) {
  return x >= box.x0 && x < box.x1 && y >= box.y0 && y < box.y1;
}

// A 2-pixel stroke glyph grid, the look of body text, in the box.
Painter Text(PixelRect box, Rgb colour = kInk) {
  return [box, colour](unsigned x, unsigned y) {
    if (!Inside(box, x, y)) return kPaper;
    const unsigned gx = (x - box.x0) % 8, gy = (y - box.y0) % 12;
    return (gy < 9 && gx < 6 && (gx < 2 || gy < 2 || gy >= 7)) ? colour : kPaper;
  };
}

// Heading letters 24 x 30, strokes 6 wide (0.85 mm at 180 dpi), 6 apart, in `colour`.
Painter Heading(PixelRect box, Rgb colour) {
  return [box, colour](unsigned x, unsigned y) {
    if (!Inside(box, x, y)) return kPaper;
    const unsigned gx = (x - box.x0) % 30, gy = (y - box.y0) % 36;
    if (gx >= 24 || gy >= 30) return kPaper;
    return (gx < 6 || gx >= 18 || gy < 6 || gy >= 24 || (gy >= 12 && gy < 18)) ? colour : kPaper;
  };
}

// `inner` with a one-pixel ring of `edge` round its ink: anti-aliased letters.
Painter Outlined(Painter inner, Rgb edge) {
  return [inner, edge](unsigned x, unsigned y) {
    const Rgb p = inner(x, y);
    if (p.r != 255 || p.g != 255 || p.b != 255) return p;
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        const Rgb n = inner(unsigned(int(x) + dx), unsigned(int(y) + dy));
        if (n.r != 255 || n.g != 255 || n.b != 255) return edge;
      }
    }
    return kPaper;
  };
}

// A photo-like patch: tone that varies, `base` its darkest value.
Painter Photo(PixelRect box, int base) {
  return [box, base](unsigned x, unsigned y) {
    if (!Inside(box, x, y)) return kPaper;
    const auto v = uint8_t(std::min(255, base + int((x * 7 + y * 3) % 60)));
    return Rgb{v, uint8_t(v * 9 / 10), uint8_t(v * 8 / 10)};
  };
}

Painter Fill(PixelRect box, Rgb colour) {
  return [box, colour](unsigned x, unsigned y) { return Inside(box, x, y) ? colour : kPaper; };
}

// A chart's colour wheel: eight wedges, dark and light ones, parted by one-pixel black spokes.
Painter Wheel(unsigned cx, unsigned cy, int radius) {
  return [=](unsigned x, unsigned y) {
    const int dx = int(x) - int(cx), dy = int(y) - int(cy);
    if (dx * dx + dy * dy > radius * radius) return kPaper;
    if (dx == 0 || dy == 0 || dx == dy || dx == -dy) return kInk;
    constexpr Rgb kWedges[8] = {{255, 0, 0}, {255, 255, 0}, {0, 160, 0},   {0, 200, 200},
                                {0, 0, 255}, {0, 0, 110},   {200, 0, 200}, {255, 140, 0}};
    const int octant = (dy < 0) * 4 + (dx < 0) * 2 + (std::abs(dx) < std::abs(dy));
    return kWedges[octant];
  };
}

struct Page {
  unsigned width = 0, height = 0;
  std::vector<Rgb> pixels;
  bool Inked(unsigned x, unsigned y) const {
    const Rgb p = pixels[size_t{y} * width + x];
    return p.r + p.g + p.b <= pixel::kInkedSum;
  }
};

// Each painter over the paper; the first that inks a pixel wins.
Page Paint(unsigned width, unsigned height, unsigned xdpi, const std::vector<Painter>& painters) {
  Page page{width * xdpi / 180, height, {}};
  page.pixels.assign(size_t{page.width} * height, kPaper);
  for (unsigned y = 0; y < height; ++y) {
    for (unsigned x = 0; x < page.width; ++x) {
      for (const Painter& paint : painters) {
        const Rgb p = paint(x * 180 / xdpi, y);
        if (p.r != 255 || p.g != 255 || p.b != 255) {
          page.pixels[size_t{y} * page.width + x] = p;
          break;
        }
      }
    }
  }
  return page;
}

void Feed(RegionMap* map, const Page& page) {
  std::vector<uint8_t> row(size_t{page.width} * 3);
  for (unsigned y = 0; y < page.height; ++y) {
    for (unsigned x = 0; x < page.width; ++x) {
      const Rgb p = page.pixels[size_t{y} * page.width + x];
      row[3 * x] = p.r;
      row[3 * x + 1] = p.g;
      row[3 * x + 2] = p.b;
    }
    map->AddRow(row.data(), y);
  }
}

TEST(RegionMap, DarkStrokesCrispEverythingElseItsTone) {
  const PixelRect photo = {41, 37, 139, 101};
  const PixelRect tint = {10, 10, 190, 41};  // a tinted table header
  enum class Print { kCrisp, kTone };
  // Every pixel `where` inks prints crisp (keeps its thresholded dot) or as its tone.
  struct Check {
    Painter where;
    Print print;
  };
  struct Case {
    std::string name;
    std::vector<Painter> page;
    std::vector<Check> checks;
    size_t toned_shapes;
  };
  const Case cases[] = {
      {"blank", {}, {}, 0},
      {"black body text", {Text({8, 8, 190, 150})}, {{Text({8, 8, 190, 150}), Print::kCrisp}}, 0},
      {"dark red words",
       {Text({8, 8, 190, 40}, {160, 20, 20})},
       {{Text({8, 8, 190, 40}, {160, 20, 20}), Print::kCrisp}},
       0},
      {"saturated red and blue headings, strokes under a millimetre",
       {Heading({10, 10, 190, 50}, {255, 0, 0}), Heading({10, 60, 190, 100}, {0, 0, 255})},
       {{Fill({10, 10, 190, 100}, kInk), Print::kCrisp}},
       0},
      {"anti-aliased text: its grey ring keeps the text path's dots",
       {Outlined(Text({8, 8, 190, 150}), {150, 150, 150})},
       {{Fill({0, 0, 200, 160}, kInk), Print::kCrisp}},
       0},
      {"yellow, cyan and light green words",
       {Text({8, 8, 190, 20}, {255, 255, 0}), Text({8, 30, 190, 42}, {0, 255, 255}),
        Text({8, 52, 190, 64}, {140, 230, 140})},
       {{Fill({8, 8, 190, 64}, kInk), Print::kTone}},
       3 * 23},
      {"thin light rules, grey and pink",
       {Fill({10, 80, 190, 81}, {170, 170, 170}), Fill({10, 90, 190, 92}, {255, 170, 170})},
       {{Fill({10, 80, 190, 92}, kInk), Print::kTone}},
       2},
      {"3 mm saturated wedges",
       {Fill({20, 20, 41, 120}, {255, 0, 0}), Fill({60, 20, 81, 120}, {0, 0, 255}),
        Fill({100, 20, 121, 120}, {0, 150, 0})},
       {{Fill({20, 20, 121, 120}, kInk), Print::kTone}},
       3},
      {"a 1 mm black rule and a 2 mm black bar",
       {Fill({10, 60, 190, 67}, kInk), Fill({10, 90, 190, 104}, kInk)},
       {{Fill({10, 60, 190, 67}, kInk), Print::kCrisp},
        {Fill({10, 90, 190, 104}, kInk), Print::kTone}},
       1},
      {"black text on a light tint",
       {Text({14, 16, 186, 37}), Fill(tint, {220, 220, 240}), Text({14, 46, 186, 150})},
       {{Text({14, 16, 186, 37}), Print::kCrisp},
        {Fill({10, 10, 190, 14}, kInk), Print::kTone},
        {Text({14, 46, 186, 150}), Print::kCrisp}},
       1},
      {"highlighted line", {Text({20, 60, 180, 69}), Fill({18, 53, 182, 77}, {255, 255, 120})},
       {{Text({20, 60, 180, 69}), Print::kCrisp}, {Fill({18, 53, 182, 58}, kInk), Print::kTone}},
       1},
      {"light photo", {Photo(photo, 150)}, {{Fill(photo, kInk), Print::kTone}}, 1},
      {"dark photo", {Photo(photo, 10)}, {{Fill(photo, kInk), Print::kTone}}, 1},
      {"photo with a caption 6 pixels below",
       {Photo(photo, 60), Text({41, 107, 139, 130})},
       {{Fill(photo, kInk), Print::kTone}, {Text({41, 107, 139, 130}), Print::kCrisp}},
       1},
      {"colour wheel and its legend",
       {Wheel(100, 80, 60), Text({8, 150, 190, 160})},
       {{Fill({40, 20, 161, 141}, kInk), Print::kTone}, {Text({8, 150, 190, 160}), Print::kCrisp}},
       1},
  };
  for (const unsigned xdpi : {180u, 360u}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name + " at " + std::to_string(xdpi) + " x 180");
      const Page page = Paint(200, 160, xdpi, c.page);
      RegionMap map;
      ASSERT_TRUE(map.Start(page.width, page.height, xdpi, 180));
      Feed(&map, page);
      const Regions found = map.Find();
      EXPECT_EQ(found.pictures.size(), c.toned_shapes);

      // Each row laid over no dots from an image of all dots: the dots set are the halftoner's.
      const size_t bytes = (page.width + 7) / 8;
      const std::vector<uint8_t> all(bytes, 0xFF);
      size_t toned = 0;
      for (unsigned y = 0; y < page.height; ++y) {
        std::vector<uint8_t> laid(bytes, 0);
        map.LayRow(y, laid, all);
        for (unsigned x = 0; x < page.width; ++x) {
          const bool halftoned = Bit(laid, x);
          toned += halftoned;
          if (!page.Inked(x, y)) {
            ASSERT_FALSE(halftoned) << "paper " << x << "," << y;
            continue;
          }
          for (const Check& check : c.checks) {
            const Rgb p = check.where(x * 180 / xdpi, y);
            if (p.r != 255 || p.g != 255 || p.b != 255) {
              ASSERT_EQ(halftoned, check.print == Print::kTone) << "at " << x << "," << y;
            }
          }
        }
      }
      EXPECT_EQ(toned, found.picture_pixels);
      EXPECT_EQ(toned == 0, c.toned_shapes == 0);
    }
  }
}

TEST(RegionMap, RefusesAMapTooLargeToHold) {
  RegionMap map;
  EXPECT_FALSE(map.Start(0, 10, 180, 180));
  EXPECT_FALSE(map.usable());
  EXPECT_TRUE(map.Find().pictures.empty());
}

// Dots of every other pixel: runs past the limit, the map gives up rather than grow.
TEST(RegionMap, NoiseIsNotMapped) {
  const unsigned width = 4096, height = 2048;
  static_assert(size_t{width} * height / 2 > RegionMap::kMaxRuns);
  RegionMap map;
  ASSERT_TRUE(map.Start(width, height, 180, 180));
  std::vector<uint8_t> row(size_t{width} * 3, 255);
  for (unsigned y = 0; y < height && map.usable(); ++y) {
    for (unsigned x = 0; x < width; ++x) {
      const uint8_t v = (x + y) % 2 ? 255 : 0;
      row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = v;
    }
    map.AddRow(row.data(), y);
  }
  EXPECT_FALSE(map.usable());
  EXPECT_TRUE(map.Find().pictures.empty());
  std::vector<uint8_t> dots(width / 8, 0);
  map.LayRow(0, dots, std::vector<uint8_t>(width / 8, 0xFF));  // nothing to lay
  EXPECT_EQ(dots, std::vector<uint8_t>(width / 8, 0));
}

}  // namespace
}  // namespace kemb
