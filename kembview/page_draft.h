// SPDX-License-Identifier: Apache-2.0
// A page as the command walk collects it, before it becomes a dot image (internal).
//
//   Units         exact position units of one rendering: fractions of an inch
//   PlacedImage   one bit image with the head and paper position it was printed at
//   PlacedText    one run of characters with its position, pitch and style
//   PageDraft     the images and characters of one page and what the page set up
//   ProblemLog    problems, capped so that garbage input cannot flood the report
//   Rasterize     the page's dot image on its grid
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "font.h"
#include "stream_decoder.h"

namespace kembview::detail {

// Chosen so that every column and row pitch, the LQ unit m/3600 and the alternate set's
// 1.5-row unit are whole numbers of them.
struct Units {
  int64_t x_per_inch = 720;
  int64_t y_per_inch = 3600;
};

struct PlacedImage {
  int column_dpi = 180;
  int row_dpi = 180;
  int64_t x = 0;  // left edge of column 0, Units::x_per_inch
  int64_t y = 0;  // top of pin 0, Units::y_per_inch
  size_t data_offset = 0;
  size_t data_present = 0;  // 3 bytes per column, the last column may be short
};

struct PlacedText {
  int64_t x = 0;        // left edge of the first character, Units::x_per_inch
  int64_t y = 0;        // top pin, Units::y_per_inch
  int64_t advance = 0;  // character width, Units::x_per_inch
  size_t data_offset = 0;
  size_t count = 0;  // characters, one byte each
  bool bold = false, underline = false, draft = false;
};

// Characters drawn on one page at most; more is reported and left out.
inline constexpr size_t kMaxPageCharacters = size_t{1} << 20;

struct PageDraft {
  int number = 1;
  std::vector<PlacedImage> images;
  std::vector<PlacedText> texts;
  size_t characters = 0;
  bool saw_lq = false;  // LQ-set commands decide the grid of a page without images
  bool saw_alternate = false;
  int64_t length = 0;  // form length, Units::y_per_inch; 0 when none was set
  bool ended_by_form_feed = false;
};

class ProblemLog {
 public:
  static constexpr size_t kMaxProblems = 200;
  void Add(std::string problem);
  std::vector<std::string> Take();

 private:
  std::vector<std::string> problems_;
  size_t dropped_ = 0;
};

Page Rasterize(const PageDraft& draft, std::span<const uint8_t> stream, const Units& units,
               const RenderOptions& options, const Font& font, ProblemLog& log);

}  // namespace kembview::detail
