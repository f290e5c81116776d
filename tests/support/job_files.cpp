// SPDX-License-Identifier: Apache-2.0
// Unique job IDs per test process, and the filter's leftovers.
#include "support/job_files.h"

#include <glob.h>
#include <unistd.h>
#include <cctype>
#include <cstdlib>

namespace kemb::testing {

std::string UniqueJobId() {
  static int serial = 0;
  return std::to_string(getpid() % 1000000) + std::to_string(1000 + ++serial);
}

std::vector<std::string> SpoolFolders() {
  std::vector<std::string> folders = {"/tmp"};
  const char* tmpdir = std::getenv("TMPDIR");
  if (tmpdir != nullptr && tmpdir[0] == '/' && std::string(tmpdir) != "/tmp") {
    folders.emplace_back(tmpdir);
  }
  return folders;
}

std::vector<std::string> SpoolFilesLeft(const std::string& job,
                                        const std::vector<std::string>& folders) {
  std::vector<std::string> names;
  for (const std::string& folder : folders) {
    // The private folder, and the page files as older filters named them.
    for (const char* tail : {".*", "_*"}) {
      glob_t found = {};
      if (glob((folder + "/kemb" + job + tail).c_str(), 0, nullptr, &found) == 0) {
        for (size_t i = 0; i < found.gl_pathc; ++i) names.emplace_back(found.gl_pathv[i]);
      }
      globfree(&found);
    }
  }
  return names;
}

std::string JobFolderIn(const std::string& text, const std::string& job) {
  const std::string name = "/kemb" + job + ".";
  for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
    const size_t end = at + name.size() + 6;
    if (end > text.size()) break;
    bool suffix = true;
    for (size_t i = at + name.size(); i < end; ++i) suffix = suffix && std::isalnum(text[i]);
    if (!suffix || (end < text.size() && text[end] != '/')) continue;
    size_t start = at;
    while (start > 0 && !std::isspace(static_cast<unsigned char>(text[start - 1])) &&
           text[start - 1] != ':') {
      --start;
    }
    return text.substr(start, end - start);
  }
  return "";
}

std::string FolderAsWord(std::string log, const std::string& job) {
  const std::string folder = JobFolderIn(log, job);
  if (folder.empty()) return log;
  for (size_t at; (at = log.find(folder)) != std::string::npos;) {
    log.replace(at, folder.size(), "<folder>");
  }
  return log;
}

}  // namespace kemb::testing
