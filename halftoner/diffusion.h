// ErrorDiffuser: Floyd-Steinberg error diffusion with serpentine scanning, one row at a time.
//   ErrorDiffuser(columns)   holds two rows of error terms and nothing else
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
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kemb {

class ErrorDiffuser {
 public:
  explicit ErrorDiffuser(size_t columns);

  // `targets` holds one entry per column: a density 0..kFullDot or a forced target.
  // `dots` holds (columns + 7) / 8 bytes and is overwritten: bit set = dot, most
  // significant bit first, unused low bits of the last byte clear.
  void DiffuseRow(std::span<const int32_t> targets, std::span<uint8_t> dots);

 private:
  size_t columns_;
  // Column x lives at index x + 1; the guard entries at both ends take the error that
  // falls off the page.
  std::vector<int32_t> this_row_;
  std::vector<int32_t> next_row_;
  bool leftward_ = false;
};

}  // namespace kemb
