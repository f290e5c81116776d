// SPDX-License-Identifier: Apache-2.0
// What rastertokemb prints for a whole sheet: the raster CUPS would hand the filter with the
// model's PPD (libcups reads the PPD's imageable area for the page size and resolution), cut
// from the sheet, run through the built filter.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "printer-app/app_server.h"

namespace kemb::app_test {

struct FilterPage {
  std::string ppd;        // file name in the build's PPD folder, e.g. kemb24.ppd
  std::string page_size;  // the PPD's PageSize choice
  SheetPage sheet;
};

// The filter's bytes for the pages, run as one job; `options` is the filter's argv[5].
std::vector<uint8_t> FilterBytes(const std::vector<FilterPage>& pages,
                                 const std::string& options = "");

}  // namespace kemb::app_test
