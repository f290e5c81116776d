// The job oracle: log lines, spool folder, printer stream.
#include "job_oracle.h"

#include <dirent.h>

#include <cstring>

#include "fuzz_check.h"
#include "stream_decoder.h"

namespace kemb::fuzz {
namespace {

// A plain loop: comparisons through memcmp would feed the log's own words to the fuzzer.
bool StartsWith(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (text[i] != prefix[i]) return false;
  }
  return true;
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

std::string FirstEntryIn(const std::string& folder) {
  std::string found;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
        found = entry->d_name;
        break;
      }
    }
    closedir(dir);
  }
  return found;
}

}  // namespace

bool IsProgressLine(std::string_view line) {
  static constexpr std::string_view kProgress[] = {
      "ERROR: V1.0 PAGE:", "ERROR:pic number:",   "ERROR: cupsWidth:",
      "ERROR: pbmHead ",   "ERROR: readfile to ",
  };
  for (std::string_view prefix : kProgress) {
    if (StartsWith(line, prefix)) return true;
  }
  // "ERROR: open <file> ok <errno>"; "ERROR: open <file> error:<errno>" names a cause.
  if (!StartsWith(line, "ERROR: open ")) return false;
  for (size_t i = 0; i + 4 <= line.size(); ++i) {
    if (StartsWith(line.substr(i), " ok ")) return true;
  }
  return false;
}

void CheckJobRun(const JobRun& run, const std::string& spool_dir, bool decodable) {
  FUZZ_CHECK(run.status == 0 || run.status == 1, "exit status %d", run.status);

  int causes = 0, pages = 0;
  std::string_view first_cause;
  for (std::string_view line : Lines(run.log)) {
    if (StartsWith(line, "PAGE: ")) ++pages;
    if (!StartsWith(line, "ERROR:") || IsProgressLine(line)) continue;
    if (++causes == 1) first_cause = line;
    FUZZ_CHECK(causes == 1, "second cause line \"%.*s\" after \"%.*s\"",
               static_cast<int>(line.size()), line.data(), static_cast<int>(first_cause.size()),
               first_cause.data());
  }
  FUZZ_CHECK(causes == 0 || run.status == 1, "cause \"%.*s\" with exit status %d",
             static_cast<int>(first_cause.size()), first_cause.data(), run.status);

  const std::string left = FirstEntryIn(spool_dir);
  FUZZ_CHECK(left.empty(), "%s left in the spool folder %s", left.c_str(), spool_dir.c_str());

  const std::vector<kembview::Command> commands = kembview::ListCommands(run.out);
  if (!decodable) return;
  int form_feeds = 0;
  for (const kembview::Command& command : commands) {
    FUZZ_CHECK(!command.unknown, "printer byte 0x%zx: %s", command.offset,
               kembview::FormatListLine(command).c_str());
    if (StartsWith(command.name, "FF") && command.name.size() == 2) ++form_feeds;
  }
  // Every page reported to CUPS ends with a form feed, and so does a page that failed after
  // its set-up.
  FUZZ_CHECK(form_feeds == pages || (run.status == 1 && form_feeds == pages + 1),
             "%d form feeds for %d pages reported, exit status %d", form_feeds, pages, run.status);
}

}  // namespace kemb::fuzz
