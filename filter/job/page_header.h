// CheckPageHeader: the page geometry and pixel format the filter can print.
// The raster library accepts headers whose fields disagree with each other; a page is only set
// up once its header describes 24-bit chunky RGB rows of a size every printer count can carry.
#pragma once

#include <cups/raster.h>

#include "printer/status.h"

namespace kemb {

// 40 inches at 360 dpi: wider than any carriage, and far below the 16-bit column count of a
// bit image.
inline constexpr unsigned kMaxPageWidth = 14400;
// 60 inches at 360 dpi. The longest blank stretch then needs at most 60 * 360 / 4 band steps
// of 8 units, within the 16-bit count of one paper move.
inline constexpr unsigned kMaxPageHeight = 21600;
inline constexpr unsigned kMaxResolution = 720;

Status CheckPageHeader(const cups_page_header2_t& header);

}  // namespace kemb
