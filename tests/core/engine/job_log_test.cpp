// SPDX-License-Identifier: Apache-2.0
// LineLog: each engine event as the line CUPS's job log has always shown, so the filter's log
// stays what it was while the events carry their own levels.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/job_log.h"

namespace kemb::testing {
namespace {

std::string Written(LogLevel level, LogEvent event, std::string_view text) {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* stream = open_memstream(&buffer, &size);
  LineLog log(stream);
  log.Write(level, event, text);
  std::fclose(stream);
  std::string line(buffer, size);
  std::free(buffer);
  return line;
}

TEST(LineLog, EventsAsTheFilterHasAlwaysWrittenThem) {
  struct Case {
    LogLevel level;
    LogEvent event;
    const char* text;
    const char* line;
  };
  const Case cases[] = {
      // Progress lines keep the ERROR prefix CUPS's job log has always shown them with.
      {LogLevel::kDebug, LogEvent::kDarkShare, "pic number:0.15", "ERROR:pic number:0.15\n"},
      {LogLevel::kDebug, LogEvent::kReadBack, "cupsWidth:8 cupsHeight:2 PerLine:1 pbmHeadLen:9",
       "ERROR: cupsWidth:8 cupsHeight:2 PerLine:1 pbmHeadLen:9\n"},
      {LogLevel::kDebug, LogEvent::kFileOpened, "open /f ok 0", "ERROR: open /f ok 0\n"},
      {LogLevel::kDebug, LogEvent::kImageHeader, "pbmHead P4\n8 2\n ok ",
       "ERROR: pbmHead P4\n8 2\n ok \n"},
      {LogLevel::kWarning, LogEvent::kRowsEnded, "readfile to Planes[0], iReadLen:0",
       "ERROR: readfile to Planes[0], iReadLen:0\n"},
      {LogLevel::kWarning, LogEvent::kNotRemoved, "cCommand2:/f iRet=-1",
       "ERROR: cCommand2:/f iRet=-1\n"},
      // The halftoner program's lines as it wrote them.
      {LogLevel::kInfo, LogEvent::kHalftoner, "INFO: chatter", "INFO: chatter\n"},
      // Every other event by its level.
      {LogLevel::kDebug, LogEvent::kShingling, "Shingling0:1", "DEBUG: Shingling0:1\n"},
      {LogLevel::kDebug, LogEvent::kContentPath, "Page 1: x", "DEBUG: Page 1: x\n"},
      {LogLevel::kInfo, LogEvent::kContentPath, "Page 1: x", "INFO: Page 1: x\n"},
      {LogLevel::kWarning, LogEvent::kContentPath, "Page 1: x", "WARNING: Page 1: x\n"},
      {LogLevel::kError, LogEvent::kContentPath, "Page 1: x", "ERROR: Page 1: x\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(Written(c.level, c.event, c.text), c.line) << c.text;
}

}  // namespace
}  // namespace kemb::testing
