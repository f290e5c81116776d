// SPDX-License-Identifier: Apache-2.0
// Fuzz target: a whole job, in-process, from a raster stream (see job_input.h for the input).
//   LLVMFuzzerInitialize   private spool and PPD folders, the two PPDs, made once
//   Halftoner stand-in     writes the image the input carries, or one made from the spool
//   LLVMFuzzerTestOneInput runs the job and judges it with CheckJobRun
// KEMB_FUZZ_SHOW_LOG=1 in the environment prints each job's status and log.
// Inputs of odd length run with a PPD whose nickname names OKIDATA, the others without.
// Inputs whose page headers promise more than kMaxRasterBytes are skipped: a 64 KiB compressed
// stream can describe gigabytes of pages, and the time goes to spooling, not to new paths.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "job/cups_compat.h"
#include "job/job.h"
#include "job/memory_raster.h"
#include "engine/temp_file.h"
#include "job_input.h"
#include "job_oracle.h"
#include "support/raster_writer.h"

namespace {

using kemb::Status;

constexpr size_t kMaxRasterBytes = size_t{16} << 20;

struct Setting {
  std::string root;
  std::string spool_dir;
  ppd_file_t* ppd = nullptr;
  ppd_file_t* okidata_ppd = nullptr;
};
Setting* setting = nullptr;

void RemoveSetting() {
  if (setting == nullptr) return;
  kemb::ClosePpd(setting->ppd);
  kemb::ClosePpd(setting->okidata_ppd);
  std::error_code ignored;
  std::filesystem::remove_all(setting->root, ignored);
}

bool WriteImage(const std::string& path, const uint8_t* data, size_t size) {
  kemb::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  return fd.valid() && kemb::WriteFull(fd.get(), data, size);
}

// A 1-bit image of the spooled page, as wide and as high as its header says: a pixel darker
// than mid-grey is a dot, missing rows are paper.
Status ImageFromSpool(const std::string& base) {
  kemb::UniqueFd ppm(::open((base + ".ppm").c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info;
  FUZZ_CHECK(ppm.valid() && ::fstat(ppm.get(), &info) == 0,
             "no spool file %s.ppm for the halftoner", base.c_str());
  std::vector<uint8_t> file(static_cast<size_t>(info.st_size) + 1, 0);
  const ssize_t got = kemb::ReadFull(ppm.get(), file.data(), file.size() - 1);
  FUZZ_CHECK(got == info.st_size, "spool file %s.ppm: read %zd of %lld bytes", base.c_str(), got,
             static_cast<long long>(info.st_size));
  unsigned width = 0, height = 0;
  int head = 0;
  FUZZ_CHECK(std::sscanf(reinterpret_cast<const char*>(file.data()), "P6\n%u %u\n255\n%n", &width,
                         &height, &head) == 2 &&
                 head > 0 && width > 0,
             "spool file %s.ppm has no P6 header", base.c_str());
  file.pop_back();

  const size_t dot_row = (size_t{width} + 7) / 8;
  const std::string pbm_head = "P4\n" + std::to_string(width) + " " + std::to_string(height) + "\n";
  std::vector<uint8_t> image(pbm_head.begin(), pbm_head.end());
  image.resize(image.size() + dot_row * height, 0);
  uint8_t* dots = image.data() + pbm_head.size();
  const uint8_t* rgb = file.data() + head;
  const size_t pixels =
      std::min((file.size() - static_cast<size_t>(head)) / 3, size_t{width} * height);
  for (size_t i = 0; i < pixels; ++i) {
    if (rgb[3 * i] + rgb[3 * i + 1] + rgb[3 * i + 2] < 383) {
      const size_t y = i / width, x = i % width;
      dots[y * dot_row + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
  }
  WriteImage(base + ".pbm", image.data(), image.size());
  return Status::Ok();
}

}  // namespace

// libcups sizes a line buffer from each header's cupsBytesPerLine (up to 4 GiB) before the
// filter sees the header; garbage after a page makes such a header. Under AddressSanitizer
// every such buffer costs half a second of shadow set-up, so allocations above 256 MiB fail
// as they would under a memory limit, and libcups then refuses the header.
extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=256";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string root = (std::filesystem::temp_directory_path() / "kembfuzz.XXXXXX").string();
  if (mkdtemp(root.data()) == nullptr) {
    std::perror("ERROR: mkdtemp");
    std::exit(1);
  }
  setting = new Setting;
  setting->root = root;
  setting->spool_dir = root + "/spool";
  std::filesystem::create_directory(setting->spool_dir);
  const std::string plain = kemb::testing::WritePpd(root + "/kemb.ppd", "(KEMB-WMZ)", "KEMB");
  const std::string okidata =
      kemb::testing::WritePpd(root + "/okidata.ppd", "(KEMB-WMZ)", "KEMB", "KEMB OKIDATA LQ");
  setting->ppd = kemb::OpenPpd(plain.c_str());
  setting->okidata_ppd = kemb::OpenPpd(okidata.c_str());
  if (setting->ppd == nullptr || setting->okidata_ppd == nullptr) {
    std::fputs("ERROR: the fuzz PPDs do not open\n", stderr);
    std::exit(1);
  }
  std::atexit(RemoveSetting);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const kemb::fuzz::JobInput input = kemb::fuzz::SplitJobInput({data, size});
  const kemb::fuzz::RasterScan scan = kemb::fuzz::ScanRaster(input.raster, kMaxRasterBytes);
  if (scan.declared_bytes > kMaxRasterBytes) return -1;

  kemb::MemoryRaster stream(input.raster);
  kemb::MemorySink sink;
  char* log_text = nullptr;
  size_t log_size = 0;
  FILE* log = open_memstream(&log_text, &log_size);
  FUZZ_CHECK(log != nullptr, "open_memstream failed");

  kemb::Job job;
  job.engine.id = "1";
  job.engine.spool_dir = setting->spool_dir;
  job.raster = stream.get();
  job.ppd = size % 2 ? setting->okidata_ppd : setting->ppd;
  job.engine.out = &sink;
  job.log = log;
  job.engine.halftone = [&input](const std::string& base, unsigned, kemb::HalftoneMode) {
    if (!input.image) return ImageFromSpool(base);
    if (!input.image->empty()) WriteImage(base + ".pbm", input.image->data(), input.image->size());
    return Status::Ok();
  };

  kemb::fuzz::JobRun run;
  run.status = kemb::RunJob(job);
  std::fclose(log);
  run.log.assign(log_text, log_size);
  std::free(log_text);
  run.out = std::move(sink.bytes);
  if (std::getenv("KEMB_FUZZ_SHOW_LOG") != nullptr) {
    std::fprintf(stderr, "status %d, %zu printer bytes, log:\n%s", run.status, run.out.size(),
                 run.log.c_str());
  }
  kemb::fuzz::CheckJobRun(run, setting->spool_dir, !scan.lq_without_mode);
  return 0;
}
