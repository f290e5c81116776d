// SPDX-License-Identifier: Apache-2.0
// Start-up in the order CUPS relies on: arguments, input, raster, PPD, job; then clean-up.
#include "job/filter_main.h"

#include <fcntl.h>
#include <cstdlib>
#include <unistd.h>

#include <string>

#include <cups/cups.h>

#include "job/cups_compat.h"
#include "job/job.h"
#include "engine/spool_folder.h"
#include "engine/temp_file.h"

namespace kemb {
namespace {

// The content choice among the job's options, as the scheduler passes them: from `lp -o` and
// from the PPD option of the same name alike. An unknown value is named once and printed as
// auto.
Content ContentFromOptions(const char* options, FILE* log) {
  cups_option_t* parsed = nullptr;
  const int count = cupsParseOptions(options, 0, &parsed);
  const std::string option(kContentOption);
  const char* value = cupsGetOption(option.c_str(), count, parsed);
  Content choice = Content::kAuto;
  if (value != nullptr) {
    if (std::optional<Content> known = ParseContent(value)) {
      choice = *known;
    } else {
      // The value is the user's: it goes to the log on one line, control characters shown as ?.
      std::string shown(value);
      for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
      }
      std::fprintf(log, "WARNING: Unknown %s value \"%s\", printing as auto\n", option.c_str(),
                   shown.c_str());
    }
  }
  cupsFreeOptions(count, parsed);
  return choice;
}

}  // namespace

int FilterMain(int argc, char** argv, const char* ppd_path, ByteSink& out, FILE* log) {
  if (argc != 6 && argc != 7) return 1;
  // The job ID becomes part of file names: only what CUPS hands out gets that far.
  if (!IsValidJobId(argv[1])) {
    std::fputs("ERROR: Invalid job ID\n", log);
    return 1;
  }

  UniqueFd input;
  if (argc == 7) {
    input = UniqueFd(::open(argv[6], O_RDONLY | O_CLOEXEC));
    if (!input.valid()) {
      sleep(1);
      return 1;
    }
  }
  cups_raster_t* raster = cupsRasterOpen(input.valid() ? input.get() : 0, CUPS_RASTER_READ);

  ppd_file_t* ppd = ppd_path != nullptr ? OpenPpd(ppd_path) : nullptr;
  if (ppd == nullptr) {
    _cupsLangPrintFilter(log, "ERROR", "The PPD file could not be opened.");
    int line = 0;
    const char* error = LastPpdError(&line);
    std::fprintf(log, "DEBUG: %s on line %d.\n", error, line);
    cupsRasterClose(raster);
    return 1;
  }

  Job job;
  job.engine.id = argv[1];
  job.engine.spool_dir = SpoolParent(std::getenv("TMPDIR"));
  job.raster = raster;
  job.ppd = ppd;
  job.engine.out = &out;
  job.log = log;
  job.content = ContentFromOptions(argv[5], log);
  const int status = RunJob(job);

  ClosePpd(ppd);
  cupsRasterClose(raster);
  return status;
}

}  // namespace kemb
