// ScratchDir: mkdtemp on creation, remove_all on destruction.
#include "scratch_dir.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>

namespace kemb::halftone::test {

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::path(testing::TempDir()) / "kemb_ht_XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed for " << pattern;
    return;
  }
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> ScratchDir::Names() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace kemb::halftone::test
