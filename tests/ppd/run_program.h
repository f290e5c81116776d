// Helpers for tests that drive the CUPS tools on the compiled PPDs:
//   TempDir      a private folder under /tmp, removed with everything in it
//   RunProgram   runs a program with extra environment, its output streams sent to files
//   ReadText     a whole file as a string
#pragma once

#include <string>
#include <vector>

namespace kemb::ppd_test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs argv[0] (a path) with the caller's environment, where each "NAME=value" of extra_env
// replaces any variable of that name. Returns the exit status, or -1 when the program could not
// be started or did not exit normally.
int RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
               const std::string& stdout_path, const std::string& stderr_path);

std::string ReadText(const std::string& path);

}  // namespace kemb::ppd_test
