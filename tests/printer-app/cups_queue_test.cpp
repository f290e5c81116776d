// SPDX-License-Identifier: Apache-2.0
// A real CUPS queue: a private cupsd (Debian's scheduler, as the scheduler test runs it) with a
// driverless queue (`lpadmin -m everywhere`) pointing at the printer application prints a PDF
// end to end through cups-filters and CUPS's ipp backend; kembview decodes the application's
// device file into the PDF's one page, with dots on it.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "printer-app/app_server.h"
#include "scheduler/cups_sandbox.h"
#include "scheduler/process.h"

namespace kemb::app_test {
namespace {

using scheduler_test::Command;
using scheduler_test::RunCommand;

TEST(CupsQueue, DriverlessQueuePrintsAPdfThroughTheApplication) {
  AppServer app;
  app.AddPrinter("wmz24", "kemb_wmz24");

  scheduler_test::SandboxPrograms programs{KEMB_CUPSD, KEMB_CUPS_SERVERBIN, KEMB_CUPS_DATADIR, {}};
  scheduler_test::Sandbox cups(programs);
  cups.Start(7100);
  const Command lpadmin =
      cups.Client({"lpadmin", "-p", "kemb", "-E", "-v", app.Uri("wmz24"), "-m", "everywhere"}, 120);
  auto added = RunCommand(lpadmin);
  ASSERT_TRUE(added.Ok()) << added.Describe(lpadmin) << cups.Diagnostics();

  const Command lp =
      cups.Client({"lp", "-d", "kemb", std::string(KEMB_SOURCE_DIR) + "/samples/sample.pdf"});
  auto printed = RunCommand(lp);
  ASSERT_TRUE(printed.Ok()) << printed.Describe(lp) << cups.Diagnostics();

  // Done when CUPS has finished the job and the application's device file has stopped growing.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(180);
  int state = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    auto states = cups.JobStates();
    if (!states.empty()) state = states.begin()->second;
    if (state >= IPP_JSTATE_CANCELED) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  EXPECT_EQ(state, IPP_JSTATE_COMPLETED) << cups.Diagnostics();
  size_t size = 0;
  for (int i = 0; i < 100; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const size_t now = FileSize(app.DevicePath("wmz24"));
    if (now == size && now > 0) break;
    size = now;
  }
  ASSERT_GT(size, 9800u) << app.Log();

  const std::string image = app.dir() + "/page.pbm";
  const Command view(
      {std::string(KEMB_BIN_DIR) + "/kembview", "--render", image, app.DevicePath("wmz24")});
  auto decoded = RunCommand(view);
  EXPECT_TRUE(decoded.Ok()) << decoded.Describe(view);
  EXPECT_NE(decoded.output.find("page-1.pbm"), std::string::npos) << decoded.output;
  EXPECT_EQ(decoded.output.find("page-2.pbm"), std::string::npos)
      << "one page expected: " << decoded.output;
  // Some of the page is printed, most of it is paper.
  const size_t printed_at = decoded.output.find(" printed");
  ASSERT_NE(printed_at, std::string::npos) << decoded.output;
  const size_t start = decoded.output.rfind(' ', printed_at - 1) + 1;
  const long dots = std::stol(decoded.output.substr(start, printed_at - start));
  EXPECT_GT(dots, 1000) << decoded.output;
  EXPECT_TRUE(cups.Stop());
  EXPECT_TRUE(app.Stop());
}

}  // namespace
}  // namespace kemb::app_test
