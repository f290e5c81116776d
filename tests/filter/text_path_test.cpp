// SPDX-License-Identifier: Apache-2.0
// The text path through the built filter: spool names and header, the size report, the
// 360 x 360 reduction, clean-up, cancellation while spooling, and the spool file's safety.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/temp_file.h"
#include "support/job_files.h"
#include "support/raster_writer.h"
#include "support/run_filter.h"

namespace kemb::testing {
namespace {

using Bytes = std::vector<uint8_t>;

// A job ID of this test process's own, so parallel tests never share spool names.

bool HasLine(const FilterRun& run, const std::string& line) {
  for (const std::string& l : run.LogLines()) {
    if (l == line) return true;
  }
  return false;
}

class TextPath : public ::testing::Test {
 protected:
  FilterRun Run(const Bytes& raster, const std::string& job, const std::string& stdout_path = "",
                std::vector<std::string> env = {}) {
    FilterCall call;
    call.args = FilterArgs(job);
    call.ppd = WritePpd(dir_.File("p.ppd"), "(KEMB-WMZ)", "KEMB");
    call.input = {{raster}};
    call.stdout_path = stdout_path;
    call.env = std::move(env);
    return RunProgram(call);
  }
  TempDir dir_;
};

TEST_F(TextPath, SpoolNamesCarryJobAndPageAndAreRemoved) {
  const std::string job = UniqueJobId();
  std::vector<RasterPage> pages(3, RasterPage(PageHeader(8, 4)));
  FilterRun run = Run(RasterBytes(pages), job);
  EXPECT_EQ(run.status, 0);
  // Every page of the job in the job's one private folder.
  const std::string folder = JobFolderIn(run.log, job);
  EXPECT_EQ(folder.rfind("/tmp/kemb" + job + ".", 0), 0u) << run.log;
  for (int page = 1; page <= 3; ++page) {
    EXPECT_TRUE(HasLine(run, "ERROR: open " + folder + "/kemb" + job + "_" +
                                 std::to_string(page) + ".ppm ok 0"))
        << "page " << page << "\n" << run.log;
  }
  EXPECT_EQ(SpoolFilesLeft(job), std::vector<std::string>{});
}

TEST_F(TextPath, SizeReportAndSpoolHeaderOfAnA4Page) {
  struct Case {
    unsigned width, height, xdpi, ydpi;
    const char* report;
    const char* head;
  };
  const Case cases[] = {
      {2480, 3508, 180, 180, "ERROR: cupsWidth:2480 cupsHeight:3508 PerLine:7440 pbmHeadLen:17",
       "P6\n2480 3508\n255\n"},
      // 360 x 360 is printed at 180 x 180: half the dots across, rows in pairs.
      {4961, 7016, 360, 360, "ERROR: cupsWidth:2481 cupsHeight:7016 PerLine:14883 pbmHeadLen:17",
       "P6\n4961 7016\n255\n"},
      {4961, 3508, 360, 180, "ERROR: cupsWidth:4961 cupsHeight:3508 PerLine:14883 pbmHeadLen:17",
       "P6\n4961 3508\n255\n"},
  };
  for (const Case& c : cases) {
    RasterPage page(PageHeader(c.width, c.height, c.xdpi, c.ydpi, "LQ", 842));
    FilterRun run = Run(RasterBytes({page}, CUPS_RASTER_WRITE_COMPRESSED), UniqueJobId());
    EXPECT_EQ(run.status, 0) << c.report;
    EXPECT_TRUE(HasLine(run, c.report)) << run.log;
    // The header skipped on read-back is echoed as read.
    EXPECT_NE(run.log.find(std::string("ERROR: pbmHead ") + c.head + " ok \n"), std::string::npos)
        << run.log;
  }
}

// What stands at the names older filters used in /tmp is not ours: it stays as it is.
TEST_F(TextPath, StaleFileOrLinkAtTheOldSpoolNameIsLeftAlone) {
  for (bool link : {false, true}) {
    const std::string job = UniqueJobId();
    const std::string spool = "/tmp/kemb" + job + "_1.ppm";
    const std::string victim = dir_.File("victim");
    WriteFile(victim, {'k', 'e', 'e', 'p'});
    if (link) {
      ASSERT_EQ(symlink(victim.c_str(), spool.c_str()), 0);
    } else {
      WriteFile(spool, {'o', 'l', 'd'});
    }
    RasterPage page(PageHeader(8, 8));
    page.SetDot(0, 0);
    FilterRun run = Run(RasterBytes({page}), job);
    EXPECT_EQ(run.status, 0) << (link ? "symlink" : "stale file") << "\n" << run.log;
    EXPECT_EQ(ReadFile(victim), (Bytes{'k', 'e', 'e', 'p'})) << "victim written through a link";
    struct stat st;
    ASSERT_EQ(lstat(spool.c_str(), &st), 0) << "the stale entry was removed";
    EXPECT_EQ(S_ISLNK(st.st_mode), link);
    if (!link) {
      EXPECT_EQ(ReadFile(spool), (Bytes{'o', 'l', 'd'}));
    }
    std::remove(spool.c_str());
    EXPECT_EQ(SpoolFilesLeft(job), std::vector<std::string>{});
  }
}

TEST_F(TextPath, SpoolWriteFailureEndsTheJobAndRemovesTheFile) {
  // A file size limit makes the spool writes fail as a full disk would.
  const std::string job = UniqueJobId();
  RasterPage page(PageHeader(400, 40));
  FilterCall call;
  call.program = "/bin/sh";
  call.args = {"-c", "trap '' XFSZ; ulimit -f 2; exec \"$0\" \"$@\"", BinPath("rastertokemb"), job,
               "u", "t", "1", ""};
  call.ppd = WritePpd(dir_.File("p.ppd"), "(KEMB-WMZ)", "KEMB");
  call.input = {{RasterBytes({page})}};
  call.stdout_path = "/dev/null";
  FilterRun run = RunProgram(call);
  EXPECT_EQ(run.status, 1);
  const std::string folder = JobFolderIn(run.log, job);
  EXPECT_EQ(folder.rfind("/tmp/kemb" + job + ".", 0), 0u) << run.log;
  EXPECT_EQ(run.LogLines().back(),
            "ERROR: Unable to write spool file " + folder + "/kemb" + job + "_1.ppm: File too large");
  EXPECT_EQ(SpoolFilesLeft(job), std::vector<std::string>{});
}

TEST_F(TextPath, CancelWhileSpoolingEndsThePageAndTheJob) {
  const std::string job = UniqueJobId();
  RasterPage page(PageHeader(64, 2000));
  for (unsigned y = 0; y < 2000; ++y) page.SetDot(y % 64, y);
  const Bytes stream = RasterBytes({page, page});
  // Header and a few rows, then SIGTERM once the page has started, then the rest.
  const size_t head = 4 + sizeof(cups_page_header2_t) + 10 * 192;
  FilterCall call;
  call.args = FilterArgs(job);
  call.ppd = WritePpd(dir_.File("p.ppd"), "(KEMB-WMZ)", "KEMB");
  call.input = {{Bytes(stream.begin(), stream.begin() + head)},
                {Bytes(stream.begin() + head, stream.end()), "PAGE: 1", SIGTERM}};
  FilterRun run = RunProgram(call);
  EXPECT_EQ(run.status, 0) << run.log;
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), 0x0C), 1);
  EXPECT_EQ(run.log.find("PAGE: 2"), std::string::npos);
  EXPECT_EQ(SpoolFilesLeft(job), std::vector<std::string>{});
  // Fewer rows were printed than the page has: far fewer bit images than its 2000 / 24 bands.
  size_t images = 0;
  for (size_t i = 0; i + 2 < run.out.size(); ++i) {
    images += run.out[i] == 0x1B && run.out[i + 1] == 0x2A && run.out[i + 2] == 0x27;
  }
  EXPECT_LT(images, 40u);
}

// A PBM as kembview writes it: P4, comment lines, width, height, rows.
struct Pbm {
  unsigned width = 0, height = 0;
  Bytes rows;
  bool Dot(unsigned x, unsigned y) const {
    return x < width && y < height && (rows[y * ((width + 7) / 8) + x / 8] & (0x80 >> (x % 8)));
  }
};

Pbm ReadPbm(const std::string& path) {
  const Bytes bytes = ReadFile(path);
  std::string text(bytes.begin(), bytes.end());
  size_t at = 0;
  std::vector<unsigned> numbers;
  auto skip_space = [&] {
    while (at < text.size() && (isspace(static_cast<unsigned char>(text[at])) || text[at] == '#')) {
      if (text[at] == '#') at = text.find('\n', at);
      ++at;
    }
  };
  at = 2;
  for (int i = 0; i < 2; ++i) {
    skip_space();
    numbers.push_back(static_cast<unsigned>(std::stoul(text.substr(at))));
    while (at < text.size() && isdigit(static_cast<unsigned char>(text[at]))) ++at;
  }
  ++at;  // the single whitespace before the rows
  return {numbers[0], numbers[1], Bytes(bytes.begin() + at, bytes.end())};
}

// Random black-and-white raster pages through the filter and back through kembview's rendering.
TEST_F(TextPath, PrintedPagesRenderAsTheirDots) {
  struct Case {
    unsigned width, height, xdpi, ydpi;
  };
  const Case cases[] = {{61, 50, 180, 180}, {121, 50, 360, 180}, {123, 51, 360, 360},
                        {8, 9, 360, 360}};
  std::mt19937 random(42);
  for (const Case& c : cases) {
    const std::string where = std::to_string(c.width) + "x" + std::to_string(c.height) + " at " +
                              std::to_string(c.xdpi) + "x" + std::to_string(c.ydpi);
    RasterPage page(PageHeader(c.width, c.height, c.xdpi, c.ydpi));
    std::bernoulli_distribution dot(0.3);
    for (unsigned y = 0; y < c.height; ++y) {
      for (unsigned x = 0; x < c.width; ++x) {
        if (dot(random)) page.SetDot(x, y);
      }
    }
    page.SetDot(c.width - 1, c.height - 1);  // the last column of the last row
    FilterRun run = Run(RasterBytes({page}), UniqueJobId());
    ASSERT_EQ(run.status, 0) << where << "\n" << run.log;
    WriteFile(dir_.File("page.prn"), run.out);
    FilterCall view;
    view.program = BinPath("kembview");
    view.args = {"--render", dir_.File("page.pbm"), dir_.File("page.prn")};
    ASSERT_EQ(RunProgram(view).status, 0) << where;
    const Pbm rendered = ReadPbm(dir_.File("page-1.pbm"));

    // A 360 x 360 page prints at 180 x 180: a dot for any black pixel of its 2 x 2 block.
    const unsigned scale = c.xdpi == 360 && c.ydpi == 360 ? 2 : 1;
    auto expected = [&](unsigned x, unsigned y) {
      for (unsigned dy = 0; dy < scale; ++dy) {
        for (unsigned dx = 0; dx < scale; ++dx) {
          const unsigned px = x * scale + dx, py = y * scale + dy;
          if (px < c.width && py < c.height && page.IsBlack(px, py)) return true;
        }
      }
      return false;
    };
    const unsigned width = (c.width + scale - 1) / scale, height = (c.height + scale - 1) / scale;
    ASSERT_GE(rendered.width, width) << where;
    for (unsigned y = 0; y < rendered.height; ++y) {
      for (unsigned x = 0; x < rendered.width; ++x) {
        const bool want = x < width && y < height && expected(x, y);
        ASSERT_EQ(rendered.Dot(x, y), want) << where << ": dot (" << x << ", " << y << ")";
      }
    }
  }
}

TEST(ReadRow, ShortRowIsCompletedWithTheFill) {
  TempDir dir;
  const std::string path = dir.File("rows");
  WriteFile(path, {1, 2, 3, 4, 5});
  UniqueFd fd(open(path.c_str(), O_RDONLY));
  Bytes row(4, 0xAA);
  EXPECT_EQ(ReadRow(fd.get(), row.data(), 4, 0xFF), 4);
  EXPECT_EQ(row, (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(ReadRow(fd.get(), row.data(), 4, 0xFF), 1);
  EXPECT_EQ(row, (Bytes{5, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(ReadRow(fd.get(), row.data(), 4, 0xFF), 0);
}

TEST(CreateNew, RefusesWhatIsNotOurs) {
  TempDir dir;
  // A folder at the name cannot be unlinked: the exclusive create must fail, not reuse it.
  const std::string path = dir.File("spool.ppm");
  ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
  EXPECT_EQ(CreateNew(path), -1);
  rmdir(path.c_str());
  // A fresh file is private to the filter.
  UniqueFd fd(CreateNew(path));
  ASSERT_TRUE(fd.valid());
  struct stat st;
  ASSERT_EQ(fstat(fd.get(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  unlink(path.c_str());
}

}  // namespace
}  // namespace kemb::testing
