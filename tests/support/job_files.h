// Job IDs and temporary files of the filter as tests see them:
//   UniqueJobId     a job ID no other test process uses, so parallel tests never share spool names
//   SpoolFilesLeft  /tmp/kemb<job>_* entries still there after a job
#pragma once

#include <string>
#include <vector>

namespace kemb::testing {

std::string UniqueJobId();
std::vector<std::string> SpoolFilesLeft(const std::string& job);

}  // namespace kemb::testing
