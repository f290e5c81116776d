// SPDX-License-Identifier: Apache-2.0
// CheckPageHeader: the page geometry and pixel format the filter can print.
// The raster library accepts headers whose fields disagree with each other; a page is only set
// up once its header describes 24-bit chunky RGB rows of a size every printer count can carry.
#pragma once

#include <cups/raster.h>

#include "printer/page_description.h"
#include "printer/status.h"

namespace kemb {

Status CheckPageHeader(const cups_page_header2_t& header);

}  // namespace kemb
