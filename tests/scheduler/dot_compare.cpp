// SPDX-License-Identifier: Apache-2.0
// Placement search for text pages and tone correlation for picture pages.
#include "scheduler/dot_compare.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

namespace kemb::scheduler_test {
namespace {

std::vector<std::pair<int, int>> DotList(const kembview::Page& page) {
  std::vector<std::pair<int, int>> dots;
  for (int y = 0; y < page.height; ++y) {
    for (int x = 0; x < page.width; ++x) {
      if (page.Dot(x, y)) dots.emplace_back(x, y);
    }
  }
  return dots;
}

// The reference's inked pixels (the filter's "not paper": R+G+B <= 730).
Rect InkedBox(const RgbImage& reference) {
  Rect box{reference.width, reference.height, 0, 0};
  for (int y = 0; y < reference.height; ++y) {
    for (int x = 0; x < reference.width; ++x) {
      if (reference.Sum(x, y) > 730) continue;
      box.left = std::min(box.left, x), box.right = std::max(box.right, x + 1);
      box.top = std::min(box.top, y), box.bottom = std::max(box.bottom, y + 1);
    }
  }
  return box.left < box.right ? box : Rect{};
}

double Correlation(const std::vector<double>& a, const std::vector<double>& b) {
  const double n = double(a.size());
  double ma = 0, mb = 0;
  for (size_t i = 0; i < a.size(); ++i) ma += a[i] / n, mb += b[i] / n;
  double cov = 0, va = 0, vb = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    cov += (a[i] - ma) * (b[i] - mb), va += (a[i] - ma) * (a[i] - ma);
    vb += (b[i] - mb) * (b[i] - mb);
  }
  return va > 0 && vb > 0 ? cov / std::sqrt(va * vb) : 0;
}

}  // namespace

std::string TextMatch::Describe() const {
  char text[320];
  std::snprintf(text, sizeof text,
                "placement (%d, %d): %zu of %zu printed dots on dark reference pixels "
                "(%.2f%%, %.2f%% within a pixel), %zu of %zu dark reference pixels printed "
                "(%.2f%%, %.2f%% within a pixel)",
                x0, y0, matched, printed, 100 * Precision(), 100 * PrecisionNear(), matched,
                reference, 100 * Recall(), 100 * RecallNear());
  return text;
}

TextMatch MatchText(const kembview::Page& page, const RgbImage& reference, const Rect& printable,
                    int expected_x0, int expected_y0, int window) {
  TextMatch best;
  const std::vector<std::pair<int, int>> dots = DotList(page);
  best.printed = dots.size();
  for (int y = printable.top; y < printable.bottom; ++y) {
    for (int x = printable.left; x < printable.right; ++x) {
      best.reference += DarkReference(reference, x, y);
    }
  }
  best.x0 = expected_x0, best.y0 = expected_y0;
  for (int dy = -window; dy <= window; ++dy) {
    for (int dx = -window; dx <= window; ++dx) {
      const int x0 = expected_x0 + dx, y0 = expected_y0 + dy;
      size_t matched = 0;
      for (const auto& [x, y] : dots) matched += DarkReference(reference, x + x0, y + y0);
      if (matched > best.matched) best.matched = matched, best.x0 = x0, best.y0 = y0;
    }
  }

  const auto near = [](auto&& is_set, int x, int y) {
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        if (is_set(x + dx, y + dy)) return true;
      }
    }
    return false;
  };
  const auto dark = [&](int x, int y) { return DarkReference(reference, x, y); };
  const auto dot = [&](int x, int y) { return page.Dot(x - best.x0, y - best.y0); };
  for (const auto& [x, y] : dots) best.printed_near += near(dark, x + best.x0, y + best.y0);
  for (int y = printable.top; y < printable.bottom; ++y) {
    for (int x = printable.left; x < printable.right; ++x) {
      if (DarkReference(reference, x, y)) best.reference_near += near(dot, x, y);
    }
  }
  return best;
}

std::string ToneMatch::Describe() const {
  char text[240];
  std::snprintf(text, sizeof text,
                "picture at x %d..%d, y %d..%d: correlation %.3f over %zu blocks, %.1f%% of its "
                "dots set; %zu of %zu printed dots outside it",
                picture.left, picture.right, picture.top, picture.bottom, correlation, blocks,
                100 * coverage, dots_outside, dots);
  return text;
}

ToneMatch MatchTone(const kembview::Page& page, const RgbImage& reference, int x0, int y0,
                    int block, int slack) {
  ToneMatch tone;
  tone.picture = InkedBox(reference);
  const Rect& box = tone.picture;
  const Rect allowed{box.left - slack, box.top - slack, box.right + slack, box.bottom + slack};
  size_t inside = 0;
  for (const auto& [x, y] : DotList(page)) {
    ++tone.dots;
    if (!allowed.Contains(x + x0, y + y0)) ++tone.dots_outside;
    if (box.Contains(x + x0, y + y0)) ++inside;
  }
  const double area = double(box.right - box.left) * double(box.bottom - box.top);
  tone.coverage = area > 0 ? double(inside) / area : 0;

  std::vector<double> darkness, coverage;
  for (int by = box.top; by + block <= box.bottom; by += block) {
    for (int bx = box.left; bx + block <= box.right; bx += block) {
      double dark = 0, set = 0;
      for (int y = by; y < by + block; ++y) {
        for (int x = bx; x < bx + block; ++x) {
          dark += 765 - reference.Sum(x, y);
          set += page.Dot(x - x0, y - y0);
        }
      }
      darkness.push_back(dark), coverage.push_back(set);
    }
  }
  tone.blocks = darkness.size();
  tone.correlation = Correlation(darkness, coverage);
  return tone;
}

}  // namespace kemb::scheduler_test
