// TempDir, RunProgram and ReadText for the PPD tests: posix_spawn with the child's output
// streams opened on files, so large raster output never passes through a pipe.
#include "run_program.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace kemb::ppd_test {

TempDir::TempDir() {
  std::string pattern = "/tmp/kemb-ppd-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

namespace {

std::string VariableName(const std::string& entry) {
  return entry.substr(0, entry.find('='));
}

std::vector<std::string> ChildEnvironment(const std::vector<std::string>& extra_env) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string name = VariableName(*entry);
    bool replaced = false;
    for (const std::string& extra : extra_env) replaced = replaced || VariableName(extra) == name;
    if (!replaced) env.emplace_back(*entry);
  }
  env.insert(env.end(), extra_env.begin(), extra_env.end());
  return env;
}

std::vector<char*> CStrings(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

int RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
               const std::string& stdout_path, const std::string& stderr_path) {
  std::vector<std::string> args = argv;
  std::vector<std::string> env = ChildEnvironment(extra_env);
  std::vector<char*> c_args = CStrings(args);
  std::vector<char*> c_env = CStrings(env);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t pid = 0;
  const int spawn_error =
      posix_spawn(&pid, c_args[0], &actions, nullptr, c_args.data(), c_env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawn_error != 0) return -1;

  int status = 0;
  pid_t waited = 0;
  do {
    waited = waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace kemb::ppd_test
