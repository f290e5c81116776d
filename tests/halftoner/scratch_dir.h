// ScratchDir: a private folder under the test temp directory, removed with everything in it.
//   path / File   the folder and a path inside it
//   Names         the names of the files now in it, sorted
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kemb::halftone::test {

class ScratchDir {
 public:
  ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir();

  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  std::vector<std::string> Names() const;

 private:
  std::filesystem::path path_;
};

}  // namespace kemb::halftone::test
