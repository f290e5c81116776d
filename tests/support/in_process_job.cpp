// SPDX-License-Identifier: Apache-2.0
// In-process jobs: a trickling raster reader and a counting printer sink that raise the
// cancel flag where asked, a failing allocator, a threshold halftoner.
#include "support/in_process_job.h"

#include <dirent.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "job/cancel.h"
#include "job/cups_compat.h"
#include "support/raster_writer.h"

namespace kemb::testing {
namespace {

// Hands libcups at most 61 bytes a call, so a cancel lands near the byte that asked for it.
struct TricklingRaster {
  const std::vector<uint8_t>* bytes;
  size_t position = 0;
  size_t cancel_at;

  static ssize_t Read(void* context, unsigned char* buffer, size_t size) {
    auto* self = static_cast<TricklingRaster*>(context);
    const size_t n = std::min({size, size_t{61}, self->bytes->size() - self->position});
    if (n > 0) std::memcpy(buffer, self->bytes->data() + self->position, n);
    self->position += n;
    if (self->position > self->cancel_at) Canceled = 1;
    return static_cast<ssize_t>(n);
  }
};

class CancelingSink final : public ByteSink {
 public:
  CancelingSink(size_t cancel_at_write, size_t fails_after) : cancel_at_(cancel_at_write) {
    if (fails_after != kNever) memory_.FailAfter(fails_after, EPIPE);
  }
  bool Write(const uint8_t* data, size_t size) override {
    const bool ok = memory_.Write(data, size);
    if (++writes_ == cancel_at_) Canceled = 1, bytes_at_cancel_ = memory_.bytes.size();
    return ok;
  }
  bool Flush() override { return memory_.Flush(); }
  int Error() const override { return memory_.Error(); }
  std::vector<uint8_t>& bytes() { return memory_.bytes; }
  size_t writes() const { return writes_; }
  size_t bytes_at_cancel() const { return bytes_at_cancel_; }

 private:
  MemorySink memory_;
  size_t cancel_at_;
  size_t writes_ = 0;
  size_t bytes_at_cancel_ = 0;
};

}  // namespace

InProcessRun RunInProcess(const InProcessCall& call) {
  Canceled = 0;
  TricklingRaster source{&call.raster, 0, call.cancel_at_raster_byte};
  cups_raster_t* raster = cupsRasterOpenIO(&TricklingRaster::Read, &source, CUPS_RASTER_READ);
  ppd_file_t* ppd = OpenPpd(call.ppd.c_str());
  CancelingSink sink(call.cancel_at_write, call.printer_fails_after);
  char* log_text = nullptr;
  size_t log_size = 0;
  FILE* log = open_memstream(&log_text, &log_size);

  Job job;
  job.engine.id = call.job_id;
  job.engine.spool_dir = call.spool_dir;
  job.raster = raster;
  job.ppd = ppd;
  job.engine.out = &sink;
  job.log = log;
  job.engine.halftone = call.halftone;
  job.content = call.content;
  job.engine.allocator = call.allocator;
  InProcessRun run;
  JobOutcome& outcome = run.outcome;
  outcome.status = RunJob(job);
  Canceled = 0;

  std::fclose(log);
  outcome.log.assign(log_text, log_size);
  std::free(log_text);
  ClosePpd(ppd);
  cupsRasterClose(raster);
  run.printer_writes = sink.writes();
  run.printer_bytes_at_cancel = sink.bytes_at_cancel();
  outcome.out = std::move(sink.bytes());
  DIR* dir = opendir(call.spool_dir.c_str());
  if (dir != nullptr) {
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') outcome.left.push_back(call.spool_dir + "/" + entry->d_name);
    }
    closedir(dir);
  }
  return run;
}

void* FailingAllocator::Zeroed(size_t size) {
  sizes.push_back(size);
  if (++count_ == fail_at_) return nullptr;
  return std::calloc(size, 1);
}

HalftoneRunner ThresholdHalftoner() {
  return [](const std::string& base, unsigned, HalftoneMode) {
    std::ifstream ppm(base + ".ppm", std::ios::binary);
    std::string magic;
    unsigned width = 0, height = 0, max = 0;
    ppm >> magic >> width >> height >> max;
    ppm.get();
    if (magic != "P6" || width == 0 || height == 0) return Status::Fail("test halftoner: bad PPM");
    const size_t row_bytes = (width + 7) / 8;
    std::vector<uint8_t> rgb(size_t{width} * 3), dots(row_bytes);
    std::ofstream pbm(base + ".pbm", std::ios::binary);
    pbm << "P4\n" << width << " " << height << "\n";
    for (unsigned y = 0; y < height; ++y) {
      std::fill(rgb.begin(), rgb.end(), 0xFF);  // rows the spool lacks are paper
      ppm.read(reinterpret_cast<char*>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
      std::fill(dots.begin(), dots.end(), 0);
      for (unsigned x = 0; x < width; ++x) {
        if (rgb[3 * x] + rgb[3 * x + 1] + rgb[3 * x + 2] < 3 * 180) dots[x / 8] |= 0x80 >> (x % 8);
      }
      pbm.write(reinterpret_cast<const char*>(dots.data()),
                static_cast<std::streamsize>(row_bytes));
    }
    return Status::Ok();
  };
}

}  // namespace kemb::testing
