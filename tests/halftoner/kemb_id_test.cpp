// SPDX-License-Identifier: Apache-2.0
// kemb_ID as the filter runs it: tone of flat patches, crisp glyphs in mode 3, short pages,
// refused input, failed writes and cancellation, always with nothing on standard output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "dot_targets.h"
#include "pbm_writer.h"
#include "program_run.h"
#include "support/scratch_dir.h"
#include "test_page.h"
#include "tone_curve.h"

namespace kemb::halftone::test {
namespace {

using kemb::testing::TempDir;

// The checks every run shares: nothing on stdout, and on success the image and the input
// are the only files left.
void ExpectCleanSuccess(const Outcome& run, const TempDir& dir, const std::string& where) {
  EXPECT_EQ(run.exit_code, 0) << where << ": " << run.err;
  EXPECT_EQ(run.out, "") << where << ": wrote to standard output";
  EXPECT_EQ(run.err, "") << where;
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"page.pbm", "page.ppm"})) << where;
}

void ExpectRefusal(const Outcome& run, const TempDir& dir,
                   const std::vector<std::string>& inputs, const std::string& where) {
  EXPECT_NE(run.exit_code, 0) << where;
  EXPECT_EQ(run.signal, 0) << where << ": killed by signal";
  EXPECT_EQ(run.out, "") << where << ": wrote to standard output";
  const auto lines = Lines(run.err);
  ASSERT_EQ(lines.size(), 1u) << where << ": standard error was '" << run.err << "'";
  EXPECT_EQ(run.err.back(), '\n') << where;
  EXPECT_EQ(lines[0].rfind("ERROR: kemb_ID: ", 0), 0u) << where << ": '" << lines[0] << "'";
  EXPECT_EQ(dir.Entries(), inputs) << where << ": left an image or a temporary file";
}

// Runs one page through the program and reads the image back.
DotImage Halftone(const RgbPage& page, int xres, int mode, const std::string& where) {
  TempDir dir;
  WriteFile(dir.File("page.ppm"), page.Ppm());
  const Outcome run = RunProgram({dir.File("page"), std::to_string(xres), std::to_string(mode)});
  ExpectCleanSuccess(run, dir, where);
  DotImage image;
  const auto problem = ReadDotImage(dir.File("page.pbm"), page.width(), page.height(), &image);
  EXPECT_FALSE(problem) << where << ": " << problem.value_or("");
  if (problem) image.rows.assign(image.row_bytes * page.height(), '\0');
  return image;
}

TEST(KembId, FlatGreysInkTheirCoverageOnPaper) {
  // Judged on paper, each dot a disc: a grey's coverage relative to a solid print (which at
  // 60 dpi leaves paper between the columns).
  constexpr size_t kSide = 160;
  const Rect inner = {40, 40, 80, 80};
  for (int xres : {60, 180, 360}) {
    const auto solid = [](size_t, size_t) { return true; };
    const double full = PaperCoverage(solid, kSide, kSide, inner, xres);
    for (int mode : {2, 3}) {
      for (int grey = 0; grey <= 255; grey += grey == 224 ? 31 : 32) {
        const std::string where = "grey " + std::to_string(grey) + " at " + std::to_string(xres) +
                                  " dpi, mode " + std::to_string(mode);
        const DotImage image = Halftone(RgbPage(kSide, kSide, Grey(grey)), xres, mode, where);
        double expected = TargetCoverage(grey);
        if (mode == 3 && 3 * grey <= pixel::kDarkSum) expected = 1.0;
        if (mode == 3 && 3 * grey > pixel::kInkedSum) expected = 0.0;
        if (expected == 0.0 || expected == 1.0) {
          EXPECT_EQ(image.DotShare({0, 0, kSide, kSide}), expected) << where;
        } else {
          const double inked = PaperCoverage([&](size_t x, size_t y) { return image.Dot(x, y); },
                                             kSide, kSide, inner, xres);
          EXPECT_NEAR(inked / full, expected, 0.02) << where;
        }
      }
    }
  }
}

TEST(KembId, MixedModeKeepsGlyphEdgesExact) {
  // A grey ground with a black bar, a dark-brown letter E, a paper box holding a dark
  // glyph, and near-white paper right against the bar.
  RgbPage page(240, 160, Grey(170));
  const Rgb brown = {120, 100, 80};        // sum 300: still dark
  const Rgb near_white = {244, 244, 243};  // sum 731: paper
  page.FillRect({10, 10, 60, 25}, Grey(0));
  page.FillRect({70, 10, 12, 25}, near_white);
  page.FillRect({100, 40, 8, 60}, brown);  // E: stem and three arms
  page.FillRect({108, 40, 30, 8}, brown);
  page.FillRect({108, 66, 22, 7}, brown);
  page.FillRect({108, 92, 30, 8}, brown);
  page.FillRect({150, 100, 70, 50}, Grey(255));
  page.FillRect({165, 115, 3, 20}, Grey(40));
  page.FillRect({168, 132, 30, 3}, Grey(40));
  for (int xres : {120, 180, 360}) {
    const std::string where = std::to_string(xres) + " dpi";
    const DotImage image = Halftone(page, xres, 3, where);
    size_t dark = 0, paper = 0;
    for (size_t y = 0; y < page.height(); ++y) {
      for (size_t x = 0; x < page.width(); ++x) {
        const int sum = page.At(x, y).sum();
        if (sum <= pixel::kDarkSum) {
          ++dark;
          ASSERT_TRUE(image.Dot(x, y)) << where << ": dark pixel " << x << "," << y << " blank";
        } else if (sum > pixel::kInkedSum) {
          ++paper;
          ASSERT_FALSE(image.Dot(x, y)) << where << ": paper pixel " << x << "," << y << " inked";
        }
      }
    }
    EXPECT_GT(dark, 2000u) << where;
    EXPECT_GT(paper, 3000u) << where;
  }
}

TEST(KembId, MixedModeLeavesNoHaloAroundDarkShapes) {
  // A block printed solid although its own tone would take fewer dots: had its surplus
  // been diffused, the ground round it would come out lighter.
  constexpr size_t kSide = 300;
  const Rect block = {75, 75, 150, 150};
  const Rect rings[] = {{block.x - 3, block.y - 3, block.width + 6, 3},
                        {block.x - 3, block.y + block.height, block.width + 6, 3},
                        {block.x - 3, block.y, 3, block.height},
                        {block.x + block.width, block.y, 3, block.height}};
  for (int ground : {128, 200}) {
    RgbPage page(kSide, kSide, Grey(ground));
    page.FillRect(block, Grey(100));
    const DotImage image = Halftone(page, 180, 3, "ground " + std::to_string(ground));
    double dots = 0, pixels = 0;
    for (const Rect& ring : rings) {
      dots += image.DotShare(ring) * static_cast<double>(ring.width * ring.height);
      pixels += static_cast<double>(ring.width * ring.height);
    }
    const double away = image.DotShare({10, 250, 280, 40});
    EXPECT_NEAR(dots / pixels, away, 0.03) << "ring round the block on ground " << ground;
  }
}

TEST(KembId, ShortPageIsPaddedWithPaperToItsStatedHeight) {
  constexpr size_t kWidth = 50, kHeight = 40;
  const RgbPage page(kWidth, kHeight, Grey(0));
  const size_t kept_bytes = 10 * kWidth * 3 + kWidth / 2 * 3;  // 10.5 rows
  for (int mode : {2, 3}) {
    TempDir dir;
    WriteFile(dir.File("page.ppm"), page.Ppm(kept_bytes));
    const Outcome run = RunProgram({dir.File("page"), "180", std::to_string(mode)});
    ExpectCleanSuccess(run, dir, "mode " + std::to_string(mode));
    DotImage image;
    const auto problem = ReadDotImage(dir.File("page.pbm"), kWidth, kHeight, &image);
    ASSERT_FALSE(problem) << "mode " << mode << ": " << *problem;
    for (size_t y = 0; y < kHeight; ++y) {
      for (size_t x = 0; x < kWidth; ++x) {
        const bool present = y < 10 || (y == 10 && x < kWidth / 2);
        ASSERT_EQ(image.Dot(x, y), present)
            << "mode " << mode << ", pixel " << x << "," << y
            << (present ? ": black pixel blank" : ": missing pixel not paper");
      }
    }
  }
}

TEST(KembId, HeaderOnlyPageIsBlankPaper) {
  TempDir dir;
  WriteFile(dir.File("page.ppm"), "P6\n4961 7\n255\n");
  const Outcome run = RunProgram({dir.File("page"), "360", "2"});
  ExpectCleanSuccess(run, dir, "header only");
  DotImage image;
  const auto problem = ReadDotImage(dir.File("page.pbm"), 4961, 7, &image);
  ASSERT_FALSE(problem) << *problem;
  EXPECT_EQ(image.rows.find_first_not_of('\0'), std::string::npos);
}

TEST(KembId, ImageIsPrivateToItsOwner) {
  TempDir dir;
  WriteFile(dir.File("page.ppm"), RgbPage(30, 20, Grey(128)).Ppm());
  ::chmod(dir.File("page.ppm").c_str(), 0644);
  const Outcome run = RunProgram({dir.File("page"), "180", "2"});
  ExpectCleanSuccess(run, dir, "private image");
  struct stat info = {};
  ASSERT_EQ(::stat(dir.File("page.pbm").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 077, 0u) << "image mode " << std::oct << (info.st_mode & 0777);
}

TEST(KembId, RefusesBadInput) {
  const std::string good = RgbPage(4, 3, Grey(90)).Ppm();
  struct Case {
    const char* what;
    std::string ppm;                // "-": no input file at all
    std::vector<std::string> args;  // "@" stands for the base name
  };
  const Case cases[] = {
      {"not P6", "P3\n4 3\n255\n" + good.substr(11), {"@", "180", "2"}},
      {"greyscale P5", "P5\n4 3\n255\n" + good.substr(11), {"@", "180", "3"}},
      {"maxval 65535", "P6\n4 3\n65535\n" + good.substr(11), {"@", "180", "2"}},
      {"truncated header", "P6\n4 3", {"@", "180", "2"}},
      {"header without maxval", "P6\n4 3\n", {"@", "180", "2"}},
      {"empty file", std::string(), {"@", "180", "2"}},
      {"too wide", "P6\n16385 3\n255\n", {"@", "180", "2"}},
      {"too tall", "P6\n4 32769\n255\n", {"@", "180", "2"}},
      {"absurd digits", "P6\n4 99999999999999999999\n255\n", {"@", "180", "2"}},
      {"zero width", "P6\n0 3\n255\n", {"@", "180", "2"}},
      {"missing file", "-", {"@", "180", "2"}},
      {"no arguments", good, {}},
      {"two arguments", good, {"@", "180"}},
      {"four arguments", good, {"@", "180", "2", "x"}},
      {"xres 0", good, {"@", "0", "2"}},
      {"xres 721", good, {"@", "721", "2"}},
      {"xres word", good, {"@", "high", "2"}},
      {"xres with suffix", good, {"@", "180dpi", "2"}},
      {"xres negative", good, {"@", "-180", "2"}},
      {"xres empty", good, {"@", "", "2"}},
      {"mode 1", good, {"@", "180", "1"}},
      {"mode 4", good, {"@", "180", "4"}},
      {"mode 23", good, {"@", "180", "23"}},
      {"mode blank", good, {"@", "180", " 2"}},
      {"empty base name", good, {"", "180", "2"}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    std::vector<std::string> inputs;
    if (c.ppm == "-") {
      // nothing to read
    } else {
      WriteFile(dir.File("page.ppm"), c.ppm);
      inputs.push_back("page.ppm");
    }
    std::vector<std::string> args = c.args;
    for (std::string& arg : args) {
      if (arg == "@") arg = dir.File("page");
    }
    ExpectRefusal(RunProgram(args), dir, inputs, c.what);
  }
}

TEST(KembId, RefusesAnInputThatCannotBeRead) {
  TempDir dir;
  ASSERT_EQ(::mkdir(dir.File("page.ppm").c_str(), 0700), 0);
  ExpectRefusal(RunProgram({dir.File("page"), "180", "2"}), dir, {"page.ppm"}, "folder as input");
}

TEST(KembId, FailedWriteLeavesNoImage) {
  // The file size limit makes the image's writes fail as on a full disk. The image is
  // larger than one output buffer, so the limits hit the first flush (inside the header),
  // the last flush, and the last byte.
  constexpr size_t kWidth = 2400, kHeight = 1000;
  const RgbPage page(kWidth, kHeight, Grey(128));
  const long image_bytes =
      static_cast<long>(PbmHeader(kWidth, kHeight).size() + kWidth / 8 * kHeight);
  for (long limit : {5L, 270000L, image_bytes - 1}) {
    TempDir dir;
    WriteFile(dir.File("page.ppm"), page.Ppm());
    const Outcome run = RunProgram({dir.File("page"), "180", "2"}, limit);
    ExpectRefusal(run, dir, {"page.ppm"}, "size limit " + std::to_string(limit));
  }
  // The same page with room enough is written whole.
  TempDir dir;
  WriteFile(dir.File("page.ppm"), page.Ppm());
  ExpectCleanSuccess(RunProgram({dir.File("page"), "180", "2"}, image_bytes), dir, "exact room");
}

TEST(KembId, CancelledJobLeavesNoTemporaryFile) {
  // Feed the page through a pipe and stop after its first row, so the program is
  // certainly between creating its image and finishing it when the signal comes.
  TempDir dir;
  const std::string fifo = dir.File("page.ppm");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const Launch launch = StartProgram({dir.File("page"), "180", "2"});
  // Non-blocking, so a program that never opens its input cannot hang the test.
  int feed = -1;
  for (int attempt = 0; attempt < 1000 && feed < 0; ++attempt) {
    feed = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (feed < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_GE(feed, 0) << "the program never opened its input";
  if (feed >= 0) {
    const std::string start = "P6\n100 50\n255\n" + std::string(300, '\x40');
    EXPECT_EQ(::write(feed, start.data(), start.size()), static_cast<ssize_t>(start.size()));
  }
  bool temp_seen = false;
  for (int attempt = 0; attempt < 1000 && feed >= 0 && !temp_seen; ++attempt) {
    temp_seen = dir.Entries().size() == 2;
    if (!temp_seen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(temp_seen) << "no temporary image appeared";
  ::kill(launch.pid, SIGTERM);
  const Outcome run = Finish(launch);
  if (feed >= 0) ::close(feed);
  EXPECT_EQ(run.signal, SIGTERM) << "exit " << run.exit_code << ", " << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"page.ppm"});
}

}  // namespace
}  // namespace kemb::halftone::test
