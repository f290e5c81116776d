// Counting inked and dark pixels of RGB rows.
#include "convert/ink_count.h"

#include <cmath>

namespace kemb {

void InkCount::AddRow(const uint8_t* rgb, size_t bytes) {
  uint64_t row_inked = 0, row_dark = 0;
  for (size_t i = 0; i + 3 <= bytes; i += 3) {
    const int sum = rgb[i] + rgb[i + 1] + rgb[i + 2];
    row_inked += sum <= kInkedSum;
    row_dark += sum <= kDarkSum;
  }
  inked += row_inked;
  dark += row_dark;
}

double InkCount::Ratio() const {
  return inked == 0 ? std::nan("") : static_cast<double>(dark) / static_cast<double>(inked);
}

}  // namespace kemb
