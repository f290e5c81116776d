// SPDX-License-Identifier: Apache-2.0
// Pictures without the filter around them:
//   CopyDots.EveryMaskAgainstABitLoop   spans of every start and end against a dot-by-dot copy
//   RegionMap.PagesAndTheirPictures     a table of small pages at 180 x 180 and 360 x 180: which
//                                       pixels take the halftoner's dot, against the page's own
//                                       shapes found by a flood fill: no inked shape is split
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
Painter Text(PixelRect box) {
  return [box](unsigned x, unsigned y) {
    if (!Inside(box, x, y)) return kPaper;
    const unsigned gx = (x - box.x0) % 8, gy = (y - box.y0) % 12;
    return (gy < 9 && gx < 6 && (gx < 2 || gy < 2 || gy >= 7)) ? kInk : kPaper;
  };
}

// Heading letters 24 x 30, strokes 6 wide, 6 apart, in `colour`.
Painter Heading(PixelRect box, Rgb colour) {
  return [box, colour](unsigned x, unsigned y) {
    if (!Inside(box, x, y)) return kPaper;
    const unsigned gx = (x - box.x0) % 30, gy = (y - box.y0) % 36;
    if (gx >= 24 || gy >= 30) return kPaper;
    return (gx < 6 || gx >= 18 || gy < 6 || gy >= 24 || (gy >= 12 && gy < 18)) ? colour : kPaper;
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

// A chart's colour wheel: eight wedges, among them a navy dark enough to be solid ink, parted
// by one-pixel black spokes.
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

enum class Kind { kPaper, kTone, kSolid };

struct Page {
  unsigned width = 0, height = 0;
  std::vector<Rgb> pixels;
  Kind KindAt(unsigned x, unsigned y) const {
    const Rgb p = pixels[size_t{y} * width + x];
    const int sum = p.r + p.g + p.b;
    return sum > pixel::kInkedSum ? Kind::kPaper : sum > RegionMap::kBlackSum ? Kind::kTone : Kind::kSolid;
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

// The inked shapes (diagonals touching), by a flood fill: a shape number per pixel, -1 paper.
std::vector<int> InkedShapes(const Page& page) {
  std::vector<int> shape(page.pixels.size(), -1);
  int count = 0;
  std::vector<size_t> stack;
  for (size_t start = 0; start < shape.size(); ++start) {
    if (shape[start] != -1 || page.KindAt(unsigned(start % page.width),
                                          unsigned(start / page.width)) == Kind::kPaper) {
      continue;
    }
    shape[start] = count;
    stack.assign(1, start);
    while (!stack.empty()) {
      const size_t at = stack.back();
      stack.pop_back();
      const int x = int(at % page.width), y = int(at / page.width);
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
          const int nx = x + dx, ny = y + dy;
          if (nx < 0 || ny < 0 || nx >= int(page.width) || ny >= int(page.height)) continue;
          const size_t n = size_t(ny) * page.width + size_t(nx);
          if (shape[n] == -1 && page.KindAt(unsigned(nx), unsigned(ny)) != Kind::kPaper) {
            shape[n] = count;
            stack.push_back(n);
          }
        }
      }
    }
    ++count;
  }
  return shape;
}

TEST(RegionMap, PagesAndTheirPictures) {
  const PixelRect photo = {41, 37, 139, 101};
  const PixelRect header = {10, 10, 190, 40};  // a tinted table header
  struct Case {
    std::string name;
    std::vector<Painter> page;
    std::vector<PixelRect> pictures;  // their boxes, in 180 dpi units
    PixelRect crisp = {};             // where every solid pixel keeps its text dot
  };
  const Case cases[] = {
      {"blank", {}, {}},
      {"text only", {Text({8, 8, 190, 150})}, {}},
      // Each letter whole: the thresholding's, grey or not.
      {"grey heading", {Heading({10, 10, 190, 50}, {120, 120, 120})}, {}},
      {"light grey heading", {Heading({10, 10, 190, 50}, {200, 200, 200})}, {}},
      {"solid black block: the same dots either way", {Fill({40, 40, 120, 120}, kInk)},
       {{40, 40, 120, 120}}},
      {"light photo", {Photo(photo, 150)}, {photo}},
      {"dark photo", {Photo(photo, 10)}, {photo}},
      {"photo with a caption 6 pixels below",
       {Photo(photo, 60), Text({41, 107, 139, 130})},
       {photo}},
      // Text against the photo: the glyphs touching it join its shape, their ink keeps its dots.
      {"text touching the photo",
       {Photo({64, 32, 144, 112}, 60), Text({144, 8, 198, 150})},
       {{64, 32, 150, 113}},
       {144, 8, 198, 150}},
      {"tinted table header with text, a table below",
       {Text({14, 16, 186, 37}), Fill(header, {220, 220, 240}), Fill({10, 40, 190, 41}, kInk),
        Text({14, 46, 186, 150})},
       {{10, 10, 190, 41}},
       header},
      {"highlighted line", {Text({20, 60, 180, 69}), Fill({18, 53, 182, 77}, {255, 255, 120})},
       {{18, 53, 182, 77}},
       {18, 53, 182, 77}},
      {"colour wheel", {Wheel(100, 80, 60), Text({8, 150, 190, 160})}, {{40, 20, 161, 141}}},
  };
  for (const unsigned xdpi : {180u, 360u}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name + " at " + std::to_string(xdpi) + " x 180");
      const Page page = Paint(200, 160, xdpi, c.page);
      RegionMap map;
      ASSERT_TRUE(map.Start(page.width, page.height, xdpi, 180));
      Feed(&map, page);
      const Regions found = map.Find();
      auto across = [xdpi](PixelRect r) {
        return PixelRect{r.x0 * xdpi / 180, r.y0, r.x1 * xdpi / 180, r.y1};
      };
      std::vector<PixelRect> expected;
      for (const PixelRect& r : c.pictures) expected.push_back(across(r));
      std::string got;
      for (const PixelRect& r : found.pictures) {
        got += std::to_string(r.x0) + "," + std::to_string(r.y0) + "-" + std::to_string(r.x1) +
               "," + std::to_string(r.y1) + " ";
      }
      EXPECT_EQ(found.pictures, expected) << got;

      // Each row laid over no dots from an image of all dots: the dots set are the halftoner's.
      const size_t bytes = (page.width + 7) / 8;
      const std::vector<uint8_t> all(bytes, 0xFF);
      const std::vector<int> shapes = InkedShapes(page);
      std::vector<int> shape_halftoned(page.pixels.size() + 1, -1);
      const PixelRect crisp = across(c.crisp);
      size_t halftoned_count = 0;
      for (unsigned y = 0; y < page.height; ++y) {
        std::vector<uint8_t> laid(bytes, 0);
        map.LayRow(y, laid, all);
        for (unsigned x = 0; x < page.width; ++x) {
          const bool halftoned = Bit(laid, x);
          halftoned_count += halftoned;
          switch (page.KindAt(x, y)) {
            case Kind::kPaper:
              ASSERT_FALSE(halftoned) << "paper " << x << "," << y;
              break;
            case Kind::kTone: {
              // A tone pixel is a picture's exactly inside the picture boxes ...
              bool in_box = false;
              for (const PixelRect& r : expected) in_box = in_box || Inside(r, x, y);
              ASSERT_EQ(halftoned, in_box) << "tone " << x << "," << y;
              // ... and no inked shape is halftoned in part.
              int& seen = shape_halftoned[size_t(shapes[size_t{y} * page.width + x])];
              if (seen == -1) seen = halftoned;
              ASSERT_EQ(seen, int(halftoned)) << "shape split at " << x << "," << y;
              break;
            }
            case Kind::kSolid:
              if (Inside(crisp, x, y)) {
                ASSERT_FALSE(halftoned) << "text ink " << x << "," << y;
              }
              break;
          }
        }
      }
      EXPECT_EQ(halftoned_count == 0, expected.empty());
      EXPECT_EQ(found.picture_pixels > 0, !expected.empty());
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
