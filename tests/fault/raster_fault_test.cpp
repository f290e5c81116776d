// SPDX-License-Identifier: Apache-2.0
// Raster streams that end anywhere and pages that change shape, run in-process under the job
// oracle:
//   a stream cut at every byte of a page header and of the first rows, plain and compressed:
//   status 1 and the empty job's line without a whole first header, else 0; the rows that arrived whole print as they
//   are and nothing else does;
//   a job whose pages change size, resolution and command set from page to page: every page
//   prints as its own raster (the picture pages as the halftoner's image).
#include <gtest/gtest.h>

#include "fault_fixture.h"
#include "stream_decoder.h"
#include "support/in_process_job.h"

namespace kemb::testing {
namespace {

constexpr size_t kHeaderEnd = 4 + sizeof(cups_page_header2_t);  // sync word and header

// Without a whole first header the job held no page, and says so.
Expected Cut(size_t at) {
  return at < kHeaderEnd ? Expected{1, "The job held no pages", true, {}} : Expected{0, "", true, {}};
}

class RasterFault : public ::testing::Test {
 protected:
  InProcessCall Call(const Bytes& raster) {
    InProcessCall call;
    call.raster = raster;
    call.ppd = ppd_;
    call.spool_dir = spool_.path();
    call.halftone = ThresholdHalftoner();
    return call;
  }
  TempDir dir_, spool_;
  const std::string ppd_ = WritePpd(dir_.File("p.ppd"), "(KEMB-WMZ)", "KEMB");
};

// Compares a printed page with `want` over the page and counts the dots beyond it.
template <typename Want>
::testing::AssertionResult PrintsAs(const kembview::Page& page, unsigned width, unsigned height,
                                    Want want) {
  size_t dots = 0;
  for (unsigned y = 0; y < height; ++y) {
    for (unsigned x = 0; x < width; ++x) {
      const bool expected = want(x, y);
      dots += expected;
      if (page.Dot(int(x), int(y)) != expected) {
        return ::testing::AssertionFailure()
               << "dot (" << x << ", " << y << ") is " << !expected << ", expected " << expected;
      }
    }
  }
  if (page.CountDots() != dots) {
    return ::testing::AssertionFailure() << page.CountDots() - dots << " dots beyond the page";
  }
  return ::testing::AssertionSuccess();
}

TEST_F(RasterFault, StreamCutAtEveryByteOfAHeaderAndARow) {
  const std::vector<RasterPage> pages = {TextPage(40, 30, 180, 5), TextPage(56, 26, 180, 6)};
  const size_t row_bytes = pages[0].header.cupsBytesPerLine;
  const size_t second = RasterBytes({pages[0]}).size();  // where page 2 starts
  const Bytes stream = RasterBytes(pages);
  std::vector<size_t> cuts;
  for (size_t at = 0; at <= kHeaderEnd + 3 * row_bytes; ++at) cuts.push_back(at);
  for (size_t at = second; at <= second + kHeaderEnd - 4 + 2 * row_bytes; ++at) cuts.push_back(at);
  for (size_t cut : cuts) {
    const std::string where = "stream cut at byte " + std::to_string(cut);
    const JobOutcome outcome =
        RunInProcess(Call(Bytes(stream.begin(), stream.begin() + cut))).outcome;
    ASSERT_TRUE(JobOracle(outcome, Cut(cut), where));
    if (cut < kHeaderEnd) continue;
    // The rows that arrived whole, on each page begun.
    const kembview::Rendering rendering = kembview::Render(outcome.out);
    const bool on_second = cut >= second + kHeaderEnd - 4;
    ASSERT_EQ(rendering.pages.size(), on_second ? 2u : 1u) << where;
    for (size_t p = 0; p < rendering.pages.size(); ++p) {
      const RasterPage& page = pages[p];
      const size_t start = p == 0 ? kHeaderEnd : second + kHeaderEnd - 4;
      const unsigned rows =
          p + 1 < rendering.pages.size()
              ? page.header.cupsHeight
              : static_cast<unsigned>((cut - start) / page.header.cupsBytesPerLine);
      ASSERT_TRUE(PrintsAs(rendering.pages[p], page.header.cupsWidth, page.header.cupsHeight,
                           [&](unsigned x, unsigned y) { return y < rows && page.IsBlack(x, y); }))
          << where << ", page " << p + 1 << " with " << rows << " rows";
    }
  }
}

TEST_F(RasterFault, CompressedStreamCutAnywhere) {
  const std::vector<RasterPage> pages = {TextPage(40, 30, 180, 5), PhotoPage(56, 26)};
  const Bytes stream = RasterBytes(pages, CUPS_RASTER_WRITE_COMPRESSED);
  for (size_t cut = 0; cut < stream.size(); ++cut) {
    const std::string where = "compressed stream cut at byte " + std::to_string(cut);
    const JobOutcome outcome =
        RunInProcess(Call(Bytes(stream.begin(), stream.begin() + cut))).outcome;
    ASSERT_TRUE(JobOracle(outcome, Cut(cut), where));
  }
}

TEST_F(RasterFault, PagesChangingShapeFromPageToPage) {
  struct Shape {
    unsigned width, height, xdpi, ydpi;
    const char* type;
    bool photo;
  };
  const Shape shapes[] = {
      {200, 60, 180, 180, "LQ", false}, {37, 100, 360, 180, "LQ", false},
      {90, 50, 120, 120, "ALT", false}, {301, 49, 360, 360, "LQ", false},
      {1, 1, 180, 180, "LQ", false},    {120, 80, 180, 180, "LQ", true},
      {64, 30, 60, 60, "ALT", false},   {1500, 30, 180, 180, "LQ", false},
      {77, 47, 360, 180, "ALT", false}, {45, 70, 120, 120, "ALT", true},
      {9, 9, 180, 180, "LQ", false},
  };
  std::vector<RasterPage> pages;
  unsigned seed = 10;
  for (const Shape& s : shapes) {
    const cups_page_header2_t header = PageHeader(s.width, s.height, s.xdpi, s.ydpi, s.type);
    pages.push_back(s.photo ? RasterPage(header) : TextPage(header, ++seed));
    if (s.photo) {
      const RasterPage photo = PhotoPage(s.width, s.height, 180, ++seed);
      pages.back().rgb = photo.rgb;
    }
  }
  const JobOutcome outcome = RunInProcess(Call(RasterBytes(pages))).outcome;
  ASSERT_TRUE(JobOracle(outcome, {0, "", true, {}}, "changing pages"));
  const kembview::Rendering rendering = kembview::Render(outcome.out);
  ASSERT_EQ(rendering.pages.size(), pages.size());
  for (size_t p = 0; p < pages.size(); ++p) {
    const Shape& s = shapes[p];
    const RasterPage& page = pages[p];
    const bool reduced = !s.photo && s.xdpi == 360 && s.ydpi == 360;
    const unsigned scale = reduced ? 2 : 1;
    auto want = [&](unsigned x, unsigned y) {
      if (s.photo) {  // the test halftoner's threshold
        const uint8_t* rgb = page.rgb.data() + size_t{y} * page.header.cupsBytesPerLine + 3 * x;
        return rgb[0] + rgb[1] + rgb[2] < 3 * 180;
      }
      for (unsigned dy = 0; dy < scale; ++dy) {
        for (unsigned dx = 0; dx < scale; ++dx) {
          const unsigned px = x * scale + dx, py = y * scale + dy;
          if (px < s.width && py < s.height && page.IsBlack(px, py)) return true;
        }
      }
      return false;
    };
    EXPECT_TRUE(PrintsAs(rendering.pages[p], (s.width + scale - 1) / scale,
                         (s.height + scale - 1) / scale, want))
        << "page " << p + 1 << ": " << s.width << "x" << s.height << " " << s.type << " " << s.xdpi
        << "x" << s.ydpi << (s.photo ? " picture" : " text");
  }
}

}  // namespace
}  // namespace kemb::testing
