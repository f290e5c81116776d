// SPDX-License-Identifier: Apache-2.0
// Page header checks, one message per wrong field with the value found.
#include "job/page_header.h"

#include <cstring>
#include <string>

namespace kemb {
namespace {

Status Bad(const char* field, unsigned value, const std::string& expected) {
  return Status::Fail(std::string("Unsupported page: ") + field + "=" + std::to_string(value) +
                      " (" + expected + ")");
}

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
  if (h.cupsBitsPerColor != 8) return Bad("cupsBitsPerColor", h.cupsBitsPerColor, "must be 8");
  if (h.cupsBitsPerPixel != 24) return Bad("cupsBitsPerPixel", h.cupsBitsPerPixel, "must be 24");
  if (const unsigned order = RawValue(h.cupsColorOrder); order != CUPS_ORDER_CHUNKED) {
    return Bad("cupsColorOrder", order, "must be chunked");
  }
  if (const unsigned space = RawValue(h.cupsColorSpace);
      space != CUPS_CSPACE_RGB && space != CUPS_CSPACE_SRGB && space != CUPS_CSPACE_ADOBERGB) {
    return Bad("cupsColorSpace", space, "must be RGB, sRGB or Adobe RGB");
  }
  if (h.cupsWidth < 1 || h.cupsWidth > kMaxPageWidth) {
    return Bad("cupsWidth", h.cupsWidth, "must be 1 to " + std::to_string(kMaxPageWidth));
  }
  if (h.cupsHeight < 1 || h.cupsHeight > kMaxPageHeight) {
    return Bad("cupsHeight", h.cupsHeight, "must be 1 to " + std::to_string(kMaxPageHeight));
  }
  if (h.cupsBytesPerLine != 3 * h.cupsWidth) {
    return Bad("cupsBytesPerLine", h.cupsBytesPerLine,
               "must be 3 x cupsWidth = " + std::to_string(3 * h.cupsWidth));
  }
  for (int axis = 0; axis < 2; ++axis) {
    const unsigned dpi = h.HWResolution[axis];
    if (dpi < 1 || dpi > kMaxResolution) {
      return Bad(axis == 0 ? "HWResolution[0]" : "HWResolution[1]", dpi,
                 "must be 1 to " + std::to_string(kMaxResolution));
    }
  }
  return Status::Ok();
}

}  // namespace kemb
