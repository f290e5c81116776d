// SPDX-License-Identifier: Apache-2.0
// bench-dbs: the floor a halftone can reach on paper, by direct binary search, beside the
// halftones given to it.
//
//   bench-dbs IMAGE.ppm XDPI YDPI DOTS.pbm... [--start N] [--passes N] [--margin-mm M]
//             [--png OUT.png] [--dbs-out DBS.pbm]
//
// IMAGE.ppm is a tint or a crop at the dot grid's resolution, each DOTS.pbm a halftone of it
// (kemb_ID's). One line per DOTS.pbm and a last one for the search: "mean_delta_L signed_L",
// the mean |delta L*| and the mean delta L* of the print against the original on the paper
// model (paper_model.h), over the pixels at least --margin-mm (1) in from the edges.
// The search starts from DOTS.pbm number --start (from 0; default 0) and, pixel after pixel, toggles the dot or swaps it
// with a differing neighbour when that lowers the squared difference of the blurred print's
// and the blurred original's reflectance; it stops after a pass without a change, or --passes
// (12). The blurred error's correlation with the blur is kept per pixel, so each trial costs
// only the pixels whose coverage it changes. --png writes original | each DOTS.pbm | the search
// on paper at 360 dpi; --dbs-out the search's dots.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "page_image_file.h"
#include "paper_model.h"
#include "paper_view.h"
#include "stream_decoder.h"

namespace {

using kemb::bench::DotGrid;
using kemb::bench::Plane;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "ERROR: bench-dbs: %s\n", what.c_str());
  std::exit(1);
}

struct Image {
  int width = 0, height = 0;
  std::vector<uint8_t> bytes;  // RGB for a PPM, one per dot for a PBM
};

// A binary PPM (P6, maxval 255) or PBM (P4) without comments.
Image Read(const std::string& path, const char* magic) {
  std::ifstream in(path, std::ios::binary);
  std::string m;
  Image image;
  in >> m >> image.width >> image.height;
  if (!in || m != magic || image.width <= 0 || image.height <= 0 || image.width > 20000 ||
      image.height > 20000) {
    Fail(path + " is no " + magic + " image");
  }
  const bool ppm = m == "P6";
  if (ppm) {
    int maxval = 0;
    in >> maxval;
    if (maxval != 255) Fail(path + ": maxval is not 255");
  }
  in.get();
  const size_t w = size_t(image.width), h = size_t(image.height);
  const size_t row = ppm ? 3 * w : (w + 7) / 8;
  std::vector<uint8_t> raw(row * h);
  in.read(reinterpret_cast<char*>(raw.data()), std::streamsize(raw.size()));
  if (in.gcount() != std::streamsize(raw.size())) Fail(path + " ends early");
  if (ppm) {
    image.bytes = std::move(raw);
  } else {
    image.bytes.resize(w * h);
    for (size_t y = 0; y < h; ++y) {
      for (size_t x = 0; x < w; ++x) image.bytes[y * w + x] = (raw[y * row + x / 8] >> (7 - x % 8)) & 1;
    }
  }
  return image;
}

// 1D autocorrelation of a normalised Gaussian of sigma_px, centred.
std::vector<double> Autocorrelation(double sigma_px) {
  const std::vector<double> g = kemb::bench::Gaussian(sigma_px);
  const int radius = int(g.size() / 2);
  std::vector<double> c(4 * size_t(radius) + 1, 0.0);
  for (int d = -2 * radius; d <= 2 * radius; ++d) {
    for (int i = -radius; i <= radius; ++i) {
      const int j = i + d;
      if (j >= -radius && j <= radius) c[size_t(d + 2 * radius)] += g[size_t(i + radius)] * g[size_t(j + radius)];
    }
  }
  return c;
}

class Search {
 public:
  Search(const DotGrid& grid, const Plane& target, std::vector<uint8_t> dots, int width, int height)
      : grid_(grid), target_(target), dots_(std::move(dots)), w_(width), h_(height),
        cx_(Autocorrelation(kemb::bench::kEyeSigmaMm / grid.column_mm())),
        cy_(Autocorrelation(kemb::bench::kEyeSigmaMm / grid.row_mm())),
        rx_(int(cx_.size() / 2)), ry_(int(cy_.size() / 2)) {
    refl_ = grid_.Reflectance(dots_.data(), w_, h_);
    // cep = (print - original) correlated with the blur's autocorrelation, zero outside.
    Plane tmp(refl_.size(), 0.0);
    cep_.assign(refl_.size(), 0.0);
    for (int y = 0; y < h_; ++y) {
      for (int x = 0; x < w_; ++x) {
        double v = 0;
        for (int i = -rx_; i <= rx_; ++i) {
          const int xx = x + i;
          if (xx >= 0 && xx < w_) v += cx_[size_t(i + rx_)] * Error(xx, y);
        }
        tmp[At(x, y)] = v;
      }
    }
    for (int y = 0; y < h_; ++y) {
      for (int x = 0; x < w_; ++x) {
        double v = 0;
        for (int i = -ry_; i <= ry_; ++i) {
          const int yy = y + i;
          if (yy >= 0 && yy < h_) v += cy_[size_t(i + ry_)] * tmp[At(x, yy)];
        }
        cep_[At(x, y)] = v;
      }
    }
  }

  // One pass over every pixel; the number of changes made.
  size_t Pass() {
    size_t changes = 0;
    for (int y = 0; y < h_; ++y) {
      for (int x = 0; x < w_; ++x) {
        double best = -1e-12;
        int best_x = -1, best_y = -1;
        Try(x, y, x, y, &best, &best_x, &best_y);
        for (int dy = -1; dy <= 1; ++dy) {
          for (int dx = -1; dx <= 1; ++dx) {
            const int nx = x + dx, ny = y + dy;
            if ((dx || dy) && nx >= 0 && ny >= 0 && nx < w_ && ny < h_ &&
                dots_[At(nx, ny)] != dots_[At(x, y)]) {
              Try(x, y, nx, ny, &best, &best_x, &best_y);
            }
          }
        }
        if (best_x >= 0) {
          Apply(x, y, best_x, best_y);
          ++changes;
        }
      }
    }
    return changes;
  }

  const std::vector<uint8_t>& dots() const { return dots_; }

 private:
  size_t At(int x, int y) const { return size_t(y) * size_t(w_) + size_t(x); }
  double Error(int x, int y) const { return refl_[At(x, y)] - target_[At(x, y)]; }
  double Cgg(int dx, int dy) const {
    if (std::abs(dx) > rx_ || std::abs(dy) > ry_) return 0;
    return cx_[size_t(dx + rx_)] * cy_[size_t(dy + ry_)];
  }

  // The pixels whose reflectance the change at (x0, y0) and (x1, y1) alters, with the change.
  void Changes(int x0, int y0, int x1, int y1) {
    changed_.clear();
    const bool swap = x0 != x1 || y0 != y1;
    dots_[At(x0, y0)] ^= 1;
    if (swap) dots_[At(x1, y1)] ^= 1;
    const int ax = std::max(0, std::min(x0, x1) - grid_.reach_x());
    const int bx = std::min(w_ - 1, std::max(x0, x1) + grid_.reach_x());
    const int ay = std::max(0, std::min(y0, y1) - grid_.reach_y());
    const int by = std::min(h_ - 1, std::max(y0, y1) + grid_.reach_y());
    for (int y = ay; y <= by; ++y) {
      for (int x = ax; x <= bx; ++x) {
        const double r = 1 - grid_.Cover(grid_.Pattern(dots_.data(), w_, h_, x, y));
        const double d = r - refl_[At(x, y)];
        if (d != 0) changed_.push_back({x, y, d});
      }
    }
    dots_[At(x0, y0)] ^= 1;
    if (swap) dots_[At(x1, y1)] ^= 1;
  }

  void Try(int x0, int y0, int x1, int y1, double* best, int* best_x, int* best_y) {
    Changes(x0, y0, x1, y1);
    double delta = 0;
    for (const Change& a : changed_) {
      delta += 2 * a.d * cep_[At(a.x, a.y)];
      for (const Change& b : changed_) delta += a.d * b.d * Cgg(a.x - b.x, a.y - b.y);
    }
    if (delta < *best) {
      *best = delta;
      *best_x = x1;
      *best_y = y1;
    }
  }

  void Apply(int x0, int y0, int x1, int y1) {
    Changes(x0, y0, x1, y1);
    dots_[At(x0, y0)] ^= 1;
    if (x0 != x1 || y0 != y1) dots_[At(x1, y1)] ^= 1;
    for (const Change& c : changed_) {
      refl_[At(c.x, c.y)] += c.d;
      for (int y = std::max(0, c.y - ry_); y <= std::min(h_ - 1, c.y + ry_); ++y) {
        for (int x = std::max(0, c.x - rx_); x <= std::min(w_ - 1, c.x + rx_); ++x) {
          cep_[At(x, y)] += c.d * Cgg(x - c.x, y - c.y);
        }
      }
    }
  }

  struct Change {
    int x, y;
    double d;
  };
  const DotGrid& grid_;
  const Plane& target_;
  std::vector<uint8_t> dots_;
  int w_, h_;
  std::vector<double> cx_, cy_;
  int rx_, ry_;
  Plane refl_, cep_;
  std::vector<Change> changed_;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> pbms;
  std::string image_path, png, dbs_out;
  int xdpi = 0, ydpi = 0, passes = 12, start = 0;
  double margin_mm = 1.0;
  std::vector<std::string> plain;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Fail(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--start") {
      start = std::atoi(value().c_str());
    } else if (arg == "--passes") {
      passes = std::atoi(value().c_str());
    } else if (arg == "--margin-mm") {
      margin_mm = std::atof(value().c_str());
    } else if (arg == "--png") {
      png = value();
    } else if (arg == "--dbs-out") {
      dbs_out = value();
    } else {
      plain.push_back(arg);
    }
  }
  if (plain.size() < 4) {
    Fail("usage: bench-dbs IMAGE.ppm XDPI YDPI DOTS.pbm... [--start N] [--passes N] "
         "[--margin-mm M] [--png OUT.png] [--dbs-out DBS.pbm]");
  }
  image_path = plain[0];
  xdpi = std::atoi(plain[1].c_str());
  ydpi = std::atoi(plain[2].c_str());
  if (xdpi < 30 || xdpi > 720 || ydpi < 30 || ydpi > 720) Fail("a resolution out of 30..720");
  pbms.assign(plain.begin() + 3, plain.end());
  if (start < 0 || size_t(start) >= pbms.size()) Fail("--start names no DOTS.pbm");

  const Image image = Read(image_path, "P6");
  const int w = image.width, h = image.height;
  const DotGrid grid(xdpi, ydpi);
  Plane target(size_t(w) * h);
  for (size_t i = 0; i < target.size(); ++i) {
    const uint8_t* p = &image.bytes[3 * i];
    target[i] = 0.2126 * kemb::bench::Linear(p[0] / 255.0) +
                0.7152 * kemb::bench::Linear(p[1] / 255.0) +
                0.0722 * kemb::bench::Linear(p[2] / 255.0);
  }
  Plane seen = target;
  kemb::bench::Blur(seen, w, h, grid.column_mm(), grid.row_mm());
  const int mx = int(std::lround(margin_mm / grid.column_mm()));
  const int my = int(std::lround(margin_mm / grid.row_mm()));

  auto measure = [&](const std::vector<uint8_t>& dots) {
    Plane print = grid.Reflectance(dots.data(), w, h);
    kemb::bench::Blur(print, w, h, grid.column_mm(), grid.row_mm());
    double signed_sum = 0;
    size_t n = 0;
    for (int y = my; y < h - my; ++y) {
      for (int x = mx; x < w - mx; ++x) {
        const size_t i = size_t(y) * w + x;
        signed_sum += kemb::bench::LStar(print[i]) - kemb::bench::LStar(seen[i]);
        ++n;
      }
    }
    std::printf("%.3f %.3f\n", kemb::bench::MeanDeltaL(print, seen, w, h, mx, my),
                n ? signed_sum / double(n) : 0.0);
  };

  std::vector<std::vector<uint8_t>> halftones;
  for (const std::string& path : pbms) {
    Image dots = Read(path, "P4");
    std::vector<uint8_t> fitted(size_t(w) * h, 0);
    for (int y = 0; y < std::min(h, dots.height); ++y) {
      for (int x = 0; x < std::min(w, dots.width); ++x) {
        fitted[size_t(y) * w + x] = dots.bytes[size_t(y) * dots.width + x];
      }
    }
    measure(fitted);
    halftones.push_back(std::move(fitted));
  }
  Search search(grid, target, halftones[size_t(start)], w, h);
  for (int pass = 0; pass < passes && search.Pass() > 0; ++pass) {
  }
  measure(search.dots());
  halftones.push_back(search.dots());

  if (!dbs_out.empty()) {
    std::ofstream out(dbs_out, std::ios::binary);
    out << "P4\n" << w << " " << h << "\n";
    const size_t row = (size_t(w) + 7) / 8;
    for (int y = 0; y < h; ++y) {
      std::vector<uint8_t> bytes(row, 0);
      for (int x = 0; x < w; ++x) {
        if (search.dots()[size_t(y) * w + x]) bytes[size_t(x) / 8] |= uint8_t(0x80 >> (x % 8));
      }
      out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(row));
    }
  }
  if (!png.empty()) {
    // original | each halftone | the search, on paper at 360 dpi.
    const int dpi = kembview::kPaperDpi, gap = 16;
    const int vw = int(std::ceil(double(w) * dpi / xdpi)) + 1;
    const int vh = int(std::ceil(double(h) * dpi / ydpi)) + 1;
    kembview::PaperImage sheet;
    sheet.width = int(halftones.size() + 1) * (vw + gap) - gap;
    sheet.height = vh;
    sheet.grey.assign(size_t(sheet.width) * vh, 255);
    for (int y = 0; y < vh; ++y) {
      for (int x = 0; x < vw; ++x) {
        const int px = std::min(w - 1, x * xdpi / dpi), py = std::min(h - 1, y * ydpi / dpi);
        sheet.grey[size_t(y) * sheet.width + x] =
            uint8_t(std::lround(255 * kemb::bench::Encoded(target[size_t(py) * w + px])));
      }
    }
    for (size_t n = 0; n < halftones.size(); ++n) {
      kembview::Page page;
      page.xdpi = xdpi;
      page.ydpi = ydpi;
      page.width = w;
      page.height = h;
      page.dots = halftones[n];
      kembview::PaperImage view;
      if (std::string e = kembview::PaperView(page, kemb::bench::kDotDiameterMm, view); !e.empty()) Fail(e);
      const int left = int(n + 1) * (vw + gap);
      for (int y = 0; y < std::min(vh, view.height); ++y) {
        for (int x = 0; x < std::min(vw, view.width); ++x) {
          sheet.grey[size_t(y) * sheet.width + left + x] = view.grey[size_t(y) * view.width + x];
        }
      }
    }
    if (std::string e = kembview::WriteGreyPng(sheet, png); !e.empty()) Fail(e);
  }
  return 0;
}
