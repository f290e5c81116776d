// SPDX-License-Identifier: Apache-2.0
// Tests of bad input: what still renders, what is reported, and that nothing grows unbounded.
//
//   ReportsProblemsWithOffsets   truncated and unknown commands, each problem naming its offset
//   DrawsWhatATruncatedImageHas  the columns present before the cut
//   CapsAbsurdPositions          huge advances and wide images stay within the page cap
//   RefusesOutOfRangeOptions     option densities outside the accepted range
//   EveryCutOfAValidStream       problems exactly when the cut falls inside a command
//   SurvivesGarbage              random streams: pages within caps, consistent sizes
//   CapsProblemCount             a flood of unknown bytes gives a bounded report
#include <gtest/gtest.h>

#include <random>
#include <span>
#include <string>

#include "stream_bytes.h"
#include "stream_decoder.h"

namespace {

using kembtest::Bytes;
using kembtest::Cat;
using kembtest::Repeat;

bool AnyContains(const std::vector<std::string>& problems, const std::string& text) {
  for (const std::string& problem : problems) {
    if (problem.find(text) != std::string::npos) return true;
  }
  return false;
}

TEST(Robustness, ReportsProblemsWithOffsets) {
  const struct {
    const char* name;
    Bytes stream;
    const char* problem;  // text one of the problems must contain
  } cases[] = {
      {"stray byte", {0x0D, 0x0D, 0x07}, "offset 0x2: UNKNOWN 07h"},
      {"cut image",
       {0x0D, 0x1B, 0x2A, 0x27, 0x02, 0x00, 0x80},
       "offset 0x1: truncated ESC * (mode=27h (180dpi) columns=2 data=1 of 6 bytes)"},
      {"cut header", {0x1B, 0x25, 0x31, 0x00}, "offset 0x0: truncated ESC % 1"},
      {"unit 0", {0x1B, 0x28, 0x55, 0x01, 0x00, 0x00}, "offset 0x0: ESC ( U with unit 0"},
      {"form length 0", {0x0D, 0x1B, 0x43, 0x00}, "offset 0x1: ESC C with 0 lines"},
  };
  for (const auto& c : cases) {
    const auto problems = kembview::Render(c.stream).problems;
    EXPECT_TRUE(AnyContains(problems, c.problem))
        << "case: " << c.name << ", problems: " << problems.size()
        << (problems.empty() ? "" : ", first: " + problems.front());
  }
}

TEST(Robustness, DrawsWhatATruncatedImageHas) {
  // 3 columns declared, cut after the 5th data byte: column 1 keeps its first two bytes.
  const Bytes stream = {0x1B, 0x2A, 0x27, 0x03, 0x00, 0x80, 0x00, 0x00, 0x00, 0x80};
  const kembview::Rendering rendering = kembview::Render(stream);
  ASSERT_EQ(rendering.pages.size(), 1u);
  EXPECT_EQ(kembtest::DotsOf(rendering.pages[0]), (kembtest::DotList{{0, 0}, {1, 8}}));
  EXPECT_EQ(rendering.problems.size(), 1u);
}

TEST(Robustness, CapsAbsurdPositions) {
  Bytes far_down = kembtest::LqUnit(0xFF);
  for (int i = 0; i < 2000; ++i) far_down = Cat({far_down, kembtest::LqAdvance(0xFFFF)});
  // 65535 columns at 60 dpi reach far past the widest page; the last column has a dot.
  Bytes wide = Cat({Repeat(0, 3 * 65534), {0x80, 0, 0}});
  const struct {
    const char* name;
    Bytes stream;
  } cases[] = {
      {"paper moved beyond any page", Cat({far_down, kembtest::LqImage(0x27, {0x80, 0, 0})})},
      {"image beyond the widest page", kembtest::LqImage(0x00, wide)},
      {"form of 2805 lines at 360 rows",
       Cat({{0x1B, 0x46, 0xFF, 0xFF}, kembtest::LqImage(0x48, {0x80, 0, 0})})},
  };
  for (const auto& c : cases) {
    const kembview::Rendering rendering = kembview::Render(c.stream);
    ASSERT_EQ(rendering.pages.size(), 1u) << "case: " << c.name;
    const kembview::Page& page = rendering.pages[0];
    EXPECT_LE(page.width, kembview::kMaxPageWidth) << "case: " << c.name;
    EXPECT_LE(page.height, kembview::kMaxPageHeight) << "case: " << c.name;
    EXPECT_EQ(page.dots.size(), static_cast<size_t>(page.width) * page.height) << c.name;
    EXPECT_TRUE(AnyContains(rendering.problems, "page 1: image capped")) << "case: " << c.name;
  }
}

TEST(Robustness, RefusesOutOfRangeOptions) {
  kembview::RenderOptions options;
  options.alternate_xdpi = 0;
  options.alternate_ydpi = 100000;
  options.modeless_xdpi = -5;
  const auto rendering = kembview::Render(kembtest::AltImage({0x80, 0, 0}), options);
  EXPECT_EQ(rendering.problems.size(), 3u);
  ASSERT_EQ(rendering.pages.size(), 1u);
  EXPECT_EQ(rendering.pages[0].xdpi, 180);
  EXPECT_EQ(rendering.pages[0].ydpi, 180);
}

// A two-page job of both sets cut at every length: clean exactly at command boundaries.
TEST(Robustness, EveryCutOfAValidStream) {
  const Bytes job = Cat({Repeat(0, 20),
                         kembtest::kResetLq,
                         {0x1B, 0x43, 3},
                         kembtest::kCr,
                         kembtest::LqUnit(0x14),
                         kembtest::LqAdvance(8),
                         kembtest::LqUnit(0x40),
                         kembtest::LqImage(0x27, {0x80, 0, 0, 0, 0x01, 0}),
                         kembtest::kFf,
                         {0x1B, 0x4E, 0x1B, 0x25, 0x42, 0x1B, 0x46, 0, 3},
                         kembtest::kCr,
                         kembtest::AltAdvance(0x20),
                         kembtest::AltImage({0, 0, 1}),
                         kembtest::kFf});
  std::vector<bool> boundary(job.size() + 1, false);
  for (const kembview::Command& command : kembview::ListCommands(job)) {
    const bool nul = command.name.rfind("NUL", 0) == 0;
    for (size_t at = command.offset; at <= command.offset + command.length; ++at) {
      if (nul || at == command.offset || at == command.offset + command.length) {
        boundary[at] = true;
      }
    }
  }
  for (size_t cut = 0; cut <= job.size(); ++cut) {
    const std::span<const uint8_t> prefix(job.data(), cut);
    const kembview::Rendering rendering = kembview::Render(prefix);
    EXPECT_EQ(rendering.problems.empty(), static_cast<bool>(boundary[cut])) << "cut at " << cut;
    const auto commands = kembview::ListCommands(prefix);
    const bool last_unknown = !commands.empty() && commands.back().unknown;
    EXPECT_EQ(last_unknown, !boundary[cut]) << "cut at " << cut;
  }
}

TEST(Robustness, SurvivesGarbage) {
  const uint8_t alphabet[] = {0x00, 0x0C, 0x0D, 0x1B, 0x2A, 0x25, 0x28, 0x31, 0x35, 0x55,
                              0x76, 0x43, 0x46, 0x27, 0x48, 0x03, 0x01, 0x02, 0xFF, 0x80};
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    Bytes stream(random() % 400);
    for (uint8_t& byte : stream) {
      byte = random() % 4 ? alphabet[random() % sizeof alphabet] : static_cast<uint8_t>(random());
    }
    const kembview::Rendering rendering = kembview::Render(stream);
    for (size_t i = 0; i < rendering.pages.size(); ++i) {
      const kembview::Page& page = rendering.pages[i];
      EXPECT_GE(page.width, 1) << "round " << round << ", page " << i + 1;
      EXPECT_LE(page.width, kembview::kMaxPageWidth) << "round " << round << ", page " << i + 1;
      EXPECT_LE(page.height, kembview::kMaxPageHeight) << "round " << round << ", page " << i + 1;
      EXPECT_EQ(page.dots.size(), static_cast<size_t>(page.width) * page.height)
          << "round " << round << ", page " << i + 1;
    }
  }
}

TEST(Robustness, CapsProblemCount) {
  const auto problems = kembview::Render(Repeat(0x07, 100000)).problems;
  ASSERT_FALSE(problems.empty());
  EXPECT_LT(problems.size(), 1000u);
  EXPECT_NE(problems.back().find("more problems"), std::string::npos) << problems.back();
}

}  // namespace
