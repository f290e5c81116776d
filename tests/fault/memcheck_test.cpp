// SPDX-License-Identifier: Apache-2.0
// Valgrind's memcheck over a mixed job (text and picture pages at 180 x 180 and 360 x 360,
// both command sets), the filter and every halftoner it starts: no error and nothing
// definitely lost, besides the job oracle. Skipped where valgrind is missing, and in the
// sanitizer build, which valgrind cannot run.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <sstream>

#include "fault_fixture.h"
#include "support/job_files.h"
#include "support/run_filter.h"

namespace kemb::testing {
namespace {

TEST(Memcheck, MixedJobIsClean) {
#ifdef KEMB_SANITIZED
  GTEST_SKIP() << "valgrind does not run sanitizer builds";
#endif
  if (access("/usr/bin/valgrind", X_OK) != 0) GTEST_SKIP() << "valgrind is not installed";
  TempDir dir;
  const std::string ppd = WritePpd(dir.File("p.ppd"), "(KEMB-WMZ)", "KEMB");
  std::vector<RasterPage> pages = MixedPages(4, 200, 120);
  pages.push_back(TextPage(150, 80, 120, 9, "ALT"));
  const std::string job = UniqueJobId();
  FaultCall call = FaultJob(job, ppd, RasterBytes(pages));
  const std::vector<std::string> filter_args = call.args;
  call.program = "/usr/bin/valgrind";
  call.args = {"--tool=memcheck", "--leak-check=full", "--error-exitcode=3", "--trace-children=yes",
               "--log-file=" + dir.File("memcheck.%p")};
  call.args.push_back(BinPath("rastertokemb"));
  call.args.insert(call.args.end(), filter_args.begin(), filter_args.end());
  FaultRun run = RunFaulted(call);
  run.outcome.left = SpoolFilesLeft(job);

  std::string reports;
  size_t programs = 0;
  for (const std::string& name : dir.Entries()) {
    if (name.rfind("memcheck.", 0) != 0) continue;
    const Bytes text = ReadFile(dir.File(name));
    reports.append(text.begin(), text.end());
    ++programs;
  }
  EXPECT_TRUE(JobOracle(run.outcome, {0, "", true, {}}, "under memcheck")) << reports;
  EXPECT_EQ(CountCommands(run.outcome.out, "FF"), pages.size());
  // The filter and one halftoner per picture page.
  EXPECT_EQ(programs, 3u) << reports;
  std::istringstream lines(reports);
  size_t summaries = 0;
  for (std::string line; std::getline(lines, line);) {
    for (const char* shown :
         {"Command:", "in use at exit:", "definitely lost:", "ERROR SUMMARY:"}) {
      if (line.find(shown) != std::string::npos) std::printf("%s\n", line.c_str());
    }
    if (line.find("ERROR SUMMARY:") != std::string::npos) {
      ++summaries;
      EXPECT_NE(line.find("ERROR SUMMARY: 0 errors"), std::string::npos) << reports;
    }
    if (size_t at = line.find("definitely lost: "); at != std::string::npos) {
      EXPECT_EQ(line.substr(at + 17, 8), "0 bytes ") << reports;
    }
  }
  EXPECT_EQ(summaries, programs) << reports;
}

}  // namespace
}  // namespace kemb::testing
