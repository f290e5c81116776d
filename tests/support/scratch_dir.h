// SPDX-License-Identifier: Apache-2.0
// Scratch files for tests, without libcups:
//   TempDir             a private folder under /tmp, removed with everything in it
//   WriteFile/ReadFile  whole files as bytes
//   WritePpd            a small PPD with a chosen product, manufacturer and nickname
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kemb::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Names of the entries in the folder, sorted.
  std::vector<std::string> Entries() const;

 private:
  std::string path_;
};

std::string WritePpd(const std::string& path, const std::string& product,
                     const std::string& manufacturer, const std::string& nickname = "KEMB LQ");

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFile(const std::string& path);

}  // namespace kemb::testing
