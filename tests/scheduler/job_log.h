// SPDX-License-Identifier: Apache-2.0
// Reading one job's story out of the scheduler's error_log.
//   JobLine          one "L [date] [Job N] message" line: its level letter and its message
//   JobLines         the lines of one job, in order
//   IsFilterProgress the lines rastertokemb writes at ERROR level as progress reports
//   JobProblems      lines that say something went wrong: above info level but not progress,
//                    a program that did not exit cleanly, a sanitizer report, a stopped job
//   PageReport       what the filter reported for each page: its ratio line and which spool
//                    or halftoner image it printed from
//   CupsPageNumbers  pages the filter reported to CUPS with "PAGE: n copies"
#pragma once

#include <string>
#include <vector>

namespace kemb::scheduler_test {

struct JobLine {
  char level = ' ';  // E, W, I, D, ... as the scheduler writes them
  std::string message;
  std::string text;  // the whole line
};

std::vector<JobLine> JobLines(const std::string& error_log, int job_id);

bool IsFilterProgress(const std::string& message, int job_id);

std::vector<std::string> JobProblems(const std::vector<JobLine>& lines, int job_id);

struct PageReport {
  int page = 0;
  std::string ratio;                   // "0.95" or "nan", as reported; empty if missing
  bool printed_from_spool = false;     // "open <folder>/kemb<job>_<page>.ppm ok"
  bool printed_from_halftone = false;  // "open <folder>/kemb<job>_<page>.pbm ok"
};

std::vector<PageReport> PageReports(const std::vector<JobLine>& lines, int job_id);

std::vector<int> CupsPageNumbers(const std::vector<JobLine>& lines);

}  // namespace kemb::scheduler_test
