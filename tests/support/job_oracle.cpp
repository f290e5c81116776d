// The job oracle: log lines, exit, leftovers, watched files and the printer stream.
#include "support/job_oracle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <sstream>

#include "stream_decoder.h"
#include "support/raster_writer.h"

namespace kemb::testing {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Describe(const FileState& f) {
  if (!f.exists) return f.path + " (absent)";
  std::ostringstream text;
  text << f.path << " mode " << std::oct << f.mode << std::dec << " uid " << f.uid << " inode "
       << f.inode << " links " << f.links << " " << f.bytes.size() << " bytes"
       << (f.target.empty() ? "" : " -> " + f.target);
  return text.str();
}

// (e): whole commands, a form feed for every page reported to CUPS (and for the page a failure
// ended after its set-up), and nothing of a page after the last form feed.
std::string StreamProblem(const JobOutcome& outcome) {
  const std::vector<kembview::Command> commands = kembview::ListCommands(outcome.out);
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
  for (const std::string& line : Lines(outcome.log)) pages += StartsWith(line, "PAGE: ");
  if (form_feeds != pages && !(outcome.status == 1 && form_feeds == pages + 1)) {
    return "printer stream: " + std::to_string(form_feeds) + " form feeds for " +
           std::to_string(pages) + " pages reported";
  }
  return "";
}

}  // namespace

FileState Watch(const std::string& path) {
  FileState state;
  state.path = path;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return state;
  state.exists = true;
  state.mode = st.st_mode;
  state.uid = st.st_uid;
  state.inode = st.st_ino;
  state.links = st.st_nlink;
  if (S_ISLNK(st.st_mode)) {
    char target[4096];
    const ssize_t n = readlink(path.c_str(), target, sizeof target);
    if (n > 0) state.target.assign(target, static_cast<size_t>(n));
  } else if (S_ISREG(st.st_mode)) {
    state.bytes = ReadFile(path);
  }
  return state;
}

bool IsProgressLine(std::string_view line) {
  static constexpr std::string_view kProgress[] = {
      "ERROR: V1.0 PAGE:", "ERROR:pic number:",   "ERROR: cupsWidth:",
      "ERROR: pbmHead ",   "ERROR: readfile to ",
  };
  for (std::string_view prefix : kProgress) {
    if (StartsWith(line, prefix)) return true;
  }
  // "ERROR: open <file> ok <errno>"; "ERROR: open <file> error:<errno>" names a cause.
  return StartsWith(line, "ERROR: open ") && line.find(" ok ") != std::string_view::npos;
}

std::vector<std::string> CauseLines(const std::string& log) {
  std::vector<std::string> causes;
  for (const std::string& line : Lines(log)) {
    if (StartsWith(line, "ERROR:") && !IsProgressLine(line)) causes.push_back(line);
  }
  return causes;
}

::testing::AssertionResult JobOracle(const JobOutcome& outcome, const Expected& expected,
                                     const std::string& where) {
  auto fail = [&](const std::string& what) {
    return ::testing::AssertionFailure() << where << ": " << what << "\n--- job log ---\n"
                                         << outcome.log;
  };
  for (const char* report :
       {"AddressSanitizer", "LeakSanitizer", "UndefinedBehaviorSanitizer", "runtime error:"}) {
    if (outcome.log.find(report) != std::string::npos) return fail(std::string(report) + " report");
  }
  if (outcome.signal != 0) return fail("ended by signal " + std::to_string(outcome.signal));
  if (!outcome.ended_in_time) return fail("still running 5 s after SIGTERM");
  if (outcome.status != expected.status) {
    return fail("exit status " + std::to_string(outcome.status) + ", expected " +
                std::to_string(expected.status));
  }

  const std::vector<std::string> causes = CauseLines(outcome.log);
  if (causes.size() > 1) return fail("more than one ERROR line names a cause: " + causes[1]);
  if (expected.cause.empty() && !causes.empty()) return fail("unexpected cause: " + causes[0]);
  if (!expected.cause.empty()) {
    if (causes.empty()) return fail("no ERROR line names the cause \"" + expected.cause + "\"");
    if (causes[0].find(expected.cause) == std::string::npos) {
      return fail("cause line \"" + causes[0] + "\" does not name \"" + expected.cause + "\"");
    }
  }

  if (!outcome.left.empty()) return fail("left behind: " + outcome.left[0]);
  for (const FileState& before : expected.untouched) {
    const FileState after = Watch(before.path);
    if (!(after == before))
      return fail("touched: " + Describe(before) + " is now " + Describe(after));
  }

  if (expected.whole_output) {
    if (std::string problem = StreamProblem(outcome); !problem.empty()) return fail(problem);
  }
  return ::testing::AssertionSuccess();
}

}  // namespace kemb::testing
