// SPDX-License-Identifier: Apache-2.0
// The paper model: colour measures, the disc coverage table, the blur, the L* difference.
#include "paper_model.h"

#include <algorithm>
#include <cmath>

namespace kemb::bench {
namespace {

constexpr int kSamples = 8;  // per pixel side, on a fixed grid

}  // namespace

std::vector<double> Gaussian(double sigma_px) {
  const int radius = static_cast<int>(std::ceil(3 * sigma_px));
  std::vector<double> kernel(2 * size_t(radius) + 1);
  double sum = 0;
  for (int i = -radius; i <= radius; ++i) {
    kernel[size_t(i + radius)] = std::exp(-0.5 * i * i / (sigma_px * sigma_px));
    sum += kernel[size_t(i + radius)];
  }
  for (double& k : kernel) k /= sum;
  return kernel;
}

double Linear(double v) {
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

double Encoded(double linear) {
  linear = std::clamp(linear, 0.0, 1.0);
  return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

double LStar(double y) {
  y = std::clamp(y, 0.0, 1.0);
  const double f = y > 216.0 / 24389 ? std::cbrt(y) : (24389.0 / 27 * y + 16) / 116;
  return 116 * f - 16;
}

DotGrid::DotGrid(int xdpi, int ydpi)
    : xdpi_(xdpi), ydpi_(ydpi), column_mm_(25.4 / xdpi), row_mm_(25.4 / ydpi) {
  const double r = kDotDiameterMm / 2;
  reach_x_ = int(std::floor(r / column_mm_ + 0.5));
  reach_y_ = int(std::floor(r / row_mm_ + 0.5));
  const int across = 2 * reach_x_ + 1, down = 2 * reach_y_ + 1;
  const int bits = across * down;
  // For each sample point of a pixel, the neighbours whose disc holds it.
  std::vector<unsigned> held;
  for (int j = 0; j < kSamples; ++j) {
    for (int i = 0; i < kSamples; ++i) {
      const double sx = ((i + 0.5) / kSamples - 0.5) * column_mm_;
      const double sy = ((j + 0.5) / kSamples - 0.5) * row_mm_;
      unsigned mask = 0;
      for (int dy = -reach_y_; dy <= reach_y_; ++dy) {
        for (int dx = -reach_x_; dx <= reach_x_; ++dx) {
          const double ex = sx - dx * column_mm_, ey = sy - dy * row_mm_;
          if (ex * ex + ey * ey < r * r) mask |= 1u << ((dy + reach_y_) * across + dx + reach_x_);
        }
      }
      held.push_back(mask);
    }
  }
  cover_.resize(size_t{1} << bits);
  for (unsigned pattern = 0; pattern < cover_.size(); ++pattern) {
    int inked = 0;
    for (unsigned mask : held) inked += (mask & pattern) != 0;
    cover_[pattern] = double(inked) / double(held.size());
  }
}

unsigned DotGrid::Pattern(const uint8_t* dots, int width, int height, int x, int y) const {
  unsigned pattern = 0, bit = 1;
  for (int dy = -reach_y_; dy <= reach_y_; ++dy) {
    for (int dx = -reach_x_; dx <= reach_x_; ++dx, bit <<= 1) {
      const int xx = x + dx, yy = y + dy;
      if (xx >= 0 && yy >= 0 && xx < width && yy < height && dots[size_t(yy) * width + xx]) {
        pattern |= bit;
      }
    }
  }
  return pattern;
}

Plane DotGrid::Reflectance(const uint8_t* dots, int width, int height) const {
  Plane plane(size_t(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      plane[size_t(y) * width + x] = 1 - Cover(Pattern(dots, width, height, x, y));
    }
  }
  return plane;
}

void Blur(Plane& plane, int width, int height, double column_mm, double row_mm,
          double sigma_mm) {
  const std::vector<double> kx = Gaussian(sigma_mm / column_mm), ky = Gaussian(sigma_mm / row_mm);
  const int rx = int(kx.size() / 2), ry = int(ky.size() / 2);
  Plane tmp(plane.size());
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      double v = 0;
      for (int i = -rx; i <= rx; ++i) {
        v += kx[size_t(i + rx)] * plane[size_t(y) * width + std::clamp(x + i, 0, width - 1)];
      }
      tmp[size_t(y) * width + x] = v;
    }
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      double v = 0;
      for (int i = -ry; i <= ry; ++i) {
        v += ky[size_t(i + ry)] * tmp[size_t(std::clamp(y + i, 0, height - 1)) * width + x];
      }
      plane[size_t(y) * width + x] = v;
    }
  }
}

double MeanDeltaL(const Plane& a, const Plane& b, int width, int height, int margin_x,
                  int margin_y) {
  double sum = 0;
  size_t n = 0;
  for (int y = margin_y; y < height - margin_y; ++y) {
    for (int x = margin_x; x < width - margin_x; ++x) {
      sum += std::abs(LStar(a[size_t(y) * width + x]) - LStar(b[size_t(y) * width + x]));
      ++n;
    }
  }
  return n ? sum / double(n) : 0;
}

}  // namespace kemb::bench
