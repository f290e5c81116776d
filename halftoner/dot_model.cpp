// SPDX-License-Identifier: Apache-2.0
// DotModel: the table of new ink, by sampling one disc.
//   SolidCoverage   the share of a cell a solid print inks (1 unless the columns are apart)
//   DotModel        picks the neighbours, then counts the disc's samples no neighbour covers
#include "dot_model.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>

namespace kemb::halftone {
namespace {

constexpr double kRadiusMm = kDotDiameterMm / 2;
constexpr int kSamples = 96;        // per side of the square round one disc
constexpr int kMaxPatternBits = 14;  // beyond this the farthest neighbours are left out
static_assert(kRowPitchMm < kDotDiameterMm, "a dot reaches the row above");

bool Covers(double cx, double cy, double x, double y) {
  return (x - cx) * (x - cx) + (y - cy) * (y - cy) < kRadiusMm * kRadiusMm;
}

double SolidCoverage(double column_mm) {
  const int columns = static_cast<int>(std::ceil(kDotDiameterMm / column_mm)) + 1;
  int inked = 0;
  for (int i = 0; i < kSamples; ++i) {
    for (int j = 0; j < kSamples; ++j) {
      const double x = ((i + 0.5) / kSamples - 0.5) * column_mm;
      const double y = ((j + 0.5) / kSamples - 0.5) * kRowPitchMm;
      bool any = false;
      for (int dy = -1; dy <= 1 && !any; ++dy) {
        for (int dx = -columns; dx <= columns && !any; ++dx) {
          any = Covers(dx * column_mm, dy * kRowPitchMm, x, y);
        }
      }
      inked += any;
    }
  }
  return static_cast<double>(inked) / (kSamples * kSamples);
}

}  // namespace

DotModel::DotModel(int xres) {
  const double column_mm = 25.4 / std::max(xres, 1);
  const double reach_above = std::sqrt(kDotDiameterMm * kDotDiameterMm - kRowPitchMm * kRowPitchMm);
  behind_ = static_cast<int>(std::ceil(kDotDiameterMm / column_mm)) - 1;
  reach_ = static_cast<int>(std::ceil(reach_above / column_mm)) - 1;
  while (behind_ + 2 * reach_ + 1 > kMaxPatternBits) {
    const double far_behind = behind_ * column_mm;
    const double far_above = std::hypot(reach_ * column_mm, kRowPitchMm);
    (far_behind >= far_above ? behind_ : reach_) -= 1;
  }
  const int bits = behind_ + 2 * reach_ + 1;

  // Which neighbours cover each sample of the disc, counted by that set.
  std::map<uint32_t, int> samples_by_cover;
  int inside = 0;
  for (int i = 0; i < kSamples; ++i) {
    for (int j = 0; j < kSamples; ++j) {
      const double x = ((i + 0.5) / kSamples * 2 - 1) * kRadiusMm;
      const double y = ((j + 0.5) / kSamples * 2 - 1) * kRadiusMm;
      if (!Covers(0, 0, x, y)) continue;
      ++inside;
      uint32_t cover = 0;
      for (int b = 0; b < behind_; ++b) {
        if (Covers(-(b + 1) * column_mm, 0, x, y)) cover |= 1u << b;
      }
      for (int b = 0; b <= 2 * reach_; ++b) {
        if (Covers((reach_ - b) * column_mm, -kRowPitchMm, x, y)) cover |= 1u << (behind_ + b);
      }
      ++samples_by_cover[cover];
    }
  }

  const double disc_cells =
      std::numbers::pi * kRadiusMm * kRadiusMm / (column_mm * kRowPitchMm);
  const double units_per_sample = disc_cells / SolidCoverage(column_mm) * kFullDot / inside;
  new_ink_.resize(size_t{1} << bits);
  for (uint32_t pattern = 0; pattern < new_ink_.size(); ++pattern) {
    int blank = 0;
    for (const auto& [cover, count] : samples_by_cover) {
      if ((cover & pattern) == 0) blank += count;
    }
    new_ink_[pattern] = static_cast<int32_t>(std::lround(blank * units_per_sample));
  }
}

}  // namespace kemb::halftone
