// SPDX-License-Identifier: Apache-2.0
// JobLog: where the page engine reports, one event per line, each with its level and kind, so
// every front end words its own log from them:
//   LogLevel   debug, info, warning, error: a printer application maps them to its own
//   LogEvent   what the line reports (the dark share, the rows read back, a file left behind...)
//   JobLog     the front end's sink; the engine calls Write for each event
//   LineLog    the lines on a stream as CUPS reads a filter's standard error: the level as
//              prefix, except the engine's progress lines, which keep the ERROR: prefix the
//              filter has always given them, and the halftoner program's lines as it wrote them
#pragma once

#include <cstdio>
#include <string_view>

namespace kemb {

enum class LogLevel { kDebug, kInfo, kWarning, kError };

enum class LogEvent {
  kDarkShare,    // the page's dark share, which picks its path on auto
  kContentPath,  // the path the page's content choice took, and why
  kReadBack,     // the rows about to print: size, row bytes, header length
  kFileOpened,   // the spool or the halftoner's image opened for reading
  kImageHeader,  // the header read back
  kRowsEnded,    // a file ran out before the page did: the page ends there
  kNotRemoved,   // a spool file or image that could not be removed
  kShingling,    // the page end's shingling
  kHalftoner,    // a line the halftoner program wrote
};

class JobLog {
 public:
  virtual ~JobLog() = default;
  // `text`: the line without level prefix or newline.
  virtual void Write(LogLevel level, LogEvent event, std::string_view text) = 0;
};

class LineLog final : public JobLog {
 public:
  explicit LineLog(FILE* stream) : stream_(stream) {}
  void Write(LogLevel level, LogEvent event, std::string_view text) override;

 private:
  FILE* stream_;
};

}  // namespace kemb
