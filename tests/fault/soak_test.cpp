// SPDX-License-Identifier: Apache-2.0
// Soak: long and parallel jobs of the built filter with the built halftoner, under the oracle.
//   a 200-page job mixing text and picture pages at 180 x 180 and 360 x 360 peaks at the
//   resident memory of a 2-page job of the same kinds (within 10 %) and leaves nothing in /tmp;
//   20 jobs with different job IDs run at once print and log exactly what each prints and logs
//   alone.
// The peak is the filter's own (VmHWM read when it exits, under ptrace), not its halftoner's.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "fault_fixture.h"
#include "support/job_files.h"
#include "support/run_filter.h"

extern char** environ;

namespace kemb::testing {
namespace {

constexpr unsigned kWidth = 500, kHeight = 300;  // at 180 dpi; doubled at 360

struct PeakRun {
  JobOutcome outcome;
  long peak_kib = -1;  // VmHWM of the filter at its exit
};

long VmHwmKib(pid_t pid) {
  const Bytes status = ReadFile("/proc/" + std::to_string(pid) + "/status");
  const std::string text(status.begin(), status.end());
  const size_t at = text.find("VmHWM:");
  return at == std::string::npos ? -1 : std::strtol(text.c_str() + at + 6, nullptr, 10);
}

// Runs the filter on `raster` from a file, printer bytes and log to files, stopping it at its
// exit to read its high-water mark.
PeakRun RunMeasured(const std::string& job, const std::string& ppd, const Bytes& raster,
                    const TempDir& dir) {
  WriteFile(dir.File("job.ras"), raster);
  std::vector<std::string> strings = {BinPath("rastertokemb")};
  for (const std::string& arg : FilterArgs(job)) strings.push_back(arg);
  std::vector<std::string> env = {"PPD=" + ppd, "PATH=" KEMB_BIN_DIR ":/usr/bin:/bin"};
  // Leak checking cannot run under ptrace, and the sanitizer's quarantines of freed blocks
  // (which grow with every block freed) are not the job's memory.
  const char* asan = std::getenv("ASAN_OPTIONS");
  env.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") +
                ":detect_leaks=0:quarantine_size_mb=0:thread_local_quarantine_size_kb=0");
  std::vector<char*> argv, envp;
  for (std::string& s : strings) argv.push_back(s.data());
  for (std::string& s : env) envp.push_back(s.data());
  argv.push_back(nullptr), envp.push_back(nullptr);
  const std::string in = dir.File("job.ras"), out = dir.File("job.prn"), log = dir.File("job.log");

  const pid_t child = fork();
  if (child == 0) {
    const int fds[3] = {open(in.c_str(), O_RDONLY),
                        open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600),
                        open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)};
    for (int fd = 0; fd < 3; ++fd) dup2(fds[fd], fd);
    ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  PeakRun run;
  int wait_status = 0;
  waitpid(child, &wait_status, 0);  // stopped at its exec
  ptrace(PTRACE_SETOPTIONS, child, nullptr, PTRACE_O_TRACEEXIT);
  ptrace(PTRACE_CONT, child, nullptr, nullptr);
  while (waitpid(child, &wait_status, 0) == child && WIFSTOPPED(wait_status)) {
    if (wait_status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
      run.peak_kib = VmHwmKib(child);
      ptrace(PTRACE_CONT, child, nullptr, nullptr);
    } else {
      // Any other stop is a signal on its way to the filter (its halftoner's SIGCHLD).
      ptrace(PTRACE_CONT, child, nullptr, WSTOPSIG(wait_status));
    }
  }
  run.outcome.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  run.outcome.signal = WIFSIGNALED(wait_status) ? WTERMSIG(wait_status) : 0;
  run.outcome.out = ReadFile(out);
  const Bytes text = ReadFile(log);
  run.outcome.log.assign(text.begin(), text.end());
  run.outcome.left = SpoolFilesLeft(job);
  return run;
}

TEST(Soak, TwoHundredPagesPeakAsTwoPagesDo) {
  TempDir dir;
  const std::string ppd = WritePpd(dir.File("p.ppd"), "(KEMB-WMZ)", "KEMB");
  // The two largest kinds, then all four kinds fifty times each.
  const std::vector<RasterPage> all = MixedPages(200, kWidth, kHeight);
  const PeakRun two = RunMeasured(UniqueJobId(), ppd, RasterBytes({all[2], all[3]}), dir);
  ASSERT_TRUE(JobOracle(two.outcome, {0, "", true, {}}, "2-page job"));
  const PeakRun long_job = RunMeasured(UniqueJobId(), ppd, RasterBytes(all), dir);
  ASSERT_TRUE(JobOracle(long_job.outcome, {0, "", true, {}}, "200-page job"));
  EXPECT_EQ(CountCommands(long_job.outcome.out, "FF"), 200u);
  ASSERT_GT(two.peak_kib, 0) << "no VmHWM read at the filter's exit";
  RecordProperty("peak_kib_2_pages", std::to_string(two.peak_kib));
  RecordProperty("peak_kib_200_pages", std::to_string(long_job.peak_kib));
  std::printf("peak resident memory: 2 pages %ld KiB, 200 pages %ld KiB\n", two.peak_kib,
              long_job.peak_kib);
  EXPECT_LE(long_job.peak_kib * 10, two.peak_kib * 11)
      << "200 pages peak at " << long_job.peak_kib << " KiB, 2 pages at " << two.peak_kib;
}

TEST(Soak, TwentyJobsAtOnceAsEachAlone) {
  TempDir dir;
  const std::string ppd = WritePpd(dir.File("p.ppd"), "(KEMB-WMZ)", "KEMB");
  constexpr size_t kJobs = 20;
  std::vector<FaultCall> calls;
  for (size_t j = 0; j < kJobs; ++j) {
    // Different pages for every job: kinds in another order and another size.
    std::vector<RasterPage> pages = MixedPages(4 + j % 3, 120 + 8 * static_cast<unsigned>(j), 90);
    std::rotate(pages.begin(), pages.begin() + j % pages.size(), pages.end());
    calls.push_back(FaultJob(UniqueJobId(), ppd, RasterBytes(pages)));
  }
  std::vector<FaultRun> alone, together(kJobs);
  for (const FaultCall& call : calls) alone.push_back(RunFaulted(call));
  std::vector<std::thread> threads;
  for (size_t j = 0; j < kJobs; ++j) {
    threads.emplace_back([&, j] { together[j] = RunFaulted(calls[j]); });
  }
  for (std::thread& thread : threads) thread.join();
  for (size_t j = 0; j < kJobs; ++j) {
    const std::string where = "job " + calls[j].args[0];
    EXPECT_TRUE(JobOracle(alone[j].outcome, {0, "", true, {}}, where + " alone"));
    EXPECT_TRUE(JobOracle(together[j].outcome, {0, "", true, {}}, where + " among 20"));
    EXPECT_EQ(together[j].outcome.out, alone[j].outcome.out) << where << ": printed differently";
    // Each run names its own private folder.
    EXPECT_EQ(FolderAsWord(together[j].outcome.log, calls[j].args[0]),
              FolderAsWord(alone[j].outcome.log, calls[j].args[0]))
        << where << ": logged differently";
  }
}

}  // namespace
}  // namespace kemb::testing
