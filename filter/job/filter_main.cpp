// Start-up in the order CUPS relies on: arguments, input, raster, PPD, job; then clean-up.
#include "job/filter_main.h"

#include <fcntl.h>
#include <cstdlib>
#include <unistd.h>

#include "job/cups_compat.h"
#include "job/job.h"
#include "engine/spool_folder.h"
#include "engine/temp_file.h"

namespace kemb {

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
  job.id = argv[1];
  job.spool_dir = SpoolParent(std::getenv("TMPDIR"));
  job.raster = raster;
  job.ppd = ppd;
  job.out = &out;
  job.log = log;
  const int status = RunJob(job);

  ClosePpd(ppd);
  cupsRasterClose(raster);
  return status;
}

}  // namespace kemb
