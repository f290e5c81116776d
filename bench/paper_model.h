// SPDX-License-Identifier: Apache-2.0
// The paper model of the print-quality benchmarks, as a reader holding the paper sees it:
//   kDotDiameterMm, kEyeSigmaMm   an impact dot through the ribbon; the eye at about 30 cm
//   Linear, Encoded, LStar         sRGB decoding and encoding; CIE L* of a relative luminance
//   DotGrid                        a dot grid's pitches and, per pixel, the share of it under
//                                  the discs of its neighbours' dots, tabled by their pattern
//   Gaussian, Blur                 a normalised kernel in pixels; the separable blur in mm,
//                                  edges clamped
//   MeanDeltaL                     mean |delta L*| of two blurred reflectance planes
// Dots are discs centred on their cells; overlapping discs ink their union.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kemb::bench {

inline constexpr double kDotDiameterMm = 0.25;
inline constexpr double kEyeSigmaMm = 0.2;

double Linear(double encoded);  // 0..1 both
double Encoded(double linear);  // 0..1 both, clamped
double LStar(double luminance);  // 0..100

using Plane = std::vector<double>;

class DotGrid {
 public:
  DotGrid(int xdpi, int ydpi);

  int xdpi() const { return xdpi_; }
  int ydpi() const { return ydpi_; }
  double column_mm() const { return column_mm_; }
  double row_mm() const { return row_mm_; }
  // Dots of pixel (x, y)'s neighbours that can reach it, as bits of a pattern.
  int reach_x() const { return reach_x_; }
  int reach_y() const { return reach_y_; }
  // The pattern round (x, y) of a width x height dot image (1 = dot; outside: none).
  unsigned Pattern(const uint8_t* dots, int width, int height, int x, int y) const;
  // The inked share of a pixel whose neighbours' dots make `pattern`.
  double Cover(unsigned pattern) const { return cover_[pattern]; }
  // Reflectance of every pixel: 1 - its inked share.
  Plane Reflectance(const uint8_t* dots, int width, int height) const;

 private:
  int xdpi_, ydpi_;
  double column_mm_, row_mm_;
  int reach_x_, reach_y_;
  std::vector<double> cover_;
};

// Normalised, radius 3 sigma.
std::vector<double> Gaussian(double sigma_px);
// sigma in mm, pixels column_mm x row_mm.
void Blur(Plane& plane, int width, int height, double column_mm, double row_mm,
          double sigma_mm = kEyeSigmaMm);
// Over the pixels at least margin_x, margin_y in from the edges.
double MeanDeltaL(const Plane& a, const Plane& b, int width, int height, int margin_x,
                  int margin_y);

}  // namespace kemb::bench
