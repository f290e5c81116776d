// SPDX-License-Identifier: Apache-2.0
// kemb_ID base xres mode: halftones base.ppm into base.pbm for the ribbon printer.
// Writes nothing to standard output, which carries the printer stream of the calling
// filter; a failure is one "ERROR: kemb_ID: ..." line on standard error and status 1.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "halftone_job.h"
#include "temp_cleanup.h"

namespace {

// One write, so the line reaches the job log whole; control bytes from odd file names
// must not break it into several lines.
void ReportError(const std::string& why) {
  std::string line = "ERROR: kemb_ID: ";
  for (char c : why) line += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? '?' : c;
  line += '\n';
  const ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
  (void)ignored;
}

// A closed standard stream would hand its number to the first file opened, and the
// error line could end up inside the image.
void KeepStandardStreamsOpen() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) ::open("/dev/null", O_RDWR);
  }
}

}  // namespace

int main(int argc, char** argv) {
  KeepStandardStreamsOpen();
  kemb::halftone::Job job;
  kemb::halftone::Status status = kemb::halftone::ParseArguments(argc - 1, argv + 1, &job);
  if (status.ok()) {
    kemb::halftone::InstallTempCleanup();
    status = kemb::halftone::RunJob(job);
  }
  if (status.ok()) return 0;
  ReportError(status.message());
  return 1;
}
