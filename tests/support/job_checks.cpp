// SPDX-License-Identifier: Apache-2.0
// Log lines and printer stream of a job, as every oracle judges them.
#include "support/job_checks.h"

#include "stream_decoder.h"

namespace kemb::testing {
namespace {

// A plain loop: comparisons through memcmp would feed the log's own words to a fuzzer.
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

std::vector<std::string> CauseLines(const std::string& log) {
  std::vector<std::string> causes;
  for (std::string_view line : Lines(log)) {
    if (StartsWith(line, "ERROR:") && !IsProgressLine(line)) causes.emplace_back(line);
  }
  return causes;
}

std::string StreamProblem(const std::vector<uint8_t>& out, const std::string& log, int status) {
  const std::vector<kembview::Command> commands = kembview::ListCommands(out);
  size_t form_feeds = 0, after_last_form_feed = 0;
  for (size_t i = 0; i < commands.size(); ++i) {
    const kembview::Command& command = commands[i];
    if (command.unknown) return "printer stream: " + kembview::FormatListLine(command);
    if (command.name == "FF") ++form_feeds, after_last_form_feed = i + 1;
  }
  for (size_t i = after_last_form_feed; i < commands.size(); ++i) {
    const std::string& name = commands[i].name;
    if (name != "ESC @" && !(form_feeds == 0 && StartsWith(name, "NUL x "))) {
      return "printer stream: a page left open by " + kembview::FormatListLine(commands[i]);
    }
  }
  size_t pages = 0;
  for (std::string_view line : Lines(log)) pages += StartsWith(line, "PAGE: ");
  if (form_feeds != pages && !(status == 1 && form_feeds == pages + 1)) {
    return "printer stream: " + std::to_string(form_feeds) + " form feeds for " +
           std::to_string(pages) + " pages reported";
  }
  return "";
}

}  // namespace kemb::testing
