// SPDX-License-Identifier: Apache-2.0
// The built filter run as CUPS runs it, with faults around it:
//   Trigger          when SIGTERM goes: a text in the log, the filter blocked writing to the
//                    printer, a file appearing
//   Reader           the printer side: reads everything, closes after N bytes (EPIPE), or
//                    stalls until 200 ms after the SIGTERM
//   FaultCall        program, arguments, $PPD, environment, raster input and the faults
//   FaultRun         the JobOutcome, and where the printer stream stood when SIGTERM went
//   RunFaulted       runs it; a job still running 5 s after its SIGTERM is killed and marked
// A private /tmp (private_tmp.h) runs the job in a small tmpfs of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/job_oracle.h"
#include "support/private_tmp.h"

namespace kemb::testing {

struct Trigger {
  enum Kind { kNever, kLogText, kPrinterBlocked, kFileExists } kind = kNever;
  std::string text;  // the log text or the file's path
};

struct Reader {
  enum Kind { kReadAll, kCloseAfter, kStall } kind = kReadAll;
  size_t limit = 0;  // kCloseAfter: bytes read before closing
};

struct FaultCall {
  std::string program;  // default: the built rastertokemb
  std::vector<std::string> args;
  std::string ppd;                    // $PPD
  std::vector<std::string> env;       // NAME=value entries replacing those inherited; NAME unsets
  std::vector<uint8_t> input;         // the raster stream on standard input
  size_t input_held_from = SIZE_MAX;  // bytes from here on are written only after the SIGTERM
  Trigger sigterm;
  Reader reader;
  int printer_pipe_bytes = 0;  // capacity of the printer pipe; 0: the system's
  std::optional<PrivateTmp> private_tmp;
  std::optional<RunAs> user;  // run the filter as this user, as CUPS does; else as we are
};

struct FaultRun {
  JobOutcome outcome;
  size_t printer_bytes_at_sigterm = 0;  // read plus waiting in the pipe when SIGTERM went
};

FaultRun RunFaulted(const FaultCall& call);

}  // namespace kemb::testing
