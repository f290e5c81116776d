// SPDX-License-Identifier: Apache-2.0
// Page content: a small hash for every pseudo-random choice, 5 x 7 glyphs drawn from strokes,
// the dense noise and the photo's separable gradients.
#include "page_content.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

namespace kembbench {
namespace {

uint32_t Hash(uint32_t a, uint32_t b = 0, uint32_t c = 0) {
  uint64_t h = (uint64_t{a} << 42) ^ (uint64_t{b} << 21) ^ c ^ 0x9E3779B97F4A7C15u;
  h ^= h >> 30;
  h *= 0xBF58476D1CE4E5B9u;
  h ^= h >> 27;
  h *= 0x94D049BB133111EBu;
  h ^= h >> 31;
  return static_cast<uint32_t>(h);
}

// Glyphs: 7 rows of 5 cells, bit 4 = left column, each made of two to four strokes.
constexpr int kGlyphCount = 40;
constexpr int kGlyphRows = 7, kGlyphColumns = 5;
constexpr int kCellAdvance = 6;  // glyph plus one blank cell
constexpr int kLinePitch = 10;   // cell rows per text line: 7 of glyph, 3 of leading

using Glyph = std::array<uint8_t, kGlyphRows>;

const std::array<Glyph, kGlyphCount>& Glyphs() {
  static const std::array<Glyph, kGlyphCount> glyphs = [] {
    std::array<Glyph, kGlyphCount> all{};
    for (int g = 0; g < kGlyphCount; ++g) {
      Glyph& glyph = all[g];
      const uint32_t h = Hash(g, 77);
      const int strokes = 2 + static_cast<int>(h % 3);
      for (int s = 0; s < strokes; ++s) {
        switch (Hash(g, s) % 7) {
          case 0:
            for (auto& row : glyph) row |= 0x10;
            break;  // left stem
          case 1:
            for (auto& row : glyph) row |= 0x01;
            break;  // right stem
          case 2:
            for (auto& row : glyph) row |= 0x04;
            break;  // middle stem
          case 3:
            glyph[0] |= 0x1F;
            break;  // top bar
          case 4:
            glyph[3] |= 0x1F;
            break;  // middle bar
          case 5:
            glyph[6] |= 0x1F;
            break;  // bottom bar
          default:  // diagonal
            for (int r = 0; r < kGlyphRows; ++r) glyph[r] |= 0x10 >> (r * 4 / 6);
        }
      }
    }
    return all;
  }();
  return glyphs;
}

void Put(uint8_t* rgb, size_t x, uint8_t r, uint8_t g, uint8_t b) {
  rgb[3 * x] = r, rgb[3 * x + 1] = g, rgb[3 * x + 2] = b;
}

}  // namespace

std::optional<Content> ParseContent(std::string_view name) {
  if (name == "text") return Content::kText;
  if (name == "dense") return Content::kDense;
  if (name == "photo") return Content::kPhoto;
  if (name == "blank") return Content::kBlank;
  return std::nullopt;
}

PageGeometry A4At(unsigned dpi) {
  return {dpi, 595 * dpi / 72, 842 * dpi / 72};
}

PageContent::PageContent(Content content, const PageGeometry& geometry)
    : content_(content), geometry_(geometry) {
  if (content != Content::kPhoto) return;
  photo_columns_.resize(3 * size_t{geometry.width});
  for (unsigned x = 0; x < geometry.width; ++x) {
    const double u = 2 * std::numbers::pi * x / geometry.width;
    photo_columns_[3 * x] = static_cast<int16_t>(std::lround(70 * std::sin(1.3 * u)));
    photo_columns_[3 * x + 1] = static_cast<int16_t>(std::lround(60 * std::cos(0.7 * u + 1)));
    photo_columns_[3 * x + 2] = static_cast<int16_t>(std::lround(65 * std::sin(2.1 * u + 2)));
  }
}

void PageContent::Row(unsigned page, unsigned y, uint8_t* rgb) const {
  switch (content_) {
    case Content::kText:
      return TextRow(page, y, rgb);
    case Content::kDense:
      return DenseRow(page, y, rgb);
    case Content::kPhoto:
      return PhotoRow(page, y, rgb);
    case Content::kBlank:
      std::memset(rgb, 0xFF, 3 * size_t{geometry_.width});
      return;
  }
}

// Glyph cells are dpi / 60 pixels square (a 12-point face at six lines per inch), inside
// half-inch margins; lines end raggedly and every few lines a paragraph breaks.
void PageContent::TextRow(unsigned page, unsigned y, uint8_t* rgb) const {
  std::memset(rgb, 0xFF, 3 * size_t{geometry_.width});
  const unsigned cell = std::max(1u, geometry_.dpi / 60);
  const unsigned margin = geometry_.dpi / 2;
  if (y < margin || y >= geometry_.height - margin) return;
  const unsigned cell_row = (y - margin) / cell;
  const unsigned line = cell_row / kLinePitch, glyph_row = cell_row % kLinePitch;
  const bool last_pixel_row = (y - margin) % cell == cell - 1;
  if (glyph_row >= kGlyphRows || Hash(page, line, 1) % 9 == 0) return;

  const unsigned slots = (geometry_.width - 2 * margin) / (kCellAdvance * cell);
  const unsigned used = slots - Hash(page, line, 2) % (slots / 5 + 1);
  const auto& glyphs = Glyphs();
  unsigned word_left = 0;
  for (unsigned slot = 0; slot < used; ++slot) {
    if (word_left == 0) {  // a blank slot between words
      word_left = 2 + Hash(page, line, 1000 + slot) % 8;
      continue;
    }
    --word_left;
    const Glyph& glyph = glyphs[Hash(page, line, slot) % kGlyphCount];
    const unsigned bits = glyph[glyph_row];
    // The lower edge of a stroke is anti-aliased like its right edge.
    const bool lower_edge = last_pixel_row && glyph_row + 1 < kGlyphRows;
    const unsigned below = lower_edge ? glyph[glyph_row + 1] : bits;
    const size_t left = margin + size_t{slot} * kCellAdvance * cell;
    for (int c = 0; c < kGlyphColumns; ++c) {
      const unsigned mask = 0x10u >> c;
      if (!(bits & mask)) continue;
      const bool right_edge = c + 1 == kGlyphColumns || !(bits & (mask >> 1));
      for (unsigned p = 0; p < cell; ++p) {
        const bool grey = (right_edge && p + 1 == cell) || !(below & mask);
        const uint8_t v = grey ? 150 : 0;
        Put(rgb, left + c * cell + p, v, v, v);
      }
    }
  }
}

// 40 % dark pixels (sum at most 300), the rest inked colours and greys between 300 and 730.
void PageContent::DenseRow(unsigned page, unsigned y, uint8_t* rgb) const {
  for (unsigned x = 0; x < geometry_.width; ++x) {
    const uint32_t h = Hash(page, y, x);
    if (h % 100 < 40) {
      Put(rgb, x, (h >> 8) % 100, (h >> 15) % 100, (h >> 22) % 100);
    } else if (h % 100 < 55) {
      const uint8_t v = 101 + (h >> 8) % 140;  // a neutral grey
      Put(rgb, x, v, v, v);
    } else {
      Put(rgb, x, 101 + (h >> 8) % 140, 101 + (h >> 15) % 140, 101 + (h >> 22) % 140);
    }
  }
}

void PageContent::PhotoRow(unsigned page, unsigned y, uint8_t* rgb) const {
  const double v = 2 * std::numbers::pi * y / geometry_.height + page;
  const int row_part[3] = {static_cast<int>(std::lround(50 * std::cos(0.9 * v))),
                           static_cast<int>(std::lround(55 * std::sin(1.4 * v + 0.5))),
                           static_cast<int>(std::lround(45 * std::cos(0.6 * v + 2)))};
  for (size_t x = 0; x < geometry_.width; ++x) {
    const uint32_t grain = Hash(page, y, static_cast<uint32_t>(x));
    for (int k = 0; k < 3; ++k) {
      const int value = 150 + photo_columns_[3 * x + k] + row_part[k] +
                        static_cast<int>((grain >> (8 * k)) & 15) - 8;
      rgb[3 * x + k] = static_cast<uint8_t>(std::clamp(value, 0, 255));
    }
  }
}

}  // namespace kembbench
