// Thresholding of RGB rows; eight pixels make one dot byte, written behind the pixels read.
#include "convert/threshold.h"

#include <cstdlib>

namespace kemb {
namespace {

inline bool Neutral(int r, int g, int b, int spread) {
  return std::abs(r - g) <= spread && std::abs(g - b) <= spread && std::abs(r - b) <= spread;
}

inline bool TextDot(const uint8_t* p) {
  const int r = p[0], g = p[1], b = p[2], sum = r + g + b;
  return sum <= kAlwaysDotSum || (sum < kPaperSum && !Neutral(r, g, b, kNeutralSpread));
}

inline bool PairPixelDark(const uint8_t* p) {
  const int r = p[0], g = p[1], b = p[2], sum = r + g + b;
  return sum <= kPairDarkSum || (sum < kPairPaperSum && !Neutral(r, g, b, kPairNeutralSpread));
}

inline bool LonePixelDot(const uint8_t* p) { return p[0] + p[1] + p[2] < kPairPaperSum; }

// Writes `dots` dot bits, dot i decided by dot_at(i); the caller guarantees that pixel data
// of dot i lies at or after byte i / 8.
template <typename DotAt>
void PackDots(uint8_t* row, size_t dots, DotAt dot_at) {
  size_t i = 0;
  for (; i + 8 <= dots; i += 8) {
    unsigned byte = 0;
    for (size_t k = 0; k < 8; ++k) byte = (byte << 1) | dot_at(i + k);
    row[i / 8] = static_cast<uint8_t>(byte);
  }
  if (i < dots) {
    unsigned byte = 0;
    for (size_t k = 0; k < 8; ++k) byte = (byte << 1) | (i + k < dots && dot_at(i + k));
    row[i / 8] = static_cast<uint8_t>(byte);
  }
}

}  // namespace

int TransToGray(uint8_t* row, const cups_page_header2_t& header) {
  PackDots(row, header.cupsWidth, [row](size_t i) { return TextDot(row + 3 * i); });
  return 0;
}

int TransToGray360(uint8_t* row, const cups_page_header2_t&, int pairs, int odd) {
  const size_t pair_count = static_cast<size_t>(pairs);
  PackDots(row, pair_count + (odd ? 1 : 0), [row, pair_count](size_t i) {
    if (i == pair_count) return LonePixelDot(row + 6 * i);
    return PairPixelDark(row + 6 * i) || PairPixelDark(row + 6 * i + 3);
  });
  return 0;
}

}  // namespace kemb
