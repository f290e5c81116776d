// SPDX-License-Identifier: Apache-2.0
// Pixels sorted by kind while spooling, runs joined across rows, fills told by their square,
// strokes and their edge marked row by row, dots laid.
#include "content/regions.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <new>

#include "pixel/pixel_rules.h"
#include "tone_curve.h"

namespace kemb {
namespace {

constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();

// The mask of dots x0 <= x < x1 within byte i (x0 < x1).
uint8_t SpanMask(size_t i, unsigned x0, unsigned x1) {
  const size_t first = x0 / 8, last = (x1 - 1) / 8;
  uint8_t mask = 0xFF;
  if (i == first) mask &= static_cast<uint8_t>(0xFF >> (x0 % 8));
  if (i == last) mask &= static_cast<uint8_t>(0xFF << (7 - (x1 - 1) % 8));
  return mask;
}

void SetDots(std::vector<uint8_t>& dots, unsigned x0, unsigned x1) {
  if (x0 >= x1) return;
  for (size_t i = x0 / 8; i <= (x1 - 1) / 8; ++i) dots[i] |= SpanMask(i, x0, x1);
}

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

RegionMap::RegionMap() {
  const halftone::ToneCurve curve;
  std::copy_n(curve.Red(), 256, red_.begin());
  std::copy_n(curve.Green(), 256, green_.begin());
  std::copy_n(curve.Blue(), 256, blue_.begin());
  auto grey = [&](int v) { return red_[v] + green_[v] + blue_[v]; };
  dark_light_ = grey(128);
  // The thresholding's always-a-dot grey: the darker half of an anti-aliased edge.
  edge_light_ = grey(pixel::kTextAlwaysDotSum / 3);
}

RegionMap::Kind RegionMap::KindOf(const uint8_t* rgb) const {
  // Paper is most of a page: three bytes of FF need no sum.
  if ((rgb[0] & rgb[1] & rgb[2]) == 0xFF || pixel::Sum(rgb) > pixel::kInkedSum) return kPaper;
  const int32_t light = red_[rgb[0]] + green_[rgb[1]] + blue_[rgb[2]];
  if (light <= dark_light_) return kDark;
  if (light <= edge_light_ ||
      pixel::NeutralWithin(rgb[0], rgb[1], rgb[2], pixel::kTextNeutralSpread)) {
    return kEdge;
  }
  return kLight;
}

bool RegionMap::Start(unsigned width, unsigned height, unsigned xdpi, unsigned ydpi) {
  width_ = width;
  height_ = height;
  rows_ = 0;
  square_cols_ = std::max(1u, xdpi / kFillPerInch);
  square_rows_ = std::max(1u, ydpi / kFillPerInch);
  reach_cols_ = std::max(1u, xdpi / 180);
  reach_rows_ = std::max(1u, ydpi / 180);
  usable_ = false;
  if (width == 0 || height == 0) return false;
  try {
    kinds_.assign(width, kPaper);
    crisp_.assign((size_t{width} + 7) / 8, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  usable_ = inked_.Start(width, height) && dark_.Start(width, height) && edge_.Start(width, height);
  return usable_;
}

bool RegionMap::AddRuns(Layer& layer, unsigned y, Kind from, Kind to, bool shapes) {
  std::vector<Run>& runs = layer.runs;
  const size_t first = runs.size();
  layer.row_start[y] = static_cast<uint32_t>(first);
  unsigned across = 0;  // columns in a row whose square of the kind ends here
  for (unsigned x = 0; x < width_; ++x) {
    uint16_t& up = layer.up[x];
    if (kinds_[x] < from || kinds_[x] > to) {
      up = 0;
      across = 0;
      continue;
    }
    if (runs.size() > first && runs.back().x1 == x) {
      runs.back().x1 = x + 1;
    } else {
      if (runs.size() >= kMaxRuns) return false;
      const auto index = static_cast<uint32_t>(runs.size());
      runs.push_back({x, x + 1, index});
      layer.square.push_back(0);
    }
    if (!shapes) continue;
    if (up < square_rows_) ++up;
    across = up == square_rows_ ? across + 1 : 0;
    if (across >= square_cols_) layer.square.back() = 1;
  }
  layer.row_start[y + 1] = static_cast<uint32_t>(runs.size());
  if (!shapes) return true;
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
  return true;
}

void RegionMap::AddRow(const uint8_t* rgb, unsigned y) {
  if (!usable_ || y != rows_ || y >= height_) return;
  for (unsigned x = 0; x < width_; ++x, rgb += 3) kinds_[x] = KindOf(rgb);
  try {
    usable_ = AddRuns(inked_, y, kLight, kDark, true) && AddRuns(dark_, y, kDark, kDark, true) &&
              AddRuns(edge_, y, kEdge, kEdge, false);
  } catch (const std::bad_alloc&) {
    usable_ = false;
  }
  ++rows_;
}

void RegionMap::MarkCrisp(unsigned y) {
  std::fill(crisp_.begin(), crisp_.end(), 0);
  const auto stroke = [&](uint32_t run) { return !dark_.square[run]; };
  for (uint32_t i = dark_.row_start[y]; i < dark_.row_start[y + 1]; ++i) {
    if (stroke(i)) SetDots(crisp_, dark_.runs[i].x0, dark_.runs[i].x1);
  }
  // An edge pixel within a 180 dpi pixel of a stroke pixel, diagonals included.
  const uint32_t edges = edge_.row_start[y], edges_end = edge_.row_start[y + 1];
  if (edges == edges_end) return;
  for (unsigned r = y < reach_rows_ ? 0 : y - reach_rows_; r <= y + reach_rows_ && r < rows_; ++r) {
    uint32_t d = dark_.row_start[r];
    const uint32_t d_end = dark_.row_start[r + 1];
    for (uint32_t e = edges; e < edges_end; ++e) {
      const Run& edge = edge_.runs[e];
      while (d < d_end && dark_.runs[d].x1 + reach_cols_ <= edge.x0) ++d;
      for (uint32_t k = d; k < d_end && dark_.runs[k].x0 < edge.x1 + reach_cols_; ++k) {
        if (!stroke(k)) continue;
        const Run& dark = dark_.runs[k];
        SetDots(crisp_, std::max(edge.x0, dark.x0 < reach_cols_ ? 0 : dark.x0 - reach_cols_),
                std::min(edge.x1, dark.x1 + reach_cols_));
      }
    }
  }
}

Regions RegionMap::Find() {
  Regions found;
  if (!usable_) return found;
  inked_.Settle();
  dark_.Settle();
  // An inked run takes tone when a pixel of it is no stroke; its whole shape is then named.
  std::fill(inked_.square.begin(), inked_.square.end(), 0);
  for (unsigned y = 0; y < rows_; ++y) {
    MarkCrisp(y);
    for (uint32_t i = inked_.row_start[y]; i < inked_.row_start[y + 1]; ++i) {
      const Run& run = inked_.runs[i];
      size_t crisp = 0;
      for (size_t b = run.x0 / 8; b <= (run.x1 - 1) / 8; ++b) {
        crisp += static_cast<size_t>(std::popcount(static_cast<uint8_t>(crisp_[b] & SpanMask(b, run.x0, run.x1))));
      }
      found.inked_pixels += run.x1 - run.x0;
      found.picture_pixels += run.x1 - run.x0 - crisp;
      if (crisp < run.x1 - run.x0) inked_.square[i] = 1;
    }
  }
  inked_.Settle();
  // One box per shape, found at its root run.
  std::vector<uint32_t> box_of(inked_.runs.size(), kNone);
  for (unsigned y = 0; y < rows_; ++y) {
    for (uint32_t i = inked_.row_start[y]; i < inked_.row_start[y + 1]; ++i) {
      if (!inked_.square[i]) continue;
      const Run& run = inked_.runs[i];
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

void RegionMap::LayRow(unsigned y, std::span<uint8_t> dots, std::span<const uint8_t> image) {
  if (!usable_ || y >= rows_) return;
  MarkCrisp(y);
  const size_t bytes = std::min({dots.size(), image.size(), crisp_.size()});
  for (uint32_t i = inked_.row_start[y]; i < inked_.row_start[y + 1]; ++i) {
    if (!inked_.square[i]) continue;
    const Run& run = inked_.runs[i];
    for (size_t b = run.x0 / 8; b <= (run.x1 - 1) / 8 && b < bytes; ++b) {
      const auto tone = static_cast<uint8_t>(SpanMask(b, run.x0, run.x1) & ~crisp_[b]);
      dots[b] = static_cast<uint8_t>((dots[b] & ~tone) | (image[b] & tone));
    }
  }
}

}  // namespace kemb
