// SPDX-License-Identifier: Apache-2.0
// SIGTERM from outside at each stage of the built filter's job, under the job oracle: the page
// in progress ends with its form feed, no later page is printed, status 0, done within 5 s.
// (Every printer write and raster byte in turn: in_process_fault_test; while the halftoner
// runs: halftoner_fault_test; while the printer stalls: printer_fault_test.)
#include <gtest/gtest.h>

#include "fault_fixture.h"
#include "support/job_files.h"

namespace kemb::testing {
namespace {

TEST(CancelFault, SigtermAtEachStageOfTheJob) {
  struct Case {
    const char* what;
    std::vector<RasterPage> pages;
    double held_at;       // share of the first page's bytes given before the SIGTERM
    const char* trigger;  // log text the SIGTERM waits for
    size_t form_feeds;
  };
  const std::vector<RasterPage> text = {TextPage(300, 400), TextPage(300, 400)};
  const std::vector<RasterPage> photo = {PhotoPage(300, 400), TextPage(300, 400)};
  const std::vector<RasterPage> reduced = {TextPage(600, 800, 360), TextPage(300, 400)};
  const Case cases[] = {
      {"while spooling a text page", text, 0.5, "ERROR: V1.0 PAGE: 1", 1},
      {"while spooling a picture page", photo, 0.5, "ERROR: V1.0 PAGE: 1", 1},
      {"while spooling a 360 x 360 page", reduced, 0.5, "ERROR: V1.0 PAGE: 1", 1},
      {"between pages", text, 1.0, "PAGE: 1 1", 1},
      {"reading back a 360 x 360 page",
       {TextPage(2400, 1600, 360), TextPage(300, 400)},
       1.0,
       "ERROR: open /tmp/kemb",
       1},
  };
  TempDir dir;
  const std::string ppd = WritePpd(dir.File("p.ppd"), "(KEMB-WMZ)", "KEMB");
  for (const Case& c : cases) {
    const Bytes first = RasterBytes({c.pages[0]});
    FaultCall call = FaultJob(UniqueJobId(), ppd, RasterBytes(c.pages));
    call.input_held_from = static_cast<size_t>(static_cast<double>(first.size()) * c.held_at);
    call.sigterm = {Trigger::kLogText, c.trigger};
    const FaultRun run = RunFaulted(call);
    ASSERT_TRUE(run.outcome.sigterm_sent) << c.what;
    EXPECT_TRUE(JobOracle(run.outcome, {0, "", true, {}}, c.what));
    EXPECT_EQ(CountCommands(run.outcome.out, "FF"), c.form_feeds) << c.what;
    EXPECT_EQ(run.outcome.log.find("PAGE: 2"), std::string::npos) << c.what;
  }
}

}  // namespace
}  // namespace kemb::testing
