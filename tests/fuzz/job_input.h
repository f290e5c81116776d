// SPDX-License-Identifier: Apache-2.0
// How the job target reads one fuzz input:
//   JobInput          the raster stream, and the image the halftoner stand-in writes
//   SplitJobInput     the input is the raster stream, optionally followed by kImageMarker and
//                     the bytes of the halftoner's image file
//   ScanRaster        what the stream's page headers promise, to keep one input short, and
//                     whether its printer stream can be read back without ambiguity
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace kemb::fuzz {

inline constexpr std::string_view kImageMarker = "\nKEMB-PBM\n";

struct JobInput {
  std::span<const uint8_t> raster;
  // Absent: the stand-in makes a proper image from the spooled page. Present: written as the
  // image file verbatim; empty means the halftoner left no image at all.
  std::optional<std::span<const uint8_t>> image;
};

JobInput SplitJobInput(std::span<const uint8_t> input);

struct RasterScan {
  // Sum over the pages of cupsBytesPerLine x cupsHeight as the headers state them; counting
  // stops once past the limit.
  size_t declared_bytes = 0;
  // A page for the LQ set at a density outside its mode table: its bit images go without a
  // mode byte, and a reader cannot tell their column count from a mode byte.
  bool lq_without_mode = false;
};

// Reads the page headers as the filter does, the rows too, until `limit` bytes are declared.
RasterScan ScanRaster(std::span<const uint8_t> raster, size_t limit);

}  // namespace kemb::fuzz
