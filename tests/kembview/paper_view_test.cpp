// SPDX-License-Identifier: Apache-2.0
// The paper view against plane geometry: the inked area of a few dots is the area of the union
// of their discs, worked out here from the circle-intersection formula, not by sampling.
#include "paper_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

namespace kembview {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Area of the union of two discs of radius r whose centres are d apart.
double TwoDiscs(double r, double d) {
  if (d >= 2 * r) return 2 * kPi * r * r;
  const double lens = 2 * r * r * std::acos(d / (2 * r)) - d / 2 * std::sqrt(4 * r * r - d * d);
  return 2 * kPi * r * r - lens;
}

Page Dots(int xdpi, int ydpi, const std::vector<std::pair<int, int>>& dots) {
  Page page;
  page.xdpi = xdpi;
  page.ydpi = ydpi;
  page.width = 40;
  page.height = 40;
  page.dots.assign(40 * 40, 0);
  for (auto [x, y] : dots) page.dots[size_t(y) * 40 + size_t(x)] = 1;
  return page;
}

double InkedMm2(const PaperImage& image) {
  double ink = 0;
  for (uint8_t g : image.grey) ink += (255 - g) / 255.0;
  const double pixel_mm = 25.4 / image.dpi;
  return ink * pixel_mm * pixel_mm;
}

TEST(PaperView, InkedAreaIsTheUnionOfTheDiscs) {
  constexpr double kDot = 0.25, r = kDot / 2;
  struct Case {
    const char* what;
    int xdpi, ydpi;
    std::vector<std::pair<int, int>> dots;
    double area;  // mm²
  };
  const Case cases[] = {
      {"one dot", 180, 180, {{5, 5}}, kPi * r * r},
      {"two apart", 180, 180, {{5, 5}, {15, 5}}, 2 * kPi * r * r},
      {"neighbours at 180", 180, 180, {{5, 5}, {6, 5}}, TwoDiscs(r, 25.4 / 180)},
      {"neighbours at 360", 360, 180, {{5, 5}, {6, 5}}, TwoDiscs(r, 25.4 / 360)},
      {"one above the other at 360", 180, 360, {{5, 5}, {5, 6}}, TwoDiscs(r, 25.4 / 360)},
      {"neighbours at 120", 120, 120, {{5, 5}, {6, 5}}, TwoDiscs(r, 25.4 / 120)},
      {"neighbours at 240", 240, 240, {{5, 5}, {6, 5}}, TwoDiscs(r, 25.4 / 240)},
  };
  for (const Case& c : cases) {
    PaperImage image;
    ASSERT_EQ(PaperView(Dots(c.xdpi, c.ydpi, c.dots), kDot, image), "") << c.what;
    EXPECT_NEAR(InkedMm2(image), c.area, 0.04 * c.area) << c.what;
  }
}

TEST(PaperView, FullGridCoversThePaperAndEmptyPageStaysWhite) {
  // 0.25 mm discs 1/180 inch apart leave no gap (the pitch times the square root of 2 is
  // 0.2 mm), so a solid 180 dpi patch prints solid inside.
  std::vector<std::pair<int, int>> all;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) all.push_back({x, y});
  PaperImage solid, empty;
  ASSERT_EQ(PaperView(Dots(180, 180, all), 0.25, solid), "");
  ASSERT_EQ(PaperView(Dots(180, 180, {}), 0.25, empty), "");
  for (int y = 4; y < solid.height - 4; ++y)
    for (int x = 4; x < solid.width - 4; ++x)
      ASSERT_EQ(solid.grey[size_t(y) * size_t(solid.width) + size_t(x)], 0) << x << "," << y;
  for (uint8_t g : empty.grey) ASSERT_EQ(g, 255);
}

TEST(PaperView, RefusesBadDiameterAndHugePages) {
  PaperImage image;
  EXPECT_NE(PaperView(Dots(180, 180, {{1, 1}}), 0, image), "");
  EXPECT_NE(PaperView(Dots(180, 180, {{1, 1}}), 6, image), "");
  Page huge = Dots(30, 30, {});
  huge.width = kMaxPageWidth;
  huge.height = kMaxPageHeight;  // the dots vector is not read before the size is checked
  EXPECT_NE(PaperView(huge, 0.25, image), "");
}

}  // namespace
}  // namespace kembview
