// SPDX-License-Identifier: Apache-2.0
// Writing a page's dot image to a file.
//
//   OpenForWriting   FILE owned by a unique_ptr
//   PackRow          one image row as 1-bit pixels, most significant bit first
//   WriteGreyPngRows libpng, grey, pHYs in dots per metre: the one PNG writer
//   WritePng         the dot grid, bit depth 1 (0 = black)
//   WriteGreyPng     the paper view, bit depth 8
//   WritePbm         P4, 1 = black
#include "page_image_file.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace kembview {
namespace {

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

File OpenForWriting(const std::string& path, std::string& error) {
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) error = "cannot write " + path + ": " + std::strerror(errno);
  return file;
}

// PBM marks a dot with 1, PNG grey with 0 (black): `dot_bit` says which.
void PackRow(const Page& page, int y, bool dot_bit, std::vector<uint8_t>& row) {
  std::fill(row.begin(), row.end(), dot_bit ? 0x00 : 0xFF);
  for (int x = 0; x < page.width; ++x) {
    if (page.dots[static_cast<size_t>(y) * page.width + x] != 0) {
      row[x / 8] ^= static_cast<uint8_t>(0x80 >> (x % 8));
    }
  }
}

png_uint_32 DotsPerMetre(int dpi) {
  return static_cast<png_uint_32>(dpi / 0.0254 + 0.5);
}

// One grey PNG: `next_row` fills each row in turn (packed pixels of `bit_depth` bits).
std::string WriteGreyPngRows(const std::string& path, int width, int height, int bit_depth,
                             int xdpi, int ydpi, const std::function<const uint8_t*(int)>& next_row) {
  std::string error;
  File file = OpenForWriting(path, error);
  if (!file) return error;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return "cannot set up PNG writing for " + path;
  }
  // Nothing with a destructor is created between here and the last libpng call.
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return "PNG writing failed for " + path;
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, width, height, bit_depth, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_pHYs(png, info, DotsPerMetre(xdpi), DotsPerMetre(ydpi), PNG_RESOLUTION_METER);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) png_write_row(png, next_row(y));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fflush(file.get()) != 0) return "cannot write " + path + ": " + std::strerror(errno);
  return "";
}

}  // namespace

std::string WritePng(const Page& page, const std::string& path) {
  std::vector<uint8_t> row((static_cast<size_t>(page.width) + 7) / 8);
  return WriteGreyPngRows(path, page.width, page.height, 1, page.xdpi, page.ydpi, [&](int y) {
    PackRow(page, y, false, row);
    return static_cast<const uint8_t*>(row.data());
  });
}

std::string WriteGreyPng(const PaperImage& image, const std::string& path) {
  return WriteGreyPngRows(path, image.width, image.height, 8, image.dpi, image.dpi, [&](int y) {
    return image.grey.data() + size_t(y) * size_t(image.width);
  });
}

std::string WritePbm(const Page& page, const std::string& path) {
  std::string error;
  File file = OpenForWriting(path, error);
  if (!file) return error;
  std::fprintf(file.get(), "P4\n# %dx%d dpi\n%d %d\n", page.xdpi, page.ydpi, page.width,
               page.height);
  std::vector<uint8_t> row((static_cast<size_t>(page.width) + 7) / 8);
  for (int y = 0; y < page.height; ++y) {
    PackRow(page, y, true, row);
    std::fwrite(row.data(), 1, row.size(), file.get());
  }
  if (std::fflush(file.get()) != 0 || std::ferror(file.get())) {
    return "cannot write " + path + ": " + std::strerror(errno);
  }
  return "";
}

}  // namespace kembview
