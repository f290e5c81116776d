// The picture test and the hand-off to the halftoner:
//   InkCount          inked and dark pixels of the spooled rows
//   ChooseHalftone    the page's dark share: text (0), or halftoner mode 2 or 3
//   RatioText         the share as the job log shows it ("nan" for a page without ink)
//   RunHalftoner      kemb_ID base xres mode, without a shell, its output kept off the printer
//   ReadImageHeader   the halftoner's PBM header, checked against the page before any row
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "printer/status.h"

namespace kemb {

// Pixel sums R + G + B: up to kInkedSum a pixel is inked, up to kDarkSum it is dark.
inline constexpr int kInkedSum = 730;
inline constexpr int kDarkSum = 300;

struct InkCount {
  uint64_t inked = 0;
  uint64_t dark = 0;
  void AddRow(const uint8_t* rgb, size_t bytes);
  // dark / inked; not a number for a page without ink.
  double Ratio() const;
};

// 0 for the text path, else the halftoner mode for a page of this dark share.
int ChooseHalftone(double ratio);
std::string RatioText(double ratio);

// Starts `program` (looked up on PATH) with base, xres and mode, its standard output sent to
// `log_fd`, and waits for it.
Status RunHalftoner(const std::string& program, const std::string& base, unsigned xres, int mode,
                    int log_fd);

struct ImageHeader {
  unsigned width = 0, height = 0;
  size_t head_len = 0;
};
// Reads and checks the header: "P4", newline, width, blank, height, newline, the size line
// within 18 bytes; 1 <= width <= max_width, 1 <= height <= max_height.
Status ReadImageHeader(int fd, const std::string& path, unsigned max_width, unsigned max_height,
                       ImageHeader* image);

}  // namespace kemb
