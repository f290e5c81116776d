// SPDX-License-Identifier: Apache-2.0
// Fuzz target: the filter's check of the halftoner's PBM header (ReadImageHeader).
// The first two bytes give the page's width and height limits (1 to 256 each, scaled by 64),
// the rest is the image file, read through a memfd.
// Checks: an accepted header starts with "P4\n", ends at a newline within 21 bytes with a size
// line of digits, one blank and digits, and states a size within the limits.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_check.h"
#include "engine/picture.h"
#include "engine/temp_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return -1;
  const unsigned max_width = (data[0] + 1u) * 64, max_height = (data[1] + 1u) * 64;
  data += 2, size -= 2;

  kemb::UniqueFd file(memfd_create("pbm", MFD_CLOEXEC));
  FUZZ_CHECK(file.valid(), "memfd_create failed");
  FUZZ_CHECK(kemb::WriteFull(file.get(), data, size), "write to memfd failed");
  FUZZ_CHECK(::lseek(file.get(), 0, SEEK_SET) == 0, "lseek failed");

  kemb::ImageHeader image;
  const kemb::Status status =
      kemb::ReadImageHeader(file.get(), "image.pbm", max_width, max_height, &image);
  if (!status.ok()) {
    FUZZ_CHECK(status.error.rfind("Bad halftoner image image.pbm: ", 0) == 0, "message \"%s\"",
               status.error.c_str());
    return 0;
  }
  const size_t n = image.head_len;
  FUZZ_CHECK(n >= 7 && n <= 21 && n <= size, "header length %zu of a %zu-byte file", n, size);
  FUZZ_CHECK(data[0] == 'P' && data[1] == '4' && data[2] == '\n', "magic %02x %02x %02x", data[0],
             data[1], data[2]);
  FUZZ_CHECK(data[n - 1] == '\n', "header ends in %02x", data[n - 1]);
  const std::string line(reinterpret_cast<const char*>(data) + 3, n - 4);
  const size_t blank = line.find(' ');
  FUZZ_CHECK(blank != std::string::npos && blank > 0 && blank + 1 < line.size() &&
                 line.find_first_not_of("0123456789", blank + 1) == std::string::npos &&
                 line.find_first_not_of("0123456789") == blank,
             "size line \"%s\"", line.c_str());
  const unsigned long width = std::strtoul(line.c_str(), nullptr, 10);
  const unsigned long height = std::strtoul(line.c_str() + blank + 1, nullptr, 10);
  FUZZ_CHECK(width == image.width && height == image.height, "size line \"%s\" read as %u x %u",
             line.c_str(), image.width, image.height);
  FUZZ_CHECK(width >= 1 && width <= max_width && height >= 1 && height <= max_height,
             "%lu x %lu accepted with limits %u x %u", width, height, max_width, max_height);
  return 0;
}
