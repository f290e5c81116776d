// SPDX-License-Identifier: Apache-2.0
// DecodeJob: the filter's own way of reading the raster, one cupsRasterReadPixels per row into
// a buffer of cupsBytesPerLine bytes.
#include "floor_pages.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace kembbench {

int DecodeJob(int argc, char** argv, const char* program, PageVisitor& visitor) {
  if (argc > 2) {
    std::fprintf(stderr, "usage: %s [raster-file]\n", program);
    return 2;
  }
  const int fd = argc == 2 ? ::open(argv[1], O_RDONLY | O_CLOEXEC) : STDIN_FILENO;
  if (fd < 0) {
    std::fprintf(stderr, "ERROR: %s: cannot open %s\n", program, argv[1]);
    return 1;
  }
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t header;
  std::vector<uint8_t> row;
  unsigned page = 0;
  bool ok = raster != nullptr;
  while (ok && cupsRasterReadHeader2(raster, &header)) {
    ++page;
    row.assign(header.cupsBytesPerLine, 0);
    ok = visitor.StartPage(header, page);
    for (unsigned y = 0; ok && y < header.cupsHeight; ++y) {
      if (cupsRasterReadPixels(raster, row.data(), header.cupsBytesPerLine) == 0) break;
      ok = visitor.Row(row.data(), row.size());
    }
    ok = visitor.EndPage() && ok;
  }
  cupsRasterClose(raster);
  if (fd != STDIN_FILENO) ::close(fd);
  if (!ok || page == 0) {
    std::fprintf(stderr, "ERROR: %s: %s\n", program, page == 0 ? "no page" : "page failed");
    return 1;
  }
  return 0;
}

}  // namespace kembbench
