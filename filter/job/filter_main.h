// SPDX-License-Identifier: Apache-2.0
// FilterMain: the filter as CUPS starts it, minus the process: checks the command line
// (job ID, user, title, copies, options [, file]), opens the raster stream and the PPD, runs the
// job and returns the exit status. main() gives it the real standard streams; tests give it
// memory.
#pragma once

#include <cstdio>

#include "printer/byte_sink.h"

namespace kemb {

int FilterMain(int argc, char** argv, const char* ppd_path, ByteSink& out, FILE* log);

}  // namespace kemb
