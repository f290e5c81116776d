// Spawning a program with captured output and stepwise input.
#include "support/run_filter.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "support/scratch_dir.h"

extern char** environ;

namespace kemb::testing {
namespace {

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ::lseek(fd, 0, SEEK_SET);
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
  return text;
}

}  // namespace

std::string BinPath(const std::string& program) { return std::string(KEMB_BIN_DIR) + "/" + program; }

std::vector<std::string> FilterArgs(const std::string& job_id, const std::string& file) {
  std::vector<std::string> args = {job_id, "alice", "test page", "1", ""};
  if (!file.empty()) args.push_back(file);
  return args;
}

std::vector<std::string> FilterRun::LogLines() const {
  std::vector<std::string> lines;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

FilterRun RunProgram(const FilterCall& call) {
  const std::string program = call.program.empty() ? BinPath("rastertokemb") : call.program;
  std::vector<std::string> strings = {program};
  strings.insert(strings.end(), call.args.begin(), call.args.end());
  std::vector<char*> argv;
  for (std::string& s : strings) argv.push_back(s.data());
  argv.push_back(nullptr);

  std::vector<std::string> env_strings;
  // Entries of the call replace those of the same name.
  auto overridden = [&call](const char* entry) {
    const std::string name = std::string(entry, std::strcspn(entry, "=") + 1);
    if (name == "PPD=") return true;
    for (const std::string& e : call.env) {
      if (e.compare(0, name.size(), name) == 0) return true;
    }
    return false;
  };
  for (char** e = environ; *e; ++e) {
    if (!overridden(*e)) env_strings.emplace_back(*e);
  }
  if (call.ppd) env_strings.push_back("PPD=" + *call.ppd);
  env_strings.insert(env_strings.end(), call.env.begin(), call.env.end());
  std::vector<char*> envp;
  for (std::string& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);

  FILE* out_file = std::tmpfile();
  FILE* err_file = std::tmpfile();
  int input[2];
  if (!out_file || !err_file || ::pipe2(input, O_CLOEXEC) != 0) throw std::runtime_error("pipes");

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], 0);
  if (call.stdout_path.empty()) {
    posix_spawn_file_actions_adddup2(&actions, fileno(out_file), 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, call.stdout_path.c_str(), O_WRONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, fileno(err_file), 2);
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
    throw std::runtime_error("cannot start " + program);
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(input[0]);

  // The program may stop reading early: a closed pipe is not a test failure.
  std::signal(SIGPIPE, SIG_IGN);
  for (const InputStep& step : call.input) {
    if (!step.await_log.empty()) {
      for (int tries = 0; tries < 2000; ++tries) {
        if (ReadAll(fileno(err_file)).find(step.await_log) != std::string::npos) break;
        ::usleep(5000);
      }
    }
    if (step.signal) ::kill(pid, step.signal);
    size_t done = 0;
    while (done < step.bytes.size()) {
      ssize_t n = ::write(input[1], step.bytes.data() + done, step.bytes.size() - done);
      if (n <= 0) break;
      done += size_t(n);
    }
  }
  ::close(input[1]);

  int wait_status = 0;
  ::waitpid(pid, &wait_status, 0);
  FilterRun run;
  if (WIFEXITED(wait_status)) run.status = WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) run.signal = WTERMSIG(wait_status);
  const std::string out = ReadAll(fileno(out_file));
  run.out.assign(out.begin(), out.end());
  run.log = ReadAll(fileno(err_file));
  std::fclose(out_file);
  std::fclose(err_file);
  return run;
}

}  // namespace kemb::testing
