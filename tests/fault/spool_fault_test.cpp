// The page's files in /tmp under attack and under a full disk, each case under the job oracle:
//   a full disk (a small tmpfs of the job's own on /tmp) while spooling and while the halftoner
//   writes: one line naming it, status 1, the page ended, nothing left in that /tmp;
//   entries planted at the spool and image names by another user (a symbolic link to a victim,
//   a 0666 file, a FIFO, a hard link to a victim): replaced, the job printed as if they were
//   not there, the victim and the planted file unchanged, and the page's files private (0600,
//   root's, one link) while the halftoner sees them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "fault_fixture.h"
#include "support/job_files.h"
#include "support/run_filter.h"

namespace kemb::testing {
namespace {

constexpr uid_t kNobody = 65534;

TEST(FullDisk, SpoolAndImageWritesFailCleanly) {
  if (std::string why = PrivateTmpError(); !why.empty()) GTEST_SKIP() << why;
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
    PrivateTmp tmp;
    tmp.files = {{"/tmp/p.ppd", ReadFile(ppd)}};
    tmp.ballast = tmp.size - 4096 - c.free_bytes;
    call.private_tmp = tmp;
    const FaultRun run = RunFaulted(call);
    std::string cause = c.cause;
    if (cause.rfind("Unable to write spool file", 0) == 0) {
      cause += " /tmp/kemb" + job + "_" + std::to_string(c.pages.size()) + ".ppm";
    }
    EXPECT_TRUE(JobOracle(run.outcome, {c.status, cause, true, {}}, c.what));
    if (c.status != 0) {
      const std::vector<std::string> causes = CauseLines(run.outcome.log);
      ASSERT_EQ(causes.size(), 1u) << c.what;
      EXPECT_NE(causes[0].find("No space left on device"), std::string::npos) << causes[0];
    }
  }
}

// Plants as nobody; the victims lie in a folder nobody may enter.
class PlantedEntries : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "planting as another user needs root";
    ppd_ = WritePpd(dir_.File("p.ppd"), "(KEMB-WMZ)", "KEMB");
    // Nobody's own file, reachable by nobody: what a hard link of nobody's can point at.
    std::string shared = "/tmp/kembshared.XXXXXX";
    ASSERT_NE(mkdtemp(shared.data()), nullptr);
    shared_ = shared;
    ASSERT_EQ(chown(shared_.c_str(), kNobody, kNobody), 0);
  }
  void TearDown() override {
    if (!shared_.empty()) {
      std::remove((shared_ + "/nobodys").c_str());
      rmdir(shared_.c_str());
    }
  }
  // The stand-in looks at the files as the halftoner finds them, then runs the real one.
  std::string Observer() {
    StandIn(dir_.path(), "stat -c '%a %u %h %F' \"$1.ppm\" >> " + dir_.File("seen") + "\n" +
                             BinPath("kemb_ID") + " \"$@\" || exit $?\n" +
                             "stat -c '%a %u %h %F' \"$1.pbm\" >> " + dir_.File("seen"));
    return dir_.path();
  }
  TempDir dir_;
  std::string ppd_, shared_;
};

TEST_F(PlantedEntries, AreReplacedAndNothingOfThePageLeaks) {
  const std::vector<RasterPage> pages = {PhotoPage(60, 40), TextPage(60, 40)};
  const Bytes raster = RasterBytes(pages);
  const FaultRun clean = RunFaulted(FaultJob(UniqueJobId(), ppd_, raster));
  ASSERT_TRUE(JobOracle(clean.outcome, {0, "", true, {}}, "clean run"));

  enum Kind { kSymlink, kOpenFile, kFifo, kHardLink };
  const char* kind_names[] = {"symbolic link to a victim", "0666 file", "FIFO",
                              "hard link to nobody's file"};
  for (const char* suffix : {"_1.ppm", "_1.pbm", "_2.ppm"}) {
    for (Kind kind : {kSymlink, kOpenFile, kFifo, kHardLink}) {
      const std::string where = std::string(kind_names[kind]) + " at kemb<job>" + suffix;
      const std::string job = UniqueJobId();
      const std::string name = "/tmp/kemb" + job + suffix;
      const std::string victim = dir_.File("victim"), nobodys = shared_ + "/nobodys";
      WriteFile(victim, {'r', 'o', 'o', 't'});
      std::remove(nobodys.c_str());
      auto put_mine = [](const std::string& path, mode_t mode) {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode);
        const bool done = fd >= 0 && fchmod(fd, mode) == 0 && write(fd, "mine", 4) == 4;
        return fd >= 0 && close(fd) == 0 && done;
      };
      ASSERT_TRUE(AsUser(kNobody, kNobody, [&] { return put_mine(nobodys, 0600); }));
      const Expected expected{0, "", true, {Watch(victim), Watch(nobodys)}};
      ASSERT_TRUE(AsUser(kNobody, kNobody, [&] {
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
      // Whatever the job might write through the planted entry shows on this descriptor.
      const int held = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW);
      const std::string planted = kind == kOpenFile || kind == kHardLink ? "mine" : "";
      std::remove(dir_.File("seen").c_str());

      const FaultRun run = RunFaulted(FaultJob(job, ppd_, raster, Observer()));
      EXPECT_TRUE(JobOracle(run.outcome, expected, where));
      EXPECT_EQ(run.outcome.out, clean.outcome.out) << where << ": printed differently";
      if (held >= 0) {
        char bytes[64];
        const ssize_t n = read(held, bytes, sizeof bytes);
        EXPECT_EQ(std::string(bytes, n > 0 ? size_t(n) : 0), planted)
            << where << ": written through the planted entry";
        close(held);
      }
      const Bytes seen = ReadFile(dir_.File("seen"));
      EXPECT_EQ(std::string(seen.begin(), seen.end()),
                "600 0 1 regular file\n600 0 1 regular file\n")
          << where << ": spool, then image, as the halftoner found them";
      struct stat st;
      EXPECT_NE(lstat(name.c_str(), &st), 0) << where << ": planted entry still there";
      std::remove(name.c_str());
    }
  }
}

}  // namespace
}  // namespace kemb::testing
