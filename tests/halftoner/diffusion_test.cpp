// SPDX-License-Identifier: Apache-2.0
// Error diffusion: mean density, exact ends, forced pixels, row packing.
#include "diffusion.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "dot_targets.h"
#include "tone_curve.h"

namespace kemb::halftone {
namespace {

using TargetPage = std::vector<std::vector<int32_t>>;
using DotPage = std::vector<std::vector<uint8_t>>;

DotPage Diffuse(const TargetPage& page, size_t columns) {
  ErrorDiffuser diffuser(columns);
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

TEST(ErrorDiffuser, FlatDensityComesOutAsItsShareOfDots) {
  constexpr size_t kColumns = 203, kRows = 200;
  for (int32_t density : {0, 16, 41, 410, 1024, 1365, 2048, 2731, 3072, 3686, 4055, kFullDot}) {
    const DotPage dots =
        Diffuse(TargetPage(kRows, std::vector<int32_t>(kColumns, density)), kColumns);
    size_t count = 0;
    for (size_t y = 0; y < kRows; ++y) {
      for (size_t x = 0; x < kColumns; ++x) count += IsDot(dots, x, y);
    }
    const double share = static_cast<double>(count) / (kColumns * kRows);
    EXPECT_NEAR(share, static_cast<double>(density) / kFullDot, 0.003) << "density " << density;
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
  const DotPage dots = Diffuse(page, kColumns);
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
  const DotPage dark_dots = Diffuse(dark, kColumns);
  const DotPage paper_dots = Diffuse(paper, kColumns);
  for (size_t y = 0; y < kRows; ++y) {
    for (size_t x = 0; x < kColumns; ++x) {
      const bool inside =
          x >= block_x && x < block_x + block_w && y >= block_y && y < block_y + block_h;
      if (inside) {
        EXPECT_TRUE(IsDot(dark_dots, x, y)) << "forced dot at " << x << "," << y;
        EXPECT_FALSE(IsDot(paper_dots, x, y)) << "forced blank at " << x << "," << y;
      } else {
        EXPECT_EQ(IsDot(dark_dots, x, y), IsDot(paper_dots, x, y))
            << "error crossed the block edge at " << x << "," << y;
      }
    }
  }
}

TEST(ErrorDiffuser, ToneBetweenForcedPixelsKeepsItsDensity) {
  // A light tone broken up by forced columns, as by text or rules: its error has to cross
  // the forced pixels, or each short run between them starts afresh and prints too light.
  constexpr size_t kColumns = 240, kRows = 240;
  for (size_t spacing : {3, 5, 9}) {
    for (int32_t forced : {kForceBlank, kForceDot}) {
      for (int32_t density : {205, 410, 819}) {
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
        EXPECT_NEAR(static_cast<double>(count) / toned, static_cast<double>(density) / kFullDot,
                    0.01)
            << "density " << density << ", forced " << (forced == kForceDot ? "dot" : "blank")
            << " every " << spacing << " columns";
      }
    }
  }
}

TEST(ErrorDiffuser, RowIsPackedMostSignificantBitFirstWithCleanTail) {
  for (size_t columns : {1, 7, 8, 10, 17}) {
    ErrorDiffuser diffuser(columns);
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
