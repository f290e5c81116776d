// SPDX-License-Identifier: Apache-2.0
// Where a job keeps its page files, and that it keeps none of them, under the job oracle:
//   $TMPDIR honoured when it names an existing folder by an absolute path, else /tmp (unset,
//   empty, relative, missing, a file); a folder that cannot be made is one line and status 1
//   before any page;
//   nothing left in $TMPDIR or /tmp after a cancel while the halftoner works, a failed write to
//   the printer, a refused halftoner image, or a halftoner that leaves files of its own;
//   two filters with the same job ID and no $TMPDIR, started together on different documents
//   of text and picture pages, each print exactly their own pages, round after round.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <latch>
#include <thread>

#include "fault_fixture.h"
#include "support/job_files.h"
#include "support/run_filter.h"

namespace kemb::testing {
namespace {

class SpoolFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    ppd_ = WritePpd(dir_.File("p.ppd"), "(KEMB-WMZ)", "KEMB");
    WriteFile(dir_.File("a-file"), {'x'});
  }
  TempDir dir_, tmpdir_;
  std::string ppd_;
};

TEST_F(SpoolFolder, TmpdirIsHonouredWhenItNamesAFolderElseTmp) {
  struct Case {
    const char* what;
    std::string tmpdir;  // the environment entry; "TMPDIR" alone unsets it
    std::string parent;  // where the job's folder must be made
  };
  const Case cases[] = {
      {"a folder", "TMPDIR=" + tmpdir_.path(), tmpdir_.path()},
      {"a folder with a trailing slash", "TMPDIR=" + tmpdir_.path() + "/", tmpdir_.path()},
      {"unset", "TMPDIR", "/tmp"},
      {"empty", "TMPDIR=", "/tmp"},
      {"relative", "TMPDIR=tmp", "/tmp"},
      {"missing", "TMPDIR=" + tmpdir_.File("gone"), "/tmp"},
      {"a file", "TMPDIR=" + dir_.File("a-file"), "/tmp"},
  };
  const Bytes raster = RasterBytes({TextPage(40, 30), PhotoPage(40, 30)});
  for (const Case& c : cases) {
    const std::string job = UniqueJobId();
    FaultCall call = FaultJob(job, ppd_, raster);
    call.env.push_back(c.tmpdir);
    const FaultRun run = RunFaulted(call);
    EXPECT_TRUE(JobOracle(run.outcome, {0, "", true, {}}, c.what));
    const std::string folder = JobFolderIn(run.outcome.log, job);
    EXPECT_EQ(folder.rfind(c.parent + "/kemb" + job + ".", 0), 0u)
        << c.what << ": made in " << folder << "\n" << run.outcome.log;
    // Both pages, text and picture, from the same folder.
    for (const char* file : {"_1.ppm ok", "_2.pbm ok"}) {
      EXPECT_NE(run.outcome.log.find("open " + folder + "/kemb" + job + file), std::string::npos)
          << c.what << "\n" << run.outcome.log;
    }
    EXPECT_EQ(SpoolFilesLeft(job, {tmpdir_.path(), "/tmp"}), std::vector<std::string>{});
  }
}

TEST_F(SpoolFolder, FolderThatCannotBeMadeIsOneLineBeforeAnyPage) {
  // Root makes folders anywhere: as root, the filter runs as the filter user.
  std::optional<FilterUserInfo> user;
  if (geteuid() == 0) {
    std::string why;
    user = FilterUser(&why);
    if (!user) GTEST_SKIP() << why;
    ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  }
  ASSERT_EQ(chmod(tmpdir_.path().c_str(), 0555), 0);
  const std::string job = UniqueJobId();
  FaultCall call = FaultJob(job, ppd_, RasterBytes({TextPage(40, 30)}));
  call.env.push_back("TMPDIR=" + tmpdir_.path());
  if (user) call = AsFilterUser(call, *user);
  const FaultRun run = RunFaulted(call);
  const std::string cause =
      "Unable to create spool folder " + tmpdir_.path() + "/kemb" + job + ".XXXXXX: Permission denied";
  EXPECT_TRUE(JobOracle(run.outcome, {1, cause, true, {}}, "read-only $TMPDIR"));
  EXPECT_EQ(run.outcome.log.find("PAGE:"), std::string::npos) << run.outcome.log;
  EXPECT_EQ(CountCommands(run.outcome.out, "FF"), 0u);
  chmod(tmpdir_.path().c_str(), 0755);
}

TEST_F(SpoolFolder, NothingIsLeftHoweverThePageEnds) {
  struct Case {
    const char* what;
    const char* body;  // the halftoner stand-in
    int status;
    std::string cause;
    Trigger sigterm;
    Reader reader;
  };
  const Case cases[] = {
      {"cancel while the halftoner works", "exec sleep 60", 0, "",
       {Trigger::kLogText, "ERROR:pic number:"}, {}},
      {"printer connection closed", "write_image \"$1\"", 1, "Unable to write to the printer", {},
       {Reader::kCloseAfter, 9800}},
      {"refused image", "w=$((w + 1)); write_image \"$1\"", 1, "Bad halftoner image", {}, {}},
      {"halftoner leaves files of its own",
       "write_image \"$1\"; : > \"$1.tmp\"; mkdir \"${1%/*}/work\"", 0, "", {}, {}},
  };
  for (const Case& c : cases) {
    StandIn(dir_.path(), c.body);
    const std::string job = UniqueJobId();
    FaultCall call =
        FaultJob(job, ppd_, RasterBytes({PhotoPage(400, 200), TextPage(400, 200)}), dir_.path());
    call.env.push_back("TMPDIR=" + tmpdir_.path());
    call.sigterm = c.sigterm;
    call.reader = c.reader;
    const FaultRun run = RunFaulted(call);
    EXPECT_TRUE(JobOracle(run.outcome, {c.status, c.cause, c.reader.kind == Reader::kReadAll, {}},
                          c.what));
    EXPECT_EQ(tmpdir_.Entries(), std::vector<std::string>{}) << c.what;
  }
}

// Two filters as two schedulers would start them for their job 7 at the same moment, with no
// $TMPDIR: both make their folders in /tmp.
TEST(TwoJobsOneId, EachPrintsExactlyItsOwnPages) {
  constexpr int kRounds = 40;
  TempDir dir;
  const std::string ppd = WritePpd(dir.File("p.ppd"), "(KEMB-WMZ)", "KEMB");
  std::vector<RasterPage> text_first, pictures_first;
  for (unsigned i = 0; i < 6; ++i) {
    text_first.push_back(i % 2 ? PhotoPage(160, 96, 180, i + 1) : TextPage(240, 120, 180, i + 1));
    pictures_first.push_back(i % 2 ? TextPage(240, 120, 180, i + 11)
                                   : PhotoPage(160, 96, 180, i + 11));
  }
  const std::array<Bytes, 2> rasters = {RasterBytes(text_first), RasterBytes(pictures_first)};
  const std::string job = UniqueJobId();
  auto call = [&](size_t which) {
    FaultCall c = FaultJob(job, ppd, rasters[which]);
    c.env.push_back("TMPDIR");
    return c;
  };
  std::array<Bytes, 2> alone;
  for (size_t i = 0; i < 2; ++i) {
    const FaultRun run = RunFaulted(call(i));
    ASSERT_TRUE(JobOracle(run.outcome, {0, "", true, {}}, "alone"));
    alone[i] = run.outcome.out;
  }
  ASSERT_NE(alone[0], alone[1]);

  int mixed = 0;
  for (int round = 1; round <= kRounds; ++round) {
    std::array<FaultRun, 2> runs;
    std::latch start(2);
    std::thread other([&] {
      start.arrive_and_wait();
      runs[1] = RunFaulted(call(1));
    });
    start.arrive_and_wait();
    runs[0] = RunFaulted(call(0));
    other.join();
    bool own = true;
    for (size_t i = 0; i < 2; ++i) {
      // The other job's folder may still be there; what is left is looked at after the rounds.
      runs[i].outcome.left.clear();
      const std::string where = "round " + std::to_string(round) + ", job " + std::to_string(i);
      EXPECT_TRUE(JobOracle(runs[i].outcome, {0, "", true, {}}, where));
      EXPECT_TRUE(runs[i].outcome.out == alone[i])
          << where << ": printed differently from alone, from byte "
          << SamePrefix(runs[i].outcome.out, alone[i]);
      own = own && runs[i].outcome.out == alone[i] && runs[i].outcome.status == 0;
    }
    mixed += !own;
  }
  EXPECT_EQ(mixed, 0) << "of " << kRounds << " rounds";
  EXPECT_EQ(SpoolFilesLeft(job, {"/tmp"}), std::vector<std::string>{});
}

}  // namespace
}  // namespace kemb::testing
