// SPDX-License-Identifier: Apache-2.0
// verify_diffusion: ErrorDiffuser against the diffusion written out plainly, one column
// at a time, on random pages of every kind of target: tones, paper, solid, forced pixels,
// targets outside the range, tones chosen to drive the error to its clamp, and rows shorter
// than the page. Prints the first differing row and exits 1, or a summary and exits 0. CTest
// runs it twice: with the AVX2 kernel where the processor has it, and with
// KEMB_PORTABLE_LOOPS=1 for the plain loop.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <span>
#include <vector>

#include "diffusion.h"
#include "dot_targets.h"
#include "tone_curve.h"

namespace {

using kemb::halftone::kForceBlank;
using kemb::halftone::kForceDot;
using kemb::halftone::kFullDot;

// The rules, column by column: serpentine Floyd-Steinberg, integer sixteenths rounded toward
// zero with the remainder ahead below, error clamped to half a dot, forced pixels keep theirs.
class PlainDiffuser {
 public:
  explicit PlainDiffuser(size_t columns) : here_(columns + 2), below_(columns + 2) {}

  std::vector<uint8_t> Row(const std::vector<int32_t>& targets, size_t dot_bytes) {
    const size_t columns = std::min({here_.size() - 2, targets.size(), dot_bytes * 8});
    std::vector<uint8_t> dots(dot_bytes, 0);
    const int step = leftward_ ? -1 : 1;
    for (size_t n = 0; n < columns; ++n) {
      const size_t x = leftward_ ? columns - 1 - n : n;
      const int32_t t = targets[x];
      int32_t* here = &here_[x + 1];
      bool dot;
      int32_t error;
      if (t == kForceDot || t == kForceBlank) {
        dot = t == kForceDot;
        error = *here;
      } else {
        const int32_t value = t + *here;
        dot = t == kFullDot || (t != 0 && value >= kFullDot / 2);
        error = value - (dot ? kFullDot : 0);
      }
      error = std::clamp(error, -kFullDot / 2, kFullDot / 2);
      const int32_t ahead = error * 7 / 16, behind = error * 3 / 16, under = error * 5 / 16;
      here[step] += ahead;
      below_[x + 1 - step] += behind;
      below_[x + 1] += under;
      below_[x + 1 + step] += error - ahead - behind - under;
      if (dot) dots[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
    here_.swap(below_);
    std::fill(below_.begin(), below_.end(), 0);
    leftward_ = !leftward_;
    return dots;
  }

 private:
  std::vector<int32_t> here_, below_;
  bool leftward_ = false;
};

int failures = 0;

void ComparePage(const char* what, size_t columns, const std::vector<std::vector<int32_t>>& page,
                 const std::vector<size_t>& dot_bytes) {
  kemb::halftone::ErrorDiffuser fast(columns);
  PlainDiffuser plain(columns);
  for (size_t y = 0; y < page.size(); ++y) {
    std::vector<uint8_t> dots(dot_bytes[y], 0xA5);
    fast.DiffuseRow(page[y], dots);
    const std::vector<uint8_t> want = plain.Row(page[y], dot_bytes[y]);
    if (dots != want) {
      size_t at = 0;
      while (dots[at] == want[at]) ++at;
      if (failures++ < 10) {
        std::printf("FAIL %s: %zu columns, row %zu, dot byte %zu: %02X, want %02X\n", what, columns,
                    y, at, dots[at], want[at]);
      }
      return;
    }
  }
}

}  // namespace

int main() {
  std::mt19937 rng(1234);
  auto pick = [&](int32_t low, int32_t high) {
    return std::uniform_int_distribution<int32_t>(low, high)(rng);
  };
  const kemb::halftone::ToneCurve curve(180);
  int pages = 0;
  for (size_t columns : {1, 2, 7, 8, 9, 15, 16, 17, 31, 33, 64, 100, 203, 640, 1487}) {
    for (int kind = 0; kind < 7; ++kind) {
      const size_t rows = columns > 600 ? 40 : 120;
      std::vector<std::vector<int32_t>> page(rows, std::vector<int32_t>(columns));
      std::vector<size_t> dot_bytes(rows, (columns + 7) / 8);
      for (size_t y = 0; y < rows; ++y) {
        for (size_t x = 0; x < columns; ++x) {
          int32_t& t = page[y][x];
          switch (kind) {
            case 0:
              t = pick(0, kFullDot);
              break;   // any density
            case 1: {  // paper, solid, forced and tones mixed
              const int32_t ends[] = {0, kFullDot, kForceBlank, kForceDot};
              t = pick(0, 2) == 0 ? pick(1, kFullDot - 1) : ends[pick(0, 3)];
              break;
            }
            case 2:  // tones right at the threshold, which swing the error furthest
              t = pick(0, 1) ? pick(1, 40) : pick(kFullDot - 40, kFullDot - 1);
              break;
            case 3:
              t = curve.Density(static_cast<uint8_t>(pick(0, 255)));
              break;
            case 4:  // forced runs with tone between
              t = (x / 5 + y) % 3 == 0 ? (y % 2 ? kForceDot : kForceBlank) : pick(1, 200);
              break;
            case 5:  // now and then a target outside the range
              t = pick(0, 50) == 0 ? pick(-100000, 100000) : pick(0, kFullDot);
              break;
            default:  // rows cut short by a smaller dot buffer
              t = pick(0, kFullDot);
              dot_bytes[y] = static_cast<size_t>(pick(0, static_cast<int32_t>((columns + 7) / 8)));
          }
        }
      }
      const char* names[] = {"densities",   "ends and forced",   "near threshold", "tone curve",
                             "forced runs", "outside the range", "short rows"};
      ComparePage(names[kind], columns, page, dot_bytes);
      ++pages;
    }
  }
  if (failures != 0) {
    std::printf("verify_diffusion: %d pages differ\n", failures);
    return 1;
  }
  std::printf("verify_diffusion: %d pages agree\n", pages);
  return 0;
}
