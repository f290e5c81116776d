// SPDX-License-Identifier: Apache-2.0
// The scheduler's commands and the scheduler itself, through the tests' program runner: each
// in its own process group, stopped when the test process dies.
#include "scheduler/process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <stdexcept>
#include <thread>

#include "support/run_filter.h"

namespace kemb::scheduler_test {
namespace {

using Clock = std::chrono::steady_clock;

kemb::testing::ProgramCall CallOf(const Command& command) {
  if (command.argv.empty()) throw std::invalid_argument("empty command");
  kemb::testing::ProgramCall call;
  call.program = command.argv[0];
  call.args.assign(command.argv.begin() + 1, command.argv.end());
  call.env = command.env;
  call.merge_output = true;
  call.own_process_group = true;
  call.stop_with_parent = true;
  return call;
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
  kemb::testing::ProgramCall call = CallOf(command);
  call.timeout_seconds = command.timeout_seconds;
  const kemb::testing::ProgramRun run = kemb::testing::RunProgram(call);
  CommandResult result;
  result.status = run.timed_out ? -1 : run.status;
  result.timed_out = run.timed_out;
  result.output = run.OutText();
  return result;
}

Daemon::Daemon(const Command& command, const std::string& log_path) {
  const int log_fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (log_fd < 0) throw std::runtime_error("cannot create " + log_path);
  close(log_fd);
  kemb::testing::ProgramCall call = CallOf(command);
  call.stdout_path = log_path;
  kemb::testing::RunningProgram running = kemb::testing::StartProgram(call);
  // It reads nothing; its output goes to the log, not to us.
  close(running.input);
  running.input = -1;
  pid_ = running.pid;
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
