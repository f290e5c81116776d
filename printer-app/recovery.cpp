// SPDX-License-Identifier: Apache-2.0
// Recovery: the state file's job lines read and written in PAPPL's own form (a keyword, then
// name="value" pairs with \ before " and \), and the record of jobs put back.
#include "recovery.h"

#include <cups/ipp.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <utility>

namespace kemb::app {
namespace {

using Options = std::vector<std::pair<std::string, std::string>>;

// In the order written (libcups's option parser sorts them).
Options Parse(const std::string& value) {
  Options parsed;
  size_t at = 0;
  while (at < value.size()) {
    while (at < value.size() && value[at] == ' ') ++at;
    const size_t equals = value.find('=', at);
    if (equals == std::string::npos) break;
    std::string name = value.substr(at, equals - at), text;
    at = equals + 1;
    if (at < value.size() && value[at] == '"') {
      for (++at; at < value.size() && value[at] != '"'; ++at) {
        if (value[at] == '\\' && at + 1 < value.size()) ++at;
        text += value[at];
      }
      ++at;  // the closing quote
    } else {
      const size_t end = std::min(value.find(' ', at), value.size());
      text = value.substr(at, end - at);
      at = end;
    }
    parsed.emplace_back(std::move(name), std::move(text));
  }
  return parsed;
}

std::string Format(const std::string& keyword, const Options& options) {
  std::string line = keyword;
  for (const auto& [name, value] : options) {
    line += " " + name + "=\"";
    for (char c : value) {
      if (c == '\\' || c == '"') line += '\\';
      line += c;
    }
    line += '"';
  }
  return line;
}

std::string* Find(Options& options, const std::string& name) {
  for (auto& [n, v] : options)
    if (n == name) return &v;
  return nullptr;
}

int Number(Options& options, const std::string& name) {
  const std::string* v = Find(options, name);
  return v ? std::atoi(v->c_str()) : 0;
}

std::string Key(int printer_id, int job_id) {
  return std::to_string(printer_id) + " " + std::to_string(job_id);
}

}  // namespace

std::vector<RecoveredJob> RecoverJobs(const std::string& state_file,
                                      const std::string& record_file) {
  std::vector<RecoveredJob> recovered;
  std::ifstream in(state_file);
  if (!in) return recovered;
  std::set<std::string> put_back_before;
  {
    std::ifstream record(record_file);
    std::string line;
    while (std::getline(record, line)) put_back_before.insert(line);
  }

  std::vector<std::string> lines;
  std::string line;
  int printer_id = 0;
  while (std::getline(in, line)) {
    const size_t space = line.find(' ');
    const std::string keyword = line.substr(0, space);
    const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
    if (keyword == "<Printer") {
      std::string options = value;
      if (!options.empty() && options.back() == '>') options.pop_back();
      Options parsed = Parse(options);
      printer_id = Number(parsed, "id");
    } else if (keyword == "Job" && printer_id > 0) {
      Options job = Parse(value);
      std::string* state = Find(job, "state");
      if (state && std::atoi(state->c_str()) == IPP_JSTATE_PROCESSING) {
        RecoveredJob r{printer_id, Number(job, "id"), false};
        r.requeued = put_back_before.count(Key(r.printer_id, r.job_id)) == 0;
        *state = std::to_string(r.requeued ? IPP_JSTATE_PENDING : IPP_JSTATE_ABORTED);
        if (!r.requeued && !Find(job, "completed"))
          job.emplace_back("completed", std::to_string(time(nullptr)));
        line = Format("Job", job);
        recovered.push_back(r);
      }
    }
    lines.push_back(line);
  }
  in.close();

  // Written beside and renamed over, so a failure here never loses the printers.
  if (!recovered.empty()) {
    const std::string temporary = state_file + ".recovering";
    {
      std::ofstream out(temporary, std::ios::trunc);
      for (const std::string& l : lines) out << l << '\n';
      if (!out.flush()) {
        std::remove(temporary.c_str());
        return {};
      }
    }
    if (std::rename(temporary.c_str(), state_file.c_str()) != 0) {
      std::remove(temporary.c_str());
      return {};
    }
  }
  // Only the jobs put back this time: one stop more and they are aborted.
  std::ofstream record(record_file, std::ios::trunc);
  for (const RecoveredJob& r : recovered)
    if (r.requeued) record << Key(r.printer_id, r.job_id) << '\n';
  return recovered;
}

void RemoveJobFolders(const std::string& spool_dir) {
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(spool_dir, ignored))
    if (entry.is_directory(ignored) && entry.path().filename().string().rfind("kemb-job", 0) == 0)
      std::filesystem::remove_all(entry.path(), ignored);
}

}  // namespace kemb::app
