// SPDX-License-Identifier: Apache-2.0
// The filter oracle: PPD header, crop (any raster type the sheet comes in), filter run; the
// content option and the byte comparison.
#include "printer-app/filter_oracle.h"

#include <cmath>
#include <cstdio>
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

// The sheet's dot as the RGB the PPD asks CUPS for: grey as equal channels, black as its
// inverse, a 1-bit black dot as black.
void SheetDot(const SheetPage& sheet, unsigned x, unsigned y, uint8_t rgb[3]) {
  const cups_page_header2_t& h = sheet.header;
  const uint8_t* row = sheet.rgb.data() + size_t{y} * h.cupsBytesPerLine;
  const bool black = h.cupsColorSpace == CUPS_CSPACE_K;
  if (h.cupsBitsPerPixel == 24) {
    std::memcpy(rgb, row + 3 * size_t{x}, 3);
    return;
  }
  uint8_t value = 0;
  if (h.cupsBitsPerPixel == 8)
    value = black ? static_cast<uint8_t>(255 - row[x]) : row[x];
  else if (h.cupsBitsPerPixel == 1 && black)
    value = (row[x / 8] & (0x80u >> (x % 8))) ? 0 : 255;
  else
    throw std::runtime_error("the oracle reads no " + std::to_string(h.cupsBitsPerPixel) +
                             "-bit raster in colour space " + std::to_string(h.cupsColorSpace));
  rgb[0] = rgb[1] = rgb[2] = value;
}

ppd_file_t* OpenPpd(const std::string& name) {
  const std::string path = std::string(KEMB_PPD_DIR) + "/" + name;
  ppd_file_t* ppd = ppdOpenFile(path.c_str());
  if (!ppd) throw std::runtime_error("cannot open " + path);
  return ppd;
}

std::string ResolutionChoice(unsigned xdpi, unsigned ydpi) {
  return std::to_string(xdpi) + "x" + std::to_string(ydpi) + "dpi";
}

testing::RasterPage FilterRaster(const FilterPage& page) {
  ppd_file_t* ppd = OpenPpd(page.ppd);
  ppdMarkDefaults(ppd);
  const unsigned xdpi = page.sheet.header.HWResolution[0], ydpi = page.sheet.header.HWResolution[1];
  // 360 x 360 is no PPD choice; the filter still takes it (and prints text at 180 x 180).
  const std::string res = ResolutionChoice(xdpi, ydpi);
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
      uint8_t rgb[3];
      SheetDot(page.sheet, sx, sy, rgb);
      out.SetPixel(x, y, rgb[0], rgb[1], rgb[2]);
    }
  }
  return out;
}

}  // namespace

bool PpdOffers(const std::string& ppd_name, unsigned xdpi, unsigned ydpi) {
  ppd_file_t* ppd = OpenPpd(ppd_name);
  const bool offered =
      ppdFindChoice(ppdFindOption(ppd, "Resolution"), ResolutionChoice(xdpi, ydpi).c_str());
  ppdClose(ppd);
  return offered;
}

std::string FilterOptionFor(std::string_view app_content) {
  if (app_content.empty() || app_content == "auto")
    return "print-content-optimize=text-and-graphic";
  return "print-content-optimize=" + std::string(app_content);
}

std::string FirstDifference(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want) {
  size_t i = 0;
  while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
  char text[160];
  std::snprintf(text, sizeof(text), "%zu bytes vs %zu expected; first difference at byte %zu",
                got.size(), want.size(), i);
  return text;
}

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
