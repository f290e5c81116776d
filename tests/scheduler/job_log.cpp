// SPDX-License-Identifier: Apache-2.0
// Parsing and judging a job's lines in the scheduler's error_log.
#include "scheduler/job_log.h"

#include <cctype>
#include <cstring>
#include <sstream>
#include <string_view>

namespace kemb::scheduler_test {
namespace {

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// Matches the whole text against a pattern in which '#' stands for one or more decimal digits
// and every other character for itself; the numbers go to *numbers. Trailing blanks of the
// text are ignored: the filter ends some lines with one.
bool Matches(std::string_view text, std::string_view pattern,
             std::vector<long>* numbers = nullptr) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  size_t t = 0;
  for (const char p : pattern) {
    if (p != '#') {
      if (t >= text.size() || text[t] != p) return false;
      ++t;
      continue;
    }
    const size_t first = t;
    long value = 0;
    while (t < text.size() && std::isdigit(static_cast<unsigned char>(text[t])) && t - first < 12) {
      value = value * 10 + (text[t++] - '0');
    }
    if (t == first) return false;
    if (numbers) numbers->push_back(value);
  }
  return t == text.size();
}

// "open <folder>/kemb<job>_<page>.<ext> ok <errno>" with the job's private folder
// <dir>/kemb<job>.XXXXXX; the part after the folder, or "" when the line is not one of these.
std::string OpenedPageFile(const std::string& message, int job_id) {
  const std::string folder = "/kemb" + std::to_string(job_id) + ".";
  const std::string file = "/kemb" + std::to_string(job_id) + "_";
  const size_t at = message.find(folder);
  if (!StartsWith(message, "open /") || at == std::string::npos) return "";
  const size_t end = at + folder.size() + 6;
  if (message.compare(end, file.size(), file) != 0) return "";
  for (size_t i = at + folder.size(); i < end; ++i) {
    if (!std::isalnum(static_cast<unsigned char>(message[i]))) return "";
  }
  return message.substr(end + 1);
}

std::string SpoolName(int job_id) {
  return "kemb" + std::to_string(job_id) + "_#.";
}

}  // namespace

std::vector<JobLine> JobLines(const std::string& error_log, int job_id) {
  const std::string tag = "] [Job " + std::to_string(job_id) + "] ";
  std::vector<JobLine> lines;
  std::istringstream in(error_log);
  for (std::string text; std::getline(in, text);) {
    const size_t at = text.find(tag);
    if (text.empty() || at == std::string::npos) continue;
    lines.push_back({text[0], text.substr(at + tag.size()), text});
  }
  return lines;
}

bool IsFilterProgress(const std::string& message, int job_id) {
  // The scheduler strips "ERROR:" and the blank after it. The PBM/PPM header line carries the
  // header's own newlines, so only its first line arrives at ERROR level.
  static const char* const kFixed[] = {
      "V1.0 PAGE: # # Width:# Height:# PerLine:#  RowCount:# Resolution:# # pagesize:# #",
      "pic number:#.#",
      "pic number:nan",
      "cupsWidth:# cupsHeight:# PerLine:# pbmHeadLen:#",
      "pbmHead P#",
      "pbmHead P# ok",
  };
  for (const char* pattern : kFixed) {
    if (Matches(message, pattern)) return true;
  }
  const std::string file = OpenedPageFile(message, job_id);
  return Matches(file, SpoolName(job_id) + "ppm ok #") ||
         Matches(file, SpoolName(job_id) + "pbm ok #");
}

std::vector<std::string> JobProblems(const std::vector<JobLine>& lines, int job_id) {
  std::vector<std::string> problems;
  for (const JobLine& line : lines) {
    const bool severe = std::strchr("XACEW", line.level) != nullptr;
    const bool bad_exit = StartsWith(line.message, "PID ") &&
                          line.message.find("exited with no errors") == std::string::npos;
    const bool sanitizer = line.message.find("Sanitizer") != std::string::npos ||
                           line.message.find("runtime error:") != std::string::npos;
    const bool stopped = StartsWith(line.message, "Job stopped") ||
                         StartsWith(line.message, "Job aborted") ||
                         StartsWith(line.message, "Job canceled");
    if ((severe && !IsFilterProgress(line.message, job_id)) || bad_exit || sanitizer || stopped) {
      problems.push_back(line.text);
    }
  }
  return problems;
}

std::vector<PageReport> PageReports(const std::vector<JobLine>& lines, int job_id) {
  std::vector<PageReport> pages;
  for (const JobLine& line : lines) {
    std::vector<long> n;
    if (StartsWith(line.message, "V1.0 PAGE: ") &&
        Matches(line.message.substr(0, line.message.find(' ', 11)), "V1.0 PAGE: #", &n)) {
      pages.emplace_back();
      pages.back().page = int(n[0]);
    } else if (pages.empty()) {
      continue;
    } else if (StartsWith(line.message, "pic number:")) {
      pages.back().ratio = line.message.substr(11);
    } else if (Matches(OpenedPageFile(line.message, job_id), SpoolName(job_id) + "ppm ok #", &n) &&
               n[0] == pages.back().page) {
      pages.back().printed_from_spool = true;
    } else if (Matches(OpenedPageFile(line.message, job_id), SpoolName(job_id) + "pbm ok #", &n) &&
               n[0] == pages.back().page) {
      pages.back().printed_from_halftone = true;
    }
  }
  return pages;
}

std::vector<int> CupsPageNumbers(const std::vector<JobLine>& lines) {
  std::vector<int> numbers;
  for (const JobLine& line : lines) {
    std::vector<long> n;
    if (Matches(line.message, "PAGE: # #", &n)) numbers.push_back(int(n[0]));
  }
  return numbers;
}

}  // namespace kemb::scheduler_test
