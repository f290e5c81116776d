// SPDX-License-Identifier: Apache-2.0
// What rastertokemb prints for a whole sheet: the raster CUPS would hand the filter with the
// model's PPD (libcups reads the PPD's imageable area for the page size and resolution), cut
// from the sheet, run through the built filter. The sheet may be in any raster type the tests
// send (sgray_8, srgb_8, black_1, black_8): the filter gets the same page as RGB.
//   FilterBytes      the filter's bytes for a job of sheets
//   PpdOffers        whether the model's PPD has a Resolution choice for a resolution
//   FilterOptionFor  the filter's option for the application's print-content-optimize
//   FirstDifference  sizes and the first differing byte of two outputs
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
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

bool PpdOffers(const std::string& ppd, unsigned xdpi, unsigned ydpi);

// The application's own `auto` (and no choice) prints a raster page as text-and-graphic,
// where the filter's `auto` would let the page-wide dark share decide.
std::string FilterOptionFor(std::string_view app_content);

std::string FirstDifference(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want);

}  // namespace kemb::app_test
