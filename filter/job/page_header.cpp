// SPDX-License-Identifier: Apache-2.0
// Page header checks, one message per wrong field with the value found.
#include "job/page_header.h"

#include <cstring>
#include <string>

namespace kemb {
namespace {

// libcups copies the enum fields from the stream unchecked; a value outside the enumerators
// is read as the integer it is, as loading it through the enum type is undefined.
template <typename Enum>
unsigned RawValue(const Enum& field) {
  static_assert(sizeof(Enum) == sizeof(unsigned));
  unsigned value;
  std::memcpy(&value, &field, sizeof value);
  return value;
}

}  // namespace

Status CheckPageHeader(const cups_page_header2_t& h) {
  if (h.cupsBitsPerColor != 8)
    return UnsupportedPage("cupsBitsPerColor", h.cupsBitsPerColor, "must be 8");
  if (h.cupsBitsPerPixel != 24)
    return UnsupportedPage("cupsBitsPerPixel", h.cupsBitsPerPixel, "must be 24");
  if (const unsigned order = RawValue(h.cupsColorOrder); order != CUPS_ORDER_CHUNKED) {
    return UnsupportedPage("cupsColorOrder", order, "must be chunked");
  }
  if (const unsigned space = RawValue(h.cupsColorSpace);
      space != CUPS_CSPACE_RGB && space != CUPS_CSPACE_SRGB && space != CUPS_CSPACE_ADOBERGB) {
    return UnsupportedPage("cupsColorSpace", space, "must be RGB, sRGB or Adobe RGB");
  }
  PageDescription page;
  page.width = h.cupsWidth;
  page.height = h.cupsHeight;
  page.bytes_per_line = h.cupsBytesPerLine;
  page.xdpi = h.HWResolution[0];
  page.ydpi = h.HWResolution[1];
  page.band_rows = h.cupsRowCount;
  static const PageFieldNames kHeaderNames{"cupsWidth",       "cupsHeight",      "cupsBytesPerLine",
                                           "HWResolution[0]", "HWResolution[1]", "cupsRowCount"};
  return CheckPageLimits(page, kHeaderNames);
}

}  // namespace kemb
