// SPDX-License-Identifier: Apache-2.0
// Starting a program with captured output, stepwise input, limits and a deadline.
#include "support/run_filter.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <poll.h>

#include <csignal>
#include <cstring>
#include <ctime>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace kemb::testing {
namespace {

// Our environment with the call's entries in place of ours of the same name; PPD only as the
// call gives it.
std::vector<std::string> Environment(const ProgramCall& call) {
  auto replaced = [&call](const char* entry) {
    const std::string name = std::string(entry, std::strcspn(entry, "=") + 1);
    if (name == "PPD=") return true;
    for (const std::string& e : call.env) {
      if (e.compare(0, name.size(), name) == 0) return true;
    }
    return false;
  };
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (!replaced(*e)) env.emplace_back(*e);
  }
  if (call.ppd) env.push_back("PPD=" + *call.ppd);
  env.insert(env.end(), call.env.begin(), call.env.end());
  return env;
}

double Now() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

}  // namespace

// The program's standard output and error, drained by a thread of their own while the test
// feeds its input.
struct RunningProgram::Capture {
  std::mutex mutex;
  std::string out, err;
  std::thread reader;

  ~Capture() {
    if (reader.joinable()) reader.join();
  }
  void Start(int out_fd, int err_fd) {
    reader = std::thread([this, out_fd, err_fd] {
      pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
      std::string* texts[2] = {&out, &err};
      int open_fds = (out_fd >= 0) + (err_fd >= 0);
      while (open_fds > 0) {
        if (::poll(fds, 2, -1) < 0) {
          if (errno == EINTR) continue;
          break;
        }
        for (int i = 0; i < 2; ++i) {
          if (fds[i].fd < 0 || fds[i].revents == 0) continue;
          char chunk[65536];
          const ssize_t got = ::read(fds[i].fd, chunk, sizeof chunk);
          if (got > 0) {
            std::lock_guard<std::mutex> lock(mutex);
            texts[i]->append(chunk, static_cast<size_t>(got));
          } else if (got == 0 || errno != EINTR) {
            ::close(fds[i].fd);
            fds[i].fd = -1;
            --open_fds;
          }
        }
      }
    });
  }
  std::string Err() {
    std::lock_guard<std::mutex> lock(mutex);
    return err;
  }
};

std::string BinPath(const std::string& program) {
  return std::string(KEMB_BIN_DIR) + "/" + program;
}

std::vector<std::string> FilterArgs(const std::string& job_id, const std::string& file) {
  std::vector<std::string> args = {job_id, "alice", "test page", "1", ""};
  if (!file.empty()) args.push_back(file);
  return args;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> FilterRun::LogLines() const {
  return SplitLines(log);
}

RunningProgram StartProgram(const ProgramCall& call) {
  RunningProgram running;
  running.call = call;
  const std::string program = call.program.empty() ? BinPath("rastertokemb") : call.program;
  std::vector<std::string> strings = {program};
  strings.insert(strings.end(), call.args.begin(), call.args.end());
  std::vector<char*> argv;
  for (std::string& s : strings) argv.push_back(s.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_strings = Environment(call);
  std::vector<char*> envp;
  for (std::string& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);

  int input[2], out[2] = {-1, -1}, err[2];
  if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 ||
      (call.stdout_path.empty() && ::pipe2(out, O_CLOEXEC) != 0)) {
    throw std::runtime_error("pipes");
  }
  // Opened before the fork: only async-signal-safe calls between fork and exec.
  int stdout_fd = out[1];
  if (!call.stdout_path.empty()) {
    stdout_fd = ::open(call.stdout_path.c_str(), O_WRONLY | O_CLOEXEC);
    if (stdout_fd < 0) throw std::runtime_error("cannot open " + call.stdout_path);
  }
  const int stderr_fd = call.merge_output ? stdout_fd : err[1];

  const pid_t parent = ::getpid();
  running.pid = ::fork();
  if (running.pid < 0) throw std::runtime_error("fork failed");
  if (running.pid == 0) {
    if (call.stop_with_parent) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent) ::_exit(127);
    }
    if (call.own_process_group) ::setpgid(0, 0);
    if (::dup2(input[0], 0) < 0 || ::dup2(stdout_fd, 1) < 0 || ::dup2(stderr_fd, 2) < 0) {
      ::_exit(126);
    }
    if (call.file_size_limit) {
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit = {static_cast<rlim_t>(*call.file_size_limit),
                            static_cast<rlim_t>(*call.file_size_limit)};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
    }
    ::execvpe(argv[0], argv.data(), envp.data());
    ::dprintf(2, "cannot run %s: %s\n", argv[0], std::strerror(errno));
    ::_exit(127);
  }
  ::close(stdout_fd);
  ::close(err[1]);
  ::close(input[0]);
  running.input = input[1];
  running.capture = std::make_shared<RunningProgram::Capture>();
  running.capture->Start(out[0], err[0]);
  return running;
}

ProgramRun Finish(RunningProgram& running) {
  const ProgramCall& call = running.call;
  // The program may stop reading early: a closed pipe is not a test failure.
  std::signal(SIGPIPE, SIG_IGN);
  for (const InputStep& step : call.input) {
    if (!step.await_log.empty()) {
      for (int tries = 0; tries < 2000; ++tries) {
        if (running.capture->Err().find(step.await_log) != std::string::npos) break;
        ::usleep(5000);
      }
    }
    if (step.signal) ::kill(running.pid, step.signal);
    size_t done = 0;
    while (done < step.bytes.size()) {
      ssize_t n = ::write(running.input, step.bytes.data() + done, step.bytes.size() - done);
      if (n <= 0) break;
      done += size_t(n);
    }
  }
  ::close(running.input);
  running.input = -1;

  ProgramRun run;
  int wait_status = 0;
  const double deadline = Now() + call.timeout_seconds;
  for (;;) {
    const pid_t done = ::waitpid(running.pid, &wait_status, call.timeout_seconds ? WNOHANG : 0);
    if (done == running.pid) break;
    if (done < 0 && errno != EINTR) break;
    if (call.timeout_seconds && done == 0 && Now() > deadline) {
      ::kill(call.own_process_group ? -running.pid : running.pid, SIGKILL);
      run.timed_out = true;
      ::waitpid(running.pid, &wait_status, 0);
      break;
    }
    if (done == 0) ::usleep(10000);
  }
  if (WIFEXITED(wait_status)) run.status = WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) run.signal = WTERMSIG(wait_status);
  // Whatever it started may hold its output open: the reader ends when they have gone too.
  running.capture->reader.join();
  run.out.assign(running.capture->out.begin(), running.capture->out.end());
  run.log = running.capture->err;
  running.capture.reset();
  return run;
}

ProgramRun RunProgram(const ProgramCall& call) {
  RunningProgram running = StartProgram(call);
  return Finish(running);
}

}  // namespace kemb::testing
