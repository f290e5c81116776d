// SPDX-License-Identifier: Apache-2.0
// Each PPD through cups-filters' gstoraster, the raster header read back with libcups:
//   RasterCase / Cases()       each model with no options, and Resolution x PageSize
//   RasterHeader/CarriesWhatTheFilterNeeds
//       OutputType of the model's command set, HWResolution and PageSize as chosen, 24-bit
//       chunky RGB rows, and no row wider than the carriage prints
//
// The page is PostScript that asks for no page size, so the PPD's PageSize decides it, as it
// does for a job that pdftopdf has already fitted to the paper.
#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "ppd_models.h"
#include "support/run_filter.h"
#include "support/scratch_dir.h"

namespace kemb::ppd_test {
namespace {

using kemb::testing::TempDir;

const PaperSize kA4 = {"A4", 595, 842};
const PaperSize kFanfold12 = {"FanFoldGerman", 612, 864};
const PaperSize kWideFanfold = {"11x14.875Rotated", 1071, 792};

struct RasterCase {
  std::string name;
  PpdModel model;
  std::string options;  // argv[5] of the filter
  Resolution resolution;
  PaperSize size;
};

void PrintTo(const RasterCase& c, std::ostream* os) {
  *os << c.name;
}

bool Offers(const PpdModel& model, const PaperSize& size) {
  return std::any_of(model.sizes.begin(), model.sizes.end(),
                     [&](const PaperSize& offered) { return offered.keyword == size.keyword; });
}

std::string TestName(std::string name) {
  for (char& ch : name) {
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return name;
}

// Per model: no options at all, then every resolution on A4, on 8.5 x 12 in fanfold and, where
// the carriage takes it, on 14 7/8 in fanfold.
std::vector<RasterCase> Cases() {
  std::vector<RasterCase> cases;
  for (const PpdModel& model : Models()) {
    const std::string base = ModelTestName(model);
    for (const Resolution& resolution : model.resolutions) {
      if (resolution.keyword == model.default_resolution) {
        cases.push_back({base + "_defaults", model, "", resolution, kA4});
      }
    }
    for (const Resolution& resolution : model.resolutions) {
      for (const PaperSize& size : {kA4, kFanfold12, kWideFanfold}) {
        if (!Offers(model, size)) continue;
        cases.push_back({TestName(base + "_" + resolution.keyword + "_" + size.keyword), model,
                         "Resolution=" + resolution.keyword + " PageSize=" + size.keyword,
                         resolution, size});
      }
    }
  }
  return cases;
}

constexpr char kTestPage[] =
    "%!PS-Adobe-3.0\n"
    "%%Pages: 1\n"
    "%%EndComments\n"
    "%%Page: 1 1\n"
    "/Courier findfont 12 scalefont setfont\n"
    "72 600 moveto (KEMB WMZ raster header test) show\n"
    "72 500 144 72 rectfill\n"
    "showpage\n"
    "%%EOF\n";

struct FileDescriptor {
  explicit FileDescriptor(int fd) : fd(fd) {}
  ~FileDescriptor() {
    if (fd >= 0) close(fd);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int fd;
};
struct RasterCloser {
  void operator()(cups_raster_t* ras) const { cupsRasterClose(ras); }
};

class RasterHeader : public ::testing::TestWithParam<RasterCase> {};

TEST_P(RasterHeader, CarriesWhatTheFilterNeeds) {
  const RasterCase& c = GetParam();
  TempDir dir;
  const std::string page = dir.File("page.ps");
  std::ofstream(page) << kTestPage;
  const std::string raster = dir.File("page.ras");
  kemb::testing::WriteFile(raster, {});

  kemb::testing::ProgramCall call;
  call.program = KEMB_GSTORASTER;
  call.args = {"1", "kemb", "ppd-test", "1", c.options, page};
  call.ppd = PpdPath(c.model);
  call.stdout_path = raster;
  const kemb::testing::ProgramRun run = kemb::testing::RunProgram(call);
  ASSERT_EQ(run.status, 0) << c.name << ": gstoraster failed:\n" << run.log;

  const FileDescriptor file(open(raster.c_str(), O_RDONLY));
  ASSERT_GE(file.fd, 0) << c.name << ": no raster file";
  std::unique_ptr<cups_raster_t, RasterCloser> ras(cupsRasterOpen(file.fd, CUPS_RASTER_READ));
  ASSERT_NE(ras, nullptr) << c.name;
  cups_page_header2_t header = {};
  ASSERT_TRUE(cupsRasterReadHeader2(ras.get(), &header)) << c.name << ": no page header";

  EXPECT_STREQ(header.OutputType, c.model.output_type.c_str()) << c.name;
  EXPECT_EQ(header.HWResolution[0], unsigned(c.resolution.x)) << c.name;
  EXPECT_EQ(header.HWResolution[1], unsigned(c.resolution.y)) << c.name;
  EXPECT_EQ(header.PageSize[0], unsigned(c.size.width)) << c.name;
  EXPECT_EQ(header.PageSize[1], unsigned(c.size.length)) << c.name;
  EXPECT_EQ(header.cupsBitsPerColor, 8u) << c.name;
  EXPECT_EQ(header.cupsBitsPerPixel, 24u) << c.name;
  EXPECT_EQ(header.cupsColorOrder, CUPS_ORDER_CHUNKED) << c.name;
  EXPECT_EQ(header.cupsColorSpace, CUPS_CSPACE_RGB) << c.name;
  EXPECT_GT(header.cupsWidth, 0u) << c.name;
  EXPECT_GT(header.cupsHeight, 0u) << c.name;
  EXPECT_EQ(header.cupsBytesPerLine, 3 * header.cupsWidth) << c.name;
  EXPECT_LE(header.cupsWidth, c.model.print_line * c.resolution.x / 72)
      << c.name << ": rows wider than the carriage prints";
}

INSTANTIATE_TEST_SUITE_P(Options, RasterHeader, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace kemb::ppd_test
