// SPDX-License-Identifier: Apache-2.0
// MakeTargets: per pixel, the forced cases of kSolidDark first, then the tone curve.
//   TargetsOneByOne   the plain loop; also the rest of a row after the vector blocks
//   TargetsAvx2       eight pixels at a time: each pixel spread over a 32-bit lane, each
//                     channel's share of the luminance by a table gather
// The processor picks the path once; -DKEMB_NO_AVX2 leaves the vector path out.
#include "dot_targets.h"

#include <algorithm>
#include <cstddef>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(KEMB_NO_AVX2)
#define KEMB_TARGETS_AVX2 1
#include <immintrin.h>
#endif

namespace kemb::halftone {
namespace {

void TargetsOneByOne(const uint8_t* rgb, HalftoneMode mode, const ToneCurve& curve,
                     int32_t* targets, size_t begin, size_t end) {
  const bool solid_dark = mode == HalftoneMode::kSolidDark;
  for (size_t x = begin; x < end; ++x) {
    const uint8_t r = rgb[3 * x];
    const uint8_t g = rgb[3 * x + 1];
    const uint8_t b = rgb[3 * x + 2];
    if (solid_dark) {
      if (SolidInSolidDarkMode(r, g, b)) {
        targets[x] = kForceDot;
        continue;
      }
      if (r + g + b > pixel::kInkedSum) {
        targets[x] = kForceBlank;
        continue;
      }
    }
    targets[x] = curve.Coverage(r, g, b);
  }
}

#ifdef KEMB_TARGETS_AVX2

bool CpuHasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

// Per 32-bit lane (pixel i of four in each 128-bit half): R and G as 16-bit words, or B alone.
alignas(32) constexpr uint8_t kRedGreen[32] = {
    0, 0x80, 1, 0x80, 3, 0x80, 4, 0x80, 6, 0x80, 7, 0x80, 9, 0x80, 10, 0x80,
    0, 0x80, 1, 0x80, 3, 0x80, 4, 0x80, 6, 0x80, 7, 0x80, 9, 0x80, 10, 0x80};
alignas(32) constexpr uint8_t kBlue[32] = {
    2, 0x80, 0x80, 0x80, 5, 0x80, 0x80, 0x80, 8, 0x80, 0x80, 0x80, 11, 0x80, 0x80, 0x80,
    2, 0x80, 0x80, 0x80, 5, 0x80, 0x80, 0x80, 8, 0x80, 0x80, 0x80, 11, 0x80, 0x80, 0x80};

// Returns the number of pixels done: whole blocks of 8 whose loads stay inside the row (each
// block reads 4 bytes past its own 24).
template <HalftoneMode kMode>
__attribute__((target("avx2"))) size_t TargetsAvx2(const uint8_t* rgb, size_t rgb_bytes,
                                                   size_t pixels, const ToneCurve& curve,
                                                   int32_t* targets) {
  const __m256i red_green = _mm256_load_si256(reinterpret_cast<const __m256i*>(kRedGreen));
  const __m256i blue = _mm256_load_si256(reinterpret_cast<const __m256i*>(kBlue));
  const __m256i low_word = _mm256_set1_epi32(0xFFFF);
  // ToneCurve::CoverageOfLight, lane by lane.
  const __m256i full = _mm256_set1_epi32(kFullDot);
  const __m256i half_step = _mm256_set1_epi32(128);
  const __m256i one = _mm256_set1_epi32(1);
  const __m256i below_full = _mm256_set1_epi32(kFullDot - 1);
  const __m256i white = _mm256_set1_epi32(ToneCurve::kFullLight);
  const size_t blocks = std::min(pixels / 8, rgb_bytes < 28 ? 0 : (rgb_bytes - 28) / 24 + 1);
  for (size_t n = 0; n < blocks; ++n) {
    const uint8_t* p = rgb + 24 * n;
    const __m256i bytes = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), 1);
    const __m256i rg = _mm256_shuffle_epi8(bytes, red_green);
    const __m256i b = _mm256_shuffle_epi8(bytes, blue);
    const __m256i r = _mm256_and_si256(rg, low_word);
    const __m256i g = _mm256_srli_epi32(rg, 16);
    const __m256i light = _mm256_add_epi32(
        _mm256_add_epi32(_mm256_i32gather_epi32(curve.Red(), r, 4),
                         _mm256_i32gather_epi32(curve.Green(), g, 4)),
        _mm256_i32gather_epi32(curve.Blue(), b, 4));
    __m256i t = _mm256_sub_epi32(full, _mm256_srai_epi32(_mm256_add_epi32(light, half_step), 8));
    t = _mm256_min_epi32(_mm256_max_epi32(t, one), below_full);
    t = _mm256_blendv_epi8(t, full, _mm256_cmpeq_epi32(light, _mm256_setzero_si256()));
    t = _mm256_andnot_si256(_mm256_cmpeq_epi32(light, white), t);
    if constexpr (kMode == HalftoneMode::kSolidDark) {
      // Lightness(r, g, b) = (77 r + 150 g + 29 b + 128) >> 8, as in dot_targets.h.
      const __m256i luma = _mm256_srli_epi32(
          _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(rg, _mm256_set1_epi32(77 | (150 << 16))),
                                            _mm256_madd_epi16(b, _mm256_set1_epi32(29))),
                           half_step),
          8);
      const __m256i sum =
          _mm256_add_epi32(_mm256_madd_epi16(rg, _mm256_set1_epi32(1 | (1 << 16))), b);
      const __m256i spread =
          _mm256_sub_epi32(_mm256_max_epi32(r, _mm256_max_epi32(g, b)),
                           _mm256_min_epi32(r, _mm256_min_epi32(g, b)));
      const __m256i neutral =
          _mm256_cmpgt_epi32(_mm256_set1_epi32(kSolidNeutralSpread + 1), spread);
      const __m256i near_black =
          _mm256_cmpgt_epi32(_mm256_set1_epi32(kSolidAnyLightness + 1), luma);
      const __m256i dark = _mm256_or_si256(
          _mm256_and_si256(neutral,
                           _mm256_cmpgt_epi32(_mm256_set1_epi32(pixel::kDarkSum + 1), sum)),
          near_black);
      const __m256i paper = _mm256_cmpgt_epi32(sum, _mm256_set1_epi32(pixel::kInkedSum));
      t = _mm256_blendv_epi8(t, _mm256_set1_epi32(kForceDot), dark);
      t = _mm256_blendv_epi8(t, _mm256_set1_epi32(kForceBlank), paper);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(targets + 8 * n), t);
  }
  return 8 * blocks;
}

#endif  // KEMB_TARGETS_AVX2

}  // namespace

void MakeTargets(std::span<const uint8_t> rgb, HalftoneMode mode, const ToneCurve& curve,
                 std::span<int32_t> targets) {
  size_t done = 0;
#ifdef KEMB_TARGETS_AVX2
  if (CpuHasAvx2()) {
    done = mode == HalftoneMode::kSolidDark
               ? TargetsAvx2<HalftoneMode::kSolidDark>(rgb.data(), rgb.size(), targets.size(),
                                                       curve, targets.data())
               : TargetsAvx2<HalftoneMode::kDiffuseAll>(rgb.data(), rgb.size(), targets.size(),
                                                        curve, targets.data());
  }
#endif
  TargetsOneByOne(rgb.data(), mode, curve, targets.data(), done, targets.size());
}

}  // namespace kemb::halftone
