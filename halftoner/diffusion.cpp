// SPDX-License-Identifier: Apache-2.0
// ErrorDiffuser: the row loops.
//   Ahead, BehindBelow, Under, AheadBelow   the shares of an error, rounded toward zero
//   Received             what a column gets from the shares the row above sent
//   DiffuseColumns       the plain loop, column by column: any processor, any target
//   kCarryTable          the 7/16 a column hands on, by what it holds; threshold and clamp
//                        folded in
//   DiffuseRowAvx2       on processors with AVX2: the carry alone runs column by column,
//                        through the table; what each column receives, its dot and its shares
//                        are worked out 8 columns at a time, while the carry waits on its table
// -DKEMB_NO_AVX2 leaves the AVX2 kernel out; KEMB_PORTABLE_LOOPS in the environment keeps it
// from running, so the plain loop is tested on any machine.
#include "diffusion.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(KEMB_NO_AVX2)
#include <immintrin.h>
#endif

#include "dot_targets.h"
#include "tone_curve.h"

namespace kemb::halftone {
namespace {

constexpr int32_t kHalfDot = kFullDot / 2;

// The shares of an error, each rounded toward zero; the remainder goes ahead below, so no
// error is lost to rounding.
constexpr int32_t Ahead(int32_t e) {
  return e * 7 / 16;
}
constexpr int32_t BehindBelow(int32_t e) {
  return e * 3 / 16;
}
constexpr int32_t Under(int32_t e) {
  return e * 5 / 16;
}
constexpr int32_t AheadBelow(int32_t e) {
  return e - Ahead(e) - BehindBelow(e) - Under(e);
}

constexpr int32_t Clamped(int32_t e) {
  return std::clamp(e, -kHalfDot, kHalfDot);
}
// A tone (density 1 .. kFullDot - 1) holding `value` prints when value >= kHalfDot.
constexpr int32_t ToneError(int32_t value) {
  return Clamped(value - (value >= kHalfDot ? kFullDot : 0));
}

// What a column can receive from the row above: the sum of the extreme shares of clamped
// errors.
struct Range {
  int32_t low = 0, high = 0;
};
constexpr Range ReceivedRange() {
  Range shares[3];
  for (int32_t e = -kHalfDot; e <= kHalfDot; ++e) {
    const int32_t s[3] = {BehindBelow(e), Under(e), AheadBelow(e)};
    for (int k = 0; k < 3; ++k) {
      shares[k].low = std::min(shares[k].low, s[k]);
      shares[k].high = std::max(shares[k].high, s[k]);
    }
  }
  return {shares[0].low + shares[1].low + shares[2].low,
          shares[0].high + shares[1].high + shares[2].high};
}
constexpr Range kReceived = ReceivedRange();
constexpr int32_t kMaxCarry = Ahead(kHalfDot);
// What a column holds before its dot: received plus carried.
constexpr int32_t kHeldLow = kReceived.low - kMaxCarry;
constexpr int32_t kHeldHigh = kReceived.high + kMaxCarry;

// kCarryTable: first, by held value, for columns that keep what they hold (paper, solid and
// forced targets); then, by target plus held value, for tones.
constexpr int32_t kKeptSize = kHeldHigh - kHeldLow + 1;
constexpr int32_t kToneLow = 1 + kHeldLow;
constexpr int32_t kToneHigh = kFullDot - 1 + kHeldHigh;
constexpr int32_t kTableSize = kKeptSize + kToneHigh - kToneLow + 1;
// Entry of a kept column and of a tone for a held value of 0.
constexpr int32_t kKeptStart = -kHeldLow;
constexpr int32_t kToneStart = kKeptSize - kToneLow;

constexpr std::array<int16_t, kTableSize> kCarryTable = [] {
  std::array<int16_t, kTableSize> table{};
  for (int32_t held = kHeldLow; held <= kHeldHigh; ++held) {
    table[kKeptStart + held] = static_cast<int16_t>(Ahead(Clamped(held)));
  }
  for (int32_t value = kToneLow; value <= kToneHigh; ++value) {
    table[kToneStart + value] = static_cast<int16_t>(Ahead(ToneError(value)));
  }
  return table;
}();

constexpr size_t kChunk = 8;  // columns per chunk of the AVX2 kernel: one vector of words

// received[x]: the 3/16 of the column behind x in the row above, the 5/16 of x itself and the
// rest of the column ahead. `behind` is that row's step (+1 after a rightward row, whose column
// x + 1 lies behind x); shares past the row above are 0.
inline int32_t Received(const int32_t* behind_below, const int32_t* under,
                        const int32_t* ahead_below, ptrdiff_t behind, size_t x) {
  return behind_below[x + behind] + under[x] + ahead_below[x - behind];
}

// --- AVX2 kernel ---

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(KEMB_NO_AVX2)
#define KEMB_DIFFUSION_AVX2 1

// Whether the AVX2 loops run: the processor has AVX2 and KEMB_PORTABLE_LOOPS is not set in
// the environment (tests set it to hold the portable loops to the same rules). Decided once.
bool CpuHasAvx2() {
  static const bool has =
      __builtin_cpu_supports("avx2") && std::getenv("KEMB_PORTABLE_LOOPS") == nullptr;
  return has;
}

#define KEMB_AVX2 __attribute__((target("avx2")))

KEMB_AVX2 inline __m256i Load8(const int32_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
KEMB_AVX2 inline void Store8(int32_t* p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}
KEMB_AVX2 inline __m256i Words(int32_t v) {
  return _mm256_set1_epi32(v);
}

// The AVX2 kernel works on these row buffers, at column 0.
struct Buffers {
  const int32_t* __restrict targets;
  // A short last chunk reads its targets from `tail`, padded with paper, and its columns past
  // the row receive nothing (lanes clear in `tail_lanes`).
  const int32_t* __restrict tail;
  __m256i tail_lanes;
  int32_t* __restrict received;
  int32_t* __restrict carried;
  int32_t* __restrict behind_below;
  int32_t* __restrict under;
  int32_t* __restrict ahead_below;
  uint8_t* __restrict dots;
};

// True when the table covers every target: the row above's shares are overwritten as the row
// goes, so a row for the plain loop must be known before it starts.
KEMB_AVX2 bool CoveredAvx2(const int32_t* targets, size_t columns) {
  __m256i outside = _mm256_setzero_si256();
  size_t x = 0;
  for (; x + kChunk <= columns; x += kChunk) {
    const __m256i t = Load8(targets + x);
    outside = _mm256_or_si256(outside, _mm256_or_si256(_mm256_cmpgt_epi32(Words(kForceBlank), t),
                                                       _mm256_cmpgt_epi32(t, Words(kForceDot))));
  }
  bool covered = _mm256_testz_si256(outside, outside);
  for (; x < columns; ++x) covered &= targets[x] >= kForceBlank && targets[x] <= kForceDot;
  return covered;
}

// The error the 8 columns of chunk c receive from the shares the row above sent, and their
// carry tables. The row above ran the other way: the column behind x was x - kStep.
template <int kStep, bool kTail>
KEMB_AVX2 inline void PrepareChunk(const Buffers& b, size_t c, const int16_t** tables) {
  const size_t x = kChunk * c;
  __m256i received =
      _mm256_add_epi32(_mm256_add_epi32(Load8(b.behind_below + x - kStep), Load8(b.under + x)),
                       Load8(b.ahead_below + x + kStep));
  if constexpr (kTail) received = _mm256_and_si256(received, b.tail_lanes);
  Store8(b.received + x, received);
  const __m256i t = Load8(kTail ? b.tail : b.targets + x);
  const __m256i keeps =
      _mm256_or_si256(_mm256_cmpgt_epi32(Words(1), t), _mm256_cmpgt_epi32(t, Words(kFullDot - 1)));
  const __m256i start =
      _mm256_blendv_epi8(_mm256_add_epi32(t, Words(kToneStart)), Words(kKeptStart), keeps);
  const __m256i entry = _mm256_add_epi32(start, received);
  // int16_t entries: the byte offset is twice the entry.
  const __m256i base = _mm256_set1_epi64x(reinterpret_cast<int64_t>(kCarryTable.data()));
  const __m256i low = _mm256_cvtepi32_epi64(_mm256_castsi256_si128(entry));
  const __m256i high = _mm256_cvtepi32_epi64(_mm256_extracti128_si256(entry, 1));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(tables),
                      _mm256_add_epi64(base, _mm256_add_epi64(low, low)));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(tables + 4),
                      _mm256_add_epi64(base, _mm256_add_epi64(high, high)));
}

// trunc(weight * e / 16) for |e| <= kHalfDot: the magnitude shifted, the sign put back.
template <int kWeight>
KEMB_AVX2 inline __m256i Share(__m256i magnitude, __m256i e) {
  static_assert(kWeight == 3 || kWeight == 5);
  const __m256i scaled =
      _mm256_add_epi32(magnitude, _mm256_slli_epi32(magnitude, kWeight == 3 ? 1 : 2));
  return _mm256_sign_epi32(_mm256_srli_epi32(scaled, 4), e);
}

// The dots and shares of the 8 columns of chunk c; carried[x + kStep] holds the carry each
// column x handed on.
template <int kStep, bool kTail>
KEMB_AVX2 inline void SettleChunk(const Buffers& b, size_t c) {
  const size_t x = kChunk * c;
  const __m256i t = Load8(kTail ? b.tail : b.targets + x);
  const __m256i held = _mm256_add_epi32(Load8(b.received + x), Load8(b.carried + x));
  const __m256i value = _mm256_add_epi32(t, held);
  const __m256i tone_dot = _mm256_cmpgt_epi32(value, Words(kHalfDot - 1));
  const __m256i solid = _mm256_cmpgt_epi32(t, Words(kFullDot - 1));
  const __m256i keeps = _mm256_or_si256(_mm256_cmpgt_epi32(Words(1), t), solid);
  const __m256i tone_error = _mm256_sub_epi32(value, _mm256_and_si256(tone_dot, Words(kFullDot)));
  const __m256i error = _mm256_min_epi32(
      _mm256_max_epi32(_mm256_blendv_epi8(tone_error, held, keeps), Words(-kHalfDot)),
      Words(kHalfDot));
  // The ends of the range are exact: paper never prints, solid always does.
  const __m256i dot = _mm256_blendv_epi8(tone_dot, solid, keeps);
  const __m256i magnitude = _mm256_abs_epi32(error);
  const __m256i bb = Share<3>(magnitude, error), un = Share<5>(magnitude, error);
  const __m256i carry_out = Load8(b.carried + x + kStep);
  Store8(b.behind_below + x, bb);
  Store8(b.under + x, un);
  Store8(b.ahead_below + x,
         _mm256_sub_epi32(_mm256_sub_epi32(error, carry_out), _mm256_add_epi32(bb, un)));
  // Lane 0 (column x) to the top bit.
  const __m256i reversed =
      _mm256_permutevar8x32_epi32(dot, _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0));
  b.dots[x / 8] = static_cast<uint8_t>(_mm256_movemask_ps(_mm256_castsi256_ps(reversed)));
}

// The serial step over one chunk in scan order: carried[k] is what column k got from the one
// before it. Each table start was fetched ahead, so the path from carry to carry is one load.
template <int kStep>
KEMB_AVX2 inline ptrdiff_t CarryThrough(int32_t* __restrict carried,
                                        const int16_t* const* __restrict tables, ptrdiff_t carry) {
#pragma GCC unroll 8
  for (size_t n = 0; n < kChunk; ++n) {
    const size_t k = kStep > 0 ? n : kChunk - 1 - n;
    carried[k] = static_cast<int32_t>(carry);
    carry = tables[k][carry];
    // Keeps the compiler from gathering the stores into one vector store, which puts a
    // repacking of the carry on its path.
    asm("" : "+r"(carry));
  }
  return carry;
}

// The chunks in scan order. While the carry runs through chunk i, the vector steps prepare
// chunk i + 1 and settle chunk i - 1, whose carry out chunk i has just taken in. Preparing
// reads the shares of the row above one column either side of its chunk, and settling
// overwrites them a chunk behind, where no later chunk reads. The buffers hold whole chunks:
// columns past the row are paper with nothing received, which hand on nothing (a leftward row
// meets them first) and print nothing. The table must cover every target; `dots` must be
// clear.
template <int kStep>
KEMB_AVX2 void DiffuseChunksAvx2(const Buffers& buffers, size_t chunks, bool short_tail) {
  if (chunks == 0) return;
  // A copy the dot stores cannot alias, so its pointers stay in registers.
  const Buffers b = buffers;
  const size_t last = chunks - 1;  // the chunk that may be short
  alignas(32) const int16_t* tables[2][kChunk];
  // Chunk c starts at column kChunk * c; the scan visits them in its direction.
  size_t c = kStep > 0 ? 0 : last;
  if (c == last && short_tail) {
    PrepareChunk<kStep, true>(b, c, tables[0]);
  } else {
    PrepareChunk<kStep, false>(b, c, tables[0]);
  }
  ptrdiff_t carry = 0;
  for (size_t i = 0; i < chunks; ++i, c += kStep) {
    if (i < last) {
      if (c + kStep == last && short_tail) {
        PrepareChunk<kStep, true>(b, c + kStep, tables[(i + 1) % 2]);
      } else {
        PrepareChunk<kStep, false>(b, c + kStep, tables[(i + 1) % 2]);
      }
    }
    carry = CarryThrough<kStep>(b.carried + kChunk * c, tables[i % 2], carry);
    if (i > 0) {
      if (c - kStep == last && short_tail) {
        SettleChunk<kStep, true>(b, c - kStep);
      } else {
        SettleChunk<kStep, false>(b, c - kStep);
      }
    }
  }
  // What the last column hands on falls past the chunks.
  b.carried[kStep > 0 ? static_cast<ptrdiff_t>(kChunk * chunks) : -1] = static_cast<int32_t>(carry);
  if (c - kStep == last && short_tail) {
    SettleChunk<kStep, true>(b, c - kStep);
  } else {
    SettleChunk<kStep, false>(b, c - kStep);
  }
}

// One row; false, with nothing changed, when a target lies outside the table.
KEMB_AVX2 bool DiffuseRowAvx2(const int32_t* targets, size_t columns, bool leftward,
                              int32_t* received, int32_t* carried, int32_t* behind_below,
                              int32_t* under, int32_t* ahead_below, uint8_t* dots) {
  if (!CoveredAvx2(targets, columns)) return false;
  const size_t chunks = (columns + kChunk - 1) / kChunk;
  const size_t whole = columns / kChunk;
  int32_t tail[kChunk] = {};  // paper
  std::copy(targets + kChunk * whole, targets + columns, tail);
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i tail_lanes =
      _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int32_t>(columns % kChunk)), lanes);
  const Buffers buffers{targets,      tail,  tail_lanes,  received, carried,
                        behind_below, under, ahead_below, dots};
  const bool short_tail = whole < chunks;
  if (leftward) {
    DiffuseChunksAvx2<-1>(buffers, chunks, short_tail);
  } else {
    DiffuseChunksAvx2<1>(buffers, chunks, short_tail);
  }
  return true;
}

#endif  // AVX2

// The plain per-column loop. `here` points at column 0 of the error the row received, and
// takes the carry along the row. The error each column sends on is added into `below` at its
// three places (column 0; entries -1 and past the row included), or, with kKeepErrors, stored
// clamped and whole in below[x].
template <int kStep, bool kKeepErrors>
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
      dot = target == kFullDot || (target != 0 && value >= kHalfDot);
      error = value - (dot ? kFullDot : 0);
    }
    error = Clamped(error);
    here[x + kStep] += Ahead(error);
    if constexpr (kKeepErrors) {
      below[x] = error;
    } else {
      below[x - kStep] += BehindBelow(error);
      below[x] += Under(error);
      below[x + kStep] += AheadBelow(error);
    }
    if (dot) dots[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
  }
}

}  // namespace

// The error buffers reach from column -1 to the end of the last whole chunk and one past it.
ErrorDiffuser::ErrorDiffuser(size_t columns)
    : columns_(columns),
      received_(columns + kChunk + 2, 0),
      carried_(columns + kChunk + 2, 0),
      behind_below_(columns + kChunk + 2, 0),
      under_(columns + kChunk + 2, 0),
      ahead_below_(columns + kChunk + 2, 0) {}

void ErrorDiffuser::DiffuseRow(std::span<const int32_t> targets, std::span<uint8_t> dots) {
  // Short spans shorten the row rather than run past them.
  const size_t columns = std::min({columns_, targets.size(), dots.size() * 8});
  std::fill(dots.begin(), dots.end(), 0);
#ifdef KEMB_DIFFUSION_AVX2
  if (CpuHasAvx2()) {
    DiffuseThroughShares(targets.data(), columns, dots.data());
    leftward_ = !leftward_;
    return;
  }
#endif
  // received_ holds what this row gets, carried_ gathers what the next one gets.
  int32_t* here = received_.data() + 1;
  int32_t* below = carried_.data() + 1;
  if (leftward_) {
    DiffuseColumns<-1, false>(targets.data(), dots.data(), here, below, columns);
  } else {
    DiffuseColumns<1, false>(targets.data(), dots.data(), here, below, columns);
  }
  received_.swap(carried_);
  std::fill(carried_.begin(), carried_.end(), 0);
  received_.front() = 0;
  std::fill(received_.begin() + static_cast<ptrdiff_t>(columns_) + 1, received_.end(), 0);
  leftward_ = !leftward_;
}

#ifdef KEMB_DIFFUSION_AVX2

// The state between rows is the shares the row above sent, not their sums.
void ErrorDiffuser::DiffuseThroughShares(const int32_t* targets, size_t columns, uint8_t* dots) {
  int32_t* received = received_.data() + 1;
  int32_t* carried = carried_.data() + 1;
  int32_t* behind_below = behind_below_.data() + 1;
  int32_t* under = under_.data() + 1;
  int32_t* ahead_below = ahead_below_.data() + 1;
  if (!DiffuseRowAvx2(targets, columns, leftward_, received, carried, behind_below, under,
                      ahead_below, dots)) {
    // A target the table does not cover: the plain loop, from and to shares.
    const ptrdiff_t ahead = leftward_ ? -1 : 1;
    received[-1] = received[columns] = 0;
    for (size_t x = 0; x < columns; ++x) {
      received[x] = Received(behind_below, under, ahead_below, -ahead, x);  // the other way
    }
    int32_t* errors = carried;
    if (leftward_) {
      DiffuseColumns<-1, true>(targets, dots, received, errors, columns);
    } else {
      DiffuseColumns<1, true>(targets, dots, received, errors, columns);
    }
    for (size_t x = 0; x < columns; ++x) {
      behind_below[x] = BehindBelow(errors[x]);
      under[x] = Under(errors[x]);
      ahead_below[x] = AheadBelow(errors[x]);
    }
  }
  // Nothing is sent from past the row.
  for (auto* shares : {&behind_below_, &under_, &ahead_below_}) {
    std::fill(shares->begin() + static_cast<ptrdiff_t>(columns) + 1, shares->end(), 0);
  }
}

#endif

}  // namespace kemb::halftone
