// SPDX-License-Identifier: Apache-2.0
// A whole job run in-process, with faults placed exactly:
//   InProcessCall     raster bytes, PPD, spool folder, halftone seam, allocator, and where the
//                     job is cancelled: when raster byte N is read, at the k-th printer write
//   InProcessRun      what the oracle judges (`left`: the spool folder's contents), the printer
//                     writes made and the printer bytes written before the cancel
//   RunInProcess      runs it as the program would, the cancel flag cleared before and after
//   FailingAllocator  counts the page path's allocations and fails the chosen one
//   ThresholdHalftoner  a halftone seam that makes base.pbm from base.ppm by a plain threshold
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "job/job.h"
#include "printer/byte_buffer.h"
#include "support/job_oracle.h"

namespace kemb::testing {

inline constexpr size_t kNever = SIZE_MAX;

struct InProcessCall {
  std::vector<uint8_t> raster;
  std::string ppd;        // path
  std::string spool_dir;  // a folder of the test's own, empty before the job
  std::string job_id = "5";
  HalftoneRunner halftone;  // empty: the halftoner program on PATH
  Content content = Content::kAuto;
  Allocator* allocator = nullptr;
  size_t cancel_at_raster_byte = kNever;  // SIGTERM as libcups reads this byte of the stream
  size_t cancel_at_write = kNever;        // SIGTERM at this printer write, counted from 1
  size_t printer_fails_after = kNever;    // printer bytes accepted before writes fail (EPIPE)
};

struct InProcessRun {
  JobOutcome outcome;
  size_t printer_writes = 0;
  size_t printer_bytes_at_cancel = 0;  // including the write that raised the flag
};

InProcessRun RunInProcess(const InProcessCall& call);

class FailingAllocator final : public Allocator {
 public:
  explicit FailingAllocator(size_t fail_at = kNever) : fail_at_(fail_at) {}
  void* Zeroed(size_t size) override;
  size_t count() const { return count_; }  // allocations asked for so far
  std::vector<size_t> sizes;               // of each, in order

 private:
  size_t fail_at_;  // counted from 1
  size_t count_ = 0;
};

HalftoneRunner ThresholdHalftoner();

}  // namespace kemb::testing
