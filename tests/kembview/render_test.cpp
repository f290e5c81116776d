// SPDX-License-Identifier: Apache-2.0
// Tests of the printer model: where each dot of a stream lands.
//
//   DotCase, kDotCases        one-page streams -> grid and the exact set of dots
//   PlacesDots                the table
//   SplitsPagesAtFormFeed     pages, trailing framing, a last page without FF
//   SizesPageFromFormLength   ESC C / ESC F height on each grid, dots below the form
//   AlternateDensityOption    --alternate-dpi grid and its 1.5-row unit
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "stream_bytes.h"
#include "stream_decoder.h"

namespace {

using kembtest::AltAdvance;
using kembtest::AltImage;
using kembtest::Bytes;
using kembtest::Cat;
using kembtest::DotList;
using kembtest::kCr;
using kembtest::LqAdvance;
using kembtest::LqImage;
using kembtest::LqUnit;

struct DotCase {
  const char* name;
  Bytes stream;
  int xdpi, ydpi;
  DotList dots;  // (x, y) in grid dots
};

const Bytes kTopPin = {0x80, 0x00, 0x00};
const Bytes kBottomPin = {0x00, 0x00, 0x01};
const Bytes kBlank = {0x00, 0x00, 0x00};

const std::vector<DotCase> kDotCases = {
    {"single column at its position",
     LqImage(0x27, Cat({kBlank, kBlank, kTopPin})),
     180,
     180,
     {{2, 0}}},
    {"byte 0 at the top, most significant bit first",
     LqImage(0x27, {0x80, 0x01, 0x40}),
     180,
     180,
     {{0, 0}, {0, 15}, {0, 17}}},
    {"head stays at the image's right end",
     Cat({LqImage(0x27, kTopPin), LqImage(0x27, kBottomPin)}),
     180,
     180,
     {{0, 0}, {1, 23}}},
    {"CR returns the head: images overlay",
     Cat({LqImage(0x27, Cat({kTopPin, kBlank})), kCr, LqImage(0x27, Cat({kBlank, kBottomPin}))}),
     180,
     180,
     {{0, 0}, {1, 23}}},
    // Band bytes 11 22 33 44 55 66 at 120 dpi, sent as two passes of alternate bytes.
    {"two passes at 120 dpi",
     Cat({LqImage(0x01, {0x11, 0x00, 0x33, 0x00, 0x55, 0x00}), kCr,
          LqImage(0x01, {0x00, 0x22, 0x00, 0x44, 0x00, 0x66})}),
     120,
     180,
     {{0, 3},
      {0, 7},
      {0, 10},
      {0, 14},
      {0, 18},
      {0, 19},
      {0, 22},
      {0, 23},
      {1, 1},
      {1, 5},
      {1, 9},
      {1, 11},
      {1, 13},
      {1, 15},
      {1, 17},
      {1, 18},
      {1, 21},
      {1, 22}}},
    {"unit 20/3600: 24 units are 24 rows",
     Cat({LqImage(0x27, kTopPin), kCr, LqUnit(0x14), LqAdvance(24), LqUnit(0x40), kCr,
          LqImage(0x27, kTopPin)}),
     180,
     180,
     {{0, 0}, {0, 24}}},
    {"default unit is 1/360 inch",
     Cat({LqAdvance(48), LqImage(0x27, kTopPin)}),
     180,
     180,
     {{0, 24}}},
    {"reset restores the default unit",
     Cat({LqUnit(0x14), kembtest::kResetLq, LqAdvance(2), LqImage(0x27, kTopPin)}),
     180,
     180,
     {{0, 1}}},
    {"unit 64/3600 kept exactly",
     Cat({LqUnit(0x40), LqAdvance(45), LqImage(0x27, kTopPin)}),
     180,
     180,
     {{0, 144}}},
    // Band 0, 8 rows down band 1 (the other parity), 16 rows down band 0 again.
    {"interleaved half-passes",
     Cat({LqImage(0x27, Cat({kTopPin, kBlank})), kCr, LqUnit(0x14), LqAdvance(8), LqUnit(0x40),
          LqImage(0x27, Cat({kBlank, kTopPin})), kCr, LqUnit(0x14), LqAdvance(16), LqUnit(0x40),
          LqImage(0x27, kBottomPin)}),
     180,
     180,
     {{0, 0}, {1, 8}, {0, 47}}},
    {"mode 48h rows 1/360 apart",
     Cat({LqImage(0x48, {0x80, 0x00, 0x01}), kCr, LqAdvance(24), LqImage(0x48, kTopPin)}),
     360,
     360,
     {{0, 0}, {0, 23}, {0, 24}}},
    {"mode 28h: 360 columns, rows 1/180",
     LqImage(0x28, Cat({kTopPin, kBottomPin})),
     360,
     180,
     {{0, 0}, {1, 23}}},
    {"180 dpi dots on a 360x360 grid",
     Cat({LqImage(0x27, kTopPin), kCr, LqImage(0x48, kBottomPin)}),
     360,
     360,
     {{0, 0}, {1, 0}, {0, 1}, {1, 1}, {0, 23}}},
    {"60 dpi dots cover three 180 columns",
     Cat({LqImage(0x00, Cat({kBlank, kTopPin})), kCr, LqImage(0x27, kBottomPin)}),
     180,
     180,
     {{3, 0}, {4, 0}, {5, 0}, {0, 23}}},
    {"240 dpi passes", Cat({LqImage(0x03, Cat({kBlank, kTopPin}))}), 240, 180, {{1, 0}}},
    {"image without mode byte at 180 dpi",
     Cat({{0x1B, 0x2A, 0x02, 0x00}, kBlank, kTopPin, kCr}),
     180,
     180,
     {{1, 0}}},
    {"alternate: 16 units are one band",
     Cat({AltImage(kTopPin), kCr, AltAdvance(16), AltImage(Cat({kBlank, kTopPin}))}),
     180,
     180,
     {{0, 0}, {1, 24}}},
    {"alternate: 255-unit chunks",
     Cat({AltAdvance(0xFF), AltAdvance(0x41), AltImage(kTopPin)}),
     180,
     180,
     {{0, 480}}},
    // 1.5 rows twice is 3 rows, not 1 + 1.
    {"alternate: half rows kept exactly",
     Cat({AltAdvance(1), AltImage(kTopPin), kCr, AltAdvance(1), AltImage(kTopPin)}),
     180,
     180,
     {{0, 1}, {0, 3}}},
    {"alternate: head stays at the right end",
     Cat({AltImage(kTopPin), AltImage(kBottomPin)}),
     180,
     180,
     {{0, 0}, {1, 23}}},
};

DotList Sorted(DotList dots) {
  std::sort(dots.begin(), dots.end(), [](const auto& a, const auto& b) {
    return std::tie(a.second, a.first) < std::tie(b.second, b.first);
  });
  return dots;
}

TEST(Render, PlacesDots) {
  for (const DotCase& c : kDotCases) {
    const kembview::Rendering rendering = kembview::Render(c.stream);
    EXPECT_TRUE(rendering.problems.empty())
        << "case: " << c.name << ", first problem: " << rendering.problems.front();
    ASSERT_EQ(rendering.pages.size(), 1u) << "case: " << c.name;
    const kembview::Page& page = rendering.pages[0];
    EXPECT_EQ(page.xdpi, c.xdpi) << "case: " << c.name;
    EXPECT_EQ(page.ydpi, c.ydpi) << "case: " << c.name;
    EXPECT_EQ(kembtest::DotsOf(page), Sorted(c.dots)) << "case: " << c.name;
    EXPECT_EQ(page.CountDots(), c.dots.size()) << "case: " << c.name;
    EXPECT_FALSE(page.ended_by_form_feed) << "case: " << c.name;
  }
}

TEST(Render, GridForMixedDensities) {
  const struct {
    const char* name;
    std::vector<uint8_t> modes;
    int xdpi, ydpi;
  } cases[] = {
      {"60 and 180", {0x00, 0x27}, 180, 180},
      {"120 and 240", {0x01, 0x03}, 240, 180},
      {"120 and 180 do not divide", {0x01, 0x27}, 360, 180},
      {"180 and 240 do not divide", {0x27, 0x03}, 360, 180},
      {"240 and 360", {0x03, 0x28}, 360, 180},
      {"48h among others", {0x00, 0x48}, 360, 360},
  };
  for (const auto& c : cases) {
    Bytes stream;
    for (uint8_t mode : c.modes) stream = Cat({stream, kCr, LqImage(mode, kTopPin)});
    const kembview::Rendering rendering = kembview::Render(stream);
    ASSERT_EQ(rendering.pages.size(), 1u) << "case: " << c.name;
    EXPECT_EQ(rendering.pages[0].xdpi, c.xdpi) << "case: " << c.name;
    EXPECT_EQ(rendering.pages[0].ydpi, c.ydpi) << "case: " << c.name;
  }
}

TEST(Render, SplitsPagesAtFormFeed) {
  const Bytes stream =
      Cat({kembtest::kResetLq, LqImage(0x27, kTopPin), kembtest::kFf, kembtest::kResetLq,
           LqAdvance(4), LqImage(0x27, Cat({kBlank, kTopPin})), kembtest::kFf, kembtest::kResetLq,
           kembtest::kFf, kembtest::kResetLq, AltImage(kBottomPin), kembtest::kResetLq});
  const kembview::Rendering rendering = kembview::Render(stream);
  EXPECT_TRUE(rendering.problems.empty());
  ASSERT_EQ(rendering.pages.size(), 4u);
  const DotList expected[] = {{{0, 0}}, {{1, 2}}, {}, {{0, 23}}};
  const bool by_form_feed[] = {true, true, true, false};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(kembtest::DotsOf(rendering.pages[i]), expected[i]) << "page " << i + 1;
    EXPECT_EQ(rendering.pages[i].ended_by_form_feed, by_form_feed[i]) << "page " << i + 1;
  }
}

TEST(Render, JobEndFramingMakesNoPage) {
  const Bytes stream = Cat({kembtest::Repeat(0, 50), LqImage(0x27, kTopPin), kembtest::kFf,
                            kembtest::kResetLq, LqImage(0x27, kBlank)});
  EXPECT_EQ(kembview::Render(stream).pages.size(), 1u);
}

TEST(Render, SizesPageFromFormLength) {
  const struct {
    const char* name;
    Bytes stream;
    int width, height;
  } cases[] = {
      {"ESC C 66 lines at 180",
       Cat({{0x1B, 0x43, 66}, LqImage(0x27, Cat({kBlank, kTopPin})), kembtest::kFf}), 2, 1980},
      {"ESC C 66 lines at 360", Cat({{0x1B, 0x43, 66}, LqImage(0x48, kTopPin), kembtest::kFf}), 1,
       3960},
      {"ESC F 6 6", Cat({{0x1B, 0x46, 6, 6}, AltImage(kTopPin), kembtest::kFf}), 1, 1980},
      {"dots below the form",
       Cat({{0x1B, 0x43, 1}, AltAdvance(32), AltImage(kBottomPin), kembtest::kFf}), 1, 72},
      {"no form length, no dots", kembtest::kFf, 1, 1},
      {"reset forgets the form length",
       Cat({{0x1B, 0x43, 66}, kembtest::kResetLq, LqImage(0x27, kBottomPin), kembtest::kFf}), 1,
       24},
  };
  for (const auto& c : cases) {
    const kembview::Rendering rendering = kembview::Render(c.stream);
    ASSERT_EQ(rendering.pages.size(), 1u) << "case: " << c.name;
    EXPECT_EQ(rendering.pages[0].width, c.width) << "case: " << c.name;
    EXPECT_EQ(rendering.pages[0].height, c.height) << "case: " << c.name;
  }
}

TEST(Render, AlternateDensityOption) {
  kembview::RenderOptions options;
  options.alternate_xdpi = 120;
  options.alternate_ydpi = 72;
  const Bytes stream = Cat({{0x1B, 0x46, 6, 6},
                            AltImage(Cat({kBlank, kTopPin})),
                            kCr,
                            AltAdvance(16),
                            AltAdvance(1),
                            AltImage(kTopPin),
                            kembtest::kFf});
  const kembview::Rendering rendering = kembview::Render(stream, options);
  EXPECT_TRUE(rendering.problems.empty());
  ASSERT_EQ(rendering.pages.size(), 1u);
  const kembview::Page& page = rendering.pages[0];
  EXPECT_EQ(page.xdpi, 120);
  EXPECT_EQ(page.ydpi, 72);
  EXPECT_EQ(page.height, 66 * 12);
  EXPECT_EQ(kembtest::DotsOf(page), (DotList{{1, 0}, {0, 25}}));  // 17 units = 25.5 rows
}

}  // namespace
