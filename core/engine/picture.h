// SPDX-License-Identifier: Apache-2.0
// The picture test and the hand-off to the halftoner:
//   ChooseHalftone    the page's dark share: thresholded, or halftoned by mode 2 or 3
//   RatioText         the share as the job log shows it ("nan" for a page without ink)
//   RunHalftoner      kemb_ID base xres mode, without a shell, its output kept off the printer,
//                     stopped by a cancel
//   ProgramHalftoner  RunHalftoner as a job's halftoner, the engine's unless it is given another
//   ReadImageHeader   the halftoner's PBM header, checked against the page before any row
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "convert/ink_count.h"
#include "engine/job_log.h"
#include "pixel/halftone_mode.h"
#include "printer/status.h"

namespace kemb {

// Makes base.pbm from base.ppm for a picture page (base: the spool path without extension).
using HalftoneRunner = std::function<Status(const std::string& base, unsigned xres, HalftoneMode)>;
// True once the job is to stop.
using CancelTest = std::function<bool()>;

// How a page of this dark share is printed when the engine decides.
HalftoneMode ChooseHalftone(double ratio);
std::string RatioText(double ratio);

// Starts `program` (looked up on PATH) with base, xres and mode and waits for it. What it
// writes goes to `log`, the ERROR line of a failed halftoner into the returned failure. A
// cancel (`canceled` turning true) stops it and its process group (SIGTERM, SIGKILL a second
// later) and returns Ok: the caller finds the job cancelled and no image.
Status RunHalftoner(const std::string& program, const std::string& base, unsigned xres,
                    HalftoneMode mode, JobLog* log, const CancelTest& canceled);
HalftoneRunner ProgramHalftoner(std::string program, JobLog* log, CancelTest canceled);

struct ImageHeader {
  unsigned width = 0, height = 0;
  size_t head_len = 0;
};
// Reads and checks the header: "P4", newline, width, blank, height, newline, the size line
// within 18 bytes; 1 <= width <= max_width, 1 <= height <= max_height.
Status ReadImageHeader(int fd, const std::string& path, unsigned max_width, unsigned max_height,
                       ImageHeader* image);

}  // namespace kemb
