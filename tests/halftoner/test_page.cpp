// SPDX-License-Identifier: Apache-2.0
// Test pages: page building, file helpers, the filter-style header parse, dot counting.
#include "test_page.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace kemb::halftone::test {

RgbPage::RgbPage(size_t width, size_t height, Rgb ground)
    : width_(width), height_(height), pixels_(width * height * 3) {
  FillRect({0, 0, width, height}, ground);
}

void RgbPage::FillRect(const Rect& rect, Rgb colour) {
  for (size_t y = rect.y; y < std::min(height_, rect.y + rect.height); ++y) {
    for (size_t x = rect.x; x < std::min(width_, rect.x + rect.width); ++x) {
      uint8_t* p = &pixels_[(y * width_ + x) * 3];
      p[0] = colour.r;
      p[1] = colour.g;
      p[2] = colour.b;
    }
  }
}

Rgb RgbPage::At(size_t x, size_t y) const {
  const uint8_t* p = &pixels_[(y * width_ + x) * 3];
  return {p[0], p[1], p[2]};
}

std::string RgbPage::Ppm(std::optional<size_t> raster_bytes_kept) const {
  std::string out = "P6\n" + std::to_string(width_) + " " + std::to_string(height_) + "\n255\n";
  const size_t kept = std::min(raster_bytes_kept.value_or(pixels_.size()), pixels_.size());
  out.append(reinterpret_cast<const char*>(pixels_.data()), kept);
  return out;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::optional<FilterHeader> ParseLikeFilter(const std::string& image) {
  if (image.size() < 3) return std::nullopt;
  char size_line[20] = {};
  const size_t taken = std::min<size_t>(18, image.size() - 3);
  std::memcpy(size_line, image.data() + 3, taken);
  const void* newline = std::memchr(size_line, '\n', 18);
  if (newline == nullptr) return std::nullopt;
  FilterHeader header;
  header.head_length = static_cast<size_t>(static_cast<const char*>(newline) - size_line) + 4;
  if (std::sscanf(size_line, "%d %d", &header.width, &header.height) != 2) return std::nullopt;
  return header;
}

double DotImage::DotShare(const Rect& rect) const {
  size_t dots = 0;
  for (size_t y = rect.y; y < rect.y + rect.height; ++y) {
    for (size_t x = rect.x; x < rect.x + rect.width; ++x) dots += Dot(x, y);
  }
  return static_cast<double>(dots) / static_cast<double>(rect.width * rect.height);
}

double PaperCoverage(const std::function<bool(size_t x, size_t y)>& dot, size_t width,
                     size_t height, const Rect& rect, int xres) {
  constexpr int kSamples = 6;  // per cell side, each jittered: a fixed grid has a bias of its own
  uint32_t jitter = 12345;
  const auto next = [&jitter] {
    jitter = jitter * 1664525u + 1013904223u;
    return (jitter >> 8) / 16777216.0;
  };
  const double column = 25.4 / xres, row = 25.4 / 180, radius = 0.125;
  const auto reach_x = static_cast<ptrdiff_t>(radius / column) + 1;
  const auto reach_y = static_cast<ptrdiff_t>(radius / row) + 1;
  size_t inked = 0, samples = 0;
  for (size_t y = rect.y; y < rect.y + rect.height; ++y) {
    for (size_t x = rect.x; x < rect.x + rect.width; ++x) {
      for (int j = 0; j < kSamples; ++j) {
        for (int i = 0; i < kSamples; ++i) {
          const double sx = (static_cast<double>(x) + (i + next()) / kSamples) * column;
          const double sy = (static_cast<double>(y) + (j + next()) / kSamples) * row;
          bool any = false;
          for (ptrdiff_t dy = -reach_y; dy <= reach_y && !any; ++dy) {
            for (ptrdiff_t dx = -reach_x; dx <= reach_x && !any; ++dx) {
              const ptrdiff_t cx = static_cast<ptrdiff_t>(x) + dx;
              const ptrdiff_t cy = static_cast<ptrdiff_t>(y) + dy;
              if (cx < 0 || cy < 0 || cx >= static_cast<ptrdiff_t>(width) ||
                  cy >= static_cast<ptrdiff_t>(height) || !dot(cx, cy)) {
                continue;
              }
              const double ex = sx - (static_cast<double>(cx) + 0.5) * column;
              const double ey = sy - (static_cast<double>(cy) + 0.5) * row;
              any = ex * ex + ey * ey < radius * radius;
            }
          }
          inked += any;
          ++samples;
        }
      }
    }
  }
  return static_cast<double>(inked) / static_cast<double>(samples);
}

std::optional<std::string> ReadDotImage(const std::string& path, size_t width, size_t height,
                                        DotImage* image) {
  const std::string file = ReadFile(path);
  const std::string expected_header =
      "P4\n" + std::to_string(width) + " " + std::to_string(height) + "\n";
  if (file.compare(0, expected_header.size(), expected_header) != 0) {
    return "header is '" + file.substr(0, expected_header.size()) + "', expected '" +
           expected_header + "'";
  }
  if (expected_header.size() > 21) return "header longer than 21 bytes";
  const auto parsed = ParseLikeFilter(file);
  if (!parsed || parsed->head_length != expected_header.size() ||
      parsed->width != static_cast<int>(width) || parsed->height != static_cast<int>(height)) {
    return "the filter would not read the header '" + expected_header + "' as " +
           std::to_string(width) + " x " + std::to_string(height);
  }
  image->width = width;
  image->height = height;
  image->row_bytes = (width + 7) / 8;
  image->header = expected_header;
  image->rows = file.substr(expected_header.size());
  if (image->rows.size() != image->row_bytes * height) {
    return "raster holds " + std::to_string(image->rows.size()) + " bytes, expected " +
           std::to_string(image->row_bytes * height);
  }
  const auto pad_mask = static_cast<uint8_t>(0xFFu >> (width % 8 == 0 ? 8 : width % 8));
  for (size_t y = 0; y < height; ++y) {
    const auto last = static_cast<uint8_t>(image->rows[(y + 1) * image->row_bytes - 1]);
    if ((last & pad_mask) != 0) return "row " + std::to_string(y) + " has bits past its end";
  }
  return std::nullopt;
}

}  // namespace kemb::halftone::test
