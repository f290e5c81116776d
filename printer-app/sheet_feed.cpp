// SPDX-License-Identifier: Apache-2.0
// SheetFeed: paper and area choice, line cropping and widening, page end.
#include "sheet_feed.h"

#include <algorithm>
#include <cstring>

namespace kemb::app {

PageDescription PageFor(const Model& model, const SheetFormat& sheet, Content content) {
  const Paper paper = PaperForSize(sheet.width_points, sheet.length_points, sheet.continuous);
  const Area area = PrintableArea(paper, sheet.resolution);
  PageDescription page;
  page.command_set = model.command_set;
  page.okidata = model.okidata;
  page.xdpi = sheet.resolution.x;
  page.ydpi = sheet.resolution.y;
  page.width = area.width;
  page.height = area.height;
  page.bytes_per_line = area.width * 3;
  // The filter's header keeps the whole sheet's length: the printer's form length.
  page.length_points = sheet.length_points;
  page.content = content;
  return page;
}

Status SheetFeed::StartPage(const Model& model, const SheetFormat& sheet, Content content) {
  sheet_ = sheet;
  const Paper paper = PaperForSize(sheet.width_points, sheet.length_points, sheet.continuous);
  area_ = PrintableArea(paper, sheet.resolution);
  next_row_ = 0;
  const size_t bits = sheet.layout == PixelLayout::kBlack1 ? 1
                      : sheet.layout == PixelLayout::kRgb8 ? 24
                                                           : 8;
  line_bytes_ = (size_t{sheet.width} * bits + 7) / 8;
  if (area_.width == 0 || area_.height == 0)
    return Status::Fail("The sheet leaves no printable area");
  if (sheet.width == 0 || sheet.height == 0) return Status::Fail("Empty page raster");
  row_.assign(size_t{area_.width} * 3, 255);
  return engine_.StartPage(PageFor(model, sheet, content));
}

Status SheetFeed::AddRow(unsigned y, std::span<const uint8_t> line) {
  if (y < area_.y || next_row_ >= area_.height) return Status::Ok();
  // Rows between the last one fed and this one never came: paper.
  while (area_.y + next_row_ < y && next_row_ < area_.height) {
    std::fill(row_.begin(), row_.end(), uint8_t{255});
    if (Status s = FeedRow({}); !s.ok()) return s;
  }
  if (next_row_ >= area_.height) return Status::Ok();
  return FeedRow(line);
}

Status SheetFeed::FeedRow(std::span<const uint8_t> line) {
  if (!line.empty()) {
    if (line.size() < line_bytes_) return Status::Fail("Short raster line");
    // Columns of the area that lie on the sheet's raster; the rest stay paper.
    const unsigned first = area_.x;
    const unsigned last = std::min(sheet_.width, area_.x + area_.width);
    uint8_t* out = row_.data();
    if (first >= last || last < area_.x + area_.width)
      std::fill(row_.begin(), row_.end(), uint8_t{255});
    if (first < last) {
      const unsigned n = last - first;
      switch (sheet_.layout) {
        case PixelLayout::kRgb8:
          std::memcpy(out, line.data() + size_t{first} * 3, size_t{n} * 3);
          break;
        case PixelLayout::kGray8:
          for (unsigned i = 0; i < n; ++i, out += 3) out[0] = out[1] = out[2] = line[first + i];
          break;
        case PixelLayout::kBlack8:
          for (unsigned i = 0; i < n; ++i, out += 3)
            out[0] = out[1] = out[2] = static_cast<uint8_t>(255 - line[first + i]);
          break;
        case PixelLayout::kBlack1:
          for (unsigned i = 0; i < n; ++i, out += 3) {
            const unsigned x = first + i;
            const bool ink = line[x / 8] & (0x80 >> (x % 8));
            out[0] = out[1] = out[2] = ink ? 0 : 255;
          }
          break;
      }
    }
  }
  ++next_row_;
  return engine_.AddRow(row_);
}

Status SheetFeed::EndPage() {
  while (next_row_ < area_.height && !engine_.canceled()) {
    std::fill(row_.begin(), row_.end(), uint8_t{255});
    if (Status s = FeedRow({}); !s.ok()) return s;
  }
  return engine_.EndPage();
}

}  // namespace kemb::app
