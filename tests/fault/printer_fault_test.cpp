// SPDX-License-Identifier: Apache-2.0
// The printer connection failing under the job oracle:
//   a reader that closes early: SIGPIPE is ignored, the write fails, one line names the broken
//   pipe, status 1, and what was read is exactly the start of a whole run's stream;
//   a reader that stalls while SIGTERM arrives: once it reads again, every byte the filter had
//   given the pipe is there once and in order, followed only by the page's end (the last
//   bands, the form feed) and the job's end, within 5 s of the SIGTERM.
#include <gtest/gtest.h>

#include "fault_fixture.h"
#include "support/job_files.h"

namespace kemb::testing {
namespace {

class PrinterFault : public ::testing::Test {
 protected:
  const std::string& Ppd() const { return ppd_; }
  JobOutcome Whole(const Bytes& raster) {
    FaultRun run = RunFaulted(FaultJob(UniqueJobId(), Ppd(), raster));
    EXPECT_TRUE(JobOracle(run.outcome, {0, "", true, {}}, "whole run"));
    return run.outcome;
  }
  TempDir dir_;
  const std::string ppd_ = WritePpd(dir_.File("p.ppd"), "(KEMB-WMZ)", "KEMB");
};

TEST_F(PrinterFault, ReaderClosingEarlyIsOneBrokenPipe) {
  const Bytes raster = RasterBytes(MixedPages(4, 300, 120));
  const Bytes whole = Whole(raster).out;
  ASSERT_GT(whole.size(), 40000u);
  // Each limit leaves more than the pipe holds unread, so a write must fail.
  const size_t limits[] = {
      0, 1, 9799, 9800, 9830, whole.size() / 3, whole.size() / 2, whole.size() - 16384};
  for (size_t limit : limits) {
    const std::string where = "reader closes after " + std::to_string(limit) + " bytes";
    FaultCall call = FaultJob(UniqueJobId(), Ppd(), raster);
    call.reader = {Reader::kCloseAfter, limit};
    call.printer_pipe_bytes = 4096;
    const FaultRun run = RunFaulted(call);
    EXPECT_TRUE(JobOracle(run.outcome,
                          {1, "Unable to write to the printer: Broken pipe", false, {}}, where));
    EXPECT_EQ(run.outcome.out, Bytes(whole.begin(), whole.begin() + limit)) << where;
  }
}

TEST_F(PrinterFault, StalledReaderLosesNoByteBeforeTheStop) {
  struct Case {
    const char* what;
    std::vector<RasterPage> pages;
    int pipe_bytes;
  };
  const Case cases[] = {
      {"first band", {TextPage(400, 200)}, 4096},
      {"mid-page", {TextPage(2000, 600)}, 0},
      {"before the halftoner", {PhotoPage(400, 100), TextPage(400, 100)}, 4096},
      {"second page", {TextPage(60, 40), TextPage(2000, 600)}, 0},
      {"360 x 360 page, rows in pairs", {TextPage(2000, 1200, 360)}, 0},
      {"alternate set, two passes a band", {TextPage(1000, 600, 120, 3, "ALT")}, 0},
  };
  for (const Case& c : cases) {
    const Bytes raster = RasterBytes(c.pages);
    const Bytes whole = Whole(raster).out;
    FaultCall call = FaultJob(UniqueJobId(), Ppd(), raster);
    call.reader = {Reader::kStall, 0};
    call.printer_pipe_bytes = c.pipe_bytes;
    call.sigterm = {Trigger::kPrinterBlocked, ""};
    const FaultRun run = RunFaulted(call);
    ASSERT_TRUE(run.outcome.sigterm_sent) << c.what << ": the filter never blocked";
    EXPECT_TRUE(JobOracle(run.outcome, {0, "", true, {}}, c.what));

    const Bytes& out = run.outcome.out;
    const size_t same = SamePrefix(out, whole);
    EXPECT_GE(same, run.printer_bytes_at_sigterm)
        << c.what << ": byte " << same << " differs from a whole run's, though "
        << run.printer_bytes_at_sigterm << " bytes were in the pipe at the SIGTERM";
    EXPECT_LT(same, whole.size()) << c.what << ": the job was not stopped";
    // After the stop: at most the last bands of the page (two band buffers, two passes each).
    const size_t images_after = ImagesFrom(out, same);
    EXPECT_LE(images_after, 4u) << c.what;
  }
}

}  // namespace
}  // namespace kemb::testing
