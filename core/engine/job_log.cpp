// SPDX-License-Identifier: Apache-2.0
// LineLog: an event as the line CUPS's job log has always shown for it.
#include "engine/job_log.h"

namespace kemb {
namespace {

const char* Prefix(LogLevel level, LogEvent event) {
  switch (event) {
    case LogEvent::kHalftoner:
      return "";
    case LogEvent::kDarkShare:
      return "ERROR:";
    case LogEvent::kReadBack:
    case LogEvent::kFileOpened:
    case LogEvent::kImageHeader:
    case LogEvent::kRowsEnded:
    case LogEvent::kNotRemoved:
      return "ERROR: ";
    case LogEvent::kContentPath:
    case LogEvent::kShingling:
      break;
  }
  switch (level) {
    case LogLevel::kDebug:
      return "DEBUG: ";
    case LogLevel::kInfo:
      return "INFO: ";
    case LogLevel::kWarning:
      return "WARNING: ";
    case LogLevel::kError:
      break;
  }
  return "ERROR: ";
}

}  // namespace

void LineLog::Write(LogLevel level, LogEvent event, std::string_view text) {
  std::fprintf(stream_, "%s%.*s\n", Prefix(level, event), static_cast<int>(text.size()),
               text.data());
}

}  // namespace kemb
