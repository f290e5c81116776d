// SPDX-License-Identifier: Apache-2.0
// bench-quality: how faithfully printed dots render a page, for bench/quality.
//
//   bench-quality PAGE.ras TEXT.prn CHOICE.prn... [--not-text x0,y0,x1,y1]... [--eye-sigma-mm S]
//
// PAGE.ras is the CUPS raster the filter was given (its first page is used); TEXT.prn the
// printer stream of that page on the text path; each CHOICE.prn the stream of one content
// choice. One line per CHOICE.prn: "tone_error text_fidelity text_dots", both in percent.
//
//   tone error     the page's luminance and the print's reflectance, each dot a disc of the
//                  head's dot diameter, both blurred as the eye blurs them at reading distance,
//                  compared as the mean absolute difference in percent of full scale over the
//                  page's content: the box round everything that is not white paper
//   text fidelity  of the dots the text path prints (outside the --not-text boxes), the share
//                  the choice prints too
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <cups/raster.h>

#include "stream_decoder.h"

namespace {

constexpr double kDotDiameterMm = 0.25;  // an impact dot through the ribbon
constexpr double kEyeSigmaMm = 0.2;      // eye blur at about 30 cm (--eye-sigma-mm)
constexpr int kSubsamples = 4;           // per pixel side, for the dot discs

struct Box {
  int x0, y0, x1, y1;
};

using Plane = std::vector<double>;

double Linear(double v) {  // sRGB decoding, 0..1
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

// Separable Gaussian blur of a width x height plane, edges clamped.
void Blur(Plane& plane, int width, int height, double sigma_px) {
  const int radius = static_cast<int>(std::ceil(3 * sigma_px));
  std::vector<double> kernel(2 * radius + 1);
  double sum = 0;
  for (int i = -radius; i <= radius; ++i) {
    kernel[i + radius] = std::exp(-0.5 * i * i / (sigma_px * sigma_px));
    sum += kernel[i + radius];
  }
  for (double& k : kernel) k /= sum;
  Plane tmp(plane.size());
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      double v = 0;
      for (int i = -radius; i <= radius; ++i) {
        const int xx = std::min(width - 1, std::max(0, x + i));
        v += kernel[i + radius] * plane[size_t(y) * width + xx];
      }
      tmp[size_t(y) * width + x] = v;
    }
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      double v = 0;
      for (int i = -radius; i <= radius; ++i) {
        const int yy = std::min(height - 1, std::max(0, y + i));
        v += kernel[i + radius] * tmp[size_t(yy) * width + x];
      }
      plane[size_t(y) * width + x] = v;
    }
  }
}

// Reflectance of the printed page: 1 - the share of each pixel under some dot's disc. A disc
// reaches at most `reach` pixels from its own, so what covers a pixel depends only on the dots
// of its neighbourhood: where that is 3 x 3 dots (r <= 1, as at 180 dpi), a table over its 512
// patterns.
Plane PrintReflectance(const kembview::Page& page, int width, int height, double pitch_mm) {
  const double r = kDotDiameterMm / 2 / pitch_mm;  // disc radius in pixels
  const int reach = static_cast<int>(std::ceil(r));
  const int side = 2 * reach + 1;
  auto covered_by = [&](const std::vector<bool>& dots) {  // dots of the side x side block
    int covered = 0;
    for (int sy = 0; sy < kSubsamples; ++sy) {
      for (int sx = 0; sx < kSubsamples; ++sx) {
        const double px = (sx + 0.5) / kSubsamples, py = (sy + 0.5) / kSubsamples;
        bool hit = false;
        for (int i = 0; i < side * side && !hit; ++i) {
          if (!dots[size_t(i)]) continue;
          const double ex = px - (i % side - reach + 0.5), ey = py - (i / side - reach + 0.5);
          hit = ex * ex + ey * ey <= r * r;
        }
        covered += hit;
      }
    }
    return covered;
  };
  std::vector<int> table;
  if (side == 3) {
    table.resize(512);
    for (int pattern = 0; pattern < 512; ++pattern) {
      std::vector<bool> dots(9);
      for (int i = 0; i < 9; ++i) dots[size_t(i)] = (pattern >> i) & 1;
      table[size_t(pattern)] = covered_by(dots);
    }
  }
  Plane reflectance(size_t(width) * height, 1.0);
  std::vector<bool> dots(size_t(side) * side);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      int pattern = 0;
      for (int i = 0; i < side * side; ++i) {
        dots[size_t(i)] = page.Dot(x + i % side - reach, y + i / side - reach);
        pattern |= int(dots[size_t(i)]) << (i < 9 ? i : 0);
      }
      const int covered = side == 3 ? table[size_t(pattern)] : covered_by(dots);
      reflectance[size_t(y) * width + x] = 1.0 - double(covered) / (kSubsamples * kSubsamples);
    }
  }
  return reflectance;
}

kembview::Page Decode(const char* path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  kembview::Rendering rendering = kembview::Render(bytes);
  if (rendering.pages.empty()) {
    std::fprintf(stderr, "bench-quality: %s holds no page\n", path);
    std::exit(1);
  }
  return rendering.pages[0];
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<const char*> files;
  std::vector<Box> not_text;
  double eye_sigma_mm = kEyeSigmaMm;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--eye-sigma-mm" && i + 1 < argc) {
      eye_sigma_mm = std::atof(argv[++i]);
      if (!(eye_sigma_mm > 0)) return 2;
    } else if (std::string(argv[i]) == "--not-text" && i + 1 < argc) {
      Box b;
      if (std::sscanf(argv[++i], "%d,%d,%d,%d", &b.x0, &b.y0, &b.x1, &b.y1) != 4) return 2;
      not_text.push_back(b);
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.size() < 3) {
    std::fprintf(stderr,
                 "usage: bench-quality PAGE.ras TEXT.prn CHOICE.prn... "
                 "[--not-text x0,y0,x1,y1]...\n");
    return 2;
  }

  // The page as the filter saw it.
  const int fd = open(files[0], O_RDONLY);
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t header;
  if (fd < 0 || raster == nullptr || !cupsRasterReadHeader2(raster, &header) ||
      header.cupsBitsPerPixel != 24) {
    std::fprintf(stderr, "bench-quality: %s is no 24-bit raster\n", files[0]);
    return 1;
  }
  const int width = int(header.cupsWidth), height = int(header.cupsHeight);
  const double pitch_mm = 25.4 / header.HWResolution[0];
  Plane page(size_t(width) * height);
  std::vector<uint8_t> row(header.cupsBytesPerLine);
  Box content = {width, height, 0, 0};
  for (int y = 0; y < height; ++y) {
    cupsRasterReadPixels(raster, row.data(), header.cupsBytesPerLine);
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = &row[size_t(x) * 3];
      if ((p[0] & p[1] & p[2]) != 255) {
        content = {std::min(content.x0, x), std::min(content.y0, y), std::max(content.x1, x + 1),
                   std::max(content.y1, y + 1)};
      }
      page[size_t(y) * width + x] = 0.2126 * Linear(p[0] / 255.0) + 0.7152 * Linear(p[1] / 255.0) +
                                    0.0722 * Linear(p[2] / 255.0);
    }
  }
  cupsRasterClose(raster);
  close(fd);
  const double sigma_px = eye_sigma_mm / pitch_mm;
  Blur(page, width, height, sigma_px);

  const kembview::Page text = Decode(files[1]);
  auto is_text = [&](int x, int y) {
    for (const Box& b : not_text) {
      if (x >= b.x0 && x < b.x1 && y >= b.y0 && y < b.y1) return false;
    }
    return text.Dot(x, y);
  };
  for (size_t f = 2; f < files.size(); ++f) {
    const kembview::Page print = Decode(files[f]);
    Plane reflectance = PrintReflectance(print, width, height, pitch_mm);
    Blur(reflectance, width, height, sigma_px);
    double error = 0;
    size_t counted = 0;
    for (int y = content.y0; y < content.y1; ++y) {
      for (int x = content.x0; x < content.x1; ++x, ++counted) {
        const size_t i = size_t(y) * width + x;
        error += std::fabs(page[i] - reflectance[i]);
      }
    }
    size_t text_dots = 0, kept = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        if (!is_text(x, y)) continue;
        ++text_dots;
        kept += print.Dot(x, y);
      }
    }
    std::printf("%.3f %.3f %zu\n", counted ? 100.0 * error / double(counted) : 0.0,
                text_dots ? 100.0 * double(kept) / double(text_dots) : 100.0, text_dots);
  }
  return 0;
}
