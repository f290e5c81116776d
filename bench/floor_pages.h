// SPDX-License-Identifier: Apache-2.0
// The work every job costs before the filter adds anything: the raster stream decoded row by
// row with libcups, as the filter reads it.
//   PageVisitor   what a floor program does with each page and row
//   DecodeJob     opens the raster (a file, or standard input), visits every page and row
#pragma once

#include <cstddef>
#include <cstdint>

#include <cups/raster.h>

namespace kembbench {

class PageVisitor {
 public:
  virtual ~PageVisitor() = default;
  virtual bool StartPage(const cups_page_header2_t& header, unsigned page) = 0;
  virtual bool Row(const uint8_t* row, size_t size) = 0;
  virtual bool EndPage() = 0;
};

// argv[1], when given, names the raster file. Returns the exit status: 0 when every page was
// read, 1 with an "ERROR:" line otherwise.
int DecodeJob(int argc, char** argv, const char* program, PageVisitor& visitor);

}  // namespace kembbench
