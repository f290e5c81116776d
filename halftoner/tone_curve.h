// SPDX-License-Identifier: Apache-2.0
// ToneCurve: how dense the dots must be for a grey to print as that grey with an impact
// dot that is bigger than its grid cell.
//   kFullDot                        one dot in the fixed-point units of the diffusion
//   kDotDiameterMm, kRowPitchMm     the numbers of the dot gain model
//   DotGain                         k: printed dot area over cell area at a column pitch
//   PrintedCoverage / DensityFor    the model (coverage of a dot density) and its inverse
//   TargetCoverage                  the ink coverage a lightness value stands for
//   ToneCurve::Density              table: lightness 0..255 -> dot density in kFullDot units
#pragma once

#include <array>
#include <cstdint>

namespace kemb::halftone {

// Dot densities and diffused errors are integers in units of 1/kFullDot dot.
inline constexpr int32_t kFullDot = 1 << 12;

// A 0.20 mm needle through the ribbon leaves a dot of about 0.25 mm on the paper.
inline constexpr double kDotDiameterMm = 0.25;
// The program is told only the column pitch; rows are taken at the head's pin pitch,
// 1/180 inch.
inline constexpr double kRowPitchMm = 25.4 / 180.0;

// How many dot-sized areas a grid cell holds: pi d^2 / 4 over (column pitch x row pitch),
// never below 1 (a dot smaller than its cell adds no gain; the solid print is black).
double DotGain(int xres);

// Share of the paper covered when a share `density` of the cells gets a dot. Each point of
// the paper lies under k dot footprints on average, and it stays paper only if none of
// them is printed: coverage = 1 - (1 - density)^k.
double PrintedCoverage(double density, double gain);
// The density whose printed coverage is `coverage`: 1 - (1 - coverage)^(1/k).
double DensityFor(double coverage, double gain);

// A pixel value is sRGB-encoded lightness; the print reflects 1 - coverage of the light,
// so the coverage that prints value v is 1 - linear(v).
double TargetCoverage(int lightness);

class ToneCurve {
 public:
  explicit ToneCurve(int xres);

  double gain() const { return gain_; }
  // Exactly 0 for 255 and kFullDot for 0, and strictly between for every other value,
  // so paper white never gets a dot and black never misses one.
  int32_t Density(uint8_t lightness) const { return table_[lightness]; }

 private:
  double gain_;
  std::array<int32_t, 256> table_;
};

}  // namespace kemb::halftone
