// SPDX-License-Identifier: Apache-2.0
// The content choice, through the built filter and in-process:
//   ContentOption.EachValueTakesItsPath            the options argument: each value, an unknown
//                                                  one, none; the halftoner call and the log
//   AutomaticContent.PrintsTodaysBytes             the job fixtures, with no option, auto and an
//                                                  unknown value, against bytes recorded before
//                                                  the choice existed
//   TextAndGraphic.PictureFromTheImageTextAsOnTextPages
//                                                  a mixed page: the photo's tone the
//                                                  halftoner's dots, everything else the text
//                                                  path's
//   TextAndGraphic.TextOnlyPageIsTheTextPath       no picture: no halftoner, the text bytes
//   TextAndGraphic.Page360x360GoesToModeThree      text there prints at 180 x 180: no mixing
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "content/regions.h"
#include "pixel/pixel_rules.h"
#include "stream_decoder.h"
#include "support/in_process_job.h"
#include "support/job_files.h"
#include "support/raster_writer.h"
#include "support/run_filter.h"

namespace kemb::testing {
namespace {

// A stand-in halftoner, first on PATH: records its arguments and writes a blank image of the
// page's size.
class ContentOption : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream script(dir_.File("kemb_ID"));
    script << "#!/bin/sh\n"
              "echo \"$@\" >> "
           << dir_.File("calls")
           << "\n"
              "size=$(head -c 40 \"$1.ppm\" | sed -n 2p)\n"
              "w=${size% *}; h=${size#* }\n"
              "printf 'P4\\n%s %s\\n' \"$w\" \"$h\" > \"$1.pbm\"\n"
              "head -c $(( (w + 7) / 8 * h )) /dev/zero >> \"$1.pbm\"\n";
    script.close();
    chmod(dir_.File("kemb_ID").c_str(), 0755);
  }
  std::string Calls() {
    std::ifstream in(dir_.File("calls"));
    std::stringstream text;
    text << in.rdbuf();
    std::remove(dir_.File("calls").c_str());
    return text.str();
  }
  FilterRun Run(const RasterPage& page, const std::string& job, const std::string& options) {
    FilterCall call;
    call.args = FilterArgs(job);
    call.args[4] = options;
    call.ppd = WritePpd(dir_.File("p.ppd"), "(KEMB-WMZ)", "KEMB");
    call.input = {{RasterBytes({page})}};
    call.env = {"PATH=" + dir_.path() + ":/usr/bin:/bin"};
    return RunProgram(call);
  }
  TempDir dir_;
};

// Lines of `log` holding `text`.
std::vector<std::string> LinesWith(const std::string& log, const std::string& text) {
  std::vector<std::string> found;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    if (line.find(text) != std::string::npos) found.push_back(line);
  }
  return found;
}

TEST_F(ContentOption, EachValueTakesItsPath) {
  RasterPage text(PageHeader(40, 24));  // all ink dark: the automatic rule's text page
  for (unsigned x = 0; x < 40; x += 3) text.SetDot(x, 5);
  struct Case {
    const char* options;
    const char* mode;       // the halftoner's mode; nullptr: not run
    const char* path_line;  // the page's DEBUG line; nullptr: none
    const char* warning;    // nullptr: none
  };
  const Case cases[] = {
      {"", nullptr, nullptr, nullptr},
      {"print-content-optimize=auto", nullptr, nullptr, nullptr},
      {"print-content-optimize=text", nullptr, "print-content-optimize=text: text path", nullptr},
      {"print-content-optimize=photo", "2", "print-content-optimize=photo: halftoner mode 2",
       nullptr},
      {"print-content-optimize=graphic", "3", "print-content-optimize=graphic: halftoner mode 3",
       nullptr},
      // Thin strokes are no picture: the page stays thresholded, without the halftoner.
      {"print-content-optimize=text-and-graphic", nullptr,
       "print-content-optimize=text-and-graphic: text path (0 of 14 inked pixels print as their "
       "tone)",
       nullptr},
      {"Resolution=180x180dpi print-content-optimize='photo' PageSize=A4", "2",
       "print-content-optimize=photo: halftoner mode 2", nullptr},
      {"print-content-optimize=Photo", nullptr, nullptr,
       "WARNING: Unknown print-content-optimize value \"Photo\", printing as auto"},
      {"print-content-optimize=", nullptr, nullptr,
       "WARNING: Unknown print-content-optimize value \"\", printing as auto"},
      {"print-content-optimize=\"a\tb\"", nullptr, nullptr,
       "WARNING: Unknown print-content-optimize value \"a?b\", printing as auto"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    const std::string job = UniqueJobId();
    FilterRun run = Run(text, job, c.options);
    EXPECT_EQ(run.status, 0) << run.log;
    EXPECT_EQ(FolderAsWord(Calls(), job),
              c.mode ? "<folder>/kemb" + job + "_1 180 " + c.mode + "\n" : "");
    const std::vector<std::string> paths = LinesWith(run.log, "DEBUG: Page 1: ");
    if (c.path_line) {
      ASSERT_EQ(paths.size(), 1u) << run.log;
      EXPECT_NE(paths[0].find(c.path_line), std::string::npos) << paths[0];
    } else {
      EXPECT_EQ(paths, std::vector<std::string>{});
    }
    const std::vector<std::string> warnings = LinesWith(run.log, "WARNING:");
    if (c.warning) {
      EXPECT_EQ(warnings, std::vector<std::string>{c.warning});
    } else {
      EXPECT_EQ(warnings, std::vector<std::string>{});
    }
    EXPECT_EQ(SpoolFilesLeft(job), std::vector<std::string>{});
  }
}

uint64_t Fnv1a(const std::string& bytes) {
  uint64_t hash = 0xcbf29ce484222325u;
  for (unsigned char b : bytes) hash = (hash ^ b) * 0x100000001b3u;
  return hash;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The log less the INFO status lines CUPS shows ("Printed page N", "Ready"), which came after
// these hashes were recorded.
std::string WithoutStatusLines(const std::string& log) {
  std::string kept;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("INFO: Printed page ") || line == "INFO: Ready") continue;
    kept += line + "\n";
  }
  if (!log.empty() && log.back() != '\n' && !kept.empty()) kept.pop_back();
  return kept;
}

TEST(AutomaticContent, PrintsTodaysBytes) {
  // Recorded with the filter as it was before the content choice (the picture fixtures' bytes
  // again when the halftoner became model-based, and when it toned colours by their luminance): exit status, printer bytes
  // and their FNV-1a hash, and the hash of the log with the job's folder as <folder> and its
  // ID in file names as #.
  // The raster of each job fixture, with the real halftoner and the WMZ-24 PPD.
  struct Golden {
    const char* fixture;
    int status;
    size_t bytes;
    uint64_t out_hash, log_hash;
  };
  const Golden goldens[] = {
      {"alt_picture_image", 0, 9890, 0x130b03535213420cu, 0x7b9c4ca2b0a3e3ccu},
      {"alt_text_120", 0, 10320, 0x6221db62c3b42883u, 0x616c384e11d7ff0fu},
      {"alt_text_240", 0, 10720, 0xc011ac0bcb0007e3u, 0xd2027c5b4a065bb7u},
      {"bad_bits_per_color", 1, 9800, 0xd969f9443446b6c5u, 0x4fe80faf419b2ab9u},
      {"empty_output_type", 1, 9800, 0xd969f9443446b6c5u, 0x5803f2d9f14e0ecfu},
      {"lq_picture_bad_image", 0, 9996, 0xa2900f2e38e1d918u, 0x14d3e4c6471fcb15u},
      {"lq_picture_mode2", 0, 10228, 0x08d72baea62168e3u, 0x32fcef11c0bd2e29u},
      {"lq_picture_mode3_360", 0, 10165, 0x2792c924539a58dfu, 0x2f29c887848221fdu},
      {"lq_picture_no_image", 0, 9996, 0xa2900f2e38e1d918u, 0x14d3e4c6471fcb15u},
      {"lq_text_180", 0, 10417, 0x9a475b7164b21722u, 0x87d0c6fd8409efdeu},
      {"lq_text_180_okidata", 0, 10417, 0x9a475b7164b21722u, 0x87d0c6fd8409efdeu},
      {"lq_text_360_reduced", 0, 10038, 0xdadd806bf398ec91u, 0xb0719a61f0bc58cdu},
      {"lq_text_360x180", 0, 10327, 0xcc15b8678de9e133u, 0x78868f00abf031bcu},
      {"mixed_pages", 0, 10300, 0x31930a4c4884aa1du, 0xab3df39898c5db9au},
      {"no_page", 1, 9802, 0x0dff82d48136904eu, 0xa74e5594f26aaf17u},
      {"short_page", 0, 9945, 0x599ce7f3899fab21u, 0x6372d7fea284d377u},
  };
  TempDir dir;
  const std::string warning =
      "WARNING: Unknown print-content-optimize value \"nonsense\", printing as auto\n";
  for (const Golden& g : goldens) {
    std::vector<uint8_t> input =
        ReadFile(std::string(KEMB_SOURCE_DIR) + "/tests/fuzz/corpus/job/" + g.fixture);
    // The fuzz input's halftoner image, if any, follows the raster after a marker line.
    const std::string marker = "\nKEMB-PBM\n";
    auto at = std::search(input.begin(), input.end(), marker.begin(), marker.end());
    input.erase(at, input.end());
    WriteFile(dir.File("job.ras"), input);
    for (const char* options :
         {"", "print-content-optimize=auto", "print-content-optimize=nonsense"}) {
      SCOPED_TRACE(std::string(g.fixture) + " with \"" + options + "\"");
      const std::string job = UniqueJobId();
      FilterCall call;
      call.args = FilterArgs(job, dir.File("job.ras"));
      call.args[4] = options;
      call.ppd = std::string(KEMB_BUILD_DIR) + "/ppd/kemb24.ppd";
      call.env = {"PATH=" + std::string(KEMB_BIN_DIR) + ":/usr/bin:/bin"};
      FilterRun run = RunProgram(call);
      std::string log =
          WithoutStatusLines(ReplaceAll(FolderAsWord(run.log, job), "kemb" + job, "kemb#"));
      if (std::string(options).ends_with("nonsense")) {
        ASSERT_TRUE(log.starts_with(warning)) << log;
        log.erase(0, warning.size());
      }
      EXPECT_EQ(run.status, g.status);
      EXPECT_EQ(run.out.size(), g.bytes);
      EXPECT_EQ(Fnv1a(std::string(run.out.begin(), run.out.end())), g.out_hash);
      EXPECT_EQ(Fnv1a(log), g.log_hash) << log;
    }
  }
}

// The mixed page: glyph-like strokes on the left, a tone ramp as the photo on the right with a
// glyph close beside it on either side, gutters of 7 and 8 pixels. The stand-in halftoner's
// image is a checkerboard, which neither thresholding nor the page itself could print.
constexpr unsigned kWidth = 240, kHeight = 192;
constexpr PixelRect kPhotoArea = {121, 30, 212, 151};

bool Checker(int x, int y) {
  return (x + y) % 2 == 0;
}

RasterPage MixedPage() {
  RasterPage page(PageHeader(kWidth, kHeight));
  auto glyph = [&](unsigned x0, unsigned y0) {  // 6 x 9, strokes 2 wide
    for (unsigned y = y0; y < y0 + 9; ++y) {
      for (unsigned x = x0; x < x0 + 6; ++x) {
        if (x < x0 + 2 || y < y0 + 2 || y >= y0 + 7) page.SetDot(x, y);
      }
    }
  };
  for (unsigned y = 16; y + 9 < 180; y += 14) {
    for (unsigned x = 8; x + 6 <= 100; x += 9) glyph(x, y);
  }
  glyph(108, 60);  // ends at 113: columns 114 to 120 are paper
  glyph(220, 90);  // starts 8 columns after the photo
  for (unsigned y = kPhotoArea.y0; y < kPhotoArea.y1; ++y) {
    for (unsigned x = kPhotoArea.x0; x < kPhotoArea.x1; ++x) {
      const auto v = static_cast<uint8_t>(30 + (x - kPhotoArea.x0) * 2 + (y - kPhotoArea.y0) / 4);
      page.SetPixel(x, y, v, v, static_cast<uint8_t>(v - 10));
    }
  }
  return page;
}

HalftoneRunner CheckerHalftoner(std::vector<std::string>* calls) {
  return [calls](const std::string& base, unsigned xres, HalftoneMode mode) {
    calls->push_back(std::to_string(xres) + " " + std::to_string(static_cast<int>(mode)));
    std::ofstream image(base + ".pbm", std::ios::binary);
    image << "P4\n" << kWidth << " " << kHeight << "\n";
    for (unsigned y = 0; y < kHeight; ++y) {
      for (unsigned byte = 0; byte < (kWidth + 7) / 8; ++byte) {
        uint8_t bits = 0;
        for (unsigned bit = 0; bit < 8; ++bit) {
          if (Checker(int(byte * 8 + bit), int(y))) bits |= uint8_t(0x80 >> bit);
        }
        image.put(char(bits));
      }
    }
    return Status::Ok();
  };
}

struct ContentRun {
  JobOutcome outcome;
  std::vector<std::string> calls;
};

ContentRun RunWith(Content content, const RasterPage& page, const TempDir& dir,
                   const std::string& ppd) {
  ContentRun run;
  InProcessCall call;
  call.raster = RasterBytes({page});
  call.ppd = ppd;
  call.spool_dir = dir.path();
  call.content = content;
  call.halftone = CheckerHalftoner(&run.calls);
  run.outcome = RunInProcess(call).outcome;
  return run;
}

TEST(TextAndGraphic, PictureFromTheImageTextAsOnTextPages) {
  TempDir ppd_dir;
  const std::string ppd = WritePpd(ppd_dir.File("p.ppd"), "(KEMB-WMZ)", "KEMB");
  const RasterPage page = MixedPage();
  TempDir text_dir, mixed_dir;
  const ContentRun text = RunWith(Content::kText, page, text_dir, ppd);
  const ContentRun mixed = RunWith(Content::kTextAndGraphic, page, mixed_dir, ppd);
  ASSERT_EQ(mixed.outcome.status, 0) << mixed.outcome.log;
  EXPECT_EQ(mixed.calls, std::vector<std::string>{"180 2"});
  EXPECT_EQ(mixed.outcome.left, std::vector<std::string>{});

  // The picture as the log names it: the photo's box.
  const std::string& log = mixed.outcome.log;
  const std::string head = "text path with 1 toned shape from the halftoner (";
  const size_t at = log.find(head);
  ASSERT_NE(at, std::string::npos) << log;
  const size_t colon = log.find("): ", at);
  ASSERT_NE(colon, std::string::npos) << log;
  EXPECT_NE(log.substr(at, colon - at).find(" inked pixels print as their tone"), std::string::npos)
      << log;
  const std::string box = std::to_string(kPhotoArea.x0) + "," + std::to_string(kPhotoArea.y0) +
                          "-" + std::to_string(kPhotoArea.x1) + "," +
                          std::to_string(kPhotoArea.y1) + "\n";
  EXPECT_EQ(log.substr(colon + 3, box.size()), box) << log;

  // The photo takes the halftoner's dots, its dark end (a fill) too; the strokes beside it
  // the text path's.
  auto tone = [&](unsigned x, unsigned y) {
    const uint8_t* px = page.rgb.data() + (size_t{y} * kWidth + x) * 3;
    return px[0] + px[1] + px[2] <= pixel::kInkedSum && x >= kPhotoArea.x0 && x < kPhotoArea.x1 &&
           y >= kPhotoArea.y0 && y < kPhotoArea.y1;
  };
  const kembview::Rendering t = kembview::Render(text.outcome.out);
  const kembview::Rendering g = kembview::Render(mixed.outcome.out);
  ASSERT_EQ(t.pages.size(), 1u);
  ASSERT_EQ(g.pages.size(), 1u);
  size_t text_dots = 0, region_dots = 0;
  for (int y = 0; y < int(kHeight); ++y) {
    for (int x = 0; x < int(kWidth); ++x) {
      if (tone(unsigned(x), unsigned(y))) {
        ASSERT_EQ(g.pages[0].Dot(x, y), Checker(x, y)) << "picture dot " << x << "," << y;
        region_dots += Checker(x, y);
      } else {
        ASSERT_EQ(g.pages[0].Dot(x, y), t.pages[0].Dot(x, y)) << "text dot " << x << "," << y;
        text_dots += t.pages[0].Dot(x, y);
      }
    }
  }
  EXPECT_GT(text_dots, 1000u);
  EXPECT_GT(region_dots, 5000u);
}

TEST(TextAndGraphic, TextOnlyPageIsTheTextPath) {
  TempDir ppd_dir;
  const std::string ppd = WritePpd(ppd_dir.File("p.ppd"), "(KEMB-WMZ)", "KEMB");
  RasterPage page = MixedPage();
  // Paint the photo out: paper.
  for (unsigned y = kPhotoArea.y0; y < kPhotoArea.y1; ++y) {
    for (unsigned x = kPhotoArea.x0; x < kPhotoArea.x1; ++x) page.SetPixel(x, y, 255, 255, 255);
  }
  TempDir text_dir, mixed_dir;
  const ContentRun text = RunWith(Content::kText, page, text_dir, ppd);
  const ContentRun mixed = RunWith(Content::kTextAndGraphic, page, mixed_dir, ppd);
  EXPECT_EQ(mixed.calls, std::vector<std::string>{});
  EXPECT_EQ(mixed.outcome.out, text.outcome.out);
}

TEST(TextAndGraphic, Page360x360GoesToModeThree) {
  TempDir ppd_dir, spool;
  const std::string ppd = WritePpd(ppd_dir.File("p.ppd"), "(KEMB-WMZ)", "KEMB");
  RasterPage page(PageHeader(kWidth, kHeight, 360, 360));
  for (unsigned y = kPhotoArea.y0; y < kPhotoArea.y1; ++y) {
    for (unsigned x = kPhotoArea.x0; x < kPhotoArea.x1; ++x) page.SetPixel(x, y, 120, 140, 90);
  }
  std::vector<std::string> calls;
  InProcessCall call;
  call.raster = RasterBytes({page});
  call.ppd = ppd;
  call.spool_dir = spool.path();
  call.content = Content::kTextAndGraphic;
  call.halftone = CheckerHalftoner(&calls);
  const JobOutcome outcome = RunInProcess(call).outcome;
  EXPECT_EQ(outcome.status, 0) << outcome.log;
  EXPECT_EQ(calls, std::vector<std::string>{"360 3"});
  EXPECT_NE(outcome.log.find("print-content-optimize=text-and-graphic: halftoner mode 3 ("),
            std::string::npos)
      << outcome.log;
  EXPECT_NE(outcome.log.find("pbm ok"), std::string::npos) << outcome.log;
}

}  // namespace
}  // namespace kemb::testing
