// SPDX-License-Identifier: Apache-2.0
// Band emission: what one band buffer sends (blank, trimmed, one or two passes) and the paper
// advance in front of it, in both command sets.
#include <gtest/gtest.h>

#include "printer_fixture.h"

namespace kemb::testing {
namespace {

const Bytes kLqAdvanceUnit = {0x1B, 0x28, 0x55, 0x01, 0x00, 0x14};
const Bytes kLqPageUnit = {0x1B, 0x28, 0x55, 0x01, 0x00, 0x40};

// Fills column c of band buffer 0 with the 3 bytes given.
void PutColumn(PrinterPage& page, size_t c, Bytes bytes) {
  std::copy(bytes.begin(), bytes.end(), page.state.LineBuffers[0] + 3 * c);
}

TEST(BandEmission, BlankBandSendsNothingButBooksTheAdvance) {
  for (const char* type : {"LQ", "ALT"}) {
    PrinterPage page(PageHeader(100, 24, 180, 180, type));
    ASSERT_TRUE(page.ok);
    OutputRows(page.state, page.sink, page.page, 0);
    OutputRows(page.state, page.sink, page.page, 0);
    EXPECT_TRUE(page.Sent().empty()) << type;
    EXPECT_EQ(page.state.LineNum, 2u) << type;
  }
  // A band of zero width is blank too.
  PrinterPage page(PageHeader(100, 24));
  page.page.width = 0;
  OutputRows(page.state, page.sink, page.page, 0);
  EXPECT_TRUE(page.Sent().empty());
  EXPECT_EQ(page.state.LineNum, 1u);
}

TEST(BandEmission, TrailingBlankColumnsAreCutInSixtiethsFromTheRight) {
  struct Case {
    unsigned xdpi, width, last_column;
    size_t kept_columns;
  };
  const Case cases[] = {
      {180, 100, 9, 10},   // 300 bytes cut by 9-byte steps: 30 bytes kept
      {180, 100, 10, 13},  // 39 bytes kept
      {180, 100, 99, 100},
      {180, 100, 0, 1},    // 300 - 33 * 9 = 3 bytes
      {360, 50, 0, 2},     // 6-column steps from 50 columns leave 2
      {60, 7, 3, 4},       // one column per step: cut to the last dot
      {30, 7, 0, 7},       // below 60 dpi there is no step: nothing is cut
  };
  for (const Case& c : cases) {
    const std::string where = std::to_string(c.xdpi) + " dpi, width " + std::to_string(c.width) +
                              ", last dot in column " + std::to_string(c.last_column);
    PrinterPage page(PageHeader(c.width, 24, c.xdpi, 180));
    ASSERT_TRUE(page.ok) << where;
    PutColumn(page, c.last_column, {0x00, 0x00, 0x01});
    OutputRows(page.state, page.sink, page.page, 0);
    Bytes sent = page.Sent();
    const size_t header_bytes = c.xdpi == 30 ? 4 : 5;  // no mode byte outside the table
    ASSERT_EQ(sent.size(), 1 + header_bytes + 3 * c.kept_columns) << where;
    EXPECT_EQ(sent[header_bytes - 1], c.kept_columns & 0xFF) << where;
    EXPECT_EQ(sent[header_bytes], c.kept_columns >> 8) << where;
    EXPECT_EQ(sent[1 + header_bytes + 3 * c.last_column + 2], 0x01) << where;
  }
}

TEST(BandEmission, PendingAdvanceGoesInFrontOfTheNextPrintedBand) {
  // LQ at 60 dpi, three blank bands, then a band with one dot: LineNum 3 = 24/180 inch.
  PrinterPage lq(PageHeader(4, 96, 60, 60));
  for (int i = 0; i < 3; ++i) OutputRows(lq.state, lq.sink, lq.page, 0);
  PutColumn(lq, 0, {0x80, 0, 0});
  OutputRows(lq.state, lq.sink, lq.page, 0);
  EXPECT_EQ(lq.Sent(), Cat({{0x0D}, kLqAdvanceUnit, {0x1B, 0x28, 0x76, 0x02, 0x00, 0x18, 0x00},
                           kLqPageUnit, {0x1B, 0x2A, 0x00, 0x01, 0x00, 0x80, 0x00, 0x00}}));
  EXPECT_EQ(lq.state.LineNum, 1u);

  // Alternate set, LineNum 20: 320 units as 255 + 65.
  PrinterPage alt(PageHeader(300, 24, 180, 180, "ALT"));
  alt.state.LineNum = 20;
  PutColumn(alt, 299, {0, 0, 1});
  OutputRows(alt.state, alt.sink, alt.page, 0);
  Bytes sent = alt.Sent();
  ASSERT_GE(sent.size(), 14u);
  EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 14),
            (Bytes{0x0D, 0x1B, 0x25, 0x35, 0xFF, 0x1B, 0x25, 0x35, 0x41,
                   // the column count is big-endian: 300 = 01 2C
                   0x1B, 0x25, 0x31, 0x01, 0x2C}));
  EXPECT_EQ(sent.size(), 14u + 900);
}

TEST(BandEmission, BitImageModeFollowsTheResolution) {
  struct Case {
    unsigned xdpi, ydpi;
    Bytes header;
  };
  const Case cases[] = {
      {60, 60, {0x1B, 0x2A, 0x00}},   {180, 180, {0x1B, 0x2A, 0x27}},
      {360, 180, {0x1B, 0x2A, 0x28}}, {360, 360, {0x1B, 0x2A, 0x48}},
      {90, 90, {0x1B, 0x2A}},         {720, 720, {0x1B, 0x2A}},
  };
  for (const Case& c : cases) {
    PrinterPage page(PageHeader(1, 24, c.xdpi, c.ydpi));
    PutColumn(page, 0, {0xFF, 0xFF, 0xFF});
    OutputRows(page.state, page.sink, page.page, 0);
    Bytes expected = Cat({{0x0D}, c.header, {0x01, 0x00, 0xFF, 0xFF, 0xFF}});
    EXPECT_EQ(page.Sent(), expected) << c.xdpi << "x" << c.ydpi;
  }
}

TEST(BandEmission, At120And240DpiABandGoesInTwoPassesOfAlternateBytes) {
  struct Case {
    const char* type;
    unsigned xdpi;
    Bytes band;
    Bytes header;  // for the column count of the band
    Bytes first, second;
  };
  const Case cases[] = {
      {"LQ", 120, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66}, {0x1B, 0x2A, 0x01, 0x02, 0x00},
       {0x11, 0x00, 0x33, 0x00, 0x55, 0x00}, {0x00, 0x22, 0x00, 0x44, 0x00, 0x66}},
      {"LQ", 120, {0x11, 0x22, 0x33}, {0x1B, 0x2A, 0x01, 0x01, 0x00}, {0x11, 0x00, 0x33},
       {0x00, 0x22, 0x00}},
      {"LQ", 240, {0x11, 0x22, 0x33}, {0x1B, 0x2A, 0x03, 0x01, 0x00}, {0x11, 0x00, 0x33},
       {0x00, 0x22, 0x00}},
      {"ALT", 240, {0x11, 0x22, 0x33}, {0x1B, 0x25, 0x31, 0x00, 0x01}, {0x11, 0x00, 0x33},
       {0x00, 0x22, 0x00}},
  };
  for (const Case& c : cases) {
    const size_t columns = c.band.size() / 3;
    PrinterPage page(PageHeader(static_cast<unsigned>(columns), 24, c.xdpi, c.xdpi, c.type));
    std::copy(c.band.begin(), c.band.end(), page.state.LineBuffers[0]);
    OutputRows(page.state, page.sink, page.page, 0);
    EXPECT_EQ(page.Sent(), Cat({{0x0D}, c.header, c.first, {0x0D}, c.header, c.second}))
        << c.type << " " << c.xdpi << " dpi, " << columns << " columns";
  }
}

TEST(BandEmission, BandIsClearedAfterPrinting) {
  PrinterPage page(PageHeader(20, 24));
  PutColumn(page, 19, {1, 2, 3});
  OutputRows(page.state, page.sink, page.page, 0);
  const size_t first = page.Sent().size();
  OutputRows(page.state, page.sink, page.page, 0);
  EXPECT_EQ(page.Sent().size(), first);  // blank now
}

}  // namespace
}  // namespace kemb::testing
