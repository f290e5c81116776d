// SPDX-License-Identifier: Apache-2.0
// Halftone job: one page, from base.ppm to base.pbm.
//   Job              the spool base name, the horizontal resolution and the mode
//   kMinXres/kMaxXres  the resolutions accepted
//   ParseArguments   checks the command line `base xres mode`
//   RunJob           reads, diffuses and writes the page one row at a time; callable in
//                    process as well as from kemb_ID
#pragma once

#include <functional>
#include <string>

#include "dot_targets.h"
#include "status.h"

namespace kemb::halftone {

inline constexpr int kMinXres = 1;
inline constexpr int kMaxXres = 720;

struct Job {
  std::string base;
  int xres = 0;
  HalftoneMode mode = HalftoneMode::kDiffuseAll;
  // In a caller's process: looked at before every row; once true the job stops without an
  // image.
  std::function<bool()> canceled;
};

// `args` are the arguments after the program name.
Status ParseArguments(int count, const char* const* args, Job* job);

// Leaves base.pbm complete, or no image and no temporary file at all.
Status RunJob(const Job& job);

}  // namespace kemb::halftone
