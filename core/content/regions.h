// SPDX-License-Identifier: Apache-2.0
// The pictures of a page, for printing text and pictures on one page each their own way:
//   RegionMap       follows, while the page is spooled, the connected shapes of the page and
//                   tells which are pictures
//   Regions         what it found: each picture's bounding box, for the log
//   LayRow          one dot row: the halftoner's dots over the pictures' pixels, but for the
//                   text ink inside them
//   CopyDots        one span of an image's dot row over a thresholded dot row
//
// Pixel sums R + G + B: above pixel::kInkedSum paper, up to kBlackSum solid ink.
// A shape is a connected (diagonals included) area of one kind of pixel: inked pixels (tone and
// solid ink together), and within them solid ink on its own. An inked shape that holds a solid
// square of an eighth of an inch is a picture: photos, tints, chart wedges, the letters
// printed on them included. Letters, rules and thin lines hold no such square: they stay with
// the thresholding, each whole. Inside a picture every inked pixel takes the halftoner's dot,
// except solid ink shaped like text (no such square of solid ink of its own), which keeps the
// thresholded dots: text on a tint stays crisp, the tint prints as a tint.
// Each shape is kept as its runs along the rows, joined by union-find; a page of more runs than
// kMaxRuns (noise, not print) is not mapped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kemb {

struct PixelRect {
  unsigned x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // half-open
  bool operator==(const PixelRect&) const = default;
};

struct Regions {
  std::vector<PixelRect> pictures;  // each picture's bounding box, top to bottom
  size_t picture_pixels = 0;        // the pictures' inked pixels
  size_t inked_pixels = 0;          // the page's
};

class RegionMap {
 public:
  static constexpr int kBlackSum = 150;                 // up to here a pixel is solid ink
  static constexpr unsigned kSquarePerInch = 8;         // the side of a picture's square
  static constexpr size_t kMaxRuns = size_t{1} << 21;  // of each kind

  // False when the map for a page this size cannot be held.
  bool Start(unsigned width, unsigned height, unsigned xdpi, unsigned ydpi);
  // One RGB row of `width` pixels, rows in order from 0.
  void AddRow(const uint8_t* rgb, unsigned y);
  // False once the page had more runs than the map holds.
  bool usable() const { return usable_; }
  // Settles the shapes once the page is spooled.
  Regions Find();
  // Row y of the page: `dots` thresholded, `image` the halftoner's dot row of the same width.
  // Paper and text keep the dots they have.
  void LayRow(unsigned y, std::span<uint8_t> dots, std::span<const uint8_t> image) const;

 private:
  struct Run {
    uint32_t x0, x1, parent;
  };
  // The shapes of one kind of pixel.
  struct Layer {
    std::vector<Run> runs;
    std::vector<uint8_t> square;      // per run; after Find, per run of its shape
    std::vector<uint32_t> row_start;  // first run of each row added, then the end
    std::vector<uint16_t> up;         // per column: rows of the kind ending here, capped

    bool Start(unsigned width, unsigned height);
    uint32_t Root(uint32_t run);
    void Settle();
  };

  unsigned width_ = 0, height_ = 0, rows_ = 0;
  unsigned square_cols_ = 1, square_rows_ = 1;
  bool usable_ = false;
  std::vector<uint8_t> kinds_;  // the row being added: 0 paper, 1 tone, 2 solid ink
  Layer inked_, solid_;
};

// Copies dots x0 <= x < x1 of `image` into `dots` (one bit per dot, most significant first).
void CopyDots(std::span<uint8_t> dots, std::span<const uint8_t> image, unsigned x0, unsigned x1);

}  // namespace kemb
