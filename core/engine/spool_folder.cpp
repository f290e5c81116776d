// SPDX-License-Identifier: Apache-2.0
// Making the job's private folder, and removing it after its files.
#include "engine/spool_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kemb {

bool IsValidJobId(std::string_view id) {
  return !id.empty() && id.size() <= 10 && id.find_first_not_of("0123456789") == id.npos;
}

std::string SpoolParent(const char* tmpdir) {
  struct stat st;
  if (tmpdir != nullptr && tmpdir[0] == '/' && stat(tmpdir, &st) == 0 && S_ISDIR(st.st_mode)) {
    return tmpdir;
  }
  return "/tmp";
}

Status SpoolFolder::Make(const std::string& parent, const std::string& job_id) {
  const std::string pattern =
      parent + (parent.ends_with('/') ? "" : "/") + "kemb" + job_id + ".XXXXXX";
  std::string path = pattern;
  if (mkdtemp(path.data()) == nullptr) {
    return Status::Fail("Unable to create spool folder " + pattern + ": " + std::strerror(errno));
  }
  path_ = path;
  return Status::Ok();
}

void SpoolFolder::Remove() {
  if (path_.empty()) return;
  // The page files are gone by now unless a failure or a halftoner left some: those go first.
  const int fd = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr) {
    while (const dirent* entry = readdir(dir)) {
      const char* name = entry->d_name;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
      if (unlinkat(fd, name, 0) != 0 && errno == EISDIR) unlinkat(fd, name, AT_REMOVEDIR);
    }
    closedir(dir);
  } else if (fd >= 0) {
    ::close(fd);
  }
  ::rmdir(path_.c_str());
  path_.clear();
}

}  // namespace kemb
