// SPDX-License-Identifier: Apache-2.0
// InkCount: how many pixels of a page carry ink, and how many of those are dark. The page's
// dark share decides between the text path and the halftoner.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kemb {

struct InkCount {
  uint64_t inked = 0;
  uint64_t dark = 0;
  void AddRow(const uint8_t* rgb, size_t bytes);
  // dark / inked; not a number for a page without ink.
  double Ratio() const;
};

}  // namespace kemb
