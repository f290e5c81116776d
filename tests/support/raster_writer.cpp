// SPDX-License-Identifier: Apache-2.0
// Raster streams through libcups for tests.
#include "support/raster_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace kemb::testing {

cups_page_header2_t PageHeader(unsigned width, unsigned height, unsigned xdpi, unsigned ydpi,
                               const char* output_type, unsigned page_length_points) {
  cups_page_header2_t h;
  std::memset(&h, 0, sizeof h);
  std::snprintf(h.OutputType, sizeof h.OutputType, "%s", output_type);
  h.HWResolution[0] = xdpi;
  h.HWResolution[1] = ydpi;
  h.PageSize[0] = 612;
  h.PageSize[1] = page_length_points;
  h.NumCopies = 1;
  h.cupsWidth = width;
  h.cupsHeight = height;
  h.cupsBitsPerColor = 8;
  h.cupsBitsPerPixel = 24;
  h.cupsBytesPerLine = 3 * width;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  h.cupsColorSpace = CUPS_CSPACE_RGB;
  h.cupsRowCount = 1;
  return h;
}

RasterPage::RasterPage(const cups_page_header2_t& h)
    : header(h), rgb(size_t{h.cupsBytesPerLine} * h.cupsHeight, 0xFF) {}

void RasterPage::SetPixel(unsigned x, unsigned y, uint8_t r, uint8_t g, uint8_t b) {
  uint8_t* p = Row(y) + 3 * size_t{x};
  p[0] = r, p[1] = g, p[2] = b;
}

bool RasterPage::IsBlack(unsigned x, unsigned y) const {
  const uint8_t* p = rgb.data() + size_t{y} * header.cupsBytesPerLine + 3 * size_t{x};
  return p[0] == 0 && p[1] == 0 && p[2] == 0;
}

std::vector<uint8_t> RasterBytes(const std::vector<RasterPage>& pages, cups_mode_t mode) {
  FILE* file = std::tmpfile();
  if (file == nullptr) throw std::runtime_error("tmpfile failed");
  cups_raster_t* raster = cupsRasterOpen(fileno(file), mode);
  for (const RasterPage& page : pages) {
    cups_page_header2_t header = page.header;
    cupsRasterWriteHeader2(raster, &header);
    // Geometry that disagrees with the rows is written as the header says, a row at a time.
    const size_t row_bytes = page.header.cupsBytesPerLine;
    for (size_t offset = 0; row_bytes && offset + row_bytes <= page.rgb.size(); offset += row_bytes) {
      cupsRasterWritePixels(raster, const_cast<uint8_t*>(page.rgb.data() + offset),
                            static_cast<unsigned>(row_bytes));
    }
  }
  cupsRasterClose(raster);
  std::fflush(file);
  std::rewind(file);
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
    bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(file);
  return bytes;
}

}  // namespace kemb::testing
