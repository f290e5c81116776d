// SPDX-License-Identifier: Apache-2.0
// SheetFeed: a whole sheet's raster, as PAPPL hands it over one line at a time, turned into
// the page the filter would print from the PPD's imageable area.
//   SheetFormat  what the lines hold: size, resolution, pixel layout, the sheet in points
//   StartPage    picks the paper entry and the printable area, starts the engine's page
//   AddRow       lines in order from the top; lines above and below the area are skipped,
//                columns outside it dropped, grey and 1-bit black widened to RGB
//   EndPage      pads rows the sheet did not reach with paper, finishes the engine's page
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/page_engine.h"
#include "models.h"
#include "printer/page_description.h"
#include "printer/status.h"

namespace kemb::app {

enum class PixelLayout {
  kRgb8,    // 3 bytes per pixel
  kGray8,   // 1 byte, 255 = white
  kBlack8,  // 1 byte, 255 = full ink
  kBlack1,  // 1 bit, set = ink
};

struct SheetFormat {
  unsigned width = 0, height = 0;  // pixels and lines of the whole sheet
  unsigned bytes_per_line = 0;
  Resolution resolution;
  PixelLayout layout = PixelLayout::kRgb8;
  unsigned width_points = 0, length_points = 0;
  bool continuous = false;  // media type: fanfold
};

// The engine's page for a sheet: the model's command set, the printable area's size.
PageDescription PageFor(const Model& model, const SheetFormat& sheet, Content content);

class SheetFeed {
 public:
  explicit SheetFeed(PageEngine& engine) : engine_(engine) {}

  Status StartPage(const Model& model, const SheetFormat& sheet, Content content);
  Status AddRow(unsigned y, std::span<const uint8_t> line);
  Status EndPage();

  const Area& area() const { return area_; }

 private:
  Status FeedRow(std::span<const uint8_t> line);

  PageEngine& engine_;
  SheetFormat sheet_;
  Area area_;
  unsigned next_row_ = 0;  // rows of the area fed so far
  size_t line_bytes_ = 0;  // bytes of one row of the sheet's raster
  std::vector<uint8_t> row_;
};

}  // namespace kemb::app
