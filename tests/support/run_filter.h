// SPDX-License-Identifier: Apache-2.0
// The one way tests run a program: the filter as CUPS runs it, kemb_ID, the CUPS tools, the
// scheduler's clients. Arguments, environment, input on standard input, standard output and
// standard error captured (apart, or together), an optional file size limit and deadline.
//   ProgramCall / FilterCall   one run; input given whole or in steps
//   InputStep                  input fed in steps, waiting for a log line and signalling between
//   StartProgram / Finish      a run in two halves, for tests that act on the running program
//   RunProgram                 StartProgram + Finish
//   BinPath, FilterArgs        the build's programs; the filter's argument vector
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kemb::testing {

struct InputStep {
  InputStep(std::vector<uint8_t> b, std::string await = "", int sig = 0)
      : bytes(std::move(b)), await_log(std::move(await)), signal(sig) {}
  std::vector<uint8_t> bytes;
  std::string await_log;  // before writing `bytes`, wait until standard error holds this
  int signal = 0;         // then send this signal, if any
};

struct ProgramCall {
  std::string program;  // a path, or a name looked up on PATH; default: the built rastertokemb
  std::vector<std::string> args;   // argv[1..]
  std::optional<std::string> ppd;  // $PPD; unset when absent
  std::vector<InputStep> input;
  std::vector<std::string> env;  // extra NAME=value entries, replacing ours of that name
  std::string stdout_path;       // send standard output here (e.g. /dev/full) instead
  bool merge_output = false;     // standard error into the captured standard output
  // RLIMIT_FSIZE with SIGXFSZ ignored: writes beyond it fail as on a full disk.
  std::optional<long> file_size_limit;
  int timeout_seconds = 0;  // killed (SIGKILL) when still running then; 0: no deadline
  // Its own process group, killed whole at the deadline: for programs that start others.
  bool own_process_group = false;
  // SIGTERM when the test process dies first (a test killed at CTest's deadline).
  bool stop_with_parent = false;
};
using FilterCall = ProgramCall;

struct FilterRun {
  int status = -1;  // exit status, or -1 when killed by a signal or not started
  int signal = 0;   // the signal that ended it, if any
  bool timed_out = false;
  std::vector<uint8_t> out;
  std::string log;  // standard error
  std::string OutText() const { return std::string(out.begin(), out.end()); }
  std::vector<std::string> LogLines() const;
};
using ProgramRun = FilterRun;

// A started program; Finish feeds its input, waits and collects. Its output is read as it
// comes, through pipes (a file size limit must not cut what it says).
struct RunningProgram {
  struct Capture;
  pid_t pid = -1;
  int input = -1;  // write end of its standard input
  std::shared_ptr<Capture> capture;
  ProgramCall call;
};

RunningProgram StartProgram(const ProgramCall& call);
ProgramRun Finish(RunningProgram& running);
ProgramRun RunProgram(const ProgramCall& call);

std::string BinPath(const std::string& program);
// Common argument vector: job ID, user, title, copies, options [, file].
std::vector<std::string> FilterArgs(const std::string& job_id, const std::string& file = "");
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace kemb::testing
