// SPDX-License-Identifier: Apache-2.0
// Thresholding of RGB rows:
//   TextDot, PairPixelDark, LonePixelDot   the rules for one pixel
//   TextRow, PairRow      portable: a dot byte at a time, bytes of white paper skipped
//   TextRowAvx2, ...      the same rules on 32 pixels in byte lanes (rgb_vectors.h), for
//                         processors with AVX2
//   TransToGray, TransToGray360
// Pixels are read before the dot byte made from them is written, and that byte lies behind
// them, so the conversion works in place.
#include "convert/threshold.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "convert/rgb_vectors.h"
#include "pixel/pixel_rules.h"

namespace kemb {
namespace {

// True when all `size` bytes (a multiple of 8) are FF: white paper, no dot whatever the rules.
// Inked content fails on the first word, so the full test costs only where it pays.
inline bool Paper(const uint8_t* bytes, size_t size) {
  uint64_t all = ~uint64_t{0};
  for (size_t k = 0; k < size && all == ~uint64_t{0}; k += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + k, 8);
    all &= word;
  }
  return all == ~uint64_t{0};
}

using namespace pixel;

inline bool TextDot(const uint8_t* p) {
  const int r = p[0], g = p[1], b = p[2], sum = r + g + b;
  return sum <= kTextAlwaysDotSum ||
         (sum < kTextPaperSum && !NeutralWithin(r, g, b, kTextNeutralSpread));
}

inline bool PairPixelDark(const uint8_t* p) {
  const int r = p[0], g = p[1], b = p[2], sum = r + g + b;
  return sum <= kPairDarkSum ||
         (sum < kPairPaperSum && !NeutralWithin(r, g, b, kPairNeutralSpread));
}

inline bool LonePixelDot(const uint8_t* p) {
  return p[0] + p[1] + p[2] < kPairPaperSum;
}

// Writes `dots` dot bits, dot i decided by dot_at(i), skipping whole bytes of paper (each dot
// reads `pixel_bytes` bytes of the `row_bytes` the pixels fill); the caller guarantees that the
// pixels of dot i lie at or after byte i / 8.
template <typename DotAt>
void PackDots(uint8_t* row, size_t dots, size_t pixel_bytes, size_t row_bytes, DotAt dot_at) {
  size_t i = 0;
  for (; i + 8 <= dots; i += 8) {
    unsigned byte = 0;
    // A lone last pixel is shorter than a dot's share: the paper test must not read past it.
    const bool whole = (i + 8) * pixel_bytes <= row_bytes;
    if (!whole || !Paper(row + i * pixel_bytes, 8 * pixel_bytes)) {
      for (size_t k = 0; k < 8; ++k) byte = (byte << 1) | dot_at(i + k);
    }
    row[i / 8] = static_cast<uint8_t>(byte);
  }
  if (i < dots) {
    unsigned byte = 0;
    for (size_t k = 0; k < 8; ++k) byte = (byte << 1) | (i + k < dots && dot_at(i + k));
    row[i / 8] = static_cast<uint8_t>(byte);
  }
}

// The portable row loops, one dot at a time.
void TextRow(uint8_t* row, size_t width) {
  PackDots(row, width, 3, 3 * width, [row](size_t i) { return TextDot(row + 3 * i); });
}

void PairRow(uint8_t* row, size_t pairs, bool odd) {
  PackDots(row, pairs + (odd ? 1 : 0), 6, 6 * pairs + (odd ? 3 : 0), [row, pairs](size_t i) {
    if (i == pairs) return LonePixelDot(row + 6 * i);
    return PairPixelDark(row + 6 * i) || PairPixelDark(row + 6 * i + 3);
  });
}

#ifdef KEMB_RGB_VECTORS

constexpr size_t kLanes = 32;  // pixels per AVX2 block

// Byte j of a channel holds pixel 8 (j / 8) + 7 - j % 8, so that the byte mask of the dots is
// the dot bytes themselves, first pixel in the top bit.
constexpr rgb::Masks kDotOrder =
    rgb::MakeMasks({7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8});
// Bytes 0-7 hold the first pixels of pairs 7..0, bytes 8-15 the second pixels of the same
// pairs: a shift by 8 bytes lines up the two pixels of a pair.
constexpr rgb::Masks kPairOrder =
    rgb::MakeMasks({14, 12, 10, 8, 6, 4, 2, 0, 15, 13, 11, 9, 7, 5, 3, 1});

// 32 pixels at `pixels` into 4 dot bytes.
KEMB_AVX2 inline void TextDots32(const uint8_t* pixels, uint8_t* dots) {
  uint32_t bits = 0;
  if (!rgb::Paper(pixels)) {
    const rgb::Channels px = rgb::Load(pixels, kDotOrder);
    const __m256i ink = rgb::InkOf(px);
    const __m256i always = rgb::AtLeast(ink, rgb::Bytes<765 - kTextAlwaysDotSum>());
    const __m256i inked = rgb::AtLeast(ink, rgb::Bytes<765 - kTextPaperSum + 1>());
    const __m256i neutral = rgb::AtLeast(rgb::Bytes<kTextNeutralSpread>(), rgb::SpreadOf(px));
    const __m256i dot = _mm256_or_si256(always, _mm256_andnot_si256(neutral, inked));
    bits = static_cast<uint32_t>(_mm256_movemask_epi8(dot));
  }
  std::memcpy(dots, &bits, 4);  // little-endian: dot byte 0 first
}

// 32 pixels (16 pairs) at `pixels` into 2 dot bytes.
KEMB_AVX2 inline void PairDots32(const uint8_t* pixels, uint8_t* dots) {
  uint32_t bits = 0;
  if (!rgb::Paper(pixels)) {
    const rgb::Channels px = rgb::Load(pixels, kPairOrder);
    static_assert(kPairDarkSum % 2 == 1);
    const __m256i dark_sum = rgb::SumAtMostOdd<kPairDarkSum / 2>(px);
    const __m256i inked = rgb::AtLeast(rgb::InkOf(px), rgb::Bytes<765 - kPairPaperSum + 1>());
    const __m256i neutral = rgb::AtLeast(rgb::Bytes<kPairNeutralSpread>(), rgb::SpreadOf(px));
    const __m256i dark = _mm256_or_si256(dark_sum, _mm256_andnot_si256(neutral, inked));
    bits = static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_or_si256(dark, _mm256_srli_si256(dark, 8))));
  }
  dots[0] = static_cast<uint8_t>(bits);
  dots[1] = static_cast<uint8_t>(bits >> 16);
}

KEMB_AVX2 void TextRowAvx2(uint8_t* row, size_t width) {
  const size_t whole = width / kLanes;
  for (size_t n = 0; n < whole; ++n) TextDots32(row + n * 3 * kLanes, row + n * kLanes / 8);
  if (const size_t rest = width % kLanes; rest != 0) {
    uint8_t pixels[3 * kLanes], dots[kLanes / 8];
    std::memset(pixels, 0xFF, sizeof pixels);
    std::memcpy(pixels, row + whole * 3 * kLanes, 3 * rest);
    TextDots32(pixels, dots);
    std::memcpy(row + whole * kLanes / 8, dots, (rest + 7) / 8);
  }
}

KEMB_AVX2 void PairRowAvx2(uint8_t* row, size_t pairs, bool odd) {
  constexpr size_t kPairs = kLanes / 2;
  const size_t whole = pairs / kPairs;
  for (size_t n = 0; n < whole; ++n) PairDots32(row + n * 6 * kPairs, row + n * kPairs / 8);
  const size_t rest = pairs % kPairs;
  if (rest == 0 && !odd) return;
  uint8_t pixels[3 * kLanes], dots[kPairs / 8];
  std::memset(pixels, 0xFF, sizeof pixels);
  const uint8_t* from = row + whole * 6 * kPairs;
  std::memcpy(pixels, from, 3 * (2 * rest + (odd ? 1 : 0)));
  PairDots32(pixels, dots);
  if (odd) {
    // The lone pixel went in paired with white; it goes by its sum alone.
    const uint8_t bit = static_cast<uint8_t>(0x80u >> (rest % 8));
    dots[rest / 8] =
        static_cast<uint8_t>((dots[rest / 8] & ~bit) | (LonePixelDot(from + 6 * rest) ? bit : 0));
  }
  std::memcpy(row + whole * kPairs / 8, dots, (rest + (odd ? 1 : 0) + 7) / 8);
}

#endif  // KEMB_RGB_VECTORS

}  // namespace

int TransToGray(uint8_t* row, size_t width) {
#ifdef KEMB_RGB_VECTORS
  if (rgb::CpuHasAvx2()) {
    TextRowAvx2(row, width);
    return 0;
  }
#endif
  TextRow(row, width);
  return 0;
}

int TransToGray360(uint8_t* row, int pairs, int odd) {
#ifdef KEMB_RGB_VECTORS
  if (rgb::CpuHasAvx2()) {
    PairRowAvx2(row, static_cast<size_t>(pairs), odd != 0);
    return 0;
  }
#endif
  PairRow(row, static_cast<size_t>(pairs), odd != 0);
  return 0;
}

}  // namespace kemb
