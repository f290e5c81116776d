// SPDX-License-Identifier: Apache-2.0
// The job oracle: log lines, exit, leftovers, watched files and the printer stream.
#include "support/job_oracle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <sstream>

#include "support/scratch_dir.h"

namespace kemb::testing {
namespace {

std::string Describe(const FileState& f) {
  if (!f.exists) return f.path + " (absent)";
  std::ostringstream text;
  text << f.path << " mode " << std::oct << f.mode << std::dec << " uid " << f.uid << " inode "
       << f.inode << " links " << f.links << " " << f.bytes.size() << " bytes"
       << (f.target.empty() ? "" : " -> " + f.target);
  return text.str();
}

}  // namespace

FileState Watch(const std::string& path) {
  FileState state;
  state.path = path;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return state;
  state.exists = true;
  state.mode = st.st_mode;
  state.uid = st.st_uid;
  state.inode = st.st_ino;
  state.links = st.st_nlink;
  if (S_ISLNK(st.st_mode)) {
    char target[4096];
    const ssize_t n = readlink(path.c_str(), target, sizeof target);
    if (n > 0) state.target.assign(target, static_cast<size_t>(n));
  } else if (S_ISREG(st.st_mode)) {
    state.bytes = ReadFile(path);
  }
  return state;
}

::testing::AssertionResult JobOracle(const JobOutcome& outcome, const Expected& expected,
                                     const std::string& where) {
  auto fail = [&](const std::string& what) {
    return ::testing::AssertionFailure() << where << ": " << what << "\n--- job log ---\n"
                                         << outcome.log;
  };
  for (const char* report :
       {"AddressSanitizer", "LeakSanitizer", "UndefinedBehaviorSanitizer", "runtime error:"}) {
    if (outcome.log.find(report) != std::string::npos) return fail(std::string(report) + " report");
  }
  if (outcome.signal != 0) return fail("ended by signal " + std::to_string(outcome.signal));
  if (!outcome.ended_in_time) return fail("still running 5 s after SIGTERM");
  if (outcome.status != expected.status) {
    return fail("exit status " + std::to_string(outcome.status) + ", expected " +
                std::to_string(expected.status));
  }

  const std::vector<std::string> causes = CauseLines(outcome.log);
  if (causes.size() > 1) return fail("more than one ERROR line names a cause: " + causes[1]);
  if (expected.cause.empty() && !causes.empty()) return fail("unexpected cause: " + causes[0]);
  if (!expected.cause.empty()) {
    if (causes.empty()) return fail("no ERROR line names the cause \"" + expected.cause + "\"");
    if (causes[0].find(expected.cause) == std::string::npos) {
      return fail("cause line \"" + causes[0] + "\" does not name \"" + expected.cause + "\"");
    }
  }

  if (!outcome.left.empty()) return fail("left behind: " + outcome.left[0]);
  for (const FileState& before : expected.untouched) {
    const FileState after = Watch(before.path);
    if (!(after == before))
      return fail("touched: " + Describe(before) + " is now " + Describe(after));
  }

  if (expected.whole_output) {
    if (std::string problem = StreamProblem(outcome.out, outcome.log, outcome.status);
        !problem.empty()) {
      return fail(problem);
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace kemb::testing
