// SPDX-License-Identifier: Apache-2.0
// The job's private folder for its page files:
//   IsValidJobId  1 to 10 decimal digits, the job IDs the printing systems hand out: the ID
//                 becomes part of file names, so nothing else gets that far
//   SpoolParent   where it is made: $TMPDIR when that names an existing folder by an absolute
//                 path (CUPS points it at the scheduler's own temporary folder), else /tmp
//   SpoolFolder   made with mkdtemp (0700, kemb<job>.XXXXXX), so no other process, and no
//                 other job with the same ID, can stand at the page files' names; removed with
//                 whatever is still in it when the object goes
#pragma once

#include <string>
#include <string_view>

#include "printer/status.h"

namespace kemb {

bool IsValidJobId(std::string_view id);
std::string SpoolParent(const char* tmpdir);

class SpoolFolder {
 public:
  SpoolFolder() = default;
  ~SpoolFolder() { Remove(); }
  SpoolFolder(const SpoolFolder&) = delete;
  SpoolFolder& operator=(const SpoolFolder&) = delete;

  // A failure names the folder it tried to make and why.
  Status Make(const std::string& parent, const std::string& job_id);
  const std::string& path() const { return path_; }

 private:
  void Remove();
  std::string path_;
};

}  // namespace kemb
