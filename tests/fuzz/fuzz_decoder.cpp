// SPDX-License-Identifier: Apache-2.0
// Fuzz target: the decoder library (kembdecode) on any byte stream.
// Checks: ListCommands covers the stream in order without gaps or overlaps, each entry at
// least one byte, with a listing line; Render keeps every page within its caps, with one dot
// cell per grid position.
#include <cstdint>
#include <span>

#include "fuzz_check.h"
#include "stream_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> stream(data, size);

  size_t next = 0;
  for (const kembview::Command& command : kembview::ListCommands(stream)) {
    FUZZ_CHECK(command.offset == next && command.length >= 1,
               "entry \"%s\" at 0x%zx, %zu bytes, expected at 0x%zx", command.name.c_str(),
               command.offset, command.length, next);
    FUZZ_CHECK(!kembview::FormatListLine(command).empty(), "empty line for 0x%zx", command.offset);
    next += command.length;
  }
  FUZZ_CHECK(next == size, "entries end at 0x%zx of 0x%zx bytes", next, size);

  const kembview::Rendering rendering = kembview::Render(stream);
  for (size_t i = 0; i < rendering.pages.size(); ++i) {
    const kembview::Page& page = rendering.pages[i];
    FUZZ_CHECK(page.xdpi > 0 && page.ydpi > 0, "page %zu: grid %d x %d dpi", i, page.xdpi,
               page.ydpi);
    FUZZ_CHECK(page.width >= 0 && page.width <= kembview::kMaxPageWidth && page.height >= 0 &&
                   page.height <= kembview::kMaxPageHeight,
               "page %zu: %d x %d dots", i, page.width, page.height);
    const size_t cells = static_cast<size_t>(page.width) * static_cast<size_t>(page.height);
    FUZZ_CHECK(cells <= kembview::kMaxPageDots && page.dots.size() == cells,
               "page %zu: %d x %d dots in %zu cells", i, page.width, page.height, page.dots.size());
  }
  return 0;
}
