// SPDX-License-Identifier: Apache-2.0
// Band assembly: 8-row groups into column bytes, the parity split over two band buffers when
// shingling, and the page end, where every row given reaches a band.
#include <gtest/gtest.h>

#include <array>

#include "printer_fixture.h"

namespace kemb::testing {
namespace {

// The bit-image data blocks of a stream, in order (LQ set, 180 dpi).
std::vector<Bytes> Images(const Bytes& sent) {
  std::vector<Bytes> images;
  for (size_t i = 0; i + 5 <= sent.size(); ++i) {
    if (sent[i] == 0x1B && sent[i + 1] == 0x2A && sent[i + 2] == 0x27) {
      const size_t n = sent[i + 3] | sent[i + 4] << 8;
      images.emplace_back(sent.begin() + i + 5, sent.begin() + i + 5 + 3 * n);
      i += 4 + 3 * n;
    }
  }
  return images;
}

// Each group puts a dot in the first row of columns 0 and 1; the table says where each lands.
TEST(BandAssembly, ShingledGroupsFollowTheParityTable) {
  struct Group {
    int even_buffer, even_byte, odd_buffer, odd_byte;
    int even_offset_after, odd_offset_after;
    int printed;  // band buffer printed after the group, or -1
  };
  const Group table[] = {
      {0, 0, 0, 0, 1, 0, -1}, {1, 0, 0, 1, 2, 1, -1}, {0, 2, 1, 1, 0, 2, 0},
      {1, 2, 0, 0, 1, 0, 1},  {0, 1, 1, 0, 2, 1, -1}, {1, 1, 0, 2, 0, 2, 0},
      {0, 0, 1, 2, 1, 0, 1},
  };
  PrinterPage page(PageHeader(2, 56));
  ASSERT_TRUE(page.ok);
  ASSERT_EQ(page.state.Shingling, 1);
  // What each band buffer should hold: 2 columns of 3 bytes.
  std::array<Bytes, 2> expected = {Bytes(6, 0), Bytes(6, 0)};
  size_t images_seen = 0;
  for (int g = 0; g < 7; ++g) {
    const Group& row = table[g];
    page.Row({0, 1});
    page.BlankRows(7);
    expected[row.even_buffer][0 * 3 + row.even_byte] |= 0x80;
    expected[row.odd_buffer][1 * 3 + row.odd_byte] |= 0x80;
    EXPECT_EQ(page.state.EvenOffset, row.even_offset_after) << "group " << g;
    EXPECT_EQ(page.state.OddOffset, row.odd_offset_after) << "group " << g;

    std::vector<Bytes> images = Images(page.Sent());
    if (row.printed >= 0) {
      ASSERT_EQ(images.size(), images_seen + 1) << "group " << g << " should print a band";
      EXPECT_EQ(images.back(), expected[row.printed]) << "band buffer " << row.printed
                                                      << " printed after group " << g;
      expected[row.printed] = Bytes(6, 0);
      ++images_seen;
    } else {
      EXPECT_EQ(images.size(), images_seen) << "group " << g << " should print nothing";
    }
    for (int b = 0; b < 2; ++b) {
      Bytes held(page.state.LineBuffers[b], page.state.LineBuffers[b] + 6);
      EXPECT_EQ(held, expected[b]) << "band buffer " << b << " after group " << g;
    }
  }
}

TEST(BandAssembly, WithoutShinglingEach24RowsMakeOneBand) {
  PrinterPage page(PageHeader(4, 48, 60, 60));
  ASSERT_EQ(page.state.Shingling, 0);
  page.Row({0});
  page.BlankRows(22);
  EXPECT_TRUE(Images(page.Sent()).empty());
  EXPECT_EQ(page.Sent().size(), 0u);
  page.Row({3});  // row 24 completes the band
  Bytes sent = page.Sent();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent, (Bytes{0x0D, 0x1B, 0x2A, 0x00, 0x04, 0x00, 0x80, 0, 0, 0, 0, 0, 0, 0, 0,
                         0, 0, 0x01}));
}

TEST(BandAssembly, PageEndPlacesTheIncompleteGroupSoEveryRowPrints) {
  // 23 rows without shingling: three byte rows, the last holding rows 17 to 23.
  PrinterPage plain(PageHeader(1, 23, 60, 60));
  for (int y = 0; y < 23; ++y) plain.Row({0});
  EXPECT_TRUE(plain.Sent().empty());
  plain.End();
  EXPECT_EQ(plain.Sent(), (Bytes{0x0D, 0x1B, 0x2A, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0xFE, 0x0C}));

  // 8 + 3 rows with shingling: group 0 whole in band buffer 0, the 3 rows split by parity.
  PrinterPage shingled(PageHeader(2, 11));
  for (int y = 0; y < 11; ++y) shingled.Row({0, 1});
  shingled.End();
  const Bytes sent = shingled.Sent();
  std::vector<Bytes> images = Images(sent);
  ASSERT_EQ(images.size(), 2u);
  // Offsets after the completed group: 2, 1, so band buffer 0 goes first.
  EXPECT_EQ(images[0], (Bytes{0xFF, 0x00, 0x00, 0xFF, 0xE0, 0x00}));
  EXPECT_EQ(images[1], (Bytes{0xE0, 0x00, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(sent[sent.size() - 1], 0x0C);
}

TEST(BandAssembly, EightShingledRowsPrintBandBufferZeroOnly) {
  PrinterPage page(PageHeader(3, 8));
  page.Row({2});
  page.BlankRows(7);
  EXPECT_EQ(page.state.EvenOffset, 1);
  EXPECT_EQ(page.state.OddOffset, 0);
  page.End();
  std::vector<Bytes> images = Images(page.Sent());
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0], (Bytes{0, 0, 0, 0, 0, 0, 0x80, 0, 0}));
}

TEST(BandAssembly, SecondGroupDotsLandByColumnParity) {
  for (int shingling : {0, 1}) {
    PrinterPage page(PageHeader(2, 16, shingling ? 180 : 60, shingling ? 180 : 60));
    page.BlankRows(8);
    page.Row({0, 1});
    page.BlankRows(7);
    uint8_t* b0 = page.state.LineBuffers[0];
    EXPECT_EQ(b0[3 + 1], 0x80) << "shingling " << shingling << ": column 1, byte 1 in buffer 0";
    if (shingling) {
      EXPECT_EQ(page.state.LineBuffers[1][0], 0x80) << "column 0, byte 0 in buffer 1";
      EXPECT_EQ(b0[1], 0x00);
    } else {
      EXPECT_EQ(b0[1], 0x80) << "column 0, byte 1 in buffer 0";
    }
  }
}

TEST(BandAssembly, PaddingBitsPastTheLastColumnNeverPrint) {
  // Width 5: a row byte FF carries 3 padding dots that must not reach the band.
  for (unsigned xdpi : {60u, 180u}) {
    PrinterPage page(PageHeader(5, 8, xdpi, xdpi));
    page.state.Planes[0].data()[0] = 0xFF;
    ASSERT_TRUE(AddRow(page.state, page.sink, page.page, page.state.Planes[0].span()).ok());
    page.BlankRows(7);
    page.End();
    Bytes sent = page.Sent();
    // Header then 5 columns with the top dot, nothing more before the form feed.
    const size_t header = 6;  // CR, ESC *, mode, nL, nH
    ASSERT_EQ(sent.size(), header + 15 + 1) << xdpi;
    EXPECT_EQ(sent[4], 5) << xdpi;
  }
}

}  // namespace
}  // namespace kemb::testing
