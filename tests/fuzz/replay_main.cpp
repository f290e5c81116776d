// SPDX-License-Identifier: Apache-2.0
// The entry point of a fuzz target as an ordinary program, for CTest in every build:
// runs each file named on the command line, and every file of each folder named, through
// LLVMFuzzerTestOneInput once (dot files aside). A broken check aborts; a clean run prints how many
// ran.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace {

namespace fs = std::filesystem;

// Folders in sorted order, so a failure is reproducible from the log.
std::vector<fs::path> InputsIn(const fs::path& folder) {
  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    // Dot files keep empty folders in the repository; they are not inputs.
    if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    std::error_code error;
    if (fs::is_directory(argv[i], error)) {
      for (fs::path& file : InputsIn(argv[i])) inputs.push_back(std::move(file));
    } else if (fs::is_regular_file(argv[i], error)) {
      inputs.emplace_back(argv[i]);
    } else {
      std::fprintf(stderr, "ERROR: no input file or folder %s\n", argv[i]);
      return 1;
    }
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "ERROR: no inputs to run\n");
    return 1;
  }
  for (const fs::path& input : inputs) {
    std::ifstream file(input, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file),
                                     std::istreambuf_iterator<char>()};
    if (!file.eof() && file.fail()) {
      std::fprintf(stderr, "ERROR: cannot read %s\n", input.c_str());
      return 1;
    }
    // Named before the run, so a crash report is preceded by the input that caused it.
    std::fprintf(stderr, "running %s (%zu bytes)\n", input.c_str(), bytes.size());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::printf("%zu inputs ran clean\n", inputs.size());
  return 0;
}
