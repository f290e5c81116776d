// SPDX-License-Identifier: Apache-2.0
// Round trip: random dot pages through StartPage, AddRow and EndPage, read back by the
// independent decoder, must come out dot for dot where the command set's advances close. Where
// they do not (LQ at 60, 120, 240 and 360 x 360 dpi), the test pins where the dots land.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "printer_fixture.h"
#include "stream_decoder.h"

namespace kemb::testing {
namespace {

struct DotPage {
  unsigned width, height;
  std::vector<uint8_t> rows;  // (width + 7) / 8 bytes per row
  size_t RowBytes() const { return (width + 7) / 8; }
  bool Dot(unsigned x, unsigned y) const {
    return rows[y * RowBytes() + x / 8] & (0x80 >> (x % 8));
  }
  void Set(unsigned x, unsigned y) { rows[y * RowBytes() + x / 8] |= 0x80 >> (x % 8); }
};

DotPage RandomPage(unsigned width, unsigned height, double density, std::mt19937& random) {
  DotPage page{width, height, std::vector<uint8_t>((width + 7) / 8 * size_t{height}, 0)};
  std::bernoulli_distribution dot(density);
  for (unsigned y = 0; y < height; ++y) {
    for (unsigned x = 0; x < width; ++x) {
      if (dot(random)) page.Set(x, y);
    }
  }
  // Dots at the edges, where off-by-one faults show.
  if (density > 0) {
    page.Set(0, 0), page.Set(width - 1, 0), page.Set(0, height - 1), page.Set(width - 1, height - 1);
  }
  return page;
}

// The printer stream of one page: set-up, every row through AddRow, page end.
Bytes PrintPage(const DotPage& page, const char* type, unsigned xdpi, unsigned ydpi) {
  PrinterPage printer(PageHeader(page.width, page.height, xdpi, ydpi, type));
  EXPECT_TRUE(printer.ok);
  for (unsigned y = 0; y < page.height; ++y) {
    std::copy_n(page.rows.begin() + y * page.RowBytes(), page.RowBytes(),
                printer.state.Planes[0].data());
    EXPECT_TRUE(
        AddRow(printer.state, printer.sink, printer.page, printer.state.Planes[0].span()).ok());
  }
  printer.End();
  return printer.sink.bytes;
}

struct Config {
  const char* type;
  unsigned xdpi, ydpi;
};

std::string Name(const Config& c) {
  return std::string(c.type) + " " + std::to_string(c.xdpi) + "x" + std::to_string(c.ydpi);
}

// Compares the decoded page with `expected(x, y)` over the input's area and beyond it.
template <typename Expected>
void ExpectDots(const kembview::Page& decoded, unsigned width, unsigned height, Expected expected,
                const std::string& where) {
  size_t expected_dots = 0;
  for (unsigned y = 0; y < height; ++y) {
    for (unsigned x = 0; x < width; ++x) {
      const bool want = expected(x, y);
      expected_dots += want;
      if (decoded.Dot(int(x), int(y)) != want) {
        ADD_FAILURE() << where << ": dot (" << x << ", " << y << ") is "
                      << decoded.Dot(int(x), int(y)) << ", expected " << want;
        return;
      }
    }
  }
  EXPECT_EQ(decoded.CountDots(), expected_dots) << where << ": dots outside the page";
}

TEST(RoundTrip, ClosingResolutionsReproduceThePageDotForDot) {
  const Config configs[] = {{"LQ", 180, 180},  {"LQ", 360, 180},  {"ALT", 60, 60},
                            {"ALT", 120, 120}, {"ALT", 180, 180}, {"ALT", 240, 240},
                            {"ALT", 360, 180}, {"ALT", 360, 360}};
  const unsigned widths[] = {1, 7, 9, 61, 150};
  const unsigned heights[] = {1, 8, 23, 24, 25, 47, 100};
  const double densities[] = {0.0, 0.02, 0.3, 1.0};
  std::mt19937 random(20261210);
  for (const Config& config : configs) {
    for (unsigned width : widths) {
      for (unsigned height : heights) {
        for (double density : densities) {
          const DotPage page = RandomPage(width, height, density, random);
          const Bytes stream = PrintPage(page, config.type, config.xdpi, config.ydpi);
          const std::string where = Name(config) + ", " + std::to_string(width) + "x" +
                                    std::to_string(height) + " at density " +
                                    std::to_string(density);
          kembview::Rendering rendering = kembview::Render(stream);
          ASSERT_TRUE(rendering.problems.empty()) << where << ": " << rendering.problems[0];
          ASSERT_EQ(rendering.pages.size(), 1u) << where;
          const kembview::Page& decoded = rendering.pages[0];
          // One grid dot per printed dot: the grid is the page's own resolution.
          if (config.type == std::string("LQ") && density > 0) {
            EXPECT_EQ(decoded.xdpi, int(config.xdpi)) << where;
          }
          ExpectDots(decoded, width, height, [&](unsigned x, unsigned y) { return page.Dot(x, y); },
                     where);
        }
      }
    }
  }
}

// LQ at 60, 120 and 240 dpi: every 24-row band is followed by an advance of 8/180 inch, so on
// paper band k starts 8k rows down and overlaps the next two.
TEST(RoundTrip, LqUnshingledBandsOverlapBySixteenRows) {
  std::mt19937 random(7);
  for (unsigned dpi : {60u, 120u, 240u}) {
    for (unsigned height : {24u, 50u, 96u}) {
      const DotPage page = RandomPage(33, height, 0.05, random);
      kembview::Rendering rendering = kembview::Render(PrintPage(page, "LQ", dpi, dpi));
      ASSERT_EQ(rendering.pages.size(), 1u);
      const kembview::Page& decoded = rendering.pages[0];
      EXPECT_EQ(decoded.xdpi, int(dpi));
      EXPECT_EQ(decoded.ydpi, 180);
      auto landed = [&](unsigned x, unsigned y) {
        // Paper row y holds row r of band k where 8k + r = y.
        for (unsigned k = 0; 8 * k <= y; ++k) {
          const unsigned source = 24 * k + (y - 8 * k);
          if (y - 8 * k < 24 && source < page.height && page.Dot(x, source)) return true;
        }
        return false;
      };
      const unsigned bands = (height + 23) / 24;
      ExpectDots(decoded, 33, 8 * (bands - 1) + 24, landed,
                 "LQ " + std::to_string(dpi) + " dpi, height " + std::to_string(height));
    }
  }
}

// LQ at 360 x 360: the half-pass advances are counted in 1/180 inch while the image rows are
// 1/360 inch apart, so on paper (a 360 dpi grid) the two columns of a row part and the page
// stretches: 72 rows cover 224. Each row's landing rows for its even and odd column, as found.
TEST(RoundTrip, Lq360By360PicturesComeOutTornAndStretched) {
  struct Landing {
    unsigned row, even_at, odd_at;
  };
  const Landing table[] = {{0, 0, 0},      {7, 7, 7},      {8, 16, 8},     {16, 16, 24},
                           {23, 23, 31},   {24, 32, 96},   {32, 104, 112}, {40, 120, 112},
                           {48, 192, 128}, {56, 208, 200}, {64, 208, 216}, {71, 215, 223}};
  for (const Landing& l : table) {
    DotPage page{2, 72, std::vector<uint8_t>(72, 0)};
    page.Set(0, l.row), page.Set(1, l.row);
    kembview::Rendering rendering = kembview::Render(PrintPage(page, "LQ", 360, 360));
    ASSERT_EQ(rendering.pages.size(), 1u);
    const kembview::Page& decoded = rendering.pages[0];
    EXPECT_EQ(decoded.ydpi, 360);
    EXPECT_EQ(decoded.CountDots(), 2u) << "row " << l.row;
    EXPECT_TRUE(decoded.Dot(0, int(l.even_at))) << "row " << l.row << ", column 0";
    EXPECT_TRUE(decoded.Dot(1, int(l.odd_at))) << "row " << l.row << ", column 1";
  }
}

}  // namespace
}  // namespace kemb::testing
