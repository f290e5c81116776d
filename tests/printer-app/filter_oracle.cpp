// SPDX-License-Identifier: Apache-2.0
// The filter oracle: PPD header, crop, filter run.
#include "printer-app/filter_oracle.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

#include <cups/ppd.h>

#include "support/raster_writer.h"
#include "support/run_filter.h"

namespace kemb::app_test {
namespace {

int Dots(double points, unsigned dpi) {
  return static_cast<int>(std::floor(points * dpi / 72.0 + 0.5));
}

testing::RasterPage FilterRaster(const FilterPage& page) {
  const std::string path = std::string(KEMB_PPD_DIR) + "/" + page.ppd;
  ppd_file_t* ppd = ppdOpenFile(path.c_str());
  if (!ppd) throw std::runtime_error("cannot open " + path);
  ppdMarkDefaults(ppd);
  const unsigned xdpi = page.sheet.header.HWResolution[0], ydpi = page.sheet.header.HWResolution[1];
  // 360 x 360 is no PPD choice; the filter still takes it (and prints text at 180 x 180).
  const std::string res = std::to_string(xdpi) + "x" + std::to_string(ydpi) + "dpi";
  const bool offered = ppdFindChoice(ppdFindOption(ppd, "Resolution"), res.c_str()) != nullptr;
  ppdMarkOption(ppd, "Resolution", offered ? res.c_str() : "180x180dpi");
  ppdMarkOption(ppd, "PageSize", page.page_size.c_str());
  cups_page_header2_t h;
  if (cupsRasterInterpretPPD(&h, ppd, 0, nullptr, nullptr) != 0)
    throw std::runtime_error("cupsRasterInterpretPPD failed for " + page.ppd);
  ppdClose(ppd);
  const float* box = h.cupsImagingBBox;
  if (!offered) {
    h.HWResolution[0] = xdpi;
    h.HWResolution[1] = ydpi;
    h.cupsWidth = static_cast<unsigned>(Dots(box[2] - box[0], xdpi));
    h.cupsHeight = static_cast<unsigned>(Dots(box[3] - box[1], ydpi));
    h.cupsBytesPerLine = h.cupsWidth * 3;
  }

  testing::RasterPage out(h);
  const cups_page_header2_t& s = page.sheet.header;
  const int x0 = Dots(box[0], xdpi);
  const int y0 = Dots(h.PageSize[1] - box[3], ydpi);
  for (unsigned y = 0; y < h.cupsHeight; ++y) {
    const unsigned sy = static_cast<unsigned>(y0) + y;
    if (sy >= s.cupsHeight) break;
    for (unsigned x = 0; x < h.cupsWidth; ++x) {
      const unsigned sx = static_cast<unsigned>(x0) + x;
      if (sx >= s.cupsWidth) break;
      const uint8_t* p = page.sheet.rgb.data() + size_t{sy} * s.cupsBytesPerLine + 3 * size_t{sx};
      out.SetPixel(x, y, p[0], p[1], p[2]);
    }
  }
  return out;
}

}  // namespace

std::vector<uint8_t> FilterBytes(const std::vector<FilterPage>& pages, const std::string& options) {
  std::vector<testing::RasterPage> rasters;
  for (const FilterPage& p : pages) rasters.push_back(FilterRaster(p));
  testing::FilterCall call;
  call.args = {"4242", "test", "oracle", "1", options};
  call.ppd = std::string(KEMB_PPD_DIR) + "/" + pages.front().ppd;
  call.input.emplace_back(testing::RasterBytes(rasters));
  call.env = {"PATH=" + std::string(KEMB_BIN_DIR) + ":/usr/bin:/bin"};
  testing::FilterRun run = testing::RunProgram(call);
  if (run.status != 0) throw std::runtime_error("rastertokemb failed: " + run.log);
  return run.out;
}

}  // namespace kemb::app_test
