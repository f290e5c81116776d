// SPDX-License-Identifier: Apache-2.0
// Running the built kemb_ID the way the filter does, through the tests' one program runner
// (support/run_filter.h):
//   ProgramPath      the program in the build's bin folder
//   StartProgram     starts it with its streams captured
//   Finish           waits, and returns exit status, signal and streams
//   RunProgram       StartProgram + Finish
//   Lines            splits captured text into lines
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "support/run_filter.h"

namespace kemb::halftone::test {

std::string ProgramPath();

struct Launch {
  pid_t pid = -1;
  kemb::testing::RunningProgram running;
};

struct Outcome {
  int exit_code = -1;  // -1 when ended by a signal
  int signal = 0;
  std::string out;
  std::string err;
};

// `file_size_limit` sets RLIMIT_FSIZE with SIGXFSZ ignored, so writes beyond it fail the
// way they fail on a full disk.
Launch StartProgram(const std::vector<std::string>& args,
                    std::optional<long> file_size_limit = std::nullopt);
Outcome Finish(Launch launch);
Outcome RunProgram(const std::vector<std::string>& args,
                   std::optional<long> file_size_limit = std::nullopt);

std::vector<std::string> Lines(const std::string& text);

}  // namespace kemb::halftone::test
