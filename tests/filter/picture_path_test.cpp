// SPDX-License-Identifier: Apache-2.0
// The picture test and the halftoner hand-off: ink counting and the path chosen at every
// boundary, the halftoner's command line, the image header check, and halftoner stand-ins that
// misbehave, each run through the built filter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/picture.h"
#include "engine/temp_file.h"
#include "support/job_files.h"
#include "support/raster_writer.h"
#include "support/run_filter.h"
#include "stream_decoder.h"

namespace kemb::testing {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(InkCount, SumsAtTheBoundaries) {
  struct Case {
    uint8_t r, g, b;
    uint64_t inked, dark;
  };
  const Case cases[] = {
      {255, 255, 221, 0, 0},  // 731: paper
      {255, 255, 220, 1, 0},  // 730: inked
      {101, 100, 100, 1, 0},  // 301
      {100, 100, 100, 1, 1},  // 300: dark
      {0, 0, 0, 1, 1},
  };
  for (const Case& c : cases) {
    InkCount ink;
    const uint8_t row[] = {c.r, c.g, c.b, 255, 255, 255};
    ink.AddRow(row, sizeof row);
    EXPECT_EQ(ink.inked, c.inked) << c.r + c.g + c.b;
    EXPECT_EQ(ink.dark, c.dark) << c.r + c.g + c.b;
  }
}

TEST(ChooseHalftone, RatioBoundaries) {
  EXPECT_EQ(ChooseHalftone(3.0 / 10), HalftoneMode::kThreshold);
  EXPECT_EQ(ChooseHalftone(29.0 / 100), HalftoneMode::kSolidDark);
  EXPECT_EQ(ChooseHalftone(1.0 / 10), HalftoneMode::kSolidDark);
  EXPECT_EQ(ChooseHalftone(9.0 / 100), HalftoneMode::kDiffuseAll);
  EXPECT_EQ(ChooseHalftone(0.0), HalftoneMode::kDiffuseAll);
  EXPECT_EQ(ChooseHalftone(1.0), HalftoneMode::kThreshold);
  EXPECT_EQ(ChooseHalftone(InkCount{}.Ratio()), HalftoneMode::kThreshold);
  EXPECT_EQ(RatioText(InkCount{}.Ratio()), "nan");
  EXPECT_EQ(RatioText(-std::nan("")), "nan");
  EXPECT_EQ(RatioText(0.05), "0.05");
}

TEST(ReadImageHeader, AcceptsOnlyWhatFitsThePage) {
  struct Case {
    std::string head;
    const char* error;  // nullptr: accepted
    unsigned width = 0, height = 0;
    size_t head_len = 0;
  };
  const Case cases[] = {
      {"P4\n2480 3508\n", nullptr, 2480, 3508, 13},
      {"P4\n1 1\n", nullptr, 1, 1, 7},
      {"P4\n000000000000002 3\n", nullptr, 2, 3, 21},  // newline at the 18th byte
      {"P4\n0000000000000002 3\n", "no size line within 18 bytes"},
      {"P5\n10 10\n", "not a raw PBM (P4)"},
      {"P4 10 10\n", "not a raw PBM (P4)"},
      {"P4\n10 10", "no size line within 18 bytes"},
      {"P4\n10\n10\n", "size line is not \"width height\""},
      {"P4\n# c\n10 10\n", "size line is not \"width height\""},
      {"P4\n0 10\n", "width 0 outside 1 to 2480"},
      {"P4\n2481 10\n", "width 2481 outside 1 to 2480"},
      {"P4\n99999999999 10\n", "size line is not \"width height\""},
      {"P4\n10 0\n", "height 0 outside 1 to 3508"},
      {"P4\n10 3509\n", "height 3509 outside 1 to 3508"},
      {"", "not a raw PBM (P4)"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    const std::string path = dir.File("image.pbm");
    Bytes bytes(c.head.begin(), c.head.end());
    bytes.resize(bytes.size() + 64, 0);  // rows
    if (c.head.empty()) bytes.clear();
    WriteFile(path, bytes);
    UniqueFd fd(OpenForRead(path));
    ImageHeader image;
    Status s = ReadImageHeader(fd.get(), path, 2480, 3508, &image);
    if (c.error == nullptr) {
      ASSERT_TRUE(s.ok()) << c.head << ": " << s.error;
      EXPECT_EQ(image.width, c.width) << c.head;
      EXPECT_EQ(image.height, c.height) << c.head;
      EXPECT_EQ(image.head_len, c.head_len) << c.head;
    } else {
      EXPECT_EQ(s.error, "Bad halftoner image " + path + ": " + c.error) << c.head;
    }
  }
}

// Stand-in halftoners: shell scripts named kemb_ID, first on PATH.
class PicturePath : public ::testing::Test {
 protected:
  // The stand-in records its arguments, then runs `body` with $1 the base name; WRITE_IMAGE
  // writes an empty image of the page's size (taken from the PPM header).
  void StandIn(const std::string& body) {
    std::ofstream script(dir_.File("kemb_ID"));
    script << "#!/bin/sh\n"
              "echo \"$@\" >> " << dir_.File("calls") << "\n"
              "size=$(head -c 40 \"$1.ppm\" | sed -n 2p)\n"
              "w=${size% *}; h=${size#* }\n"
              "write_image() { printf 'P4\\n%s %s\\n' \"$w\" \"$h\" > \"$1.pbm\";"
              " head -c $(( (w + 7) / 8 * h )) /dev/zero >> \"$1.pbm\"; }\n"
           << body << "\n";
    script.close();
    chmod(dir_.File("kemb_ID").c_str(), 0755);
  }
  std::string Calls() {
    Bytes bytes = ReadFile(dir_.File("calls"));
    return std::string(bytes.begin(), bytes.end());
  }
  FilterRun Run(const std::vector<RasterPage>& pages, const std::string& job) {
    FilterCall call;
    call.args = FilterArgs(job);
    call.ppd = WritePpd(dir_.File("p.ppd"), "(KEMB-WMZ)", "KEMB");
    call.input = {{RasterBytes(pages, CUPS_RASTER_WRITE_COMPRESSED)}};
    call.env = {"PATH=" + dir_.path() + ":/usr/bin:/bin"};
    return RunProgram(call);
  }
  TempDir dir_;
};

// A page of 10 pixels: `dark` of sum 300, the rest of sum 301, plus one of `extra` sum.
RasterPage RatioPage(int dark, int extra_sum) {
  RasterPage page(PageHeader(11, 1));
  for (unsigned x = 0; x < 10; ++x) {
    if (static_cast<int>(x) < dark) {
      page.SetPixel(x, 0, 100, 100, 100);
    } else {
      page.SetPixel(x, 0, 101, 100, 100);
    }
  }
  page.SetPixel(10, 0, 255, 255, static_cast<uint8_t>(extra_sum - 510));
  return page;
}

TEST_F(PicturePath, DarkShareChoosesThePath) {
  StandIn("write_image \"$1\"");
  struct Case {
    int dark, extra_sum;
    const char* ratio;
    const char* mode;  // nullptr: text path, no halftoner
  };
  const Case cases[] = {
      {3, 731, "0.30", nullptr},  // 3 / 10
      {3, 730, "0.27", "3"},      // 3 / 11: a sum of 730 is ink
      {2, 731, "0.20", "3"},
      {1, 731, "0.10", "3"},
      {0, 731, "0.00", "2"},
      {10, 731, "1.00", nullptr},
  };
  for (const Case& c : cases) {
    const std::string job = UniqueJobId();
    std::remove(dir_.File("calls").c_str());
    FilterRun run = Run({RatioPage(c.dark, c.extra_sum)}, job);
    EXPECT_EQ(run.status, 0) << run.log;
    EXPECT_NE(run.log.find(std::string("ERROR:pic number:") + c.ratio + "\n"), std::string::npos)
        << c.ratio << "\n" << run.log;
    const std::string folder = JobFolderIn(run.log, job);
    EXPECT_EQ(folder.rfind("/tmp/kemb" + job + ".", 0), 0u) << run.log;
    const std::string expected =
        c.mode ? folder + "/kemb" + job + "_1 180 " + c.mode + "\n" : std::string();
    EXPECT_EQ(Calls(), expected) << c.ratio;
    EXPECT_EQ(SpoolFilesLeft(job), std::vector<std::string>{}) << c.ratio;
  }
}

TEST_F(PicturePath, BlankPageReportsNanAndPrintsFromTheSpool) {
  StandIn("write_image \"$1\"");
  const std::string job = UniqueJobId();
  FilterRun run = Run({RasterPage(PageHeader(16, 4))}, job);
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.log.find("ERROR:pic number:nan\n"), std::string::npos) << run.log;
  EXPECT_NE(run.log.find("ERROR: open " + JobFolderIn(run.log, job) + "/kemb" + job + "_1.ppm ok"),
            std::string::npos)
      << run.log;
  EXPECT_EQ(Calls(), "");
}

TEST_F(PicturePath, HalftonerGetsBaseResolutionAndModeAndItsImageSizeIsUsed) {
  StandIn("write_image \"$1\"");
  const std::string job = "42";
  RasterPage text(PageHeader(8, 2));
  text.SetDot(0, 0);
  // A grey A4 page: ink, but nothing dark.
  RasterPage photo(PageHeader(2480, 3508));
  std::fill(photo.rgb.begin(), photo.rgb.end(), 200);
  FilterRun run = Run({text, text, photo}, job);
  EXPECT_EQ(run.status, 0) << run.log;
  // The base name lies in the job's private folder, made in /tmp when $TMPDIR is unset.
  const std::string folder = JobFolderIn(run.log, job);
  EXPECT_EQ(folder.rfind("/tmp/kemb42.", 0), 0u) << run.log;
  EXPECT_EQ(Calls(), folder + "/kemb42_3 180 2\n");
  EXPECT_NE(run.log.find("ERROR: cupsWidth:2480 cupsHeight:3508 PerLine:310 pbmHeadLen:13\n"),
            std::string::npos)
      << run.log;
  EXPECT_NE(run.log.find("ERROR: open " + folder + "/kemb42_3.pbm ok 0\n"), std::string::npos);
  EXPECT_EQ(SpoolFilesLeft(job), std::vector<std::string>{});
}

TEST_F(PicturePath, HalftonerOutputNeverReachesThePrinter) {
  StandIn("echo stray text; write_image \"$1\"");
  const std::string job = UniqueJobId();
  RasterPage photo(PageHeader(16, 4));
  std::fill(photo.rgb.begin(), photo.rgb.end(), 200);
  FilterRun run = Run({photo}, job);
  EXPECT_EQ(run.status, 0) << run.log;
  EXPECT_NE(run.log.find("stray text"), std::string::npos);
  const std::string out(run.out.begin(), run.out.end());
  EXPECT_EQ(out.find("stray"), std::string::npos);
}

// A photograph-like page: a soft radial shading with a light ring, no dark pixels.
RasterPage PhotoPage(unsigned width, unsigned height) {
  RasterPage page(PageHeader(width, height));
  for (unsigned y = 0; y < height; ++y) {
    for (unsigned x = 0; x < width; ++x) {
      const double dx = x - width / 2.0, dy = y - height / 2.0;
      const double r = std::sqrt(dx * dx + dy * dy) / (width / 2.0);
      const int level = 110 + static_cast<int>(140 * std::min(1.0, r)) +
                        static_cast<int>(20 * std::sin(x / 9.0) * std::cos(y / 7.0));
      const uint8_t v = static_cast<uint8_t>(std::clamp(level, 0, 255));
      page.SetPixel(x, y, v, static_cast<uint8_t>(std::min(255, v + 10)), v);
    }
  }
  return page;
}

// At 180 x 180 a picture page prints exactly the halftoner's image.
TEST_F(PicturePath, PrintedPictureIsTheHalftonersImage) {
  const RasterPage photo = PhotoPage(150, 100);
  // The halftoner's own image of the page, from a spool file made as the filter makes it.
  const std::string base = dir_.File("direct");
  Bytes ppm;
  const std::string head = "P6\n150 100\n255\n";
  ppm.insert(ppm.end(), head.begin(), head.end());
  ppm.insert(ppm.end(), photo.rgb.begin(), photo.rgb.end());
  WriteFile(base + ".ppm", ppm);
  FilterCall halftone;
  halftone.program = BinPath("kemb_ID");
  halftone.args = {base, "180", "2"};
  ASSERT_EQ(RunProgram(halftone).status, 0);
  const Bytes image = ReadFile(base + ".pbm");
  const std::string image_head = "P4\n150 100\n";
  ASSERT_EQ(std::string(image.begin(), image.begin() + image_head.size()), image_head);

  FilterCall call;
  call.args = FilterArgs(UniqueJobId());
  call.ppd = WritePpd(dir_.File("p.ppd"), "(KEMB-WMZ)", "KEMB");
  call.input = {{RasterBytes({photo})}};
  call.env = {"PATH=" + std::string(KEMB_BIN_DIR) + ":/usr/bin:/bin"};
  FilterRun run = RunProgram(call);
  ASSERT_EQ(run.status, 0) << run.log;
  ASSERT_NE(run.log.find("ERROR:pic number:0.00"), std::string::npos) << run.log;

  kembview::Rendering rendering = kembview::Render(run.out);
  ASSERT_EQ(rendering.pages.size(), 1u);
  const kembview::Page& page = rendering.pages[0];
  size_t dots = 0;
  for (unsigned y = 0; y < 100; ++y) {
    for (unsigned x = 0; x < 150; ++x) {
      const bool want = image[image_head.size() + y * 19 + x / 8] & (0x80 >> (x % 8));
      dots += want;
      ASSERT_EQ(page.Dot(int(x), int(y)), want) << "dot (" << x << ", " << y << ")";
    }
  }
  EXPECT_EQ(page.CountDots(), dots);
  EXPECT_GT(dots, 1000u);
}

}  // namespace
}  // namespace kemb::testing
