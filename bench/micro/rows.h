// SPDX-License-Identifier: Apache-2.0
// Rows for the microbenchmarks, cut from the benchmark jobs' own pages.
//   PageRows     the RGB rows y0 .. y0 + count - 1 of an A4 page of given content and dpi
//   BenchHeader  the raster header the filter sees for such a page (LQ, square dpi)
//   NullSink     a printer that swallows bytes and counts them
#pragma once

#include <cstring>
#include <vector>

#include <cups/raster.h>

#include "page_content.h"
#include "printer/byte_sink.h"

namespace kembbench {

inline std::vector<std::vector<uint8_t>> PageRows(Content content, unsigned dpi, unsigned y0,
                                                  unsigned count) {
  const PageGeometry geometry = A4At(dpi);
  const PageContent page(content, geometry);
  std::vector<std::vector<uint8_t>> rows(count, std::vector<uint8_t>(3 * geometry.width));
  for (unsigned i = 0; i < count; ++i) page.Row(1, y0 + i, rows[i].data());
  return rows;
}

// Rows from the middle of the page, where text lines are.
inline unsigned MidPage(unsigned dpi) {
  return A4At(dpi).height / 2;
}

inline cups_page_header2_t BenchHeader(unsigned dpi) {
  const PageGeometry geometry = A4At(dpi);
  cups_page_header2_t h;
  std::memset(&h, 0, sizeof h);
  std::strncpy(h.OutputType, "LQ", sizeof h.OutputType - 1);
  h.HWResolution[0] = h.HWResolution[1] = dpi;
  h.PageSize[0] = 595;
  h.PageSize[1] = 842;
  h.cupsWidth = geometry.width;
  h.cupsHeight = geometry.height;
  h.cupsBitsPerColor = 8;
  h.cupsBitsPerPixel = 24;
  h.cupsBytesPerLine = 3 * geometry.width;
  h.cupsRowCount = 24;
  return h;
}

class NullSink final : public kemb::ByteSink {
 public:
  bool Write(const uint8_t*, size_t size) override {
    bytes += size;
    return true;
  }
  bool Flush() override { return true; }
  int Error() const override { return 0; }
  size_t bytes = 0;
};

}  // namespace kembbench
