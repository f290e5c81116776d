// SPDX-License-Identifier: Apache-2.0
// A print job as the filter runs it, from the printer's wake-up to its reset:
//   Job           what one job is given: its ID, raster stream, PPD, printer stream and log
//   CheckPpdIdentity  the PPD is one of the maker's: product and manufacturer
//   IsOkidata     the OEM model, whose pages start with one more command
//   DescribePage  the page description the engine gets from a raster header and the PPD
//   RunJob        wake-up, PPD identity, the raster read loop feeding the page engine, reset;
//                 returns the exit status
// FilterMain (filter_main.h) builds a Job from the command line, as CUPS starts the filter.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include <cups/raster.h>

#include "engine/page_engine.h"
#include "job/cups_compat.h"
#include "printer/byte_buffer.h"
#include "printer/byte_sink.h"
#include "printer/page_description.h"
#include "printer/status.h"

namespace kemb {

struct Job {
  // Job ID, spool folder, halftoner, printer stream; RunJob adds the log and the cancel test.
  // Fuzzers and tests put a halftoner of their own.
  JobSettings engine;
  Content content = Content::kAuto;  // what the user says the pages hold
  cups_raster_t* raster = nullptr;
  ppd_file_t* ppd = nullptr;
  FILE* log = nullptr;  // CUPS's job log: standard error
};

// "Brand Error" or "Manufac Error" for a PPD of another printer.
Status CheckPpdIdentity(const ppd_file_t* ppd);
bool IsOkidata(const ppd_file_t* ppd);

// `header` as the job loop has it (cupsRowCount forced to 24, OutputType not empty).
PageDescription DescribePage(const cups_page_header2_t& header, const ppd_file_t* ppd);

int RunJob(const Job& job);

}  // namespace kemb
