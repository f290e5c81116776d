// SPDX-License-Identifier: Apache-2.0
// A private CUPS scheduler in a temporary folder, for printing real jobs through our filter.
//   Sandbox          the folder: configuration, spool, logs, a server-bin mirror holding our
//                    filter and halftoner; removed with everything in it when the object goes
//   Start, Stop      Debian's cupsd on that configuration, reachable only through the folder's
//                    own socket
//   Client           an lp/lpadmin command aimed at that socket and at nothing else
//   JobStates        job id to IPP job state, as the scheduler reports them
//   ErrorLog         the scheduler's error_log (LogLevel debug, never rotated)
//
// Setup problems throw std::runtime_error with what went wrong and the scheduler's own words.
#pragma once

#include <map>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "scheduler/process.h"

namespace kemb::scheduler_test {

struct SandboxPrograms {
  std::string cupsd;                     // the scheduler binary
  std::string system_server_bin;         // `cups-config --serverbin`: backends, filters
  std::string data_dir;                  // `cups-config --datadir`: MIME types, banners
  std::vector<std::string> our_filters;  // copied into server-bin/filter
};

class Sandbox {
 public:
  explicit Sandbox(const SandboxPrograms& programs);
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::string& root() const { return root_; }
  std::string Path(const std::string& name) const { return root_ + "/" + name; }
  std::string Socket() const { return Path("cups.sock"); }

  // Job ids count up from first_job_id: a test may choose them apart from other tests' ids, or,
  // to recreate two schedulers on one host, the same as another scheduler's.
  void Start(int first_job_id);
  // Ends the scheduler; false when it had to be killed.
  bool Stop();

  Command Client(std::vector<std::string> argv, int timeout_seconds = 60) const;
  std::map<int, int> JobStates() const;
  std::string ErrorLog() const;
  // Last lines of the error log and the scheduler's own output, for failure messages.
  std::string Diagnostics(size_t lines = 40) const;

 private:
  void MirrorServerBin();
  void WriteConfiguration();
  std::string UnconfinedScheduler();

  SandboxPrograms programs_;
  std::string root_;
  std::unique_ptr<Daemon> cupsd_;
};

// Text or bytes of a file; empty when it cannot be read.
std::string ReadText(const std::string& path);
std::vector<uint8_t> ReadBytes(const std::string& path);
// Paths that match a shell pattern.
std::vector<std::string> Glob(const std::string& pattern);

}  // namespace kemb::scheduler_test
