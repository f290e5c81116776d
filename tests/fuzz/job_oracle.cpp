// SPDX-License-Identifier: Apache-2.0
// The job oracle of the fuzzer: the shared log and stream checks, the spool folder.
#include "job_oracle.h"

#include <dirent.h>

#include <cstring>

#include "fuzz_check.h"
#include "stream_decoder.h"
#include "support/job_checks.h"

namespace kemb::fuzz {
namespace {

std::string FirstEntryIn(const std::string& folder) {
  std::string found;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
        found = entry->d_name;
        break;
      }
    }
    closedir(dir);
  }
  return found;
}

}  // namespace

void CheckJobRun(const JobRun& run, const std::string& spool_dir, bool decodable) {
  FUZZ_CHECK(run.status == 0 || run.status == 1, "exit status %d", run.status);

  const std::vector<std::string> causes = testing::CauseLines(run.log);
  FUZZ_CHECK(causes.size() <= 1, "second cause line \"%s\" after \"%s\"", causes[1].c_str(),
             causes[0].c_str());
  FUZZ_CHECK(causes.empty() || run.status == 1, "cause \"%s\" with exit status %d",
             causes[0].c_str(), run.status);

  const std::string left = FirstEntryIn(spool_dir);
  FUZZ_CHECK(left.empty(), "%s left in the spool folder %s", left.c_str(), spool_dir.c_str());

  if (!decodable) {
    // Read all the same, so the decoder meets every stream the filter writes.
    (void)kembview::ListCommands(run.out);
    return;
  }
  const std::string problem = testing::StreamProblem(run.out, run.log, run.status);
  FUZZ_CHECK(problem.empty(), "%s", problem.c_str());
}

}  // namespace kemb::fuzz
