// SPDX-License-Identifier: Apache-2.0
// Test fixtures on the input side:
//   PageHeader     a page header as the PPDs make it: 24-bit chunky RGB, OutputType, paper length
//   RasterPage     a header and its RGB rows; SetDot / Fill to draw on it
//   RasterBytes    a CUPS raster stream written by libcups itself
// Scratch folders, files and PPDs: support/scratch_dir.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <cups/raster.h>

#include "support/scratch_dir.h"

namespace kemb::testing {

cups_page_header2_t PageHeader(unsigned width, unsigned height, unsigned xdpi = 180,
                               unsigned ydpi = 180, const char* output_type = "LQ",
                               unsigned page_length_points = 792);

struct RasterPage {
  cups_page_header2_t header;
  std::vector<uint8_t> rgb;  // cupsHeight rows of cupsBytesPerLine bytes, white to start

  explicit RasterPage(const cups_page_header2_t& h);
  uint8_t* Row(unsigned y) { return rgb.data() + size_t{y} * header.cupsBytesPerLine; }
  void SetPixel(unsigned x, unsigned y, uint8_t r, uint8_t g, uint8_t b);
  void SetDot(unsigned x, unsigned y) { SetPixel(x, y, 0, 0, 0); }
  bool IsBlack(unsigned x, unsigned y) const;
};

// The stream libcups writes for `pages` (CUPS_RASTER_WRITE: uncompressed; WRITE_COMPRESSED).
std::vector<uint8_t> RasterBytes(const std::vector<RasterPage>& pages,
                                 cups_mode_t mode = CUPS_RASTER_WRITE);

}  // namespace kemb::testing
