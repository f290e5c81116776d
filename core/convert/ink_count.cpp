// SPDX-License-Identifier: Apache-2.0
// Counting inked and dark pixels of RGB rows:
//   CountRow       portable: a pixel at a time, runs of white paper 8 at a time
//   CountRowAvx2   32 pixels at a time in byte lanes (rgb_vectors.h), for processors with
//                  AVX2
// White paper counts nothing, so blocks of it are skipped unread.
#include "convert/ink_count.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "convert/rgb_vectors.h"
#include "pixel/pixel_rules.h"

namespace kemb {
namespace {

using pixel::kDarkSum;
using pixel::kInkedSum;

// True when the 24 bytes (8 pixels) at `bytes` are all FF: paper, which counts nothing.
inline bool Paper8(const uint8_t* bytes) {
  uint64_t words[3];
  std::memcpy(words, bytes, sizeof words);
  return (words[0] & words[1] & words[2]) == ~uint64_t{0};
}

// The portable loop, a pixel at a time; runs of paper 8 pixels at a time.
void CountRow(const uint8_t* rgb, size_t pixels, uint64_t* inked, uint64_t* dark) {
  uint64_t row_inked = 0, row_dark = 0;
  auto count = [&](size_t i) {
    const int sum = rgb[3 * i] + rgb[3 * i + 1] + rgb[3 * i + 2];
    row_inked += sum <= kInkedSum;
    row_dark += sum <= kDarkSum;
  };
  size_t i = 0;
  for (; i + 8 <= pixels; i += 8) {
    if (Paper8(rgb + 3 * i)) continue;
    for (size_t k = 0; k < 8; ++k) count(i + k);
  }
  for (; i < pixels; ++i) count(i);
  *inked += row_inked;
  *dark += row_dark;
}

#ifdef KEMB_RGB_VECTORS

constexpr size_t kLanes = 32;  // pixels per AVX2 block
// Counting ignores the order of the pixels.
constexpr rgb::Masks kAnyOrder =
    rgb::MakeMasks({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});

// Per-byte counters: each block adds at most 1 per byte, so 255 blocks fit before they must be
// summed into the totals.
struct LaneCounts {
  __m256i inked, dark;
};

KEMB_AVX2 inline void CountBlock32(const uint8_t* block, LaneCounts* counts) {
  if (rgb::Paper(block)) return;
  const rgb::Channels px = rgb::Load(block, kAnyOrder);
  const __m256i inked = rgb::AtLeast(rgb::InkOf(px), rgb::Bytes<765 - kInkedSum>());
  static_assert(kDarkSum % 2 == 0);
  const __m256i dark = rgb::SumAtMostEven<kDarkSum / 2>(px);
  counts->inked = _mm256_sub_epi8(counts->inked, inked);  // a mask byte is -1
  counts->dark = _mm256_sub_epi8(counts->dark, dark);
}

KEMB_AVX2 uint64_t LaneTotal(__m256i counts) {
  const __m256i sums = _mm256_sad_epu8(counts, _mm256_setzero_si256());
  alignas(32) uint64_t parts[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(parts), sums);
  return parts[0] + parts[1] + parts[2] + parts[3];
}

KEMB_AVX2 void CountRowAvx2(const uint8_t* rgb, size_t pixels, uint64_t* inked, uint64_t* dark) {
  const size_t whole = pixels / kLanes;
  for (size_t start = 0; start < whole; start += 255) {
    LaneCounts counts{_mm256_setzero_si256(), _mm256_setzero_si256()};
    const size_t end = std::min(whole, start + 255);
    for (size_t n = start; n < end; ++n) CountBlock32(rgb + n * 3 * kLanes, &counts);
    *inked += LaneTotal(counts.inked);
    *dark += LaneTotal(counts.dark);
  }
  if (const size_t rest = pixels % kLanes; rest != 0) {
    uint8_t block[3 * kLanes];
    std::memset(block, 0xFF, sizeof block);
    std::memcpy(block, rgb + whole * 3 * kLanes, 3 * rest);
    LaneCounts counts{_mm256_setzero_si256(), _mm256_setzero_si256()};
    CountBlock32(block, &counts);
    *inked += LaneTotal(counts.inked);
    *dark += LaneTotal(counts.dark);
  }
}

#endif  // KEMB_RGB_VECTORS

}  // namespace

void InkCount::AddRow(const uint8_t* rgb, size_t bytes) {
#ifdef KEMB_RGB_VECTORS
  if (rgb::CpuHasAvx2()) {
    CountRowAvx2(rgb, bytes / 3, &inked, &dark);
    return;
  }
#endif
  CountRow(rgb, bytes / 3, &inked, &dark);
}

double InkCount::Ratio() const {
  return inked == 0 ? std::nan("") : static_cast<double>(dark) / static_cast<double>(inked);
}

}  // namespace kemb
