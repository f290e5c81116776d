// SPDX-License-Identifier: Apache-2.0
// Scratch folders, files and PPDs for tests.
#include "support/scratch_dir.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kemb::testing {

TempDir::TempDir() {
  std::string pattern = "/tmp/kembtest.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempDir::Entries() const {
  std::vector<std::string> names;
  if (DIR* dir = opendir(path_.c_str())) {
    while (dirent* entry = readdir(dir)) {
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
        names.emplace_back(entry->d_name);
      }
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string WritePpd(const std::string& path, const std::string& product,
                     const std::string& manufacturer, const std::string& nickname) {
  std::ofstream ppd(path);
  ppd << "*PPD-Adobe: \"4.3\"\n"
         "*FormatVersion: \"4.3\"\n"
         "*FileVersion: \"1.0\"\n"
         "*LanguageVersion: English\n"
         "*LanguageEncoding: ISOLatin1\n"
         "*PCFileName: \"KEMBTEST.PPD\"\n"
         "*Product: \"" << product << "\"\n"
         "*Manufacturer: \"" << manufacturer << "\"\n"
         "*ModelName: \"" << nickname << "\"\n"
         "*ShortNickName: \"" << nickname << "\"\n"
         "*NickName: \"" << nickname << "\"\n"
         "*PSVersion: \"(3010.000) 0\"\n"
         "*ColorDevice: False\n"
         "*DefaultColorSpace: RGB\n"
         "*cupsVersion: 2.4\n"
         "*cupsFilter: \"application/vnd.cups-raster 100 rastertokemb\"\n";
  return path;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace kemb::testing
