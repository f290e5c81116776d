// SPDX-License-Identifier: Apache-2.0
// Running the filter with faults: one poll loop feeds its input, reads (or does not read) the
// printer pipe, collects the log, sends SIGTERM at the trigger and enforces the 5 s deadline.
// A private /tmp needs a go-between process: it mounts the tmpfs, runs the filter and, once
// the filter has ended, reports its end and what it left in that /tmp.
#include "support/fault_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <stdexcept>

#include "support/job_files.h"
#include "support/raster_writer.h"
#include "support/run_filter.h"

extern char** environ;

namespace kemb::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr auto kSigtermDeadline = std::chrono::seconds(5);
constexpr auto kStallAfterSigterm = milliseconds(200);
constexpr auto kRunCap = std::chrono::seconds(120);

std::vector<std::string> Environment(const FaultCall& call) {
  std::vector<std::string> env;
  auto replaced = [&call](const std::string& entry) {
    const std::string name = entry.substr(0, entry.find('=') + 1);
    if (name == "PPD=") return true;
    for (const std::string& e : call.env) {
      if (e.compare(0, name.size(), name) == 0 || e + "=" == name) return true;
    }
    return false;
  };
  for (char** e = environ; *e; ++e) {
    if (!replaced(*e)) env.emplace_back(*e);
  }
  env.push_back("PPD=" + call.ppd);
  for (const std::string& e : call.env) {
    if (e.find('=') != std::string::npos) env.push_back(e);
  }
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

std::string ReadLine(int fd) {
  std::string line;
  char c;
  while (::read(fd, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

// True while the process sits in write(2) on its standard output.
bool BlockedWritingPrinter(pid_t pid) {
  const std::vector<uint8_t> bytes = ReadFile("/proc/" + std::to_string(pid) + "/syscall");
  const std::string text(bytes.begin(), bytes.end());
  return text.rfind("1 0x1 ", 0) == 0;
}

bool Fired(const Trigger& trigger, const std::vector<uint8_t>& log, pid_t filter) {
  switch (trigger.kind) {
    case Trigger::kLogText:
      return std::string(log.begin(), log.end()).find(trigger.text) != std::string::npos;
    case Trigger::kPrinterBlocked:
      return BlockedWritingPrinter(filter);
    case Trigger::kFileExists:
      return access(trigger.text.c_str(), F_OK) == 0;
    case Trigger::kNever:
      break;
  }
  return false;
}

bool Drain(int fd, std::vector<uint8_t>* into) {
  uint8_t buffer[65536];
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  if (n > 0) into->insert(into->end(), buffer, buffer + n);
  return n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR));
}

}  // namespace

FaultRun RunFaulted(const FaultCall& call) {
  std::signal(SIGPIPE, SIG_IGN);
  const std::string program = call.program.empty() ? BinPath("rastertokemb") : call.program;
  std::vector<std::string> arg_strings = {program};
  arg_strings.insert(arg_strings.end(), call.args.begin(), call.args.end());
  std::vector<std::string> env_strings = Environment(call);
  std::vector<char*> argv = Pointers(arg_strings), envp = Pointers(env_strings);

  int in[2], out[2], err[2], report[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC) ||
      pipe2(report, O_CLOEXEC)) {
    throw std::runtime_error("pipes");
  }
  if (call.printer_pipe_bytes > 0) fcntl(out[0], F_SETPIPE_SZ, call.printer_pipe_bytes);
  const pid_t child = fork();
  if (child == 0) {
    setpgid(0, 0);
    dup2(in[0], 0), dup2(out[1], 1), dup2(err[1], 2);
    // The go-between keeps no pipe end of the filter's open, or the filter never sees EOF.
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1], report[0]}) ::close(fd);
    const RunAs* user = call.user ? &*call.user : nullptr;
    if (call.private_tmp) {
      RunInPrivateTmp(*call.private_tmp, report[1], program.c_str(), argv.data(), envp.data(),
                      user);
    }
    if (user != nullptr && !DropTo(*user)) _exit(126);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  setpgid(child, child);
  ::close(in[0]), ::close(out[1]), ::close(err[1]), ::close(report[1]);

  FaultRun run;
  JobOutcome& outcome = run.outcome;
  pid_t filter = child;
  if (call.private_tmp) {
    const std::string first = ReadLine(report[0]);
    if (first.rfind("pid ", 0) == 0) {
      filter = static_cast<pid_t>(std::stol(first.substr(4)));
    } else {
      outcome.log = "private /tmp: " + first + "\n";
    }
  }
  for (int fd : {in[1], out[0], err[0]}) fcntl(fd, F_SETFL, O_NONBLOCK);

  std::vector<uint8_t> log;
  size_t written = 0;
  int input = in[1], printer = out[0], log_fd = err[0];
  const Clock::time_point start = Clock::now();
  Clock::time_point sigterm_at{};
  bool ended = false, killed = false;
  int wait_status = 0;
  while (!ended) {
    const Clock::time_point now = Clock::now();
    if (!outcome.sigterm_sent && Fired(call.sigterm, log, filter)) {
      int pending = 0;
      if (printer >= 0) ioctl(printer, FIONREAD, &pending);
      run.printer_bytes_at_sigterm = outcome.out.size() + static_cast<size_t>(pending);
      ::kill(filter, SIGTERM);
      outcome.sigterm_sent = true;
      sigterm_at = now;
    }
    if (!killed &&
        ((outcome.sigterm_sent && now - sigterm_at > kSigtermDeadline) || now - start > kRunCap)) {
      outcome.ended_in_time = !outcome.sigterm_sent;
      ::kill(-child, SIGKILL);
      ::kill(filter, SIGKILL);
      killed = true;
    }

    const bool may_write =
        written < call.input.size() && (written < call.input_held_from || outcome.sigterm_sent);
    if (input >= 0 && written == call.input.size()) ::close(input), input = -1;
    const bool may_read = call.reader.kind != Reader::kStall ||
                          (outcome.sigterm_sent && now - sigterm_at > kStallAfterSigterm);
    pollfd fds[3] = {{may_write ? input : -1, POLLOUT, 0},
                     {may_read ? printer : -1, POLLIN, 0},
                     {log_fd, POLLIN, 0}};
    poll(fds, 3, 5);
    if (fds[0].revents & (POLLOUT | POLLERR)) {
      const size_t end = outcome.sigterm_sent ? call.input.size()
                                              : std::min(call.input.size(), call.input_held_from);
      const ssize_t n = ::write(input, call.input.data() + written, end - written);
      if (n > 0) written += static_cast<size_t>(n);
      if (n < 0 && errno == EPIPE) written = call.input.size();
    }
    if (fds[1].revents) {
      if (call.reader.kind == Reader::kCloseAfter) {
        uint8_t buffer[4096];
        const size_t want = std::min(sizeof buffer, call.reader.limit - outcome.out.size());
        const ssize_t n = want > 0 ? ::read(printer, buffer, want) : 0;
        if (n > 0) outcome.out.insert(outcome.out.end(), buffer, buffer + n);
        if (n == 0) ::close(printer), printer = -1;
      } else if (!Drain(printer, &outcome.out)) {
        ::close(printer), printer = -1;
      }
    }
    if (call.reader.kind == Reader::kCloseAfter && printer >= 0 &&
        outcome.out.size() >= call.reader.limit) {
      ::close(printer), printer = -1;
    }
    if (fds[2].revents && !Drain(log_fd, &log)) ::close(log_fd), log_fd = -1;
    ended = waitpid(child, &wait_status, WNOHANG) == child;
  }
  // What the pipes still hold; a straggler holding them open gets a second at most.
  for (const Clock::time_point until = Clock::now() + std::chrono::seconds(1);
       (printer >= 0 || log_fd >= 0) && Clock::now() < until;) {
    pollfd fds[2] = {{printer, POLLIN, 0}, {log_fd, POLLIN, 0}};
    poll(fds, 2, 10);
    if (fds[0].revents && !Drain(printer, &outcome.out)) ::close(printer), printer = -1;
    if (fds[1].revents && !Drain(log_fd, &log)) ::close(log_fd), log_fd = -1;
  }
  for (int fd : {input, printer, log_fd}) {
    if (fd >= 0) ::close(fd);
  }
  outcome.log += std::string(log.begin(), log.end());

  if (call.private_tmp) {
    for (std::string line; !(line = ReadLine(report[0])).empty();) {
      if (line.rfind("left ", 0) == 0) outcome.left.push_back(line.substr(5));
      if (line.rfind("status ", 0) == 0) outcome.status = std::stoi(line.substr(7));
      if (line.rfind("signal ", 0) == 0) outcome.signal = std::stoi(line.substr(7));
      if (line.rfind("setup ", 0) == 0) outcome.log += "private /tmp: " + line + "\n";
    }
    if (WIFSIGNALED(wait_status)) outcome.signal = WTERMSIG(wait_status);
  } else {
    if (WIFEXITED(wait_status)) outcome.status = WEXITSTATUS(wait_status);
    if (WIFSIGNALED(wait_status)) outcome.signal = WTERMSIG(wait_status);
    // The job's folder is made in the $TMPDIR it was given, if any.
    std::vector<std::string> folders = SpoolFolders();
    for (const std::string& e : call.env) {
      if (e.rfind("TMPDIR=/", 0) == 0) folders.push_back(e.substr(7));
    }
    if (call.args.size() > 0) outcome.left = SpoolFilesLeft(call.args[0], folders);
  }
  ::close(report[0]);
  return run;
}

}  // namespace kemb::testing
