// SPDX-License-Identifier: Apache-2.0
// AVX2 building blocks for rows of RGB pixels, 32 pixels (96 bytes) at a time, shared by the
// ink count and the thresholding:
//   KEMB_RGB_VECTORS     defined when this build has them (x86-64, GCC or Clang)
//   CpuHasAvx2           whether the processor can run them; decided once
//   LaneOrder / Masks    which pixel each byte of a channel vector holds
//   Channels / Load      R, G and B of 32 pixels as three vectors of bytes
//   Paper                32 pixels of white paper
//   InkOf                765 - (R + G + B), saturated at 255
//   SpreadOf             max - min of R, G and B
//   AtLeast, Bytes       per byte, a >= b as a mask; a constant
//   SumAtMostOdd/Even    R + G + B against a bound above 255, from halves that fit a byte
// Each 128-bit half works on 16 pixels of its own (48 consecutive bytes), so every shuffle stays
// inside its half. Defining KEMB_NO_AVX2 leaves them out, so the portable loops can be tested
// on any machine.
#pragma once

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(KEMB_NO_AVX2)
#define KEMB_RGB_VECTORS 1

#include <immintrin.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#define KEMB_AVX2 __attribute__((target("avx2")))

namespace kemb::rgb {

// Whether the AVX2 loops run: the processor has AVX2 and KEMB_PORTABLE_LOOPS is not set in
// the environment (tests set it to hold the portable loops to the same rules). Decided once.
inline bool CpuHasAvx2() {
  static const bool has =
      __builtin_cpu_supports("avx2") && std::getenv("KEMB_PORTABLE_LOOPS") == nullptr;
  return has;
}

// LaneOrder[j]: the pixel (0..15 within the half) that byte j of each channel vector holds.
using LaneOrder = std::array<uint8_t, 16>;

// pshufb masks: for channel c and source register r (bytes 0-15, 16-31, 32-47 of the half),
// byte j names the byte of r that holds channel c of pixel order[j], or 80h (zero).
struct Masks {
  alignas(32) uint8_t bytes[3][3][32];
};

constexpr Masks MakeMasks(const LaneOrder& order) {
  Masks masks{};
  for (int c = 0; c < 3; ++c) {
    for (int r = 0; r < 3; ++r) {
      for (int j = 0; j < 32; ++j) {
        const int source = 3 * order[j % 16] + c;
        masks.bytes[c][r][j] = static_cast<uint8_t>(source / 16 == r ? source % 16 : 0x80);
      }
    }
  }
  return masks;
}

// 32 bytes of kValue.
template <int kValue>
KEMB_AVX2 inline __m256i Bytes() {
  static_assert(kValue >= 0 && kValue <= 255);
  return _mm256_set1_epi8(static_cast<char>(kValue));
}

struct Channels {
  __m256i r, g, b;
};

// Bytes 16 k .. 16 k + 15 of both halves: of pixels 0-15 (low) and 16-31 (high).
KEMB_AVX2 inline __m256i LoadThird(const uint8_t* p, int k) {
  const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
  const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48 + 16 * k));
  return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

KEMB_AVX2 inline __m256i Pick(__m256i in, const uint8_t (&mask)[32]) {
  return _mm256_shuffle_epi8(in, _mm256_load_si256(reinterpret_cast<const __m256i*>(mask)));
}

KEMB_AVX2 inline __m256i Gather(__m256i a, __m256i b, __m256i c, const uint8_t (&masks)[3][32]) {
  return _mm256_or_si256(_mm256_or_si256(Pick(a, masks[0]), Pick(b, masks[1])), Pick(c, masks[2]));
}

// The 32 pixels at `p`, in the byte order that `masks` was made for.
KEMB_AVX2 inline Channels Load(const uint8_t* p, const Masks& masks) {
  const __m256i a = LoadThird(p, 0), b = LoadThird(p, 1), c = LoadThird(p, 2);
  return {Gather(a, b, c, masks.bytes[0]), Gather(a, b, c, masks.bytes[1]),
          Gather(a, b, c, masks.bytes[2])};
}

// True when all 96 bytes at `p` are FF (white paper).
KEMB_AVX2 inline bool Paper(const uint8_t* p) {
  const __m256i* v = reinterpret_cast<const __m256i*>(p);
  const __m256i all =
      _mm256_and_si256(_mm256_and_si256(_mm256_loadu_si256(v), _mm256_loadu_si256(v + 1)),
                       _mm256_loadu_si256(v + 2));
  return _mm256_testc_si256(all, Bytes<0xFF>());
}

// 765 - (R + G + B) when that is below 255, else 255: each step is min(x + y, 255), and so is
// the whole.
KEMB_AVX2 inline __m256i InkOf(const Channels& px) {
  const __m256i ones = Bytes<0xFF>();
  return _mm256_adds_epu8(
      _mm256_adds_epu8(_mm256_xor_si256(px.r, ones), _mm256_xor_si256(px.g, ones)),
      _mm256_xor_si256(px.b, ones));
}

KEMB_AVX2 inline __m256i SpreadOf(const Channels& px) {
  const __m256i high = _mm256_max_epu8(_mm256_max_epu8(px.r, px.g), px.b);
  const __m256i low = _mm256_min_epu8(_mm256_min_epu8(px.r, px.g), px.b);
  return _mm256_sub_epi8(high, low);
}

// FF where a >= b (unsigned bytes).
KEMB_AVX2 inline __m256i AtLeast(__m256i a, __m256i b) {
  return _mm256_cmpeq_epi8(_mm256_max_epu8(a, b), a);
}

// R + G + B <= 2 kLimit + 1 (an odd bound), from halves that fit a byte:
// floor(sum / 2) = ceil((R + G) / 2) + floor(B / 2) - (1 when R + G is odd and B even).
template <int kLimit>
KEMB_AVX2 inline __m256i SumAtMostOdd(const Channels& px) {
  const __m256i one = Bytes<1>();
  const __m256i half_rg = _mm256_avg_epu8(px.r, px.g);
  const __m256i carry =
      _mm256_and_si256(_mm256_andnot_si256(px.b, _mm256_xor_si256(px.r, px.g)), one);
  const __m256i half_b = _mm256_and_si256(_mm256_srli_epi16(px.b, 1), Bytes<0x7F>());
  // floor(sum / 2) <= kLimit, rearranged so that no byte leaves 0..255.
  return AtLeast(_mm256_sub_epi8(Bytes<kLimit>(), half_b), _mm256_sub_epi8(half_rg, carry));
}

// R + G + B <= 2 kLimit (an even bound): ceil(sum / 2) = ceil((R + G) / 2) + ceil(B / 2)
// - (1 when R + G and B are both odd).
template <int kLimit>
KEMB_AVX2 inline __m256i SumAtMostEven(const Channels& px) {
  const __m256i one = Bytes<1>();
  const __m256i half_rg = _mm256_avg_epu8(px.r, px.g);
  const __m256i carry = _mm256_and_si256(_mm256_and_si256(px.b, _mm256_xor_si256(px.r, px.g)), one);
  const __m256i half_b = _mm256_avg_epu8(px.b, _mm256_setzero_si256());
  return AtLeast(_mm256_add_epi8(_mm256_sub_epi8(Bytes<kLimit>(), half_b), carry), half_rg);
}

}  // namespace kemb::rgb

#endif
