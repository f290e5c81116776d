// SPDX-License-Identifier: Apache-2.0
// TextFilterMain: texttokemb as CUPS starts it, minus the process: the command line (job ID,
// user, title, copies, options [, file]), the PPD and its defaults, the text settings, the
// document printed once per copy through the text engine. Returns the exit status.
#pragma once

#include <cstdio>

#include "printer/byte_sink.h"

namespace kemb {

int TextFilterMain(int argc, char** argv, const char* ppd_path, ByteSink& out, FILE* log);

}  // namespace kemb
