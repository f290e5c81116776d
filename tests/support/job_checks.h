// SPDX-License-Identifier: Apache-2.0
// The checks of a job's log and printer stream that every judge of a job shares, the fault
// oracle (support/job_oracle.h) and the job fuzzer (fuzz/job_oracle.h) alike. No GoogleTest,
// so a fuzz target can use them.
//   IsProgressLine  the filter's own per-page lines, which are written at the ERROR level
//   CauseLines      the ERROR lines that name a cause
//   StreamProblem   printer bytes that decode as whole commands, a form feed closing every page
//                   reported to CUPS (and the page a failure ended after its set-up), nothing of
//                   a page after the last form feed; "" when all is well
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kemb::testing {

bool IsProgressLine(std::string_view line);
std::vector<std::string> CauseLines(const std::string& log);
std::string StreamProblem(const std::vector<uint8_t>& out, const std::string& log, int status);

}  // namespace kemb::testing
