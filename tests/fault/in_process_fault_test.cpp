// SPDX-License-Identifier: Apache-2.0
// Faults placed exactly, with the job run in-process, each run under the job oracle:
//   every allocation of the page path failing in turn (row buffer, column buffer, band block,
//   the pair row of a reduced page): one "Unable to allocate memory" line, status 1;
//   a SIGTERM at every printer write and at every stretch of the raster stream (so in every
//   row loop and between pages) and while the halftoner runs: the page ends with its form feed,
//   status 0 once a page was started, every byte written before the stop kept, and after it no
//   more than the page's last bands;
//   the printer failing after N bytes: one line naming the broken pipe, status 1.
#include <gtest/gtest.h>

#include <algorithm>

#include "fault_fixture.h"
#include "job/cancel.h"
#include "support/in_process_job.h"

namespace kemb::testing {
namespace {

class InProcessFault : public ::testing::Test {
 protected:
  void SetUp() override {
    // Text at 180, a picture, a reduced 360 x 360 page, the alternate set at 120.
    pages_ = {TextPage(120, 50), PhotoPage(100, 40), TextPage(150, 70, 360),
              TextPage(90, 30, 120, 4, "ALT")};
    raster_ = RasterBytes(pages_);
  }
  InProcessCall Call() {
    InProcessCall call;
    call.raster = raster_;
    call.ppd = ppd_;
    call.spool_dir = spool_.path();
    call.halftone = ThresholdHalftoner();
    return call;
  }
  InProcessRun Whole() {
    InProcessRun run = RunInProcess(Call());
    EXPECT_TRUE(JobOracle(run.outcome, {0, "", true, {}}, "whole run"));
    return run;
  }
  static bool PageStarted(const JobOutcome& outcome) {
    return outcome.log.find("ERROR: V1.0 PAGE: 1 ") != std::string::npos;
  }
  std::vector<RasterPage> pages_;
  Bytes raster_;
  TempDir dir_, spool_;
  const std::string ppd_ = WritePpd(dir_.File("p.ppd"), "(KEMB-WMZ)", "KEMB");
};

TEST_F(InProcessFault, EveryAllocationOfThePagePathMayFail) {
  FailingAllocator counting;
  InProcessCall call = Call();
  call.allocator = &counting;
  ASSERT_TRUE(JobOracle(RunInProcess(call).outcome, {0, "", true, {}}, "counting run"));
  // Three buffers a page, and the pair row of the reduced page.
  ASSERT_EQ(counting.count(), 3 * pages_.size() + 1);
  const size_t pair_row = pages_[2].header.cupsBytesPerLine;
  EXPECT_NE(std::find(counting.sizes.begin(), counting.sizes.end(), pair_row),
            counting.sizes.end());

  for (size_t k = 1; k <= counting.count(); ++k) {
    const std::string where = "allocation " + std::to_string(k) + " of " +
                              std::to_string(counting.sizes[k - 1]) + " bytes failing";
    FailingAllocator failing(k);
    call.allocator = &failing;
    const InProcessRun run = RunInProcess(call);
    EXPECT_TRUE(JobOracle(run.outcome, {1, "Unable to allocate memory", true, {}}, where));
    EXPECT_EQ(failing.count(), k) << where << ": the job went on";
  }
}

TEST_F(InProcessFault, SigtermAtEveryPrinterWrite) {
  const InProcessRun whole = Whole();
  ASSERT_GT(whole.printer_writes, 40u);
  for (size_t k = 1; k <= whole.printer_writes; ++k) {
    const std::string where = "SIGTERM at printer write " + std::to_string(k);
    InProcessCall call = Call();
    call.cancel_at_write = k;
    const InProcessRun run = RunInProcess(call);
    const JobOutcome& outcome = run.outcome;
    ASSERT_TRUE(JobOracle(outcome, {PageStarted(outcome) ? 0 : 1, "", true, {}}, where));
    const size_t same = SamePrefix(outcome.out, whole.outcome.out);
    ASSERT_GE(same, run.printer_bytes_at_cancel) << where << ": bytes before the stop changed";
    EXPECT_LE(ImagesFrom(outcome.out, same), 4u) << where << ": printing went on";
  }
}

TEST_F(InProcessFault, SigtermAnywhereInTheRasterStream) {
  const Bytes whole = Whole().outcome.out;
  // Every row of every page, the headers and the gaps between pages.
  const size_t step = pages_[0].header.cupsBytesPerLine / 3;
  const size_t last_page = RasterBytes({pages_.begin(), pages_.end() - 1}).size();
  for (size_t at = 0; at < raster_.size(); at += step) {
    const std::string where = "SIGTERM at raster byte " + std::to_string(at);
    InProcessCall call = Call();
    call.cancel_at_raster_byte = at;
    const JobOutcome outcome = RunInProcess(call).outcome;
    const bool started = PageStarted(outcome);
    ASSERT_TRUE(JobOracle(outcome, {started ? 0 : 1, "", true, {}}, where));
    if (at < 4 + sizeof(cups_page_header2_t)) {
      EXPECT_FALSE(started) << where;
    }
    const size_t same = SamePrefix(outcome.out, whole);
    // Before the last page the job stops short; after the stop only the page's end.
    if (at < last_page) {
      EXPECT_LT(same, whole.size()) << where << ": the job was not stopped";
    }
    EXPECT_LE(ImagesFrom(outcome.out, same), 4u) << where;
  }
}

TEST_F(InProcessFault, SigtermWhileTheHalftonerRuns) {
  struct Case {
    const char* what;
    bool writes_image;
  };
  for (const Case& c : {Case{"image written", true}, Case{"no image yet", false}}) {
    InProcessCall call = Call();
    call.halftone = [&c](const std::string& base, unsigned xres, HalftoneMode mode) {
      Canceled = 1;
      return c.writes_image ? ThresholdHalftoner()(base, xres, mode) : Status::Ok();
    };
    const JobOutcome outcome = RunInProcess(call).outcome;
    EXPECT_TRUE(JobOracle(outcome, {0, "", true, {}}, c.what));
    // Page 1 printed whole, the picture page ended without a row, nothing after it.
    EXPECT_EQ(CountCommands(outcome.out, "FF"), 2u) << c.what;
    EXPECT_EQ(outcome.log.find("PAGE: 3"), std::string::npos) << c.what;
    EXPECT_EQ(outcome.log.find(".pbm ok"), std::string::npos) << c.what << ": image read";
  }
}

TEST_F(InProcessFault, PrinterFailingAfterAnyByte) {
  const Bytes whole = Whole().outcome.out;
  for (size_t limit = 0; limit < whole.size(); limit += 997) {
    const std::string where = "printer fails after " + std::to_string(limit) + " bytes";
    InProcessCall call = Call();
    call.printer_fails_after = limit;
    const JobOutcome outcome = RunInProcess(call).outcome;
    ASSERT_TRUE(
        JobOracle(outcome, {1, "Unable to write to the printer: Broken pipe", false, {}}, where));
    EXPECT_EQ(outcome.out, Bytes(whole.begin(), whole.begin() + limit)) << where;
  }
}

}  // namespace
}  // namespace kemb::testing
