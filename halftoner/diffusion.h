// SPDX-License-Identifier: Apache-2.0
// ErrorDiffuser: model-based error diffusion with serpentine scanning, one row at a time.
//   ErrorDiffuser(columns, xres)   the dot model of the resolution and a few row buffers
//   DiffuseRow                     one row of targets -> one packed dot row; error carried down
//
// Targets and errors are ink coverage, not dot counts: a dot is charged with the ink it adds
// to the paper given the dots already decided round it (DotModel), so overlapping dots are
// not counted twice and a grey prints as that grey on paper at any dot arrangement and any
// resolution. The error goes 7/16 to the next column of the row and 3/16, 5/16 and 1/16 to
// the columns behind, under and ahead in the next row; where the columns are half as far apart
// as the rows, it goes two columns along the row and two each side below, so the dots keep
// their distance on paper rather than on the grid. Even rows run left to right, odd rows
// right to left.
//
// The threshold is modulated, by the tone and by a little noise (a fixed sequence, so a page
// always prints the same): in a plain diffusion a light tint waits rows for its error to
// build up before its first dot, and it settles into lattices and herringbones; the noise
// breaks those up, and a threshold that follows the tone lets the first row of a tint print.
//
// Paper (0), solid (kFullDot) and forced targets (kForceDot, kForceBlank) print as they ask
// and keep their own error: the difference between their tone and their dot is dropped,
// because passing it on would print a light ring round every dark glyph and a grey fringe into
// the paper round it. The error they receive from their neighbours they hand on unchanged:
// dropping that too would make every run of tone between forced pixels start afresh, and a
// light tint between close rules or letters would print no dots at all.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "dot_model.h"

namespace kemb::halftone {

class ErrorDiffuser {
 public:
  // kPortable keeps to the plain loops even where the processor has AVX2 (for tests: both
  // give the same dots).
  enum class Loops { kFastest, kPortable };
  ErrorDiffuser(size_t columns, int xres, Loops loops = Loops::kFastest);

  // `targets` holds one entry per column: an ink coverage 0..kFullDot or a forced target.
  // `dots` holds (columns + 7) / 8 bytes and is overwritten: bit set = dot, most
  // significant bit first, unused low bits of the last byte clear.
  void DiffuseRow(std::span<const int32_t> targets, std::span<uint8_t> dots);

  static constexpr size_t kNoiseLength = 1024;

  // The rows the loops work on, at column 0.
  struct RowBuffers {
    const int32_t* above_errors;  // each column's error in the row above
    int32_t* received;            // what each column gets from them
    // Each column's threshold: threshold table[tone_row + pattern] + base, or without the
    // table ((ink * tone_row) >> 8) + base.
    int32_t *tone_row, *base;
    const uint16_t* above;        // the row above's tone dots, shifted into the neighbour pattern
    uint16_t* row;                // this row's, the same way
    int32_t* errors;              // each column's error in this row
    uint8_t* dots;                // every dot of this row, one byte each
  };

 private:
  static constexpr size_t kToneSteps = 256;  // threshold tables, by target / 16
  // Up to 360 dpi every tone's threshold by pattern is one table (256 KiB at 360 dpi).
  static constexpr int kMaxTablePatternBits = 8;

  size_t columns_;
  DotModel model_;
  int32_t error_limit_;
  bool narrow_columns_;  // the error reaches two columns along the row (360 dpi and up)
  // Threshold of a tone: weight_ / 256 of the dot's new ink, plus offset_, plus spread_ times
  // the noise / 128.
  std::array<int32_t, kToneSteps + 1> weight_{}, offset_{}, spread_{};
  // A fixed sequence, so a page always prints the same; the first 8 repeated at the end.
  std::array<int8_t, kNoiseLength + 8> noise_{};
  size_t noise_at_ = 0;
  size_t pad_;  // guard columns each side of the dot rows, for the neighbour windows
  // Column x lives at index x + 2 of each error row and x + pad_ of each dot row.
  std::vector<int32_t> received_;             // what each column gets from the row above
  std::vector<int32_t> above_errors_, errors_;  // each column's error: the row above, this row
  std::vector<uint16_t> above_, row_;  // the tone's dots: the row above, this row
  std::vector<int32_t> tone_row_, base_;
  std::vector<int32_t> threshold_;  // weight_ and offset_ per tone and pattern, or empty
  std::vector<uint8_t> dot_bytes_;
  bool leftward_ = false;
  bool vectors_ = false;  // the AVX2 loops run
};

}  // namespace kemb::halftone
