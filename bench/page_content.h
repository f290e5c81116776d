// SPDX-License-Identifier: Apache-2.0
// Deterministic A4 page content for benchmark jobs, made one RGB row at a time so that a job of
// any length never holds a page:
//   Content        text, dense, photo, blank
//   ParseContent   a content name from the command line
//   PageGeometry   A4 in pixels at a square resolution
//   PageContent    row y of page n, 3 bytes per pixel; the same bytes on every run
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kembbench {

enum class Content {
  kText,   // black glyphs with grey edges on white, ragged lines: the usual text page
  kDense,  // every pixel inked, 40 % of them dark: the text path's worst case
  kPhoto,  // smooth colour gradients with grain, few dark pixels: the picture path
  kBlank,  // white paper
};

std::optional<Content> ParseContent(std::string_view name);

struct PageGeometry {
  unsigned dpi = 180;
  unsigned width = 0;   // pixels
  unsigned height = 0;  // rows
};

// A4 (595 x 842 points), as a raster image processor would size it.
PageGeometry A4At(unsigned dpi);

class PageContent {
 public:
  PageContent(Content content, const PageGeometry& geometry);

  // Fills `rgb` (3 * width bytes) with row y of page `page` (from 1).
  void Row(unsigned page, unsigned y, uint8_t* rgb) const;

 private:
  void TextRow(unsigned page, unsigned y, uint8_t* rgb) const;
  void DenseRow(unsigned page, unsigned y, uint8_t* rgb) const;
  void PhotoRow(unsigned page, unsigned y, uint8_t* rgb) const;

  Content content_;
  PageGeometry geometry_;
  // Photo: the column half of each channel's gradient, so a row costs no trigonometry.
  std::vector<int16_t> photo_columns_;
};

}  // namespace kembbench
