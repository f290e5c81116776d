// SPDX-License-Identifier: Apache-2.0
// Programs the scheduler test starts: short commands it waits for, and the scheduler itself.
//   Command, CommandResult, RunCommand   one program to its end, output captured, with a deadline
//   Daemon                               a long-running program, stopped (TERM, then KILL) when
//                                        it goes out of scope
#pragma once

#include <sys/types.h>
#include <string>
#include <utility>
#include <vector>

namespace kemb::scheduler_test {

struct Command {
  Command(std::vector<std::string> a, std::vector<std::string> e = {}, int timeout = 60)
      : argv(std::move(a)), env(std::move(e)), timeout_seconds(timeout) {}

  std::vector<std::string> argv;  // argv[0] is looked up on PATH
  std::vector<std::string> env;   // NAME=value entries added to (or replacing) ours
  int timeout_seconds = 60;
};

struct CommandResult {
  int status = -1;         // exit status; -1 when it did not exit normally
  bool timed_out = false;  // killed at the deadline
  std::string output;      // standard output and standard error, interleaved

  bool Ok() const { return status == 0 && !timed_out; }
  // "lp -d q f.pdf: exit status 1: <output>", for failure messages.
  std::string Describe(const Command& command) const;
};

CommandResult RunCommand(const Command& command);

// Joins argv with blanks, for messages.
std::string CommandLine(const Command& command);

class Daemon {
 public:
  // Starts the program in its own process group, standard output and error into log_path.
  Daemon(const Command& command, const std::string& log_path);
  ~Daemon();
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  pid_t pid() const { return pid_; }
  bool Running();
  // SIGTERM, up to grace_seconds for it to end, then SIGKILL. Returns false when it had to be
  // killed. Safe to call twice.
  bool Stop(int grace_seconds = 15);

 private:
  bool Reap(int wait_seconds);
  pid_t pid_ = -1;
};

}  // namespace kemb::scheduler_test
