// SPDX-License-Identifier: Apache-2.0
// Text and graphic on one page, each printed its own way, decided by stroke:
//   RegionMap       follows the page's strokes while it is spooled and tells, pixel by pixel,
//                   which print crisp from the thresholding and which as their tone from the
//                   halftoner
//   Regions         what it found: the shapes that take tone, for the log
//   LayRow          one dot row: the halftoner's dots over every toned pixel
//   CopyDots        one span of an image's dot row over a thresholded dot row
//
// A pixel is dark when it reflects no more light than the middle grey of the encoded scale
// (sRGB 128), by its luminance in linear light: black, red, blue, dark green are dark; yellow,
// cyan, light green, magenta, orange and every tint are not. A dark shape (connected, diagonals
// included) that holds a solid square of a sixteenth of an inch is a fill; any other dark shape
// is a stroke: letters, rules, lines, of any colour dark enough. Strokes print crisp and
// thresholded, together with their edge: the pixels within a 180 dpi pixel of them that are
// mid-grey or neutral, so anti-aliased letters keep the text path's outline. Everything else
// inked prints as its tone: fills of any size, light strokes (a yellow word, a light rule,
// highlighter), tints, photos. Dark text on a light tint is a stroke of its own and stays crisp.
// Each kind is kept as its runs along the rows, joined by union-find; a page of more runs than
// kMaxRuns (noise, not print) is not mapped.
#pragma once

#include <array>
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
  std::vector<PixelRect> pictures;  // each inked shape that takes tone, top to bottom
  size_t picture_pixels = 0;        // the pixels that print as their tone
  size_t inked_pixels = 0;          // the page's
};

class RegionMap {
 public:
  static constexpr unsigned kFillPerInch = 16;         // the side of a fill's square
  static constexpr size_t kMaxRuns = size_t{1} << 21;  // of each kind

  RegionMap();

  // What a pixel is to the map.
  enum Kind : uint8_t { kPaper, kLight, kEdge, kDark };
  Kind KindOf(const uint8_t* rgb) const;

  // False when the map for a page this size cannot be held.
  bool Start(unsigned width, unsigned height, unsigned xdpi, unsigned ydpi);
  // One RGB row of `width` pixels, rows in order from 0.
  void AddRow(const uint8_t* rgb, unsigned y);
  // False once the page had more runs than the map holds.
  bool usable() const { return usable_; }
  // Settles the strokes once the page is spooled; before any LayRow.
  Regions Find();
  // Row y of the page: `dots` thresholded, `image` the halftoner's dot row of the same width.
  // Paper and strokes keep the dots they have.
  void LayRow(unsigned y, std::span<uint8_t> dots, std::span<const uint8_t> image);

 private:
  struct Run {
    uint32_t x0, x1, parent;
  };
  // The runs of one kind of pixel.
  struct Layer {
    std::vector<Run> runs;
    std::vector<uint8_t> square;      // per run; after Settle, per run of its shape
    std::vector<uint32_t> row_start;  // first run of each row added, then the end
    std::vector<uint16_t> up;         // per column: rows of the kind ending here, capped

    bool Start(unsigned width, unsigned height);
    uint32_t Root(uint32_t run);
    void Settle();
  };
  // Adds row y's runs of kinds `from` to `to` to `layer`; `shapes` joins them to the row above
  // and marks squares. False when the runs would pass kMaxRuns.
  bool AddRuns(Layer& layer, unsigned y, Kind from, Kind to, bool shapes);
  // crisp_ for row y: its strokes and their edge.
  void MarkCrisp(unsigned y);

  // Each channel's share of a pixel's luminance, as the halftoner tones it.
  std::array<int32_t, 256> red_{}, green_{}, blue_{};
  int32_t dark_light_ = 0, edge_light_ = 0;
  unsigned width_ = 0, height_ = 0, rows_ = 0;
  unsigned square_cols_ = 1, square_rows_ = 1;
  unsigned reach_cols_ = 1, reach_rows_ = 1;  // a stroke's edge: one 180 dpi pixel
  bool usable_ = false;
  std::vector<uint8_t> kinds_;  // the row being added
  std::vector<uint8_t> crisp_;  // one bit per pixel of a row: prints thresholded
  Layer inked_, dark_, edge_;
};

// Copies dots x0 <= x < x1 of `image` into `dots` (one bit per dot, most significant first).
void CopyDots(std::span<uint8_t> dots, std::span<const uint8_t> image, unsigned x0, unsigned x1);

}  // namespace kemb
