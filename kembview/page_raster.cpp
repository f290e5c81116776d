// SPDX-License-Identifier: Apache-2.0
// Turning a collected page into its dot image.
//
//   PickGrid     the page's grid density from the densities its images use
//   Cell         the grid dots one printed dot covers
//   ForEachDot   every dot of an image with its exact position
//   Rasterize    extent, caps, then drawing (characters: page_text.h)
//   Page::Dot, Page::CountDots, ProblemLog
#include <algorithm>

#include "page_draft.h"
#include "page_text.h"

namespace kembview {

bool Page::Dot(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return false;
  return dots[static_cast<size_t>(y) * width + x] != 0;
}

size_t Page::CountDots() const {
  return std::count(dots.begin(), dots.end(), uint8_t{1});
}

namespace detail {
namespace {

// The finest density, unless a coarser one does not divide it: then a 360 grid (or finer)
// on which such dots round to whole grid dots.
int PickGrid(const std::vector<int>& densities, int fallback) {
  if (densities.empty()) return fallback;
  const int finest = *std::max_element(densities.begin(), densities.end());
  for (int density : densities) {
    if (finest % density != 0) return std::max(360, finest);
  }
  return finest;
}

struct Range {
  int64_t begin, end;
};

// Grid dots [begin, end) that a dot from `start` to `start + pitch` covers; at least one.
Range Cell(int64_t start, int64_t pitch, int grid, int64_t per_inch) {
  const int64_t begin = start * grid / per_inch;
  const int64_t end = (start + pitch) * grid / per_inch;
  return {begin, std::max(end, begin + 1)};
}

// Calls visit(x, y, x_pitch, y_pitch) for every dot of the image, in exact units.
template <typename Visit>
void ForEachDot(const PlacedImage& image, std::span<const uint8_t> stream, const Units& units,
                Visit visit) {
  const int64_t x_pitch = units.x_per_inch / image.column_dpi;
  const int64_t y_pitch = units.y_per_inch / image.row_dpi;
  for (size_t i = 0; i < image.data_present; ++i) {
    const uint8_t byte = stream[image.data_offset + i];
    if (byte == 0) continue;
    const int64_t x = image.x + static_cast<int64_t>(i / 3) * x_pitch;
    for (int bit = 0; bit < 8; ++bit) {
      if ((byte & (0x80 >> bit)) == 0) continue;  // most significant bit is the top pin
      const int pin = static_cast<int>(i % 3) * 8 + bit;
      visit(x, image.y + pin * y_pitch, x_pitch, y_pitch);
    }
  }
}

}  // namespace

Page Rasterize(const PageDraft& draft, std::span<const uint8_t> stream, const Units& units,
               const RenderOptions& options, const Font& font, ProblemLog& log) {
  std::vector<int> column_densities, row_densities;
  for (const PlacedImage& image : draft.images) {
    column_densities.push_back(image.column_dpi);
    row_densities.push_back(image.row_dpi);
  }
  if (!draft.texts.empty()) {
    column_densities.push_back(kTextColumnDpi);
    row_densities.push_back(kTextRowDpi);
  }
  const bool alternate_only = draft.saw_alternate && !draft.saw_lq;
  Page page;
  page.xdpi = PickGrid(column_densities, alternate_only ? options.alternate_xdpi : 180);
  page.ydpi = PickGrid(row_densities, alternate_only ? options.alternate_ydpi : 180);
  page.ended_by_form_feed = draft.ended_by_form_feed;

  int64_t right = 1, bottom = 1;
  for (const PlacedImage& image : draft.images) {
    ForEachDot(image, stream, units, [&](int64_t x, int64_t y, int64_t x_pitch, int64_t y_pitch) {
      right = std::max(right, Cell(x, x_pitch, page.xdpi, units.x_per_inch).end);
      bottom = std::max(bottom, Cell(y, y_pitch, page.ydpi, units.y_per_inch).end);
    });
  }
  for (const PlacedText& run : draft.texts) {
    ForEachInk(run, stream, units, page.xdpi, page.ydpi, font, [&](const InkBox& box) {
      right = std::max(right, box.x1);
      bottom = std::max(bottom, box.y1);
    });
  }
  const int64_t form_rows = (draft.length * page.ydpi + units.y_per_inch - 1) / units.y_per_inch;
  bottom = std::max(bottom, form_rows);

  page.width = static_cast<int>(std::min<int64_t>(right, kMaxPageWidth));
  page.height = static_cast<int>(std::min<int64_t>(bottom, kMaxPageHeight));
  page.height = static_cast<int>(
      std::min<size_t>(page.height, kMaxPageDots / static_cast<size_t>(page.width)));
  if (page.width < right || page.height < bottom) {
    log.Add("page " + std::to_string(draft.number) + ": image capped at " +
            std::to_string(page.width) + "x" + std::to_string(page.height) + " of " +
            std::to_string(right) + "x" + std::to_string(bottom) + " grid dots");
  }
  page.dots.assign(static_cast<size_t>(page.width) * static_cast<size_t>(page.height), 0);

  for (const PlacedImage& image : draft.images) {
    ForEachDot(image, stream, units, [&](int64_t x, int64_t y, int64_t x_pitch, int64_t y_pitch) {
      const Range columns = Cell(x, x_pitch, page.xdpi, units.x_per_inch);
      const Range rows = Cell(y, y_pitch, page.ydpi, units.y_per_inch);
      for (int64_t row = rows.begin; row < std::min<int64_t>(rows.end, page.height); ++row) {
        for (int64_t column = columns.begin; column < std::min<int64_t>(columns.end, page.width);
             ++column) {
          page.dots[static_cast<size_t>(row) * page.width + column] = 1;
        }
      }
    });
  }
  for (const PlacedText& run : draft.texts) {
    ForEachInk(run, stream, units, page.xdpi, page.ydpi, font, [&](const InkBox& box) {
      const int64_t end = std::min<int64_t>(box.x1, page.width);
      if (box.x0 >= end) return;
      for (int64_t row = box.y0; row < std::min<int64_t>(box.y1, page.height); ++row) {
        uint8_t* dots = page.dots.data() + static_cast<size_t>(row) * page.width;
        std::fill(dots + box.x0, dots + end, uint8_t{1});
      }
    });
  }
  return page;
}

void ProblemLog::Add(std::string problem) {
  if (problems_.size() < kMaxProblems) {
    problems_.push_back(std::move(problem));
  } else {
    ++dropped_;
  }
}

std::vector<std::string> ProblemLog::Take() {
  std::vector<std::string> problems = std::move(problems_);
  if (dropped_ > 0) problems.push_back("... and " + std::to_string(dropped_) + " more problems");
  problems_.clear();
  dropped_ = 0;
  return problems;
}

}  // namespace detail
}  // namespace kembview
