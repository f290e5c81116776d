// SPDX-License-Identifier: Apache-2.0
// The oracle every fault case is judged by, whether the job ran as a process or in-process:
//   JobOutcome      what one run left: exit status or signal, printer bytes, log, leftovers
//   FileState       one watched path as lstat and its bytes show it; Watch takes it
//   Expected        what the case allows: exit status, the cause its one ERROR line names
//   JobOracle       checks, in order: (d) no sanitizer report and no death by signal,
//                   (f) ended within 5 s of a SIGTERM, (b) the exit status, (a) at most one
//                   ERROR line naming the cause, (c) no /tmp/kemb<job>_* left and the watched
//                   files untouched, (e) printer bytes that decode as whole commands with a
//                   form feed closing every page set up
// The log and stream checks it shares with the job fuzzer are in support/job_checks.h.
#pragma once

#include <gtest/gtest.h>

#include <sys/types.h>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/job_checks.h"

namespace kemb::testing {

struct JobOutcome {
  int status = -1;  // exit status; -1 when ended by a signal
  int signal = 0;   // the signal that ended it
  std::vector<uint8_t> out;
  std::string log;
  std::vector<std::string> left;  // the job's temporary files still there afterwards
  bool sigterm_sent = false;
  bool ended_in_time = true;  // within 5 s of the SIGTERM
};

struct FileState {
  std::string path;
  bool exists = false;
  mode_t mode = 0;
  uid_t uid = 0;
  ino_t inode = 0;
  nlink_t links = 0;
  std::string target;          // of a symbolic link
  std::vector<uint8_t> bytes;  // of a regular file
  bool operator==(const FileState&) const = default;
};
FileState Watch(const std::string& path);

struct Expected {
  int status = 0;
  std::string cause;  // text the one cause line must hold; empty: no cause line at all
  // False when the printer connection itself failed: the bytes may stop anywhere.
  bool whole_output = true;
  std::vector<FileState> untouched;  // as they were before the job
};

// `where` names the case in the failure message.
::testing::AssertionResult JobOracle(const JobOutcome& outcome, const Expected& expected,
                                     const std::string& where);

}  // namespace kemb::testing
