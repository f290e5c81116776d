// ErrorDiffuser: the row loop, written once per scan direction.
//   DiffuseColumns<step>   one pass over the row in the given direction
//   DiffuseRow             picks the direction, then swaps the error rows
#include "diffusion.h"

#include <algorithm>
#include <cstring>

#include "dot_targets.h"
#include "tone_curve.h"

namespace kemb {
namespace {

constexpr int32_t kHalfDot = kFullDot / 2;

// `here` and `below` point at column 0 of the error rows (one past the guard entry).
template <int kStep>
void DiffuseColumns(const int32_t* targets, uint8_t* dots, int32_t* here, int32_t* below,
                    size_t columns) {
  std::ptrdiff_t x = kStep > 0 ? 0 : static_cast<std::ptrdiff_t>(columns) - 1;
  for (size_t n = 0; n < columns; ++n, x += kStep) {
    const int32_t target = targets[x];
    bool dot;
    int32_t error;
    if (target == kForceDot || target == kForceBlank) {
      dot = target == kForceDot;
      error = here[x];
    } else {
      const int32_t value = target + here[x];
      // The ends of the range are exact: rounding in the weights must never put a dot on
      // paper white or take one out of solid black.
      dot = target == kFullDot || (target != 0 && value >= kHalfDot);
      error = value - (dot ? kFullDot : 0);
    }
    // Clamping keeps the error bounded where the ends were pinned against it.
    error = std::clamp(error, -kHalfDot, kHalfDot);
    const int32_t ahead = error * 7 / 16;
    const int32_t behind_below = error * 3 / 16;
    const int32_t under = error * 5 / 16;
    here[x + kStep] += ahead;
    below[x - kStep] += behind_below;
    below[x] += under;
    below[x + kStep] += error - ahead - behind_below - under;
    if (dot) dots[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
  }
}

}  // namespace

ErrorDiffuser::ErrorDiffuser(size_t columns)
    : columns_(columns), this_row_(columns + 2, 0), next_row_(columns + 2, 0) {}

void ErrorDiffuser::DiffuseRow(std::span<const int32_t> targets, std::span<uint8_t> dots) {
  std::memset(dots.data(), 0, dots.size());
  // Short spans shorten the row rather than run past them.
  const size_t columns = std::min({columns_, targets.size(), dots.size() * 8});
  int32_t* here = this_row_.data() + 1;
  int32_t* below = next_row_.data() + 1;
  if (leftward_) {
    DiffuseColumns<-1>(targets.data(), dots.data(), here, below, columns);
  } else {
    DiffuseColumns<1>(targets.data(), dots.data(), here, below, columns);
  }
  leftward_ = !leftward_;
  this_row_.swap(next_row_);
  std::fill(next_row_.begin(), next_row_.end(), 0);
}

}  // namespace kemb
