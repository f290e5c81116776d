// SPDX-License-Identifier: Apache-2.0
// DotModel: how much paper one more dot inks, given the dots already decided round it.
//   kDotDiameterMm, kRowPitchMm   the printed dot and the row pitch it is placed at
//   DotModel(xres)                the neighbours a dot can overlap and the table of new ink
//   NewInk                        paper a dot inks that its decided neighbours left blank
//
// An impact dot is a disc of about 0.25 mm, wider than its grid cell (1/180 inch at
// 180 x 180 dpi, half that across at 360 x 180), so its ink depends on its neighbours: two
// dots side by side ink much less than twice one dot. The diffusion decides dots in scan
// order and counts each dot's ink as the part of its disc no earlier dot covers; summed
// over the page that is exactly the inked area, whatever the dot arrangement.
//
// Ink is counted in units of 1/kFullDot of the coverage of a solid print per cell, so a
// solid area asks for kFullDot per pixel at any resolution.
#pragma once

#include <cstdint>
#include <vector>

#include "tone_curve.h"

namespace kemb::halftone {

// A 0.20 mm needle through the ribbon leaves a dot of about 0.25 mm on the paper.
inline constexpr double kDotDiameterMm = 0.25;
// The program is told only the column pitch; rows are taken at the head's pin pitch,
// 1/180 inch. A dot then reaches into the row above and below, never further.
inline constexpr double kRowPitchMm = 25.4 / 180.0;

class DotModel {
 public:
  explicit DotModel(int xres);

  // The neighbours a dot at column x can overlap that are decided before it, in scan
  // direction: `behind` columns of its own row (x - 1 .. x - behind) and the row above from
  // x - reach to x + reach. The disc is symmetric, so leftward rows use the same table.
  int behind() const { return behind_; }
  int reach() const { return reach_; }

  // `pattern`: bit b < behind() is the dot b + 1 columns behind in this row; bit
  // behind() + b is the dot in the row above reach() - b columns ahead (bit behind() is the
  // farthest ahead, bit behind() + 2 reach() the farthest behind).
  int32_t NewInk(uint32_t pattern) const { return new_ink_[pattern]; }
  const int32_t* NewInkTable() const { return new_ink_.data(); }
  // The ink of a dot with no decided neighbour.
  int32_t LoneDot() const { return new_ink_[0]; }

 private:
  int behind_ = 0, reach_ = 0;
  std::vector<int32_t> new_ink_;
};

}  // namespace kemb::halftone
