// SPDX-License-Identifier: Apache-2.0
// ErrorDiffuser: the threshold tables and the row loop.
//   ErrorDiffuser   the dot model, the error limit and the threshold of each tone
//   DiffuseRow      column by column: the decided neighbours' pattern, the dot's new ink,
//                   the modulated threshold, the error shared out
#include "diffusion.h"

#include <algorithm>
#include <cmath>

#include "dot_targets.h"

namespace kemb::halftone {
namespace {

// The next noise value, -128..127, from a xorshift sequence.
int32_t Noise(uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return static_cast<int32_t>(state >> 24) - 128;
}

// What the row loop reads, held in locals so that stores to the error rows cannot make the
// compiler load them again.
struct RowTables {
  const int32_t* new_ink;
  const int32_t *weight, *offset, *spread;  // threshold by tone
  const int8_t* noise;
  size_t noise_at;
  int behind, reach;
  int32_t limit;
};

// Shares of an error, rounded down; the last share takes the remainder, so none is lost.
template <bool kNarrow, ptrdiff_t kStep>
void DiffuseColumns(const RowTables& t, const int32_t* targets, size_t columns,
                    const uint8_t* above, uint8_t* row, int32_t* here, int32_t* below,
                    uint8_t* dots) {
  const uint32_t behind_mask = (1u << t.behind) - 1;
  const uint32_t above_mask = (1u << (2 * t.reach + 1)) - 1;
  const ptrdiff_t reach = t.reach;
  ptrdiff_t x = kStep < 0 ? static_cast<ptrdiff_t>(columns) - 1 : 0;
  uint32_t window = 0;  // the row above, bit b at reach - b columns ahead
  for (ptrdiff_t b = 0; b <= 2 * reach; ++b) window |= uint32_t{above[x + kStep * (reach - b)]} << b;
  uint32_t decided = 0;  // this row, bit b at b + 1 columns behind
  size_t noise_at = t.noise_at;
  for (size_t n = 0; n < columns; ++n, x += kStep) {
    const int32_t target = targets[x];
    bool dot;
    bool toned = false;  // forced and solid dots are not the tone's ink, so not in the model
    int32_t error;
    if (target <= 0 || target >= kFullDot) {
      dot = target >= kFullDot;
      error = here[x];
    } else {
      toned = true;
      const int32_t value = target + here[x];
      const int32_t ink = t.new_ink[decided | (window << t.behind)];
      const auto tone = static_cast<size_t>(target) >> 4;
      const int32_t threshold = ((ink * t.weight[tone]) >> 8) + t.offset[tone] +
                                ((t.spread[tone] * t.noise[noise_at & 1023]) >> 7);
      dot = value >= threshold;
      error = value - (dot ? ink : 0);
    }
    ++noise_at;
    error = std::clamp(error, -t.limit, t.limit);
    if constexpr (kNarrow) {
      // Columns half as far apart as rows: the shares reach two columns, as far as one row.
      const int32_t near = error >> 2, far = (error * 3) >> 4, below_far = error >> 4,
                    below_near = error >> 3, under = (error * 3) >> 4;
      here[x + kStep] += near;
      here[x + 2 * kStep] += far;
      below[x - 2 * kStep] += below_far;
      below[x - kStep] += below_near;
      below[x] += under;
      below[x + kStep] += below_near;
      below[x + 2 * kStep] += error - near - far - below_far - 2 * below_near - under;
    } else {
      const int32_t ahead = (error * 7) >> 4, behind_below = (error * 3) >> 4,
                    under = (error * 5) >> 4;
      here[x + kStep] += ahead;
      below[x - kStep] += behind_below;
      below[x] += under;
      below[x + kStep] += error - ahead - behind_below - under;
    }
    if (dot) dots[static_cast<size_t>(x) >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
    row[x] = toned && dot;
    decided = ((decided << 1) | uint32_t{row[x]}) & behind_mask;
    window = ((window << 1) | above[x + kStep * (reach + 1)]) & above_mask;
  }
}

}  // namespace

ErrorDiffuser::ErrorDiffuser(size_t columns, int xres)
    : columns_(columns),
      model_(xres),
      error_limit_(2 * model_.LoneDot()),
      narrow_columns_(25.4 / std::max(xres, 1) < 0.6 * kRowPitchMm),
      pad_(static_cast<size_t>(model_.reach()) + 2),
      received_(columns + 4, 0),
      carried_(columns + 4, 0),
      above_(columns + 2 * pad_, 0),
      row_(columns + 2 * pad_, 0) {
  // Threshold: half a dot's ink, that of a lone dot in the light tones, so a dot beside
  // another is no cheaper to place there (that pairs dots up), and the dot's own ink in the
  // dark ones, where every dot has neighbours and holes must open where the ink is least.
  // The noise spans the whole dot in the highlights, where it lets the first row of a tint
  // print and breaks up worms, and a sixth of it from the mid tones on.
  const double lone = model_.LoneDot();
  for (size_t step = 0; step <= kToneSteps; ++step) {
    const double density = static_cast<double>(step * 16) / lone;
    const double lone_share = std::clamp((0.5 - density) / 0.25, 0.0, 1.0);
    const double amplitude = 0.5 - 0.35 * std::clamp((density - 0.1) / 0.2, 0.0, 1.0);
    const double typical_ink = lone * lone_share + kFullDot * (1 - lone_share);
    weight_[step] = static_cast<int32_t>(std::lround(256 * 0.5 * (1 - lone_share)));
    offset_[step] = static_cast<int32_t>(std::lround(0.5 * lone * lone_share));
    spread_[step] = static_cast<int32_t>(std::lround(amplitude * typical_ink));
  }
  uint32_t state = 0x9E3779B9u;
  for (auto& n : noise_) n = static_cast<int8_t>(Noise(state));
}

void ErrorDiffuser::DiffuseRow(std::span<const int32_t> targets, std::span<uint8_t> dots) {
  // Short spans shorten the row rather than run past them.
  const size_t columns = std::min({columns_, targets.size(), dots.size() * 8});
  std::fill(dots.begin(), dots.end(), 0);
  std::fill(row_.begin(), row_.end(), 0);
  const RowTables tables = {model_.NewInkTable(), weight_.data(), offset_.data(),
                            spread_.data(),         noise_.data(),  noise_at_,
                            model_.behind(),        model_.reach(), error_limit_};
  const uint8_t* above = above_.data() + pad_;
  uint8_t* row = row_.data() + pad_;
  int32_t* here = received_.data() + 2;
  int32_t* below = carried_.data() + 2;
  if (narrow_columns_) {
    leftward_ ? DiffuseColumns<true, -1>(tables, targets.data(), columns, above, row, here, below, dots.data())
              : DiffuseColumns<true, 1>(tables, targets.data(), columns, above, row, here, below, dots.data());
  } else {
    leftward_ ? DiffuseColumns<false, -1>(tables, targets.data(), columns, above, row, here, below, dots.data())
              : DiffuseColumns<false, 1>(tables, targets.data(), columns, above, row, here, below, dots.data());
  }
  received_.swap(carried_);
  std::fill(carried_.begin(), carried_.end(), 0);
  received_[0] = received_[1] = 0;
  std::fill(received_.begin() + static_cast<ptrdiff_t>(columns) + 2, received_.end(), 0);
  above_.swap(row_);
  noise_at_ += 397;  // each row its own stretch of the noise
  leftward_ = !leftward_;
}

}  // namespace kemb::halftone
