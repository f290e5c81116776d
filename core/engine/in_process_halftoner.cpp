// SPDX-License-Identifier: Apache-2.0
// The halftoner's library run inside the job's process, on the same spool and image files the
// kemb_ID program would use.
#include "engine/page_engine.h"

#include "halftone_job.h"

namespace kemb {

HalftoneRunner InProcessHalftoner(CancelTest canceled) {
  return [canceled = std::move(canceled)](const std::string& base, unsigned xres,
                                          HalftoneMode mode) -> Status {
    halftone::Job job;
    job.base = base;
    job.xres = static_cast<int>(xres);
    if (mode == HalftoneMode::kThreshold) return Status::Fail("No halftoning mode");
    job.mode = mode;
    job.canceled = canceled;
    const halftone::Status done = halftone::RunJob(job);
    if (done.ok()) return Status::Ok();
    return Status::Fail("Halftoning failed: " + done.message());
  };
}

}  // namespace kemb
