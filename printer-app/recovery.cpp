// SPDX-License-Identifier: Apache-2.0
// Recovery: the state file's job lines read and written in PAPPL's own form (a keyword, then
// name="value" pairs with \ before " and \), the record of jobs in the driver, the rule.
#include "recovery.h"

#include <cups/ipp.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
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

void Remove(Options& options, const std::string& name) {
  options.erase(std::remove_if(options.begin(), options.end(),
                               [&](const auto& option) { return option.first == name; }),
                options.end());
}

void Set(Options& options, const std::string& name, const std::string& value) {
  if (std::string* v = Find(options, name))
    *v = value;
  else
    options.emplace_back(name, value);
}

// PAPPL's name of a job's files in the spool folder: pPPPPPjJJJJJJJJJ-NAME.EXT.
std::vector<std::filesystem::path> JobFiles(const std::string& spool_dir, int printer_id,
                                            int job_id) {
  char prefix[32];
  std::snprintf(prefix, sizeof(prefix), "p%05dj%09d-", printer_id, job_id);
  std::vector<std::filesystem::path> files;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(spool_dir, ignored))
    if (entry.path().filename().string().rfind(prefix, 0) == 0) files.push_back(entry.path());
  return files;
}

}  // namespace

bool WriteAtomically(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".new";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  // On disk before the rename, so a power loss too leaves the old file or the new one.
  const bool written = done == text.size() && fsync(fd) == 0;
  close(fd);
  if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

JobRecord::JobRecord(std::string path) : path_(std::move(path)), entries_(Read(path_)) {}

int JobRecord::Started(int printer_id, int job_id) {
  std::lock_guard lock(mutex_);
  Entry& entry = entries_[{printer_id, job_id}];
  entry.running = true;
  Write(path_, entries_);
  return entry.stops;
}

void JobRecord::Ended(int printer_id, int job_id, bool printed) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find({printer_id, job_id});
  if (it == entries_.end()) return;
  // A job the server never stopped in needs no memory; one it did keeps how it finished.
  if (it->second.stops == 0 || !printed) {
    entries_.erase(it);
  } else {
    it->second.running = false;
    it->second.printed = true;
  }
  Write(path_, entries_);
}

// One line a job: printer ID, job ID, stops, and "running", "printed" or "waiting".
std::map<JobRecord::Key, JobRecord::Entry> JobRecord::Read(const std::string& path) {
  std::map<Key, Entry> entries;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    int printer_id = 0, job_id = 0, stops = 0;
    std::string flag;
    if (!(words >> printer_id >> job_id >> stops >> flag) || printer_id <= 0 || job_id <= 0)
      continue;
    entries[{printer_id, job_id}] = {std::clamp(stops, 0, 2), flag == "running", flag == "printed"};
  }
  return entries;
}

bool JobRecord::Write(const std::string& path, const std::map<Key, Entry>& entries) {
  std::string text;
  for (const auto& [key, entry] : entries)
    text += std::to_string(key.first) + " " + std::to_string(key.second) + " " +
            std::to_string(entry.stops) + " " +
            (entry.running ? "running" : entry.printed ? "printed" : "waiting") + "\n";
  return WriteAtomically(path, text);
}

void CleanJobAttributes(const std::string& spool_dir, int printer_id, int job_id) {
  static const std::set<std::string> kMadeAtLoad = {"job-id",   "job-uri",  "job-uuid",
                                                    "job-name", "job-printer-uri",
                                                    "job-originating-user-name"};
  for (const auto& file : JobFiles(spool_dir, printer_id, job_id)) {
    if (file.extension() != ".ipp") continue;
    ipp_t* attrs = ippNew();
    const int in = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    const bool read = in >= 0 && ippReadFile(in, attrs) == IPP_STATE_DATA;
    if (in >= 0) close(in);
    bool changed = false;
    for (const std::string& name : kMadeAtLoad)
      while (ipp_attribute_t* attr = read ? ippFindAttribute(attrs, name.c_str(), IPP_TAG_ZERO)
                                          : nullptr) {
        ippDeleteAttribute(attrs, attr);
        changed = true;
      }
    if (changed) {
      const std::string temporary = file.string() + ".new";
      const int out = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      const bool written = out >= 0 && ippWriteFile(out, attrs) == IPP_STATE_DATA;
      if (out >= 0) close(out);
      if (!written || std::rename(temporary.c_str(), file.c_str()) != 0)
        std::remove(temporary.c_str());
    }
    ippDelete(attrs);
  }
}

std::vector<RecoveredJob> RecoverJobs(const std::string& state_file,
                                      const std::string& record_file,
                                      const std::string& spool_dir) {
  std::vector<RecoveredJob> recovered;
  std::ifstream in(state_file);
  if (!in) return recovered;
  const std::map<JobRecord::Key, JobRecord::Entry> before = JobRecord::Read(record_file);
  std::map<JobRecord::Key, JobRecord::Entry> after;  // of the jobs still listed

  std::string text, line;
  bool changed = false;
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
      const int job_id = Number(job, "id");
      const int state = Number(job, "state");
      const auto found = before.find({printer_id, job_id});
      JobRecord::Entry entry = found != before.end() ? found->second : JobRecord::Entry{};
      const bool active = state < IPP_JSTATE_STOPPED;
      if (active) {
        if (entry.running) ++entry.stops;
        entry.running = entry.printed = false;
        const bool kept = Find(job, "filename") != nullptr;
        Recovered outcome = !kept && state == IPP_JSTATE_PROCESSING ? Recovered::kNotKept
                            : entry.stops >= 2                      ? Recovered::kAborted
                                                                    : Recovered::kRequeued;
        if (outcome == Recovered::kRequeued) {
          // PAPPL counts on from what the state file says; the next attempt counts alone.
          if (state == IPP_JSTATE_PROCESSING) Set(job, "state", std::to_string(IPP_JSTATE_PENDING));
          if (entry.stops > 0) Set(job, "imcompleted", "0");
          CleanJobAttributes(spool_dir, printer_id, job_id);
        } else {
          Set(job, "state", std::to_string(IPP_JSTATE_ABORTED));
          if (!Find(job, "completed")) job.emplace_back("completed", std::to_string(time(nullptr)));
          // Never printed again: its document goes now, as PAPPL's end of a job would.
          for (const auto& file : JobFiles(spool_dir, printer_id, job_id)) {
            std::error_code ignored;
            std::filesystem::remove(file, ignored);
          }
          Remove(job, "filename");
        }
        if (outcome != Recovered::kNotKept && entry.stops > 0) after[{printer_id, job_id}] = entry;
        if (entry.stops > 0 || outcome == Recovered::kNotKept)
          recovered.push_back({printer_id, job_id, outcome});
        const std::string rewritten = Format("Job", job);
        changed = changed || rewritten != line;
        line = rewritten;
      } else if (entry.stops > 0) {
        // Ended: how it ended is said again (PAPPL keeps no job message).
        entry.running = false;
        entry.printed = entry.printed || state == IPP_JSTATE_COMPLETED;
        after[{printer_id, job_id}] = entry;
        if (entry.stops >= 2 && state == IPP_JSTATE_ABORTED)
          recovered.push_back({printer_id, job_id, Recovered::kAborted});
        else if (entry.printed)
          recovered.push_back({printer_id, job_id, Recovered::kPrinted});
      }
    }
    text += line + '\n';
  }
  in.close();

  // The record first: a stop between the two writes finds the stops counted and the job no
  // longer in the driver, and applies the same rule again.
  if (after.size() != before.size() ||
      !std::equal(after.begin(), after.end(), before.begin(), [](const auto& a, const auto& b) {
        return a.first == b.first && a.second.stops == b.second.stops &&
               a.second.running == b.second.running && a.second.printed == b.second.printed;
      }))
    if (!JobRecord::Write(record_file, after)) return {};
  if (changed && !WriteAtomically(state_file, text)) return {};
  return recovered;
}

void RemoveJobFolders(const std::string& spool_dir) {
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(spool_dir, ignored))
    if (entry.is_directory(ignored) && entry.path().filename().string().rfind("kemb-job", 0) == 0)
      std::filesystem::remove_all(entry.path(), ignored);
}

}  // namespace kemb::app
