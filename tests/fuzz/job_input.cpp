// SPDX-License-Identifier: Apache-2.0
// Splitting a job input, and the pre-pass over its page headers.
#include "job_input.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <cups/raster.h>

#include "job/memory_raster.h"

namespace kemb::fuzz {

JobInput SplitJobInput(std::span<const uint8_t> input) {
  const auto marker =
      std::search(input.begin(), input.end(), kImageMarker.begin(), kImageMarker.end(),
                  [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); });
  if (marker == input.end()) return {input, std::nullopt};
  const size_t at = static_cast<size_t>(marker - input.begin());
  return {input.first(at), input.subspan(at + kImageMarker.size())};
}

RasterScan ScanRaster(std::span<const uint8_t> raster, size_t limit) {
  MemoryRaster stream(raster);
  cups_page_header2_t header;
  RasterScan scan;
  std::vector<uint8_t> row;
  while (cupsRasterReadHeader2(stream.get(), &header)) {
    const unsigned xdpi = header.HWResolution[0];
    if (std::strncmp(header.OutputType, "LQ", sizeof header.OutputType) == 0 && xdpi != 60 &&
        xdpi != 120 && xdpi != 180 && xdpi != 240 && xdpi != 360) {
      scan.lq_without_mode = true;
    }
    const size_t row_bytes = header.cupsBytesPerLine;
    scan.declared_bytes += row_bytes * header.cupsHeight;  // 32 x 32 bits: no overflow
    if (scan.declared_bytes > limit) break;
    // The rows are read as the filter's spool loop reads them, so the next header is found
    // where the filter finds it.
    row.resize(row_bytes);
    for (unsigned y = 0; y < header.cupsHeight; ++y) {
      if (cupsRasterReadPixels(stream.get(), row.data(), static_cast<unsigned>(row_bytes)) == 0) {
        break;
      }
    }
  }
  return scan;
}

}  // namespace kemb::fuzz
