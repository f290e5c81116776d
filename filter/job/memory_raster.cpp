// SPDX-License-Identifier: Apache-2.0
// libcups raster reading over a byte buffer.
#include "job/memory_raster.h"

#include <algorithm>
#include <cstring>

namespace kemb {

MemoryRaster::MemoryRaster(std::span<const uint8_t> bytes) : bytes_(bytes) {
  raster_ = cupsRasterOpenIO(&MemoryRaster::Read, this, CUPS_RASTER_READ);
}

MemoryRaster::~MemoryRaster() {
  if (raster_ != nullptr) cupsRasterClose(raster_);
}

ssize_t MemoryRaster::Read(void* context, unsigned char* buffer, size_t size) {
  auto* self = static_cast<MemoryRaster*>(context);
  const size_t n = std::min(size, self->bytes_.size() - self->position_);
  std::memcpy(buffer, self->bytes_.data() + self->position_, n);
  self->position_ += n;
  return static_cast<ssize_t>(n);
}

}  // namespace kemb
