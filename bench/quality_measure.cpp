// SPDX-License-Identifier: Apache-2.0
// bench-quality: how faithfully printed dots render a page, for bench/quality.
//
//   bench-quality PAGE.ras TEXT.prn CHOICE.prn... [--not-text x0,y0,x1,y1]... [--eye-sigma-mm S]
//                 [--side-by-side PREFIX [--side-by-side-of N,N...]]
//
// PAGE.ras is the CUPS raster the filter was given (its first page is used); TEXT.prn the
// printer stream of that page on the text path; each CHOICE.prn the stream of one content
// choice. One line per CHOICE.prn: "tone_error text_fidelity text_dots light_cover delta_l
// light_black", all but text_dots and delta_l in percent. --side-by-side writes PREFIX<n>.png for the n-th CHOICE.prn (from 0):
// the page's content as the original's grey | as the paper shows the print, at 360 dpi (only
// for the listed CHOICE.prn numbers with --side-by-side-of).
//
//   tone error     the page's luminance and the print's reflectance, each dot a disc of the
//                  head's dot diameter, both blurred as the eye blurs them at reading distance,
//                  compared as the mean absolute difference in percent of full scale over the
//                  page's content: the box round everything that is not white paper
//   text fidelity  of the dots the text path prints where the original is dark (no lighter than
//                  mid grey, sRGB 128; outside the --not-text boxes), the share the choice
//                  prints too
//   light cover    of the 2 mm tiles lighter than mid grey in the original (reflecting more than
//                  half the light, sRGB 188) and without text (dark marks on paper), the
//                  largest share of paper the print inks
//   delta L        the tone error in CIE L* (paper_model.h): mean |delta L*| over the content
//   light black    of the content, the share where the blurred original is light (L* >= 60)
//                  and the blurred print near black (L* <= 30)
// Dots are discs of the head's dot diameter at the raster's column and row pitches, counted at
// points jittered within each pixel (a fixed grid of points has a bias of its own).
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

#include "page_image_file.h"
#include "paper_model.h"
#include "stream_decoder.h"

namespace {

constexpr int kSubsamples = 4;           // per pixel side, for the dot discs
constexpr double kTileMm = 2.0;          // the light-cover tiles
constexpr int kViewDpi = 360;            // the side-by-side picture

struct Box {
  int x0, y0, x1, y1;
};

using kemb::bench::Blur;
using kemb::bench::Encoded;
using kemb::bench::kDotDiameterMm;
using kemb::bench::kEyeSigmaMm;
using kemb::bench::Linear;
using kemb::bench::Plane;

// Where the dots of a page lie on paper, in mm from its top left corner.
class Paper {
 public:
  Paper(const kembview::Page& page, double column_mm, double row_mm)
      : column_mm(column_mm), row_mm(row_mm),
        pad_x_(int(std::ceil(kDotDiameterMm / 2 / column_mm)) + 1),
        pad_y_(int(std::ceil(kDotDiameterMm / 2 / row_mm)) + 1),
        stride_(page.width + 2 * pad_x_),
        dots_(size_t(stride_) * (page.height + 2 * pad_y_), 0) {
    for (int y = 0; y < page.height; ++y) {
      for (int x = 0; x < page.width; ++x) {
        dots_[size_t(y + pad_y_) * stride_ + x + pad_x_] = page.dots[size_t(y) * page.width + x];
      }
    }
    width_ = page.width;
    height_ = page.height;
  }

  const double column_mm, row_mm;

  bool Dot(int x, int y) const {
    if (x < -pad_x_ || y < -pad_y_ || x >= width_ + pad_x_ || y >= height_ + pad_y_) return false;
    return dots_[size_t(y + pad_y_) * stride_ + x + pad_x_] != 0;
  }

  // Whether the point lies under some dot's disc.
  bool Inked(double x_mm, double y_mm) const {
    const double r = kDotDiameterMm / 2;
    const int x0 = int(std::floor((x_mm - r) / column_mm));
    const int x1 = int(std::floor((x_mm + r) / column_mm));
    const int y0 = int(std::floor((y_mm - r) / row_mm));
    const int y1 = int(std::floor((y_mm + r) / row_mm));
    for (int y = y0; y <= y1; ++y) {
      for (int x = x0; x <= x1; ++x) {
        if (!Dot(x, y)) continue;
        const double ex = x_mm - (x + 0.5) * column_mm, ey = y_mm - (y + 0.5) * row_mm;
        if (ex * ex + ey * ey < r * r) return true;
      }
    }
    return false;
  }

  // Whether no dot's disc can reach the rectangle.
  bool Blank(double x_mm, double y_mm, double w_mm, double h_mm) const {
    const double r = kDotDiameterMm / 2;
    const int x0 = int(std::floor((x_mm - r) / column_mm));
    const int x1 = int(std::floor((x_mm + w_mm + r) / column_mm));
    const int y0 = int(std::floor((y_mm - r) / row_mm));
    const int y1 = int(std::floor((y_mm + h_mm + r) / row_mm));
    for (int y = y0; y <= y1; ++y) {
      for (int x = x0; x <= x1; ++x) {
        if (Dot(x, y)) return false;
      }
    }
    return true;
  }

  // The inked share of a w x h mm rectangle, at n x n points jittered within it.
  double Cover(double x_mm, double y_mm, double w_mm, double h_mm, int n, uint32_t& jitter) const {
    if (Blank(x_mm, y_mm, w_mm, h_mm)) return 0;
    auto next = [&jitter] {
      jitter = jitter * 1664525u + 1013904223u;
      return (jitter >> 8) / 16777216.0;
    };
    int inked = 0;
    for (int j = 0; j < n; ++j) {
      for (int i = 0; i < n; ++i) {
        inked += Inked(x_mm + (i + next()) / n * w_mm, y_mm + (j + next()) / n * h_mm);
      }
    }
    return double(inked) / (n * n);
  }

 private:
  int pad_x_, pad_y_, stride_;
  std::vector<uint8_t> dots_;
  int width_ = 0, height_ = 0;
};

// Reflectance of the printed page: 1 - the share of each pixel under some dot's disc.
Plane PrintReflectance(const Paper& paper, int width, int height) {
  Plane reflectance(size_t(width) * height, 1.0);
  uint32_t jitter = 1;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      reflectance[size_t(y) * width + x] =
          1.0 - paper.Cover(x * paper.column_mm, y * paper.row_mm, paper.column_mm,
                            paper.row_mm, kSubsamples, jitter);
    }
  }
  return reflectance;
}

// The largest inked share of any tile whose original is lighter than mid grey and holds no
// text, that is no dark mark on paper: letters print bolder than their grey, as they should.
double LightCover(const Plane& luminance, const Plane& reflectance, int width, int height,
                  const Paper& paper) {
  const int tw = std::max(1, int(std::lround(kTileMm / paper.column_mm)));
  const int th = std::max(1, int(std::lround(kTileMm / paper.row_mm)));
  const double mid_grey = 0.5;
  double worst = 0;
  for (int ty = 0; ty + th <= height; ty += th) {
    for (int tx = 0; tx + tw <= width; tx += tw) {
      double light = 0, ink = 0;
      double darkest = 1, lightest = 0;
      for (int y = ty; y < ty + th; ++y) {
        for (int x = tx; x < tx + tw; ++x) {
          darkest = std::min(darkest, luminance[size_t(y) * width + x]);
          lightest = std::max(lightest, luminance[size_t(y) * width + x]);
          light += luminance[size_t(y) * width + x];
          ink += 1.0 - reflectance[size_t(y) * width + x];
        }
      }
      const bool has_text = darkest < Linear(64 / 255.0) && lightest > Linear(230 / 255.0);
      if (!has_text && light / (tw * th) > mid_grey) worst = std::max(worst, ink / (tw * th));
    }
  }
  return worst;
}

// The content box, original | print, at kViewDpi.
std::string WriteSideBySide(const std::string& path, const Plane& luminance, int width,
                            const Box& box, const Paper& paper) {
  const double view_mm = 25.4 / kViewDpi;
  const int w = int((box.x1 - box.x0) * paper.column_mm / view_mm);
  const int h = int((box.y1 - box.y0) * paper.row_mm / view_mm);
  const int gap = 16;
  kembview::PaperImage image;
  image.dpi = kViewDpi;
  image.width = 2 * w + gap;
  image.height = h;
  if (w <= 0 || h <= 0) return "empty page";
  image.grey.assign(size_t(image.width) * h, 255);
  uint32_t jitter = 7;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const double x_mm = box.x0 * paper.column_mm + x * view_mm;
      const double y_mm = box.y0 * paper.row_mm + y * view_mm;
      const int px = std::min(width - 1, int(x_mm / paper.column_mm));
      const int py = int(y_mm / paper.row_mm);
      image.grey[size_t(y) * image.width + x] = uint8_t(
          std::lround(255 * Encoded(luminance[size_t(py) * width + px])));
      const double ink = paper.Cover(x_mm, y_mm, view_mm, view_mm, 3, jitter);
      image.grey[size_t(y) * image.width + w + gap + x] =
          uint8_t(std::lround(255 * Encoded(1 - ink)));
    }
  }
  return kembview::WriteGreyPng(image, path);
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
  std::string side_by_side;
  std::string side_by_side_of;  // ",1,3," or empty for every choice
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--eye-sigma-mm" && i + 1 < argc) {
      eye_sigma_mm = std::atof(argv[++i]);
      if (!(eye_sigma_mm > 0)) return 2;
    } else if (std::string(argv[i]) == "--side-by-side-of" && i + 1 < argc) {
      const std::string choices = argv[++i];
      side_by_side_of = "," + choices + ",";
    } else if (std::string(argv[i]) == "--side-by-side" && i + 1 < argc) {
      side_by_side = argv[++i];
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
  const double column_mm = 25.4 / header.HWResolution[0];
  const double row_mm = 25.4 / header.HWResolution[1];
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
  const Plane original = page;
  Blur(page, width, height, column_mm, row_mm, eye_sigma_mm);

  const kembview::Page text = Decode(files[1]);
  // Dark marks only: the text path also prints tints and light colours solid, which the
  // other choices rightly print as their tone.
  const double mid_grey = Linear(128 / 255.0);
  auto is_text = [&](int x, int y) {
    for (const Box& b : not_text) {
      if (x >= b.x0 && x < b.x1 && y >= b.y0 && y < b.y1) return false;
    }
    return text.Dot(x, y) && original[size_t(y) * width + x] <= mid_grey;
  };
  for (size_t f = 2; f < files.size(); ++f) {
    const kembview::Page print = Decode(files[f]);
    const Paper paper(print, column_mm, row_mm);
    Plane reflectance = PrintReflectance(paper, width, height);
    const double light_cover = LightCover(original, reflectance, width, height, paper);
    const std::string number = std::to_string(f - 2);
    if (!side_by_side.empty() &&
        (side_by_side_of.empty() || side_by_side_of.find("," + number + ",") != std::string::npos)) {
      const std::string problem = WriteSideBySide(
          side_by_side + number + ".png", original, width, content, paper);
      if (!problem.empty()) std::fprintf(stderr, "bench-quality: %s\n", problem.c_str());
    }
    Blur(reflectance, width, height, column_mm, row_mm, eye_sigma_mm);
    double error = 0, delta_l = 0;
    size_t counted = 0, light_black = 0;
    for (int y = content.y0; y < content.y1; ++y) {
      for (int x = content.x0; x < content.x1; ++x, ++counted) {
        const size_t i = size_t(y) * width + x;
        error += std::fabs(page[i] - reflectance[i]);
        const double seen = kemb::bench::LStar(page[i]), printed = kemb::bench::LStar(reflectance[i]);
        delta_l += std::fabs(seen - printed);
        light_black += seen >= 60 && printed <= 30;
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
    const double share = counted ? 1.0 / double(counted) : 0.0;
    std::printf("%.3f %.3f %zu %.1f %.3f %.3f\n", 100.0 * error * share,
                text_dots ? 100.0 * double(kept) / double(text_dots) : 100.0, text_dots,
                100.0 * light_cover, delta_l * share, 100.0 * double(light_black) * share);
    std::fflush(stdout);
  }
  return 0;
}
