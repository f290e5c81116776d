// SPDX-License-Identifier: Apache-2.0
// Plain text through Debian's own scheduler: a private cupsd with a queue made from our PPD
// sends text/plain to texttokemb, not through PDF and raster, and the printer file holds what
// texttokemb prints for the same options run by hand: the text settings from lp, copies made
// by the filter.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <cups/ipp.h>
#include <gtest/gtest.h>

#include "scheduler/cups_sandbox.h"
#include "scheduler/process.h"
#include "support/run_filter.h"
#include "support/scratch_dir.h"

namespace kemb::scheduler_test {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kJobSeconds = 60;

int Submit(const Sandbox& sandbox, std::vector<std::string> argv, std::string* error) {
  const Command lp = sandbox.Client(std::move(argv));
  const CommandResult result = RunCommand(lp);
  const std::string request = "request id is kembtext-";
  const size_t at = result.output.find(request);
  if (!result.Ok() || at == std::string::npos) {
    *error = result.Describe(lp);
    return 0;
  }
  return std::atoi(result.output.c_str() + at + request.size());
}

int AwaitJob(const Sandbox& sandbox, int id) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kJobSeconds);
  while (std::chrono::steady_clock::now() < deadline) {
    const std::map<int, int> states = sandbox.JobStates();
    if (states.count(id) && states.at(id) >= IPP_JSTATE_STOPPED) return states.at(id);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return 0;
}

// texttokemb run by hand on the same PPD, options and copies.
Bytes ByHand(const std::string& document, const std::string& options, int copies) {
  testing::FilterCall call;
  call.program = testing::BinPath("texttokemb");
  call.args = {"1", "alice", "text", std::to_string(copies), options, document};
  call.ppd = std::string(KEMB_PPD_DIR) + "/kemb24.ppd";
  const testing::FilterRun run = testing::RunProgram(call);
  EXPECT_EQ(run.status, 0) << run.log;
  return run.out;
}

TEST(TextScheduler, LpPrintsTextThroughTextToKemb) {
  const SandboxPrograms programs{KEMB_CUPSD,
                                 KEMB_CUPS_SERVERBIN,
                                 KEMB_CUPS_DATADIR,
                                 {std::string(KEMB_BIN_DIR) + "/rastertokemb",
                                  std::string(KEMB_BIN_DIR) + "/texttokemb",
                                  std::string(KEMB_BIN_DIR) + "/kemb_ID"}};
  Sandbox sandbox(programs);
  const std::string printer = sandbox.Path("kembtext.prn");
  std::ofstream(printer).close();
  const std::string document = sandbox.Path("invoice.txt");
  std::ifstream in(std::string(KEMB_SOURCE_DIR) + "/tests/filter/documents/invoice-80.txt",
                   std::ios::binary);
  std::ofstream(document, std::ios::binary) << in.rdbuf();

  ASSERT_NO_THROW(sandbox.Start((100 + getpid() % 900) * 1000 + 300));
  const Command lpadmin =
      sandbox.Client({"lpadmin", "-p", "kembtext", "-E", "-v", "file://" + printer, "-P",
                      std::string(KEMB_PPD_DIR) + "/kemb24.ppd"});
  const CommandResult made = RunCommand(lpadmin);
  ASSERT_TRUE(made.Ok()) << made.Describe(lpadmin) << sandbox.Diagnostics();

  struct Job {
    std::vector<std::string> lp_options;
    std::string filter_options;
    int copies;
  };
  const std::vector<Job> jobs = {
      {{"-o", "cpi=12", "-o", "lpi=8"}, "cpi=12 lpi=8", 1},
      {{"-o", "PageSize=FanFoldGerman", "-o", "text-quality=draft", "-n", "2"},
       "PageSize=FanFoldGerman text-quality=draft", 2},
  };
  for (const Job& job : jobs) {
    std::vector<std::string> argv = {"lp", "-d", "kembtext"};
    argv.insert(argv.end(), job.lp_options.begin(), job.lp_options.end());
    argv.push_back(document);
    std::string error;
    const int id = Submit(sandbox, argv, &error);
    ASSERT_NE(id, 0) << error;
    ASSERT_EQ(AwaitJob(sandbox, id), IPP_JSTATE_COMPLETED) << sandbox.Diagnostics();
    const Bytes printed = ReadBytes(printer);
    std::ofstream(printer, std::ios::trunc).close();
    EXPECT_TRUE(printed == ByHand(document, job.filter_options, job.copies))
        << job.filter_options << ": " << printed.size() << " bytes printed";
  }
  const std::string log = sandbox.ErrorLog();
  EXPECT_NE(log.find("texttokemb"), std::string::npos) << sandbox.Diagnostics();
  EXPECT_EQ(log.find("texttopdf"), std::string::npos) << sandbox.Diagnostics();
  EXPECT_TRUE(sandbox.Stop());
}

}  // namespace
}  // namespace kemb::scheduler_test
