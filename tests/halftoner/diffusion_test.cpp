// SPDX-License-Identifier: Apache-2.0
// Error diffusion: tones on paper, the first row of a tint, exact ends, forced pixels, row
// packing.
#include "diffusion.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "dot_targets.h"
#include "test_page.h"
#include "tone_curve.h"

namespace kemb::halftone {
namespace {

using TargetPage = std::vector<std::vector<int32_t>>;
using DotPage = std::vector<std::vector<uint8_t>>;

DotPage Diffuse(const TargetPage& page, size_t columns, int xres = 180) {
  ErrorDiffuser diffuser(columns, xres);
  DotPage dots;
  for (const auto& row : page) {
    dots.emplace_back((columns + 7) / 8);
    diffuser.DiffuseRow(row, dots.back());
  }
  return dots;
}

bool IsDot(const DotPage& dots, size_t x, size_t y) {
  return (dots[y][x / 8] >> (7 - x % 8)) & 1;
}

double DotShare(const DotPage& dots, size_t x0, size_t x1, size_t y0, size_t y1) {
  size_t count = 0;
  for (size_t y = y0; y < y1; ++y) {
    for (size_t x = x0; x < x1; ++x) count += IsDot(dots, x, y);
  }
  return static_cast<double>(count) / static_cast<double>((x1 - x0) * (y1 - y0));
}

TEST(ErrorDiffuser, FlatToneInksItsCoverageOnPaper) {
  // Coverage, not dot count: at 360 dpi a lone dot inks about five cells, so a grey takes
  // far fewer dots than at 180 dpi, and overlapping dots must not be counted twice.
  constexpr size_t kRows = 150, kBorder = 10;
  for (int xres : {180, 360}) {
    const size_t columns = xres == 360 ? 320 : 160;
    for (int32_t coverage : {123, 410, 1024, 2048, 3072, 3686, 4014}) {
      const DotPage dots =
          Diffuse(TargetPage(kRows, std::vector<int32_t>(columns, coverage)), columns, xres);
      const double inked = test::PaperCoverage(
          [&](size_t x, size_t y) { return IsDot(dots, x, y); }, columns, kRows,
          {kBorder, kBorder, columns - 2 * kBorder, kRows - 2 * kBorder}, xres);
      EXPECT_NEAR(inked, static_cast<double>(coverage) / kFullDot, 0.015)
          << "coverage " << coverage << " at " << xres << " dpi";
    }
  }
}

TEST(ErrorDiffuser, FirstRowOfATintGetsDots) {
  // A tint under paper receives no error from above; its first row must still print, not
  // wait rows for the error to build up.
  constexpr size_t kRows = 60, kPaperRows = 6;
  for (int xres : {180, 360}) {
    const size_t columns = xres == 360 ? 640 : 320;
    for (int32_t coverage : {530, 1024, 2048}) {
      TargetPage page(kRows, std::vector<int32_t>(columns, coverage));
      for (size_t y = 0; y < kPaperRows; ++y) page[y].assign(columns, 0);
      const DotPage dots = Diffuse(page, columns, xres);
      const double first = DotShare(dots, 0, columns, kPaperRows, kPaperRows + 1);
      const double tint = DotShare(dots, 0, columns, kPaperRows + 10, kRows);
      EXPECT_GT(first, 0.3 * tint) << "coverage " << coverage << " at " << xres << " dpi";
    }
  }
}

TEST(ErrorDiffuser, PaperAndSolidStayExactNextToAnyTone) {
  // Random stripes of white, black and tones: the error arriving from the tones must
  // never put a dot on white or take one from black.
  constexpr size_t kColumns = 150, kRows = 120;
  std::mt19937 random(7);
  std::uniform_int_distribution<int32_t> tone(1, kFullDot - 1);
  std::uniform_int_distribution<int> kind(0, 2);
  TargetPage page(kRows, std::vector<int32_t>(kColumns));
  for (auto& row : page) {
    for (auto& target : row) {
      const int k = kind(random);
      target = k == 0 ? 0 : k == 1 ? kFullDot : tone(random);
    }
  }
  for (int xres : {180, 360}) {
  const DotPage dots = Diffuse(page, kColumns, xres);
  for (size_t y = 0; y < kRows; ++y) {
    for (size_t x = 0; x < kColumns; ++x) {
      if (page[y][x] == 0) {
        EXPECT_FALSE(IsDot(dots, x, y)) << "white at " << x << "," << y;
      } else if (page[y][x] == kFullDot) {
        EXPECT_TRUE(IsDot(dots, x, y)) << "black at " << x << "," << y;
      }
    }
  }
  }
}

TEST(ErrorDiffuser, ForcedPixelsPrintAsForcedAndKeepTheirOwnErrorToThemselves) {
  // Two pages differ only in what the forced block asks for. A forced pixel hands on only
  // the error it received, never its own, so every pixel outside the block must come out
  // the same.
  constexpr size_t kColumns = 97, kRows = 80;
  const size_t block_x = 30, block_y = 20, block_w = 25, block_h = 30;
  std::mt19937 random(11);
  std::uniform_int_distribution<int32_t> tone(0, kFullDot);
  TargetPage dark(kRows, std::vector<int32_t>(kColumns));
  for (auto& row : dark) {
    for (auto& target : row) target = tone(random);
  }
  TargetPage paper = dark;
  for (size_t y = block_y; y < block_y + block_h; ++y) {
    for (size_t x = block_x; x < block_x + block_w; ++x) {
      dark[y][x] = kForceDot;
      paper[y][x] = kForceBlank;
    }
  }
  for (int xres : {180, 360}) {
  const DotPage dark_dots = Diffuse(dark, kColumns, xres);
  const DotPage paper_dots = Diffuse(paper, kColumns, xres);
  for (size_t y = 0; y < kRows; ++y) {
    for (size_t x = 0; x < kColumns; ++x) {
      const bool inside =
          x >= block_x && x < block_x + block_w && y >= block_y && y < block_y + block_h;
      if (inside) {
        EXPECT_TRUE(IsDot(dark_dots, x, y)) << "forced dot at " << x << "," << y;
        EXPECT_FALSE(IsDot(paper_dots, x, y)) << "forced blank at " << x << "," << y;
      } else {
        EXPECT_EQ(IsDot(dark_dots, x, y), IsDot(paper_dots, x, y))
            << "error crossed the block edge at " << x << "," << y << ", " << xres << " dpi";
      }
    }
  }
  }
}

TEST(ErrorDiffuser, ToneBetweenForcedPixelsKeepsItsDensity) {
  // A light tone broken up by forced columns, as by text or rules: its error has to cross
  // the forced pixels, or each short run between them starts afresh and prints too light.
  // Forced dots are not the tone's ink, so the tone between them takes the dots it takes alone.
  constexpr size_t kColumns = 240, kRows = 240;
  for (int32_t density : {205, 410, 819}) {
    const double alone = DotShare(
        Diffuse(TargetPage(kRows, std::vector<int32_t>(kColumns, density)), kColumns), 0,
        kColumns, 0, kRows);
    for (size_t spacing : {3, 5, 9}) {
      for (int32_t forced : {kForceBlank, kForceDot}) {
        TargetPage page(kRows, std::vector<int32_t>(kColumns, density));
        for (auto& row : page) {
          for (size_t x = 0; x < kColumns; x += spacing) row[x] = forced;
        }
        const DotPage dots = Diffuse(page, kColumns);
        size_t count = 0, toned = 0;
        for (size_t y = 0; y < kRows; ++y) {
          for (size_t x = 0; x < kColumns; ++x) {
            if (x % spacing == 0) continue;
            ++toned;
            count += IsDot(dots, x, y);
          }
        }
        EXPECT_NEAR(static_cast<double>(count) / toned, alone, 0.1 * alone)
            << "density " << density << ", forced " << (forced == kForceDot ? "dot" : "blank")
            << " every " << spacing << " columns";
      }
    }
  }
}

TEST(ErrorDiffuser, VectorAndPlainLoopsPlaceTheSameDots) {
  // Every kind of target, rows of every length round the vector widths, some rows cut short.
  std::mt19937 random(5);
  const int32_t ends[] = {0, kFullDot, kForceBlank, kForceDot};
  for (int xres : {60, 180, 360}) {
    for (size_t columns : {1, 7, 8, 9, 31, 32, 33, 65, 203}) {
      ErrorDiffuser fast(columns, xres), plain(columns, xres, ErrorDiffuser::Loops::kPortable);
      for (size_t y = 0; y < 60; ++y) {
        const size_t length = y % 7 == 3 ? columns / 2 : columns;
        std::vector<int32_t> row(length);
        for (auto& target : row) {
          const int kind = std::uniform_int_distribution<int>(0, 3)(random);
          target = kind == 0 ? ends[random() % 4]
                             : std::uniform_int_distribution<int32_t>(1, kFullDot - 1)(random);
        }
        std::vector<uint8_t> fast_dots((columns + 7) / 8), plain_dots((columns + 7) / 8);
        fast.DiffuseRow(row, fast_dots);
        plain.DiffuseRow(row, plain_dots);
        ASSERT_EQ(fast_dots, plain_dots) << xres << " dpi, " << columns << " columns, row " << y;
      }
    }
  }
}

TEST(ErrorDiffuser, RowIsPackedMostSignificantBitFirstWithCleanTail) {
  for (size_t columns : {1, 7, 8, 10, 17}) {
    ErrorDiffuser diffuser(columns, 180);
    std::vector<int32_t> targets(columns, kFullDot);
    targets[0] = 0;
    std::vector<uint8_t> dots((columns + 7) / 8, 0xA5);
    diffuser.DiffuseRow(targets, dots);
    for (size_t x = 0; x < dots.size() * 8; ++x) {
      const bool expected = x > 0 && x < columns;
      EXPECT_EQ((dots[x / 8] >> (7 - x % 8)) & 1, expected ? 1 : 0)
          << columns << " columns, bit " << x;
    }
  }
}

}  // namespace
}  // namespace kemb::halftone
