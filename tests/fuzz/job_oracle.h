// What every fuzzed job must show, whatever its input:
//   JobRun        the exit status, the job log and the printer bytes of one run
//   CheckJobRun   status 0 or 1; at most one ERROR line naming a cause (the filter's progress
//                 lines aside), and only with status 1; the spool folder left empty; printer
//                 bytes that decode as whole commands of the vocabulary; a form feed for every
//                 page reported to CUPS
// A failed check aborts with one line naming what was wrong and where.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kemb::fuzz {

struct JobRun {
  int status = -1;
  std::string log;
  std::vector<uint8_t> out;
};

// True for the lines the filter writes at the ERROR level on every page, which name no cause.
bool IsProgressLine(std::string_view line);

// `decodable`: false when the job prints bit images whose header a reader cannot tell apart
// (see ScanRaster); the printer bytes are then read but not judged.
void CheckJobRun(const JobRun& run, const std::string& spool_dir, bool decodable);

}  // namespace kemb::fuzz
