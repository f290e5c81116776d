// SPDX-License-Identifier: Apache-2.0
// The halftoner missing, crashing, hanging, failing or writing a bad image, each under the job
// oracle: one line naming the cause (a file by its path in the job's private folder), status 1
// (0 when the job was cancelled), the picture page ended with its form feed and nothing printed
// from a bad image, no file or folder left behind, and no halftoner outliving the filter. The
// failure table runs as we are and again as the user CUPS runs filters as.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <fstream>

#include "fault_fixture.h"
#include "support/job_files.h"

namespace kemb::testing {
namespace {

class HalftonerFault : public ::testing::Test {
 protected:
  const std::string& Ppd() const { return ppd_; }
  // The pids a stand-in wrote to `dir_`/pids.
  std::vector<pid_t> Pids() {
    std::vector<pid_t> pids;
    std::ifstream in(dir_.File("pids"));
    for (long pid; in >> pid;) pids.push_back(static_cast<pid_t>(pid));
    return pids;
  }
  TempDir dir_;
  const std::string ppd_ = WritePpd(dir_.File("p.ppd"), "(KEMB-WMZ)", "KEMB");
};

// Run as we are, and as the unprivileged user CUPS runs filters as.
class HalftonerFailure : public HalftonerFault, public ::testing::WithParamInterface<Runner> {};

TEST_P(HalftonerFailure, EveryFailureIsOneLineAndAnEndedPage) {
  std::optional<FilterUserInfo> user;
  if (GetParam() == Runner::kFilterUser) {
    std::string why;
    user = FilterUser(&why);
    if (!user) GTEST_SKIP() << why;
    // The stand-ins run from here and keep their records here.
    ASSERT_EQ(chmod(dir_.path().c_str(), 01777), 0);
  }
  struct Case {
    const char* what;
    const char* body;   // nullptr: no kemb_ID on PATH
    std::string cause;  // JOB stands for the page's base name
    int status = 1;
    bool prints = false;  // rows of the image reach the printer
  };
  const Case cases[] = {
      {"missing", nullptr, "Unable to start kemb_ID: No such file or directory"},
      {"writes no image", "exit 0", "ERROR: open JOB.pbm error:2"},
      {"exits non-zero", "write_image \"$1\"; exit 3", "kemb_ID failed with exit status 3"},
      {"exits non-zero with its reason", "echo 'ERROR: kemb_ID: no paper in the box' >&2; exit 1",
       "kemb_ID failed with exit status 1 (kemb_ID: no paper in the box)"},
      {"crashes", "kill -SEGV $$", "kemb_ID ended by signal 11"},
      {"no newline in the size line", "printf 'P4\\n%s %s' \"$w\" \"$h\" > \"$1.pbm\"",
       "Bad halftoner image JOB.pbm: no size line within 18 bytes"},
      {"too wide", "w=$((w + 1)); write_image \"$1\"",
       "Bad halftoner image JOB.pbm: width 17 outside 1 to 16"},
      {"too high", "h=$((h + 1)); write_image \"$1\"",
       "Bad halftoner image JOB.pbm: height 5 outside 1 to 4"},
      {"wrong magic", "write_image \"$1\"; sed -i '1s/P4/P5/' \"$1.pbm\"",
       "Bad halftoner image JOB.pbm: not a raw PBM (P4)"},
      {"empty image", ": > \"$1.pbm\"", "Bad halftoner image JOB.pbm: not a raw PBM (P4)"},
      {"writes a link", "ln -s /etc/passwd \"$1.pbm\"", "ERROR: open JOB.pbm error:40"},
      {"writes a FIFO", "mkfifo \"$1.pbm\"", "ERROR: open JOB.pbm error:22"},
      {"writes a folder", "mkdir \"$1.pbm\"", "ERROR: open JOB.pbm error:22"},
      // Rows cut short print as paper: a page, not a failure.
      {"image cut short", "write_image \"$1\"; truncate -s 12 \"$1.pbm\"", "", 0, true},
      {"chatters on both streams", "echo chatter; echo 'DEBUG: busy' >&2; write_image \"$1\"", "",
       0, true},
  };
  for (const Case& c : cases) {
    if (c.body) StandIn(dir_.path(), c.body);
    const std::string job = UniqueJobId();
    RasterPage photo(PageHeader(16, 4));
    std::fill(photo.rgb.begin(), photo.rgb.end(), 200);
    FaultCall call = FaultJob(job, Ppd(), RasterBytes({photo}), dir_.path());
    if (!c.body) call.env = {"PATH=" + dir_.path()};
    if (!c.body) std::remove(dir_.File("kemb_ID").c_str());
    if (user) call = AsFilterUser(call, *user);
    const FaultRun run = RunFaulted(call);
    std::string cause = c.cause;
    if (size_t at = cause.find("JOB"); at != std::string::npos) {
      const std::string folder = JobFolderIn(run.outcome.log, job);
      EXPECT_EQ(folder.rfind("/tmp/kemb" + job + ".", 0), 0u) << c.what << run.outcome.log;
      cause.replace(at, 3, folder + "/kemb" + job + "_1");
    }
    if (cause.rfind("ERROR: ", 0) == 0) cause = cause.substr(7);
    EXPECT_TRUE(JobOracle(run.outcome, {c.status, cause, true, {}}, c.what));
    // A failed picture page sends its set-up and form feed, and no row.
    EXPECT_EQ(CountCommands(run.outcome.out, "ESC *") > 0, c.prints) << c.what;
    EXPECT_EQ(run.outcome.log.find("chatter") != std::string::npos,
              std::string(c.what) == "chatters on both streams")
        << c.what;
    const std::string out(run.outcome.out.begin(), run.outcome.out.end());
    EXPECT_EQ(out.find("chatter"), std::string::npos) << c.what << ": halftoner text printed";
  }
}

INSTANTIATE_TEST_SUITE_P(Runners, HalftonerFailure,
                         ::testing::Values(Runner::kInvoker, Runner::kFilterUser), RunnerName);

// SIGTERM while the halftoner runs: it is stopped with everything it started, the page ends,
// the job ends with status 0 at once.
TEST_F(HalftonerFault, SigtermWhileItRunsStopsItAndEndsThePage) {
  struct Case {
    const char* what;
    // Writes its pids to $PIDS.part and renames that to $PIDS once all are there: the SIGTERM
    // waits for $PIDS, so it never comes before the last pid is known.
    const char* body;
  };
  const Case cases[] = {
      {"hangs", "echo $$ >> \"$PIDS.part\"; mv \"$PIDS.part\" \"$PIDS\"; exec sleep 60"},
      {"ignores SIGTERM",
       "trap '' TERM; echo $$ >> \"$PIDS.part\"; mv \"$PIDS.part\" \"$PIDS\"; "
       "while :; do sleep 1; done"},
      {"started a child",
       "sleep 60 & echo $! >> \"$PIDS.part\"; echo $$ >> \"$PIDS.part\"; "
       "mv \"$PIDS.part\" \"$PIDS\"; wait"},
      {"writes half an image",
       "printf 'P4\\n%s %s\\n' \"$w\" \"$h\" > \"$1.pbm\"; echo $$ >> \"$PIDS.part\"; "
       "mv \"$PIDS.part\" \"$PIDS\"; exec sleep 60"},
  };
  for (const Case& c : cases) {
    StandIn(dir_.path(), c.body);
    std::remove(dir_.File("pids").c_str());
    std::remove(dir_.File("pids.part").c_str());
    const std::string job = UniqueJobId();
    FaultCall call =
        FaultJob(job, Ppd(), RasterBytes({PhotoPage(40, 30), TextPage(40, 30)}), dir_.path());
    call.env.push_back("PIDS=" + dir_.File("pids"));
    call.sigterm = {Trigger::kFileExists, dir_.File("pids")};
    const FaultRun run = RunFaulted(call);
    ASSERT_TRUE(run.outcome.sigterm_sent) << c.what;
    EXPECT_TRUE(JobOracle(run.outcome, {0, "", true, {}}, c.what));
    EXPECT_EQ(CountCommands(run.outcome.out, "ESC *"), 0u) << c.what;
    EXPECT_EQ(run.outcome.log.find("PAGE: 2"), std::string::npos) << c.what << ": page 2 printed";
    ASSERT_FALSE(Pids().empty()) << c.what;
    for (pid_t pid : Pids()) EXPECT_TRUE(ProcessGone(pid)) << c.what << ": " << pid << " lives on";
  }
}

// The real halftoner on a large page, SIGTERM as soon as the page goes to it.
TEST_F(HalftonerFault, SigtermWhileTheRealHalftonerWorks) {
  const std::string job = UniqueJobId();
  FaultCall call = FaultJob(job, Ppd(), RasterBytes({PhotoPage(1600, 1800)}));
  call.sigterm = {Trigger::kLogText, "ERROR:pic number:"};
  const FaultRun run = RunFaulted(call);
  ASSERT_TRUE(run.outcome.sigterm_sent);
  EXPECT_TRUE(JobOracle(run.outcome, {0, "", true, {}}, "real kemb_ID"));
}

}  // namespace
}  // namespace kemb::testing
