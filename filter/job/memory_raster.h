// SPDX-License-Identifier: Apache-2.0
// MemoryRaster: a raster stream that libcups reads from a byte buffer, so a whole job can run
// inside a test or a fuzzer with the same pages the program would read from a pipe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include <cups/raster.h>

namespace kemb {

class MemoryRaster {
 public:
  explicit MemoryRaster(std::span<const uint8_t> bytes);
  ~MemoryRaster();
  MemoryRaster(const MemoryRaster&) = delete;
  MemoryRaster& operator=(const MemoryRaster&) = delete;

  cups_raster_t* get() const { return raster_; }

 private:
  static ssize_t Read(void* context, unsigned char* buffer, size_t size);

  std::span<const uint8_t> bytes_;
  size_t position_ = 0;
  cups_raster_t* raster_ = nullptr;
};

}  // namespace kemb
