// Unique job IDs per test process, and the filter's leftovers in /tmp.
#include "support/job_files.h"

#include <glob.h>
#include <unistd.h>

namespace kemb::testing {

std::string UniqueJobId() {
  static int serial = 0;
  return std::to_string(getpid() % 1000000) + std::to_string(1000 + ++serial);
}

std::vector<std::string> SpoolFilesLeft(const std::string& job) {
  glob_t found = {};
  std::vector<std::string> names;
  if (glob(("/tmp/kemb" + job + "_*").c_str(), 0, nullptr, &found) == 0) {
    for (size_t i = 0; i < found.gl_pathc; ++i) names.emplace_back(found.gl_pathv[i]);
  }
  globfree(&found);
  return names;
}

}  // namespace kemb::testing
