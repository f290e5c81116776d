// SPDX-License-Identifier: Apache-2.0
// Runs followed while spooling, shapes joined across rows, pictures told by their square, dots
// laid row by row.
#include "content/regions.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "pixel/pixel_rules.h"

namespace kemb {
namespace {

constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();

}  // namespace

void CopyDots(std::span<uint8_t> dots, std::span<const uint8_t> image, unsigned x0, unsigned x1) {
  x1 = static_cast<unsigned>(std::min<size_t>(x1, std::min(dots.size(), image.size()) * 8));
  if (x0 >= x1) return;
  const size_t first = x0 / 8, last = (x1 - 1) / 8;
  const uint8_t head = static_cast<uint8_t>(0xFF >> (x0 % 8));
  const uint8_t tail = static_cast<uint8_t>(0xFF << (7 - (x1 - 1) % 8));
  auto blend = [&](size_t i, uint8_t mask) {
    dots[i] = static_cast<uint8_t>((dots[i] & ~mask) | (image[i] & mask));
  };
  if (first == last) {
    blend(first, head & tail);
    return;
  }
  blend(first, head);
  std::memcpy(dots.data() + first + 1, image.data() + first + 1, last - first - 1);
  blend(last, tail);
}

bool RegionMap::Layer::Start(unsigned width, unsigned height) {
  runs.clear();
  square.clear();
  try {
    row_start.assign(size_t{height} + 1, 0);
    up.assign(width, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

uint32_t RegionMap::Layer::Root(uint32_t run) {
  while (runs[run].parent != run) {
    runs[run].parent = runs[runs[run].parent].parent;
    run = runs[run].parent;
  }
  return run;
}

// Every run takes its shape's mark.
void RegionMap::Layer::Settle() {
  for (uint32_t i = 0; i < runs.size(); ++i) {
    const uint32_t root = Root(i);
    square[root] |= square[i];
  }
  for (uint32_t i = 0; i < runs.size(); ++i) square[i] = square[Root(i)];
}

bool RegionMap::Start(unsigned width, unsigned height, unsigned xdpi, unsigned ydpi) {
  width_ = width;
  height_ = height;
  rows_ = 0;
  square_cols_ = std::max(1u, xdpi / kSquarePerInch);
  square_rows_ = std::max(1u, ydpi / kSquarePerInch);
  usable_ = false;
  if (width == 0 || height == 0) return false;
  try {
    kinds_.assign(width, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  usable_ = inked_.Start(width, height) && solid_.Start(width, height);
  return usable_;
}

void RegionMap::AddRow(const uint8_t* rgb, unsigned y) {
  if (!usable_ || y != rows_ || y >= height_) return;
  for (unsigned x = 0; x < width_; ++x, rgb += 3) {
    // Paper is most of a page: three bytes of FF need no sum.
    if ((rgb[0] & rgb[1] & rgb[2]) == 0xFF) {
      kinds_[x] = 0;
      continue;
    }
    const int sum = pixel::Sum(rgb);
    kinds_[x] = sum > pixel::kInkedSum ? 0 : sum > kBlackSum ? 1 : 2;
  }
  // Runs of `kind` and above, joined to the touching runs of the row above; the run where a
  // full square of the kind ends is marked. False when the runs would pass kMaxRuns.
  const auto add = [&](Layer& layer, uint8_t kind) {
    std::vector<Run>& runs = layer.runs;
    const size_t first = runs.size();
    layer.row_start[y] = static_cast<uint32_t>(first);
    unsigned across = 0;  // columns in a row whose square of the kind ends here
    for (unsigned x = 0; x < width_; ++x) {
      uint16_t& up = layer.up[x];
      if (kinds_[x] < kind) {
        up = 0;
        across = 0;
        continue;
      }
      if (up < square_rows_) ++up;
      if (runs.size() > first && runs.back().x1 == x) {
        runs.back().x1 = x + 1;
      } else {
        if (runs.size() >= kMaxRuns) return false;
        const auto index = static_cast<uint32_t>(runs.size());
        runs.push_back({x, x + 1, index});
        layer.square.push_back(0);
      }
      across = up == square_rows_ ? across + 1 : 0;
      if (across >= square_cols_) layer.square.back() = 1;
    }
    // Joins: a run above touches one here when they share a column or a corner.
    const size_t above_end = first;
    size_t above = y == 0 ? first : layer.row_start[y - 1];
    for (size_t here = first; here < runs.size(); ++here) {
      while (above < above_end && runs[above].x1 < runs[here].x0) ++above;
      for (size_t a = above; a < above_end && runs[a].x0 <= runs[here].x1; ++a) {
        const uint32_t ra = layer.Root(static_cast<uint32_t>(a));
        const uint32_t rh = layer.Root(static_cast<uint32_t>(here));
        if (ra != rh) runs[std::max(ra, rh)].parent = std::min(ra, rh);
      }
    }
    layer.row_start[y + 1] = static_cast<uint32_t>(runs.size());
    return true;
  };
  try {
    usable_ = add(inked_, 1) && add(solid_, 2);
  } catch (const std::bad_alloc&) {
    usable_ = false;
  }
  ++rows_;
}

Regions RegionMap::Find() {
  Regions found;
  if (!usable_) return found;
  inked_.Settle();
  solid_.Settle();
  // One box per picture, found at its root run.
  std::vector<uint32_t> box_of(inked_.runs.size(), kNone);
  for (unsigned y = 0; y < rows_; ++y) {
    for (uint32_t i = inked_.row_start[y]; i < inked_.row_start[y + 1]; ++i) {
      const Run& run = inked_.runs[i];
      found.inked_pixels += run.x1 - run.x0;
      if (!inked_.square[i]) continue;
      found.picture_pixels += run.x1 - run.x0;
      uint32_t& box = box_of[inked_.Root(i)];
      if (box == kNone) {
        box = static_cast<uint32_t>(found.pictures.size());
        found.pictures.push_back({run.x0, y, run.x1, y + 1});
      }
      PixelRect& r = found.pictures[box];
      r.x0 = std::min(r.x0, run.x0);
      r.x1 = std::max(r.x1, run.x1);
      r.y1 = y + 1;
    }
  }
  std::sort(found.pictures.begin(), found.pictures.end(), [](const PixelRect& a, const PixelRect& b) {
    return a.y0 != b.y0 ? a.y0 < b.y0 : a.x0 < b.x0;
  });
  return found;
}

void RegionMap::LayRow(unsigned y, std::span<uint8_t> dots, std::span<const uint8_t> image) const {
  if (!usable_ || y >= rows_) return;
  uint32_t s = solid_.row_start[y];
  const uint32_t s_end = solid_.row_start[y + 1];
  for (uint32_t i = inked_.row_start[y]; i < inked_.row_start[y + 1]; ++i) {
    const Run& run = inked_.runs[i];
    while (s < s_end && solid_.runs[s].x1 <= run.x0) ++s;
    if (!inked_.square[i]) continue;
    // Solid ink lies within one inked run; shaped like text it keeps the thresholded dots.
    unsigned from = run.x0;
    for (; s < s_end && solid_.runs[s].x0 < run.x1; ++s) {
      if (solid_.square[s]) continue;
      CopyDots(dots, image, from, solid_.runs[s].x0);
      from = solid_.runs[s].x1;
    }
    CopyDots(dots, image, from, run.x1);
  }
}

}  // namespace kemb
