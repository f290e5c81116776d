// SPDX-License-Identifier: Apache-2.0
// The page's files under attack and under a full disk, each case under the job oracle, run as
// we are and again as the unprivileged user CUPS runs filters as:
//   a full disk (a small tmpfs of the job's own on /tmp) while spooling and while the halftoner
//   writes: one line naming the file in the job's private folder, status 1, the page ended,
//   nothing left in that /tmp;
//   entries planted by a third user, in /tmp and in the $TMPDIR the job is given, at the names
//   the page files had before they moved into a private folder (a symbolic link to a victim, a
//   0666 file, a FIFO, a hard link to a victim): the job prints as if they were not there and
//   touches none of them; its files lie in a 0700 folder of its own in $TMPDIR and are private
//   (0600, the job user's, one link) while the halftoner sees them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "fault_fixture.h"
#include "support/job_files.h"
#include "support/run_filter.h"

namespace kemb::testing {
namespace {

// The user a pass runs the filter as; skips the test when this machine cannot.
void PickUser(Runner runner, std::optional<FilterUserInfo>* user) {
  if (runner == Runner::kInvoker) return;
  std::string why;
  *user = FilterUser(&why);
  if (!*user) GTEST_SKIP() << why;
}

class FullDisk : public ::testing::TestWithParam<Runner> {};

TEST_P(FullDisk, SpoolAndImageWritesFailCleanly) {
  if (std::string why = PrivateTmpError(); !why.empty()) GTEST_SKIP() << why;
  std::optional<FilterUserInfo> user;
  PickUser(GetParam(), &user);
  if (IsSkipped()) return;
  struct Case {
    const char* what;
    std::vector<RasterPage> pages;
    size_t free_bytes;  // of the 64 KiB tmpfs, once the PPD is there
    std::string cause;
    int status = 1;
  };
  // A 400 x 40 page spools 48015 bytes; its halftoned image takes 2011.
  const Case cases[] = {
      {"no room for the spool header", {TextPage(400, 40)}, 0, "Unable to write spool file"},
      {"full half-way through the spool",
       {TextPage(400, 40)},
       7 * 4096,
       "Unable to write spool file"},
      {"full on the second page",
       {TextPage(40, 20), TextPage(400, 40)},
       11 * 4096,
       "Unable to write spool file"},
      {"no room for the halftoner's image",
       {PhotoPage(400, 40)},
       12 * 4096,
       "kemb_ID failed with exit status 1"},
      {"room for every page", {TextPage(400, 40), PhotoPage(400, 40)}, 13 * 4096, "", 0},
  };
  TempDir dir;
  const std::string ppd = WritePpd(dir.File("p.ppd"), "(KEMB-WMZ)", "KEMB");
  for (const Case& c : cases) {
    const std::string job = UniqueJobId();
    FaultCall call = FaultJob(job, "/tmp/p.ppd", RasterBytes(c.pages));
    if (user) call = AsFilterUser(call, *user);
    PrivateTmp tmp;
    tmp.files = {{"/tmp/p.ppd", ReadFile(ppd)}};
    tmp.ballast = tmp.size - 4096 - c.free_bytes;
    call.private_tmp = tmp;
    const FaultRun run = RunFaulted(call);
    std::string cause = c.cause;
    if (cause.rfind("Unable to write spool file", 0) == 0) {
      const std::string folder = JobFolderIn(run.outcome.log, job);
      EXPECT_EQ(folder.rfind("/tmp/kemb" + job + ".", 0), 0u) << c.what << run.outcome.log;
      cause += " " + folder + "/kemb" + job + "_" + std::to_string(c.pages.size()) + ".ppm";
    }
    EXPECT_TRUE(JobOracle(run.outcome, {c.status, cause, true, {}}, c.what));
    if (c.status != 0) {
      const std::vector<std::string> causes = CauseLines(run.outcome.log);
      ASSERT_EQ(causes.size(), 1u) << c.what;
      EXPECT_NE(causes[0].find("No space left on device"), std::string::npos) << causes[0];
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Runners, FullDisk,
                         ::testing::Values(Runner::kInvoker, Runner::kFilterUser), RunnerName);

// Plants as a third user; the victims lie in a folder that user may not enter.
class PlantedEntries : public ::testing::TestWithParam<Runner> {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "planting as another user needs root";
    PickUser(GetParam(), &user_);
    if (IsSkipped()) return;
    // The job user reads the PPD and runs the stand-in from here.
    ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
    // Like the scheduler's own temporary folder: the job user may make its folder there, and
    // so may the planter plant.
    ASSERT_EQ(chmod(tmpdir_.path().c_str(), 01777), 0);
    ppd_ = WritePpd(dir_.File("p.ppd"), "(KEMB-WMZ)", "KEMB");
    // The planter's own file, reachable by the planter: what a hard link of its can point at.
    std::string shared = "/tmp/kembshared.XXXXXX";
    ASSERT_NE(mkdtemp(shared.data()), nullptr);
    shared_ = shared;
    ASSERT_EQ(chown(shared_.c_str(), Planter().uid, Planter().gid), 0);
  }
  void TearDown() override {
    if (!shared_.empty()) {
      std::remove((shared_ + "/nobodys").c_str());
      rmdir(shared_.c_str());
    }
  }
  uid_t JobUid() const { return user_ ? user_->ids.uid : geteuid(); }
  FaultCall Call(const std::string& job, const Bytes& raster) {
    const std::string kemb_id = (user_ ? user_->bin_dir : std::string(KEMB_BIN_DIR)) + "/kemb_ID";
    // The stand-in looks at the files as the halftoner finds them, then runs the real one.
    StandIn(dir_.path(), "stat -c '%a %u %F' \"${1%/*}\" >> " + dir_.File("seen") + "\n" +
                             "stat -c '%a %u %h %F' \"$1.ppm\" >> " + dir_.File("seen") + "\n" +
                             kemb_id + " \"$@\" || exit $?\n" + "stat -c '%a %u %h %F' \"$1.pbm\" >> " +
                             dir_.File("seen"));
    // Its records, which the job user must be able to write.
    for (const char* record : {"calls", "seen"}) {
      std::ofstream(dir_.File(record), std::ios::app);
      chmod(dir_.File(record).c_str(), 0666);
    }
    FaultCall call = FaultJob(job, ppd_, raster, dir_.path());
    call.env.push_back("TMPDIR=" + tmpdir_.path());
    if (user_) call = AsFilterUser(call, *user_);
    return call;
  }
  std::optional<FilterUserInfo> user_;
  TempDir dir_, tmpdir_;
  std::string ppd_, shared_;
};

TEST_P(PlantedEntries, AreLeftAloneAndNothingOfThePageLeaks) {
  const std::vector<RasterPage> pages = {PhotoPage(60, 40), TextPage(60, 40)};
  const Bytes raster = RasterBytes(pages);
  const FaultRun clean = RunFaulted(Call(UniqueJobId(), raster));
  ASSERT_TRUE(JobOracle(clean.outcome, {0, "", true, {}}, "clean run"));

  enum Kind { kSymlink, kOpenFile, kFifo, kHardLink };
  const char* kind_names[] = {"symbolic link to a victim", "0666 file", "FIFO",
                              "hard link to the planter's file"};
  const RunAs planter = Planter();
  for (const std::string& folder : {std::string("/tmp"), tmpdir_.path()}) {
    for (const char* suffix : {"_1.ppm", "_1.pbm", "_2.ppm"}) {
      for (Kind kind : {kSymlink, kOpenFile, kFifo, kHardLink}) {
        const std::string job = UniqueJobId();
        const std::string name = folder + "/kemb" + job + suffix;
        const std::string where = std::string(kind_names[kind]) + " at " + name;
        const std::string victim = dir_.File("victim"), nobodys = shared_ + "/nobodys";
        WriteFile(victim, {'r', 'o', 'o', 't'});
        std::remove(nobodys.c_str());
        auto put_mine = [](const std::string& path, mode_t mode) {
          const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode);
          const bool done = fd >= 0 && fchmod(fd, mode) == 0 && write(fd, "mine", 4) == 4;
          return fd >= 0 && close(fd) == 0 && done;
        };
        ASSERT_TRUE(AsUser(planter.uid, planter.gid, [&] { return put_mine(nobodys, 0600); }));
        ASSERT_TRUE(AsUser(planter.uid, planter.gid, [&] {
          switch (kind) {
            case kSymlink:
              return symlink(victim.c_str(), name.c_str()) == 0;
            case kOpenFile:
              return put_mine(name, 0666);
            case kFifo:
              return mkfifo(name.c_str(), 0666) == 0;
            case kHardLink:
              return link(nobodys.c_str(), name.c_str()) == 0;
          }
          return false;
        })) << where;
        const Expected expected{0, "", true, {Watch(victim), Watch(nobodys), Watch(name)}};
        // Whatever the job might write through the planted entry shows on this descriptor.
        const int held = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW);
        const std::string planted = kind == kOpenFile || kind == kHardLink ? "mine" : "";
        std::remove(dir_.File("seen").c_str());

        FaultRun run = RunFaulted(Call(job, raster));
        // The planted entry is the planter's to remove, not a leftover of the job.
        std::erase(run.outcome.left, name);
        EXPECT_TRUE(JobOracle(run.outcome, expected, where));
        EXPECT_EQ(run.outcome.out, clean.outcome.out) << where << ": printed differently";
        if (held >= 0) {
          char bytes[64];
          const ssize_t n = read(held, bytes, sizeof bytes);
          EXPECT_EQ(std::string(bytes, n > 0 ? size_t(n) : 0), planted)
              << where << ": written through the planted entry";
          close(held);
        }
        const std::string job_folder = JobFolderIn(run.outcome.log, job);
        EXPECT_EQ(job_folder.rfind(tmpdir_.path() + "/kemb" + job + ".", 0), 0u)
            << where << ": the job's folder is not in $TMPDIR\n" << run.outcome.log;
        const Bytes seen = ReadFile(dir_.File("seen"));
        const std::string uid = std::to_string(JobUid());
        EXPECT_EQ(std::string(seen.begin(), seen.end()),
                  "700 " + uid + " directory\n600 " + uid + " 1 regular file\n600 " + uid +
                      " 1 regular file\n")
            << where << ": folder, spool, then image, as the halftoner found them";
        std::remove(name.c_str());
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Runners, PlantedEntries,
                         ::testing::Values(Runner::kInvoker, Runner::kFilterUser), RunnerName);

}  // namespace
}  // namespace kemb::testing
