// SPDX-License-Identifier: Apache-2.0
// PaperView: per sample-grid phase of a dot centre, one stamp of sample bits per paper pixel,
// OR-ed into a 16-bit sample mask per pixel; the grey is the share of inked samples.
#include "paper_view.h"

#include <bit>
#include <cmath>

namespace kembview {
namespace {

constexpr int kSamples = 4;  // per paper pixel and axis
constexpr int kSampleDpi = kPaperDpi * kSamples;

struct StampPixel {
  int dx, dy;      // from the paper pixel that holds the centre
  uint16_t bits;   // sample i + 4 j is bit i + 4 j
};

// The stamp of a disc whose centre lies at sample coordinate (phase_x, phase_y) inside its
// paper pixel; sample (i, j) of a pixel is inked when its centre is within the radius.
std::vector<StampPixel> Stamp(int phase_x, int phase_y, double radius) {
  std::vector<StampPixel> stamp;
  const int reach = static_cast<int>(std::ceil(radius / kSamples)) + 1;
  for (int dy = -reach; dy <= reach; ++dy) {
    for (int dx = -reach; dx <= reach; ++dx) {
      uint16_t bits = 0;
      for (int j = 0; j < kSamples; ++j) {
        for (int i = 0; i < kSamples; ++i) {
          const double sx = dx * kSamples + i + 0.5 - phase_x;
          const double sy = dy * kSamples + j + 0.5 - phase_y;
          if (sx * sx + sy * sy <= radius * radius) bits |= uint16_t(1u << (i + kSamples * j));
        }
      }
      if (bits) stamp.push_back({dx, dy, bits});
    }
  }
  return stamp;
}

// A grid dot's centre in samples: the middle of its cell.
long Centre(int index, int dpi) {
  return std::lround((2.0 * index + 1) * kSampleDpi / (2.0 * dpi));
}

}  // namespace

std::string PaperView(const Page& page, double dot_mm, PaperImage& image) {
  if (page.xdpi <= 0 || page.ydpi <= 0 || !(dot_mm > 0 && dot_mm <= 5))
    return "paper view: bad page grid or dot diameter";
  const double radius = dot_mm / 25.4 * kSampleDpi / 2;
  // The sheet as far as the page reaches, plus room for the discs at its edges.
  const auto extent = [&](int dots, int dpi) {
    return static_cast<size_t>(std::ceil(double(dots) * kPaperDpi / dpi)) + 1;
  };
  const size_t width = extent(page.width, page.xdpi), height = extent(page.height, page.ydpi);
  if (width > size_t(kMaxPageWidth) * kSamples || height > size_t(kMaxPageHeight) * kSamples ||
      width * height > kMaxPaperPixels)
    return "paper view: page too large (" + std::to_string(width) + "x" +
           std::to_string(height) + " pixels)";
  std::vector<uint16_t> samples(width * height, 0);
  std::vector<StampPixel> stamps[kSamples][kSamples];
  for (int py = 0; py < kSamples; ++py)
    for (int px = 0; px < kSamples; ++px) stamps[py][px] = Stamp(px, py, radius);

  for (int y = 0; y < page.height; ++y) {
    const long cy = Centre(y, page.ydpi);
    const uint8_t* row = page.dots.data() + size_t(y) * size_t(page.width);
    for (int x = 0; x < page.width; ++x) {
      if (!row[x]) continue;
      const long cx = Centre(x, page.xdpi);
      for (const StampPixel& s : stamps[cy % kSamples][cx % kSamples]) {
        const long X = cx / kSamples + s.dx, Y = cy / kSamples + s.dy;
        if (X < 0 || Y < 0 || X >= long(width) || Y >= long(height)) continue;
        samples[size_t(Y) * width + size_t(X)] |= s.bits;
      }
    }
  }
  image.dpi = kPaperDpi;
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  image.grey.resize(samples.size());
  constexpr int kAll = kSamples * kSamples;
  for (size_t i = 0; i < samples.size(); ++i)
    image.grey[i] = static_cast<uint8_t>(255 - (255 * std::popcount(samples[i]) + kAll / 2) / kAll);
  return "";
}

}  // namespace kembview
