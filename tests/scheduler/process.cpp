// fork/exec with a deadline, and the scheduler's start and stop.
#include "scheduler/process.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace kemb::scheduler_test {
namespace {

using Clock = std::chrono::steady_clock;

// Our environment with the command's entries replacing those of the same name.
std::vector<std::string> Environment(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const std::string& x : extra) replaced = replaced || x.compare(0, name.size(), name) == 0;
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Forks; the child gets output_fd as standard output and error, /dev/null as input, its own
// process group, and runs the command. Everything the child needs is built before the fork.
pid_t Spawn(const Command& command, int output_fd) {
  if (command.argv.empty()) throw std::invalid_argument("empty command");
  std::vector<std::string> args = command.argv;
  std::vector<std::string> env = Environment(command.env);
  std::vector<char*> argv = Pointers(args), envp = Pointers(env);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    // A test killed at CTest's deadline has no chance to stop its scheduler; this does.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    setpgid(0, 0);
    const int null_fd = open("/dev/null", O_RDONLY);
    if (null_fd >= 0) dup2(null_fd, 0);
    dup2(output_fd, 1);
    dup2(output_fd, 2);
    execvpe(argv[0], argv.data(), envp.data());
    dprintf(2, "cannot run %s: %s\n", argv[0], std::strerror(errno));
    _exit(127);
  }
  return pid;
}

int ExitStatus(int wait_status) {
  return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
}

}  // namespace

std::string CommandLine(const Command& command) {
  std::string line;
  for (const std::string& arg : command.argv) line += (line.empty() ? "" : " ") + arg;
  return line;
}

std::string CommandResult::Describe(const Command& command) const {
  std::string text = CommandLine(command) + ": ";
  text += timed_out ? "no end after " + std::to_string(command.timeout_seconds) + " s"
                    : "exit status " + std::to_string(status);
  return text + (output.empty() ? "" : ":\n" + output);
}

CommandResult RunCommand(const Command& command) {
  // A file rather than a pipe: a chatty program never blocks on it while we wait.
  FILE* capture = std::tmpfile();
  if (capture == nullptr) throw std::runtime_error("tmpfile failed");
  const pid_t pid = Spawn(command, fileno(capture));

  CommandResult result;
  const auto deadline = Clock::now() + std::chrono::seconds(command.timeout_seconds);
  int wait_status = 0;
  bool exited = false;
  for (;;) {
    const pid_t done = waitpid(pid, &wait_status, WNOHANG);
    if (done == pid) {
      exited = true;
      break;
    }
    if (done < 0 && errno != EINTR) break;
    if (Clock::now() > deadline) {
      result.timed_out = true;
      kill(-pid, SIGKILL);
      waitpid(pid, &wait_status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  result.status = exited ? ExitStatus(wait_status) : -1;

  std::rewind(capture);
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, capture)) > 0;) {
    result.output.append(buffer, n);
  }
  std::fclose(capture);
  return result;
}

Daemon::Daemon(const Command& command, const std::string& log_path) {
  const int log_fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (log_fd < 0) throw std::runtime_error("cannot create " + log_path);
  pid_ = Spawn(command, log_fd);
  close(log_fd);
}

Daemon::~Daemon() {
  Stop();
}

bool Daemon::Running() {
  if (pid_ < 0) return false;
  int wait_status = 0;
  if (waitpid(pid_, &wait_status, WNOHANG) == pid_) pid_ = -1;
  return pid_ >= 0;
}

bool Daemon::Reap(int wait_seconds) {
  const auto deadline = Clock::now() + std::chrono::seconds(wait_seconds);
  while (Clock::now() < deadline) {
    if (!Running()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return !Running();
}

bool Daemon::Stop(int grace_seconds) {
  if (!Running()) return true;
  kill(pid_, SIGTERM);
  if (Reap(grace_seconds)) return true;
  // Its process group holds only what it started itself.
  kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
  Reap(5);
  return false;
}

}  // namespace kemb::scheduler_test
