// SPDX-License-Identifier: Apache-2.0
// Test pages: RGB pages for the halftoner, and dot images read back as the filter reads them.
//   Rgb, RgbPage        a page of pixels; Fill / FillRect / Ppm (the filter's spool form)
//   WriteFile / ReadFile
//   FilterHeader        parses a PBM header the filter's way: 3 bytes, a size line
//                       ending within the next 18
//   DotImage            a read-back image: Dot(x, y), DotShare over a rectangle
//   PaperCoverage       the inked share of a rectangle on paper, each dot a 0.25 mm disc
//   ReadDotImage        checks the header form and the file size, then loads the rows
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kemb::halftone::test {

struct Rgb {
  uint8_t r, g, b;
  int sum() const { return r + g + b; }
};

inline Rgb Grey(int v) {
  const auto c = static_cast<uint8_t>(v);
  return {c, c, c};
}

struct Rect {
  size_t x, y, width, height;
  bool Contains(size_t px, size_t py) const {
    return px >= x && px < x + width && py >= y && py < y + height;
  }
};

class RgbPage {
 public:
  RgbPage(size_t width, size_t height, Rgb ground);
  size_t width() const { return width_; }
  size_t height() const { return height_; }
  void FillRect(const Rect& rect, Rgb colour);
  Rgb At(size_t x, size_t y) const;
  // "P6\n<w> <h>\n255\n" and the rows; `raster_bytes_kept` cuts the raster after that
  // many bytes while the header still states the full height.
  std::string Ppm(std::optional<size_t> raster_bytes_kept = std::nullopt) const;

 private:
  size_t width_, height_;
  std::vector<uint8_t> pixels_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

struct FilterHeader {
  int width = 0;
  int height = 0;
  size_t head_length = 0;
};
// nullopt when the filter would find no size line.
std::optional<FilterHeader> ParseLikeFilter(const std::string& image);

class DotImage {
 public:
  size_t width = 0, height = 0, row_bytes = 0;
  std::string header;
  std::string rows;

  bool Dot(size_t x, size_t y) const {
    return (static_cast<uint8_t>(rows[y * row_bytes + x / 8]) >> (7 - x % 8)) & 1;
  }
  double DotShare(const Rect& rect) const;
};

// Dots at a column pitch of 1/xres inch and a row pitch of 1/180 inch, each inking a disc of
// 0.25 mm; counted at jittered points inside `rect`, with the dots round it taken into account.
double PaperCoverage(const std::function<bool(size_t x, size_t y)>& dot, size_t width,
                     size_t height, const Rect& rect, int xres);

// Fails (returns the reason) unless the header is exactly "P4\n<w> <h>\n" with the expected
// size, the filter parses the same size and header length from it, the rows fill the
// rest of the file exactly and no row has bits set beyond its last column.
std::optional<std::string> ReadDotImage(const std::string& path, size_t width, size_t height,
                                        DotImage* image);

}  // namespace kemb::halftone::test
