// Running a built program as CUPS runs a filter: arguments, $PPD, input on standard input,
// standard output and standard error captured separately.
//   FilterCall / RunProgram   one run, input given whole
//   InputStep                 input fed in steps, waiting for a log line and signalling between
#pragma once

#include <cstdint>
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

struct FilterCall {
  std::string program;  // default: the built rastertokemb
  std::vector<std::string> args;  // argv[1..]
  std::optional<std::string> ppd;  // $PPD, unset when empty
  std::vector<InputStep> input;
  std::vector<std::string> env;  // extra NAME=value entries
  std::string stdout_path;       // send standard output here (e.g. /dev/full) instead
};

struct FilterRun {
  int status = -1;       // exit status, or -1 when killed by a signal
  int signal = 0;        // the signal that ended it, if any
  std::vector<uint8_t> out;
  std::string log;
  std::vector<std::string> LogLines() const;
};

FilterRun RunProgram(const FilterCall& call);
std::string BinPath(const std::string& program);

// Common argument vector: job ID, user, title, copies, options [, file].
std::vector<std::string> FilterArgs(const std::string& job_id, const std::string& file = "");

}  // namespace kemb::testing
