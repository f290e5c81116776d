// SPDX-License-Identifier: Apache-2.0
// The paper view: a page of dots as the paper shows it, each dot a disc of the printer's dot
// diameter centred on its grid position, overlapping discs inking their union.
//
//   PaperImage      8-bit grey at kPaperDpi, 255 paper, 0 full ink
//   PaperView       a decoded page -> its paper image, or an error for a page too large
// (page_image_file.h writes it: WriteGreyPng)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "stream_decoder.h"

namespace kembview {

inline constexpr int kPaperDpi = 360;
inline constexpr double kDefaultDotMm = 0.25;  // the 24-pin head's dot on ordinary paper
inline constexpr size_t kMaxPaperPixels = size_t{1} << 28;

struct PaperImage {
  int dpi = kPaperDpi;
  int width = 0, height = 0;
  std::vector<uint8_t> grey;  // width*height, row after row
};

// Each paper pixel is 4 x 4 samples; a sample is inked when its centre lies in some dot's disc.
// Returns "" or what went wrong.
std::string PaperView(const Page& page, double dot_mm, PaperImage& image);

}  // namespace kembview
