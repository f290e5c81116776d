// SPDX-License-Identifier: Apache-2.0
// Comparing the dots a printed page carries with Ghostscript's rendering of the same page.
//   Rect              an area of the reference page, in its pixels
//   TextMatch         where the printed dots sit best on the reference, and how well they agree
//   MatchText         searches a small window of placements for the one where most dots fall on
//                     dark reference pixels, and measures agreement there, exact and within a
//                     pixel
//   ToneMatch         how the printed dot density follows the picture's darkness
//   MatchTone         block-by-block correlation over the picture, and dots outside it
//
// A printed page covers only the printable area, so its dot (x, y) lies on reference pixel
// (x + x0, y + y0), with x0, y0 the printable area's top-left corner.
#pragma once

#include <cstddef>
#include <string>

#include "scheduler/test_document.h"
#include "stream_decoder.h"

namespace kemb::scheduler_test {

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom excluded
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

// A reference pixel is dark where the filter's own thresholding would surely set a dot.
inline bool DarkReference(const RgbImage& reference, int x, int y) {
  return reference.Sum(x, y) <= 513;
}

struct TextMatch {
  int x0 = 0, y0 = 0;
  size_t printed = 0;    // dots on the printed page
  size_t reference = 0;  // dark reference pixels inside the printable area
  size_t matched = 0;    // printed dots on dark reference pixels
  // Within one pixel: glyph edges may round the other way where the two renderings' pixel
  // grids are a fraction of a pixel apart.
  size_t printed_near = 0;    // printed dots next to or on a dark reference pixel
  size_t reference_near = 0;  // dark reference pixels next to or under a printed dot

  double Recall() const { return Share(matched, reference); }
  double Precision() const { return Share(matched, printed); }
  double RecallNear() const { return Share(reference_near, reference); }
  double PrecisionNear() const { return Share(printed_near, printed); }
  std::string Describe() const;

 private:
  static double Share(size_t part, size_t whole) {
    return whole ? double(part) / double(whole) : 0;
  }
};

TextMatch MatchText(const kembview::Page& page, const RgbImage& reference, const Rect& printable,
                    int expected_x0, int expected_y0, int window);

struct ToneMatch {
  Rect picture;             // bounding box of the reference's inked pixels
  size_t blocks = 0;        // whole blocks inside it that were compared
  double correlation = 0;   // of block darkness and block dot coverage, -1 to 1
  double coverage = 0;      // share of the picture's dots that are set
  size_t dots = 0;          // on the printed page
  size_t dots_outside = 0;  // more than `slack` pixels outside the picture
  std::string Describe() const;
};

ToneMatch MatchTone(const kembview::Page& page, const RgbImage& reference, int x0, int y0,
                    int block, int slack);

}  // namespace kemb::scheduler_test
