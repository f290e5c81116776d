// SPDX-License-Identifier: Apache-2.0
// bench-job: writes a deterministic A4 benchmark job.
//   bench-job [options] CONTENT DPI PAGES OUTPUT
//     CONTENT   text, dense, photo or blank; DPI the square resolution; OUTPUT a file or -
//     --compressed      a compressed raster stream (the default is an uncompressed one)
//     --ppm             page 1 as the filter spools it (P6), for running the halftoner alone
//     --size WxH        another page size in pixels (smoke runs)
// Rows are made and written one at a time, so any number of pages streams in little memory.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <cups/raster.h>

#include "engine/temp_file.h"

#include "page_content.h"

namespace {

using kembbench::PageContent;
using kembbench::PageGeometry;

int Usage() {
  std::fputs(
      "usage: bench-job [--compressed] [--ppm] [--size WxH] text|dense|photo|blank DPI "
      "PAGES OUTPUT\n",
      stderr);
  return 2;
}

int Fail(const std::string& what) {
  std::fprintf(stderr, "ERROR: bench-job: %s\n", what.c_str());
  return 1;
}

bool ParseUnsigned(const char* text, unsigned max, unsigned* value) {
  char* end = nullptr;
  errno = 0;
  const unsigned long v = std::strtoul(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < 1 || v > max) return false;
  *value = static_cast<unsigned>(v);
  return true;
}

cups_page_header2_t Header(const PageGeometry& page) {
  cups_page_header2_t h;
  std::memset(&h, 0, sizeof h);
  std::strncpy(h.OutputType, "LQ", sizeof h.OutputType - 1);
  h.HWResolution[0] = h.HWResolution[1] = page.dpi;
  h.PageSize[0] = 595;
  h.PageSize[1] = 842;
  h.NumCopies = 1;
  h.cupsWidth = page.width;
  h.cupsHeight = page.height;
  h.cupsBitsPerColor = 8;
  h.cupsBitsPerPixel = 24;
  h.cupsBytesPerLine = 3 * page.width;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  h.cupsColorSpace = CUPS_CSPACE_RGB;
  h.cupsRowCount = 24;
  return h;
}

}  // namespace

int main(int argc, char** argv) {
  bool compressed = false, ppm = false;
  unsigned width = 0, height = 0;
  std::vector<const char*> args;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--compressed") {
      compressed = true;
    } else if (arg == "--ppm") {
      ppm = true;
    } else if (arg == "--size" && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%ux%u", &width, &height) != 2 || width < 1 || height < 1 ||
          width > 20000 || height > 40000) {
        return Fail(std::string("bad --size ") + argv[i]);
      }
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
      return Usage();
    } else {
      args.push_back(argv[i]);
    }
  }
  if (args.size() != 4) return Usage();
  const auto content = kembbench::ParseContent(args[0]);
  unsigned dpi = 0, pages = 0;
  if (!content) return Fail(std::string("unknown content ") + args[0]);
  if (!ParseUnsigned(args[1], 720, &dpi)) return Fail(std::string("bad DPI ") + args[1]);
  if (!ParseUnsigned(args[2], 100000, &pages)) return Fail(std::string("bad PAGES ") + args[2]);

  PageGeometry geometry = kembbench::A4At(dpi);
  if (width != 0) geometry.width = width, geometry.height = height;
  const PageContent page_content(*content, geometry);
  std::vector<uint8_t> row(3 * size_t{geometry.width});

  const std::string_view output = args[3];
  const int fd = output == "-" ? STDOUT_FILENO
                               : ::open(args[3], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Fail(std::string("cannot create ") + args[3] + ": " + std::strerror(errno));

  if (ppm) {
    const std::string head =
        "P6\n" + std::to_string(geometry.width) + " " + std::to_string(geometry.height) + "\n255\n";
    bool ok = kemb::WriteFull(fd, reinterpret_cast<const uint8_t*>(head.data()), head.size());
    for (unsigned y = 0; ok && y < geometry.height; ++y) {
      page_content.Row(1, y, row.data());
      ok = kemb::WriteFull(fd, row.data(), row.size());
    }
    if (!ok || (fd != STDOUT_FILENO && ::close(fd) != 0)) return Fail("write failed");
    return 0;
  }

  cups_raster_t* raster =
      cupsRasterOpen(fd, compressed ? CUPS_RASTER_WRITE_COMPRESSED : CUPS_RASTER_WRITE);
  if (raster == nullptr) return Fail("cupsRasterOpen failed");
  bool ok = true;
  for (unsigned p = 1; ok && p <= pages; ++p) {
    cups_page_header2_t header = Header(geometry);
    ok = cupsRasterWriteHeader2(raster, &header) != 0;
    for (unsigned y = 0; ok && y < geometry.height; ++y) {
      page_content.Row(p, y, row.data());
      ok = cupsRasterWritePixels(raster, row.data(), static_cast<unsigned>(row.size())) ==
           row.size();
    }
  }
  cupsRasterClose(raster);
  if (!ok || (fd != STDOUT_FILENO && ::close(fd) != 0)) return Fail("write failed");
  return 0;
}
