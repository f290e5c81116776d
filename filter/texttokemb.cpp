// SPDX-License-Identifier: Apache-2.0
// texttokemb: the CUPS filter that prints plain text in the printer's own characters.
//   texttokemb job-id user title copies options [text-file]
// Text in (standard input or the file), printer commands out on standard output, messages for
// the job log on standard error; the PPD is named by $PPD.
#include <cstdio>
#include <cstdlib>

#include "job/cancel.h"
#include "printer/byte_sink.h"
#include "text/text_job.h"

int main(int argc, char** argv) {
  std::setbuf(stderr, nullptr);
  kemb::InstallSignalHandlers();
  kemb::FdSink printer(1);
  const int status = kemb::TextFilterMain(argc, argv, std::getenv("PPD"), printer, stderr);
  printer.Flush();
  return status;
}
