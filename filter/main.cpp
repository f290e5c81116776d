// SPDX-License-Identifier: Apache-2.0
// rastertokemb: the CUPS filter for KEMB 24-pin dot-matrix printers.
//   rastertokemb job-id user title copies options [raster-file]
// Raster pages in (standard input or the file), printer commands out on standard output,
// messages for the job log on standard error; the PPD is named by $PPD.
#include <cstdio>
#include <cstdlib>

#include "job/cancel.h"
#include "job/filter_main.h"
#include "printer/byte_sink.h"

int main(int argc, char** argv) {
  std::setbuf(stderr, nullptr);
  kemb::InstallSignalHandlers();
  kemb::FdSink printer(1);
  const int status = kemb::FilterMain(argc, argv, std::getenv("PPD"), printer, stderr);
  printer.Flush();
  return status;
}
