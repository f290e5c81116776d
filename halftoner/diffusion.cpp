// SPDX-License-Identifier: Apache-2.0
// ErrorDiffuser: the threshold tables and the row loops.
//   Wide, Narrow         the shares of an error, by how far apart the columns are
//   ThresholdsOneByOne   each column's threshold from its tone and the noise
//   DiffuseColumns       the one loop that runs column by column: the decided neighbours'
//                        pattern, the dot's new ink, the threshold, the error carried along
//   PackOneByOne         dot bytes -> packed row
//   *Avx2                on processors with AVX2, 8 or 32 columns at a time: what each column
//                        receives from the row above, the thresholds, the packing
//   DiffuseRowWith       one row: the passes in order
// -DKEMB_NO_AVX2 leaves the AVX2 loops out; KEMB_PORTABLE_LOOPS in the environment keeps them
// from running, so the plain loops are tested on any machine.
#include "diffusion.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(KEMB_NO_AVX2)
#include <immintrin.h>
#endif

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

// Shares of an error, rounded down; the last share takes the remainder, so none is lost.
// Rows the width of a column pitch apart (up to 240 dpi): 7/16 along the row; 3/16, 5/16 and
// the rest below, behind, under and ahead.
struct Wide {
  static int32_t Ahead(int32_t e) { return (e * 7) >> 4; }
  static int32_t Second(int32_t) { return 0; }
  // What column x receives from the errors of the row above, whose scan ran `up_step`.
  static int32_t Received(const int32_t* e, ptrdiff_t x, ptrdiff_t up_step) {
    const int32_t from_ahead = e[x + up_step], from_under = e[x], from_behind = e[x - up_step];
    return ((from_ahead * 3) >> 4) + ((from_under * 5) >> 4) +
           (from_behind - Ahead(from_behind) - ((from_behind * 3) >> 4) -
            ((from_behind * 5) >> 4));
  }
};
// Columns half as far apart as rows: 4/16 and 3/16 to the next two columns, and 1, 2, 3, 2
// sixteenths and the rest to the five columns below, from two behind to two ahead.
struct Narrow {
  static int32_t Ahead(int32_t e) { return e >> 2; }
  static int32_t Second(int32_t e) { return (e * 3) >> 4; }
  static int32_t Received(const int32_t* e, ptrdiff_t x, ptrdiff_t up_step) {
    const int32_t far_ahead = e[x + 2 * up_step], near_ahead = e[x + up_step], under = e[x],
                  near_behind = e[x - up_step], far_behind = e[x - 2 * up_step];
    return (far_ahead >> 4) + (near_ahead >> 3) + ((under * 3) >> 4) + (near_behind >> 3) +
           (far_behind - (far_behind >> 2) - ((far_behind * 3) >> 4) - (far_behind >> 4) -
            2 * (far_behind >> 3) - ((far_behind * 3) >> 4));
  }
};

// What the row loop reads, held in locals so that stores to the rows cannot make the compiler
// load them again.
struct RowTables {
  const int32_t* new_ink;
  // By tone and pattern, [(tone << pattern_bits) | pattern], where the patterns are few
  // (up to 360 dpi); else null, and each column's threshold is worked out from weight and offset.
  const int32_t* threshold;
  const int32_t *weight, *offset, *spread;  // by tone
  const int8_t* noise;                      // kNoiseLength + 8 entries, the first 8 repeated
  size_t noise_at;
  int behind, pattern_bits;
  int32_t limit;
};

// Each column's threshold is threshold[tone_row + pattern] + base, its tone's row of the
// table and the noise; without the table ((ink * tone_row) >> 8) + base, its tone's weight and
// its offset with the noise. A column that takes no part in the diffusion has tone_row kPaper
// or kSolid instead; a toned one has its target added to what it received, so the row loop
// reads neither targets nor a second array for them.
constexpr int32_t kPaper = -1, kSolid = -2;

void ThresholdsOneByOne(const RowTables& t, const int32_t* targets, size_t begin, size_t end,
                        int32_t* received, int32_t* tone_row, int32_t* base) {
  for (size_t x = begin; x < end; ++x) {
    if (targets[x] <= 0 || targets[x] >= kFullDot) {
      tone_row[x] = targets[x] <= 0 ? kPaper : kSolid;
      base[x] = 0;
      continue;
    }
    received[x] += targets[x];
    const auto tone = static_cast<size_t>(std::clamp(targets[x], 0, kFullDot - 1)) >> 4;
    const int32_t noise = t.noise[(t.noise_at + x) % ErrorDiffuser::kNoiseLength];
    const int32_t jitter = (t.spread[tone] * noise) >> 7;
    if (t.threshold != nullptr) {
      tone_row[x] = static_cast<int32_t>(tone << t.pattern_bits);
      base[x] = jitter;
    } else {
      tone_row[x] = t.weight[tone];
      base[x] = t.offset[tone] + jitter;
    }
  }
}

// `received` holds what each column got from the row above; the loop adds what it gets along
// the row, decides the dot and leaves each column's error in `errors`. The decided neighbours
// are one register: this row's dots in its low `behind` bits, the row above's in the rest,
// which `row` and `above` hold already shifted into place.
// kBehind and kReach, where not -1, are the model's neighbours known when compiling: the
// common resolutions get loops whose shifts and masks are constants.
template <class Shares, ptrdiff_t kStep, int kBehind = -1, int kReach = -1>
void DiffuseColumns(const RowTables& t, size_t columns,
                    const int32_t* received, const int32_t* tone_row, const int32_t* base,
                    const uint16_t* above, uint16_t* row, int32_t* errors, uint8_t* dots) {
  const int behind = kBehind >= 0 ? kBehind : t.behind;
  const ptrdiff_t reach = kReach >= 0 ? kReach : (t.pattern_bits - behind - 1) / 2;
  const int pattern_bits = kBehind >= 0 && kReach >= 0 ? kBehind + 2 * kReach + 1 : t.pattern_bits;
  // After the shift: bit 0 is refilled, bit `behind` is the row above's, the top bit drops.
  const uint32_t keep = ((1u << pattern_bits) - 1) & ~(1u << behind);
  const uint32_t own = behind > 0 ? 1 : 0;
  const int32_t limit = t.limit;
  const int32_t* new_ink = t.new_ink;
  const int32_t* thresholds = t.threshold;
  ptrdiff_t x = kStep < 0 ? static_cast<ptrdiff_t>(columns) - 1 : 0;
  uint32_t pattern = 0;
  for (ptrdiff_t b = 0; b <= 2 * reach; ++b) pattern |= uint32_t{above[x + kStep * (reach - b)]} << b;
  int32_t carry = 0, carry_next = 0;  // along the row: into x, and into x + kStep
  for (size_t n = 0; n < columns; ++n, x += kStep) {
    const int32_t value = received[x] + carry;  // the target included, if toned
    const int32_t tone = tone_row[x];
    uint32_t dot, toned_dot = 0;  // forced and solid dots are not the tone's ink: not in the model
    int32_t error;
    if (tone < 0) {
      dot = tone == kSolid;
      error = value;
    } else {
      const int32_t ink = new_ink[pattern];
      // The specialised loops run only with the table; the general one meets either.
      const int32_t threshold = kBehind >= 0 || thresholds != nullptr ? thresholds[tone + pattern]
                                                                      : (ink * tone) >> 8;
      dot = value >= threshold + base[x];
      toned_dot = dot;
      error = value - (dot ? ink : 0);
    }
    error = std::clamp(error, -limit, limit);
    carry = carry_next + Shares::Ahead(error);
    carry_next = Shares::Second(error);
    errors[x] = error;
    dots[x] = static_cast<uint8_t>(dot);
    row[x] = static_cast<uint16_t>(toned_dot << behind);
    pattern = ((pattern << 1) & keep) | (toned_dot & own) | above[x + kStep * (reach + 1)];
  }
}

void PackOneByOne(const uint8_t* bytes, size_t begin, size_t columns, uint8_t* packed) {
  for (size_t x = begin; x < columns; ++x) {
    if (bytes[x]) packed[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
  }
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(KEMB_NO_AVX2)
#define KEMB_ROWS_AVX2 1

// Whether the AVX2 loops run: the processor has AVX2 and KEMB_PORTABLE_LOOPS is not set in the
// environment. Decided once.
bool CpuHasAvx2() {
  static const bool has =
      __builtin_cpu_supports("avx2") && std::getenv("KEMB_PORTABLE_LOOPS") == nullptr;
  return has;
}

#define KEMB_AVX2 __attribute__((target("avx2")))

KEMB_AVX2 inline __m256i At(const int32_t* e, ptrdiff_t x) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(e + x));
}
KEMB_AVX2 inline __m256i Sixteenths(__m256i e, int times) {  // (times * e) >> 4
  __m256i product = e;
  if (times == 3) product = _mm256_add_epi32(e, _mm256_slli_epi32(e, 1));
  if (times == 5) product = _mm256_add_epi32(e, _mm256_slli_epi32(e, 2));
  if (times == 7) product = _mm256_sub_epi32(_mm256_slli_epi32(e, 3), e);
  return _mm256_srai_epi32(product, 4);
}

// Eight columns at a time, the same sums as Wide::Received and Narrow::Received; returns the
// columns done.
KEMB_AVX2 size_t ReceiveAvx2(bool narrow, const int32_t* e, size_t columns, ptrdiff_t u,
                             int32_t* received) {
  size_t x = 0;
  for (; x + 8 <= columns; x += 8) {
    const auto at = static_cast<ptrdiff_t>(x);
    __m256i sum;
    if (narrow) {
      const __m256i far_behind = At(e, at - 2 * u);
      const __m256i three = Sixteenths(far_behind, 3);
      const __m256i eighth = _mm256_srai_epi32(far_behind, 3);
      __m256i rest = _mm256_sub_epi32(far_behind, _mm256_srai_epi32(far_behind, 2));
      rest = _mm256_sub_epi32(rest, _mm256_add_epi32(three, three));
      rest = _mm256_sub_epi32(rest, _mm256_srai_epi32(far_behind, 4));
      rest = _mm256_sub_epi32(rest, _mm256_add_epi32(eighth, eighth));
      sum = _mm256_add_epi32(_mm256_srai_epi32(At(e, at + 2 * u), 4),
                             _mm256_srai_epi32(At(e, at + u), 3));
      sum = _mm256_add_epi32(sum, Sixteenths(At(e, at), 3));
      sum = _mm256_add_epi32(sum, _mm256_srai_epi32(At(e, at - u), 3));
      sum = _mm256_add_epi32(sum, rest);
    } else {
      const __m256i behind = At(e, at - u);
      __m256i rest = _mm256_sub_epi32(behind, Sixteenths(behind, 7));
      rest = _mm256_sub_epi32(rest, _mm256_add_epi32(Sixteenths(behind, 3), Sixteenths(behind, 5)));
      sum = _mm256_add_epi32(Sixteenths(At(e, at + u), 3), Sixteenths(At(e, at), 5));
      sum = _mm256_add_epi32(sum, rest);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(received + x), sum);
  }
  return x;
}

KEMB_AVX2 size_t ThresholdsAvx2(const RowTables& t, const int32_t* targets, size_t columns,
                                int32_t* received, int32_t* tone_row, int32_t* base) {
  size_t x = 0;
  for (; x + 8 <= columns; x += 8) {
    const __m256i target = At(targets, static_cast<ptrdiff_t>(x));
    const __m256i paper = _mm256_cmpgt_epi32(_mm256_set1_epi32(1), target);
    const __m256i solid = _mm256_cmpgt_epi32(target, _mm256_set1_epi32(kFullDot - 1));
    const __m256i forced = _mm256_or_si256(paper, solid);
    const __m256i tone = _mm256_srai_epi32(
        _mm256_min_epi32(_mm256_max_epi32(target, _mm256_setzero_si256()),
                         _mm256_set1_epi32(kFullDot - 1)),
        4);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(received + x),
                        _mm256_add_epi32(At(received, static_cast<ptrdiff_t>(x)),
                                         _mm256_andnot_si256(forced, target)));
    const __m256i mark = _mm256_blendv_epi8(_mm256_set1_epi32(kPaper), _mm256_set1_epi32(kSolid),
                                            solid);
    const __m256i noise = _mm256_cvtepi8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(
        t.noise + (t.noise_at + x) % ErrorDiffuser::kNoiseLength)));
    const __m256i spread = _mm256_i32gather_epi32(t.spread, tone, 4);
    const __m256i jitter = _mm256_srai_epi32(_mm256_mullo_epi32(spread, noise), 7);
    __m256i row, offset;
    if (t.threshold != nullptr) {
      row = _mm256_sll_epi32(tone, _mm_cvtsi32_si128(t.pattern_bits));
      offset = jitter;
    } else {
      row = _mm256_i32gather_epi32(t.weight, tone, 4);
      offset = _mm256_add_epi32(_mm256_i32gather_epi32(t.offset, tone, 4), jitter);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(tone_row + x),
                        _mm256_blendv_epi8(row, mark, forced));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(base + x), _mm256_andnot_si256(forced, offset));
  }
  return x;
}

// 32 columns at a time: byte 0 of each 8 to the top bit of its packed byte.
KEMB_AVX2 size_t PackAvx2(const uint8_t* bytes, size_t columns, uint8_t* packed) {
  const __m256i reverse = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8,
                                           7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
  size_t x = 0;
  for (; x + 32 <= columns; x += 32) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + x));
    const auto bits = static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_slli_epi16(_mm256_shuffle_epi8(v, reverse), 7)));
    std::memcpy(packed + x / 8, &bits, 4);
  }
  return x;
}

#endif

template <class Shares>
void DiffuseRowWith(const RowTables& t, const int32_t* targets, size_t columns, bool leftward,
                    bool vectors, const ErrorDiffuser::RowBuffers& rows) {
  const ptrdiff_t up_step = leftward ? 1 : -1;  // the row above ran the other way
  size_t received = 0, thresholds = 0;
#ifndef KEMB_ROWS_AVX2
  (void)vectors;
#endif
#ifdef KEMB_ROWS_AVX2
  if (vectors) {
    received = ReceiveAvx2(std::is_same_v<Shares, Narrow>, rows.above_errors, columns, up_step,
                           rows.received);
  }
#endif
  for (size_t x = received; x < columns; ++x) {
    rows.received[x] = Shares::Received(rows.above_errors, static_cast<ptrdiff_t>(x), up_step);
  }
  // After the whole row has received: the thresholds pass adds the targets to it.
#ifdef KEMB_ROWS_AVX2
  if (vectors) {
    thresholds = ThresholdsAvx2(t, targets, columns, rows.received, rows.tone_row, rows.base);
  }
#endif
  ThresholdsOneByOne(t, targets, thresholds, columns, rows.received, rows.tone_row, rows.base);
  const auto diffuse = [&]<ptrdiff_t kStep, int kBehind, int kReach>() {
    DiffuseColumns<Shares, kStep, kBehind, kReach>(t, columns, rows.received, rows.tone_row,
                                                   rows.base, rows.above, rows.row, rows.errors,
                                                   rows.dots);
  };
  const int reach = (t.pattern_bits - t.behind - 1) / 2;
  if (t.threshold != nullptr && t.behind == 1 && reach == 1) {  // 180 dpi
    leftward ? diffuse.template operator()<-1, 1, 1>() : diffuse.template operator()<1, 1, 1>();
  } else if (t.threshold != nullptr && t.behind == 3 && reach == 2) {  // 360 dpi
    leftward ? diffuse.template operator()<-1, 3, 2>() : diffuse.template operator()<1, 3, 2>();
  } else {
    leftward ? diffuse.template operator()<-1, -1, -1>()
             : diffuse.template operator()<1, -1, -1>();
  }
}

void Pack(const uint8_t* bytes, size_t columns, bool vectors, uint8_t* packed) {
  size_t done = 0;
#ifdef KEMB_ROWS_AVX2
  if (vectors) done = PackAvx2(bytes, columns, packed);
#else
  (void)vectors;
#endif
  PackOneByOne(bytes, done, columns, packed);
}

}  // namespace

ErrorDiffuser::ErrorDiffuser(size_t columns, int xres, Loops loops)
    : columns_(columns),
      model_(xres),
      error_limit_(2 * model_.LoneDot()),
      narrow_columns_(25.4 / std::max(xres, 1) < 0.6 * kRowPitchMm),
      pad_(static_cast<size_t>(model_.reach()) + 2),
      received_(columns, 0),
      above_errors_(columns + 4, 0),
      errors_(columns + 4, 0),
      above_(columns + 2 * pad_, 0),
      row_(columns + 2 * pad_, 0),
      tone_row_(columns, 0),
      base_(columns, 0),
      dot_bytes_(columns, 0) {
#ifdef KEMB_ROWS_AVX2
  vectors_ = loops == Loops::kFastest && CpuHasAvx2();
#else
  (void)loops;
#endif
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
  const int pattern_bits = model_.behind() + 2 * model_.reach() + 1;
  if (pattern_bits <= kMaxTablePatternBits) {
    const size_t patterns = size_t{1} << pattern_bits;
    threshold_.resize(kToneSteps * patterns);
    for (size_t tone = 0; tone < kToneSteps; ++tone) {
      for (size_t pattern = 0; pattern < patterns; ++pattern) {
        threshold_[(tone << pattern_bits) | pattern] =
            ((model_.NewInk(static_cast<uint32_t>(pattern)) * weight_[tone]) >> 8) + offset_[tone];
      }
    }
  }
  uint32_t state = 0x9E3779B9u;
  for (size_t n = 0; n < kNoiseLength; ++n) noise_[n] = static_cast<int8_t>(Noise(state));
  std::copy_n(noise_.begin(), 8, noise_.begin() + kNoiseLength);
}

void ErrorDiffuser::DiffuseRow(std::span<const int32_t> targets, std::span<uint8_t> dots) {
  // Short spans shorten the row rather than run past them.
  const size_t columns = std::min({columns_, targets.size(), dots.size() * 8});
  std::fill(dots.begin(), dots.end(), 0);
  const RowTables tables = {model_.NewInkTable(),
                            threshold_.empty() ? nullptr : threshold_.data(),
                            weight_.data(),
                            offset_.data(),
                            spread_.data(),
                            noise_.data(),
                            noise_at_,
                            model_.behind(),      model_.behind() + 2 * model_.reach() + 1,
                            error_limit_};
  // Columns past this row's end send nothing to the next, nor hold dots.
  if (columns < columns_) {
    std::fill(errors_.begin() + 2 + static_cast<ptrdiff_t>(columns), errors_.end(), 0);
    std::fill(row_.begin() + static_cast<ptrdiff_t>(pad_ + columns), row_.end(), 0);
  }
  const RowBuffers rows = {above_errors_.data() + 2, received_.data(), tone_row_.data(),
                           base_.data(),             above_.data() + pad_, row_.data() + pad_,
                           errors_.data() + 2,       dot_bytes_.data()};
  if (narrow_columns_) {
    DiffuseRowWith<Narrow>(tables, targets.data(), columns, leftward_, vectors_, rows);
  } else {
    DiffuseRowWith<Wide>(tables, targets.data(), columns, leftward_, vectors_, rows);
  }
  Pack(dot_bytes_.data(), columns, vectors_, dots.data());
  above_errors_.swap(errors_);
  above_.swap(row_);
  noise_at_ = (noise_at_ + 397) % kNoiseLength;  // each row its own stretch of the noise
  leftward_ = !leftward_;
}

}  // namespace kemb::halftone
