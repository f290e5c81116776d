// SPDX-License-Identifier: Apache-2.0
// Halftone job: argument checks and the row pipeline.
//   ParseDecimal     a whole argument as a small decimal number
//   ParseArguments   base, xres 1..720, mode 2 or 3
//   RunJob           PPM row -> targets -> diffusion -> PBM row, for every row of the page
#include "halftone_job.h"

#include <cstdint>
#include <vector>

#include "diffusion.h"
#include "pbm_writer.h"
#include "ppm_reader.h"
#include "tone_curve.h"

namespace kemb::halftone {
namespace {

// Plain digits only: a sign, blanks or a suffix means the caller is not the filter.
bool ParseDecimal(const char* text, int max, int* value) {
  int result = 0;
  if (*text == '\0') return false;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
    result = result * 10 + (*c - '0');
    if (result > max) return false;
  }
  *value = result;
  return true;
}

}  // namespace

Status ParseArguments(int count, const char* const* args, Job* job) {
  if (count != 3) {
    return Status::Error("expected 3 arguments (base xres mode), got " + std::to_string(count));
  }
  if (args[0][0] == '\0') return Status::Error("empty base name");
  int xres = 0;
  if (!ParseDecimal(args[1], kMaxXres, &xres) || xres < kMinXres) {
    return Status::Error("xres '" + std::string(args[1]) + "' is not a number from " +
                         std::to_string(kMinXres) + " to " + std::to_string(kMaxXres));
  }
  int mode = 0;
  if (!ParseDecimal(args[2], 9, &mode) || (mode != 2 && mode != 3)) {
    return Status::Error("mode '" + std::string(args[2]) + "' is not 2 or 3");
  }
  job->base = args[0];
  job->xres = xres;
  job->mode = static_cast<HalftoneMode>(mode);
  return Status::Ok();
}

Status RunJob(const Job& job) {
  PpmReader page;
  if (Status opened = page.Open(job.base + ".ppm"); !opened.ok()) return opened;
  const size_t columns = page.columns();
  const size_t rows = page.rows();

  PbmWriter image;
  if (Status created = image.Create(job.base + ".pbm", columns, rows); !created.ok()) {
    return created;
  }

  // Sizes are capped by the reader, so none of these products can overflow.
  const ToneCurve curve;
  ErrorDiffuser diffuser(columns, job.xres);
  std::vector<uint8_t> rgb(columns * 3);
  std::vector<int32_t> targets(columns);
  std::vector<uint8_t> dots((columns + 7) / 8);
  for (size_t row = 0; row < rows; ++row) {
    if (job.canceled && job.canceled()) return Status::Error("cancelled");
    if (Status read = page.ReadRow(rgb); !read.ok()) return read;
    MakeTargets(rgb, job.mode, curve, targets);
    diffuser.DiffuseRow(targets, dots);
    if (Status written = image.WriteRow(dots); !written.ok()) return written;
  }
  return image.Commit();
}

}  // namespace kemb::halftone
