// SPDX-License-Identifier: Apache-2.0
// Shared pages, jobs and checks of the fault tables.
#include "fault_fixture.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>

#include "stream_decoder.h"
#include "support/run_filter.h"

namespace kemb::testing {

RasterPage TextPage(unsigned width, unsigned height, unsigned dpi, unsigned seed,
                    const char* type) {
  return TextPage(PageHeader(width, height, dpi, dpi, type), seed);
}

RasterPage TextPage(const cups_page_header2_t& header, unsigned seed) {
  RasterPage page(header);
  const unsigned width = header.cupsWidth, height = header.cupsHeight;
  std::mt19937 random(seed);
  std::uniform_int_distribution<unsigned> column(0, width - 1), row(0, height - 1);
  for (int stroke = 0; stroke < 12; ++stroke) {
    const unsigned x = column(random), y = row(random);
    for (unsigned dx = 0; dx < width / 4 && x + dx < width; ++dx) page.SetDot(x + dx, y);
    for (unsigned dy = 0; dy < height / 4 && y + dy < height; ++dy) page.SetDot(x, y + dy);
  }
  page.SetDot(width - 1, height - 1);
  return page;
}

RasterPage PhotoPage(unsigned width, unsigned height, unsigned dpi, unsigned seed) {
  RasterPage page(PageHeader(width, height, dpi, dpi));
  const double phase = seed * 0.7;
  for (unsigned y = 0; y < height; ++y) {
    for (unsigned x = 0; x < width; ++x) {
      const double dx = x - width / 2.0, dy = y - height / 2.0;
      const double r = std::sqrt(dx * dx + dy * dy) / (width / 2.0);
      const int level = 120 + static_cast<int>(120 * std::min(1.0, r)) +
                        static_cast<int>(15 * std::sin(x / 9.0 + phase) * std::cos(y / 7.0));
      const uint8_t v = static_cast<uint8_t>(std::clamp(level, 105, 255));
      page.SetPixel(x, y, v, static_cast<uint8_t>(std::min(255, v + 10)), v);
    }
  }
  return page;
}

std::vector<RasterPage> MixedPages(size_t count, unsigned width, unsigned height) {
  std::vector<RasterPage> pages;
  for (size_t i = 0; i < count; ++i) {
    const unsigned seed = static_cast<unsigned>(i + 1);
    switch (i % 4) {
      case 0:
        pages.push_back(TextPage(width, height, 180, seed));
        break;
      case 1:
        pages.push_back(PhotoPage(width, height, 180, seed));
        break;
      case 2:
        pages.push_back(TextPage(2 * width, 2 * height, 360, seed));
        break;
      default:
        pages.push_back(PhotoPage(2 * width, 2 * height, 360, seed));
        break;
    }
  }
  return pages;
}

FaultCall FaultJob(const std::string& job, const std::string& ppd, const Bytes& raster,
                   const std::string& halftoner_dir) {
  FaultCall call;
  call.args = FilterArgs(job);
  call.ppd = ppd;
  call.input = raster;
  const std::string first = halftoner_dir.empty() ? std::string(KEMB_BIN_DIR) : halftoner_dir;
  call.env = {"PATH=" + first + ":/usr/bin:/bin"};
  return call;
}

void StandIn(const std::string& dir, const std::string& body) {
  const std::string path = dir + "/kemb_ID";
  std::ofstream script(path);
  script << "#!/bin/sh\n"
            "echo \"$@\" >> "
         << dir
         << "/calls\n"
            "size=$(head -c 40 \"$1.ppm\" | sed -n 2p)\n"
            "w=${size% *}; h=${size#* }\n"
            "write_image() { printf 'P4\\n%s %s\\n' \"$w\" \"$h\" > \"$1.pbm\";"
            " head -c $(( (w + 7) / 8 * h )) /dev/zero | tr '\\0' '\\377' >> \"$1.pbm\"; }\n"
         << body << "\n";
  script.close();
  chmod(path.c_str(), 0755);
}

bool ProcessGone(pid_t pid) {
  // A process the filter killed finishes dying on its own time: give it a moment.
  for (int tries = 0; tries < 200; ++tries) {
    const Bytes stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const std::string text(stat.begin(), stat.end());
    const size_t state = text.rfind(") ");
    if (text.empty() || (state != std::string::npos && text[state + 2] == 'Z')) return true;
    usleep(10000);
  }
  return false;
}

size_t CountCommands(const Bytes& stream, const std::string& name) {
  size_t count = 0;
  for (const kembview::Command& command : kembview::ListCommands(stream)) {
    count += command.name == name;
  }
  return count;
}

size_t SamePrefix(const Bytes& a, const Bytes& b) {
  return static_cast<size_t>(std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first -
                             a.begin());
}

size_t ImagesFrom(const Bytes& stream, size_t offset) {
  size_t images = 0;
  for (const kembview::Command& command : kembview::ListCommands(stream)) {
    if (command.offset + command.length > offset) {
      images += command.name == "ESC *" || command.name == "ESC % 1";
    }
  }
  return images;
}

namespace {

// Copies of the built programs in a folder everyone may enter, for a build the user cannot reach
// (a checkout under /root); in /var/tmp, so a private /tmp does not hide them. Gone at exit.
class ProgramCopies {
 public:
  ProgramCopies() {
    std::string pattern = "/var/tmp/kembbin.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return;
    path_ = pattern;
    chmod(path_.c_str(), 0755);
    for (const char* program : {"rastertokemb", "kemb_ID"}) {
      std::error_code error;
      std::filesystem::copy_file(BinPath(program), path_ + "/" + program, error);
      chmod((path_ + "/" + program).c_str(), 0755);
    }
  }
  ~ProgramCopies() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

bool CanRun(const RunAs& user, const std::string& dir) {
  return AsUser(user.uid, user.gid, [&dir] {
    return access((dir + "/rastertokemb").c_str(), X_OK) == 0 &&
           access((dir + "/kemb_ID").c_str(), X_OK) == 0;
  });
}

}  // namespace

std::optional<FilterUserInfo> FilterUser(std::string* why) {
  if (geteuid() != 0) {
    *why = "running the filter as an unprivileged user, as CUPS does, needs root";
    return std::nullopt;
  }
  for (const char* name : {"lp", "daemon"}) {
    const passwd* entry = getpwnam(name);
    if (entry == nullptr || entry->pw_uid == 0) continue;
    FilterUserInfo user{name, {entry->pw_uid, entry->pw_gid}, KEMB_BIN_DIR};
    if (!CanRun(user.ids, user.bin_dir)) {
      static ProgramCopies copies;
      user.bin_dir = copies.path();
      if (user.bin_dir.empty() || !CanRun(user.ids, user.bin_dir)) {
        *why = std::string("user ") + name + " can reach neither the build nor copies in /var/tmp";
        return std::nullopt;
      }
    }
    return user;
  }
  *why = "no user lp or daemon on this system";
  return std::nullopt;
}

RunAs Planter() {
  const passwd* entry = getpwnam("nobody");
  return entry ? RunAs{entry->pw_uid, entry->pw_gid} : RunAs{65534, 65534};
}

FaultCall AsFilterUser(FaultCall call, const FilterUserInfo& user) {
  call.user = user.ids;
  if (call.program.empty()) call.program = user.bin_dir + "/rastertokemb";
  const std::string built = "PATH=" + std::string(KEMB_BIN_DIR) + ":";
  for (std::string& e : call.env) {
    if (e.rfind(built, 0) == 0) e = "PATH=" + user.bin_dir + ":" + e.substr(built.size());
  }
  return call;
}

std::string RunnerName(const ::testing::TestParamInfo<Runner>& info) {
  return info.param == Runner::kInvoker ? "AsInvoker" : "AsFilterUser";
}

}  // namespace kemb::testing
