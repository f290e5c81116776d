// SPDX-License-Identifier: Apache-2.0
// ErrorDiffuser: Floyd-Steinberg error diffusion with serpentine scanning, one row at a time.
//   ErrorDiffuser(columns)   holds the error received from the row above and a few row buffers
//   DiffuseRow               one row of targets -> one packed dot row; error carried down
//
// Weights: 7/16 to the next column of the row, 3/16, 5/16 and 1/16 to the columns behind,
// under and ahead in the next row. Even rows run left to right, odd rows right to left, so
// the error does not pile up on one side into diagonal worms.
//
// Forced targets (kForceDot, kForceBlank) print as forced and keep their own error: the
// difference between their tone and the forced dot is dropped, because passing it on
// would print a light ring round every dark glyph and a grey fringe into the paper round
// it. The error they receive from their neighbours they hand on unchanged, as paper
// white does: dropping that too would make every run of tone between forced pixels start
// afresh, and a light tint between close rules or letters would print no dots at all.
//
// Only the 7/16 carried along the row ties one column to the next. On processors with AVX2
// the carry alone runs column by column, through a table that folds in the threshold, the
// clamp and the weight, and everything else is done 8 columns at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kemb::halftone {

class ErrorDiffuser {
 public:
  explicit ErrorDiffuser(size_t columns);

  // `targets` holds one entry per column: a density 0..kFullDot or a forced target.
  // `dots` holds (columns + 7) / 8 bytes and is overwritten: bit set = dot, most
  // significant bit first, unused low bits of the last byte clear.
  void DiffuseRow(std::span<const int32_t> targets, std::span<uint8_t> dots);

 private:
  void DiffuseThroughShares(const int32_t* targets, size_t columns, uint8_t* dots);

  size_t columns_;
  // Column x lives at index x + 1 of each error buffer; entry 0 and the entries past the row
  // stay 0 between rows.
  std::vector<int32_t> received_;  // error from the row above, as the row uses it
  // Plain loop: the error the next row receives. AVX2 kernel: the 7/16 each column got from
  // the one before it.
  std::vector<int32_t> carried_;
  // AVX2 kernel: the shares of each column's error that the next row receives, 3/16 to the
  // column behind, 5/16 to the one under, the rest (about 1/16) to the one ahead.
  std::vector<int32_t> behind_below_, under_, ahead_below_;
  bool leftward_ = false;
};

}  // namespace kemb::halftone
