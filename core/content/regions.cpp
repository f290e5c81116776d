// SPDX-License-Identifier: Apache-2.0
// Cells counted while spooling, tiles classified, rectangles joined and grown to paper.
#include "content/regions.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "pixel/pixel_rules.h"

namespace kemb {
namespace {

// The largest map: a 16384 x 32768 page has 33.5 million cells of 2 bytes.
constexpr size_t kMaxCells = size_t{1} << 26;

bool Overlap(const auto& a, const auto& b) {
  return a.c0 < b.c1 && b.c0 < a.c1 && a.r0 < b.r1 && b.r0 < a.r1;
}

// Replaces rectangles that overlap by their bounding box until none do.
template <typename Rect>
void MergeOverlaps(std::vector<Rect>* rects) {
  for (bool merged = true; merged;) {
    merged = false;
    for (size_t i = 0; i < rects->size() && !merged; ++i) {
      for (size_t j = i + 1; j < rects->size(); ++j) {
        Rect& a = (*rects)[i];
        const Rect& b = (*rects)[j];
        if (!Overlap(a, b)) continue;
        a = {std::min(a.c0, b.c0), std::min(a.r0, b.r0), std::max(a.c1, b.c1),
             std::max(a.r1, b.r1)};
        rects->erase(rects->begin() + static_cast<std::ptrdiff_t>(j));
        merged = true;
        break;
      }
    }
  }
}

}  // namespace

bool RegionMap::Start(unsigned width, unsigned height) {
  width_ = width;
  height_ = height;
  cols_ = (width + kCell - 1) / kCell;
  rows_ = (height + kCell - 1) / kCell;
  const size_t count = size_t{cols_} * rows_;
  cells_.reset();
  if (count == 0 || count > kMaxCells) return false;
  cells_.reset(new (std::nothrow) Cell[count]());
  return cells_ != nullptr;
}

void RegionMap::AddRow(const uint8_t* rgb, unsigned y) {
  if (y >= height_) return;
  Cell* row = &cells_[size_t{y / kCell} * cols_];
  for (unsigned x = 0; x < width_; ++x, rgb += 3) {
    // Paper is most of a page: three bytes of FF need no sum.
    if ((rgb[0] & rgb[1] & rgb[2]) == 0xFF) continue;
    const int sum = rgb[0] + rgb[1] + rgb[2];
    if (sum > pixel::kInkedSum) continue;
    Cell& cell = row[x / kCell];
    ++cell.ink;
    cell.tone += sum > kBlackSum;
  }
}

bool RegionMap::ColumnBlank(unsigned c, unsigned r0, unsigned r1) const {
  for (unsigned r = r0; r < r1; ++r) {
    if (At(c, r).ink != 0) return false;
  }
  return true;
}

bool RegionMap::RowBlank(unsigned r, unsigned c0, unsigned c1) const {
  for (unsigned c = c0; c < c1; ++c) {
    if (At(c, r).ink != 0) return false;
  }
  return true;
}

bool RegionMap::Grow(CellRect* rect) const {
  bool closed = true;
  // Moves one edge outward while its own line holds ink; `blank(line)` tests a line, `step`
  // moves outward, `at_page_edge` tells when the page itself is the border.
  auto push = [&](unsigned* edge, auto blank, int step, unsigned page_edge) {
    unsigned line = *edge;
    for (unsigned moved = 0; !blank(line); ++moved) {
      if (line == page_edge) {
        *edge = line;
        return;
      }
      if (moved == kMaxGrowCells) {
        closed = false;
        return;
      }
      line = static_cast<unsigned>(static_cast<int>(line) + step);
    }
    *edge = line;
  };
  for (int round = 0; round < 2; ++round) {
    unsigned left = rect->c0, right = rect->c1 - 1;
    push(
        &left, [&](unsigned c) { return ColumnBlank(c, rect->r0, rect->r1); }, -1, 0);
    push(
        &right, [&](unsigned c) { return ColumnBlank(c, rect->r0, rect->r1); }, +1, cols_ - 1);
    rect->c0 = left;
    rect->c1 = right + 1;
    unsigned top = rect->r0, bottom = rect->r1 - 1;
    push(
        &top, [&](unsigned r) { return RowBlank(r, rect->c0, rect->c1); }, -1, 0);
    push(
        &bottom, [&](unsigned r) { return RowBlank(r, rect->c0, rect->c1); }, +1, rows_ - 1);
    rect->r0 = top;
    rect->r1 = bottom + 1;
    if (round == 0) closed = true;  // only the final round's edges count
  }
  return closed;
}

Regions RegionMap::Find() const {
  Regions found;
  if (!cells_) return found;
  const unsigned tcols = (cols_ + kTileCells - 1) / kTileCells;
  const unsigned trows = (rows_ + kTileCells - 1) / kTileCells;
  const unsigned tile_px = kCell * kTileCells;
  found.tiles = size_t{tcols} * trows;

  // Seeds: tiles whose ink covers three quarters and whose tone an eighth of their pixels.
  std::vector<uint8_t> seed(found.tiles, 0);
  for (unsigned tr = 0; tr < trows; ++tr) {
    for (unsigned tc = 0; tc < tcols; ++tc) {
      unsigned ink = 0, tone = 0;
      for (unsigned r = tr * kTileCells; r < std::min(rows_, (tr + 1) * kTileCells); ++r) {
        for (unsigned c = tc * kTileCells; c < std::min(cols_, (tc + 1) * kTileCells); ++c) {
          ink += At(c, r).ink;
          tone += At(c, r).tone;
        }
      }
      const unsigned w = std::min(width_, (tc + 1) * tile_px) - tc * tile_px;
      const unsigned h = std::min(height_, (tr + 1) * tile_px) - tr * tile_px;
      const unsigned area = w * h;
      seed[size_t{tr} * tcols + tc] = 4 * ink >= 3 * area && 8 * tone >= area;
    }
  }

  // Groups of touching seeds (diagonals included), as cell rectangles.
  std::vector<CellRect> rects;
  std::vector<unsigned> stack;
  for (size_t start = 0; start < seed.size(); ++start) {
    if (seed[start] != 1) continue;
    seed[start] = 2;
    stack.assign(1, static_cast<unsigned>(start));
    unsigned tc0 = tcols, tr0 = trows, tc1 = 0, tr1 = 0, count = 0;
    while (!stack.empty()) {
      const unsigned t = stack.back();
      stack.pop_back();
      const unsigned tc = t % tcols, tr = t / tcols;
      ++count;
      tc0 = std::min(tc0, tc);
      tr0 = std::min(tr0, tr);
      tc1 = std::max(tc1, tc + 1);
      tr1 = std::max(tr1, tr + 1);
      for (int dr = -1; dr <= 1; ++dr) {
        for (int dc = -1; dc <= 1; ++dc) {
          const int nc = static_cast<int>(tc) + dc, nr = static_cast<int>(tr) + dr;
          if (nc < 0 || nr < 0 || nc >= static_cast<int>(tcols) || nr >= static_cast<int>(trows))
            continue;
          const size_t n = static_cast<size_t>(nr) * tcols + static_cast<size_t>(nc);
          if (seed[n] == 1) {
            seed[n] = 2;
            stack.push_back(static_cast<unsigned>(n));
          }
        }
      }
    }
    if (count < kMinTiles) continue;
    found.picture_tiles += count;
    rects.push_back({tc0 * kTileCells, tr0 * kTileCells, std::min(cols_, tc1 * kTileCells),
                     std::min(rows_, tr1 * kTileCells)});
  }
  MergeOverlaps(&rects);
  for (CellRect& rect : rects) found.open_joins += !Grow(&rect);
  MergeOverlaps(&rects);

  std::sort(rects.begin(), rects.end(), [](const CellRect& a, const CellRect& b) {
    return a.r0 != b.r0 ? a.r0 < b.r0 : a.c0 < b.c0;
  });
  for (const CellRect& r : rects) {
    found.pictures.push_back({r.c0 * kCell, r.r0 * kCell, std::min(width_, r.c1 * kCell),
                              std::min(height_, r.r1 * kCell)});
  }
  return found;
}

void CopyDots(std::span<uint8_t> dots, std::span<const uint8_t> image, unsigned x0, unsigned x1) {
  x1 = std::min<size_t>(x1, std::min(dots.size(), image.size()) * 8);
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

}  // namespace kemb
