// InkCount: how many pixels of a page carry ink, and how many of those are dark. The page's
// dark share decides between the text path and the halftoner.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kemb {

// Pixel sums R + G + B: up to kInkedSum a pixel is inked, up to kDarkSum it is dark.
inline constexpr int kInkedSum = 730;
inline constexpr int kDarkSum = 300;

struct InkCount {
  uint64_t inked = 0;
  uint64_t dark = 0;
  void AddRow(const uint8_t* rgb, size_t bytes);
  // dark / inked; not a number for a page without ink.
  double Ratio() const;
};

}  // namespace kemb
