// SPDX-License-Identifier: Apache-2.0
// Picture regions of a page, for printing text and pictures on one page each their own way:
//   RegionMap       counts, while the page is spooled, the inked and the toned pixels of every
//                   4 x 4 cell
//   Regions         the picture rectangles: 16 x 16 tiles that are wide areas of tone, joined
//                   when they touch, each rectangle's edges then pushed out to a line of paper
//   CopyDots        one span of an image's dot row over a thresholded dot row
//
// Pixel sums R + G + B: above pixel::kInkedSum paper, up to kBlackSum solid ink, tone in between.
// Text, rules and solid logos are paper and solid ink with thin edges of tone: they stay with
// the thresholding. A tile is a picture when ink covers most of it and tone a fair share.
// Joins: a rectangle's edge moves out, cell line by cell line, until the line is blank paper
// (or the page ends), so no glyph outside it is cut and the picture's own margin is inside.
// Where no blank line comes within kMaxGrowCells the edge stays where the tiles put it and the
// join is counted as open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace kemb {

struct PixelRect {
  unsigned x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // half-open
  bool operator==(const PixelRect&) const = default;
};

struct Regions {
  std::vector<PixelRect> pictures;  // disjoint, top to bottom
  size_t picture_tiles = 0;         // tiles that seeded them
  size_t tiles = 0;                 // tiles of the page
  unsigned open_joins = 0;          // edges left inside ink: no blank line near enough
};

class RegionMap {
 public:
  static constexpr unsigned kCell = 4;       // pixels per cell side
  static constexpr unsigned kTileCells = 4;  // cells per tile side
  static constexpr int kBlackSum = 150;      // up to here a pixel is solid ink
  static constexpr unsigned kMinTiles = 4;   // smaller groups are glyphs or specks
  static constexpr unsigned kMaxGrowCells = 8;

  // False when the map for a page this size cannot be allocated.
  bool Start(unsigned width, unsigned height);
  // One RGB row of `width` pixels, rows in order from 0.
  void AddRow(const uint8_t* rgb, unsigned y);
  Regions Find() const;

 private:
  struct Cell {
    uint8_t ink = 0, tone = 0;
  };
  struct CellRect {
    unsigned c0, r0, c1, r1;
  };
  const Cell& At(unsigned c, unsigned r) const { return cells_[size_t{r} * cols_ + c]; }
  bool ColumnBlank(unsigned c, unsigned r0, unsigned r1) const;
  bool RowBlank(unsigned r, unsigned c0, unsigned c1) const;
  bool Grow(CellRect* rect) const;  // false when an edge found no blank line

  unsigned width_ = 0, height_ = 0, cols_ = 0, rows_ = 0;
  std::unique_ptr<Cell[]> cells_;
};

// Copies dots x0 <= x < x1 of `image` into `dots` (one bit per dot, most significant first).
void CopyDots(std::span<uint8_t> dots, std::span<const uint8_t> image, unsigned x0, unsigned x1);

}  // namespace kemb
