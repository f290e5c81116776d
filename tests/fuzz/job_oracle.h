// SPDX-License-Identifier: Apache-2.0
// What every fuzzed job must show, whatever its input:
//   JobRun        the exit status, the job log and the printer bytes of one run
//   CheckJobRun   status 0 or 1; at most one ERROR line naming a cause, and only with status 1;
//                 the spool folder left empty; the printer stream as the fault oracle judges it
//                 (support/job_checks.h: whole commands, a form feed for every page reported to
//                 CUPS, no page left open)
// A failed check aborts with one line naming what was wrong and where.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kemb::fuzz {

struct JobRun {
  int status = -1;
  std::string log;
  std::vector<uint8_t> out;
};

// `decodable`: false when the job prints bit images whose header a reader cannot tell apart
// (see ScanRaster); the printer bytes are then read but not judged.
void CheckJobRun(const JobRun& run, const std::string& spool_dir, bool decodable);

}  // namespace kemb::fuzz
