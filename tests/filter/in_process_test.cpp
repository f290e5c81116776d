// SPDX-License-Identifier: Apache-2.0
// A whole job run in-process from memory: raster bytes in, printer bytes and log out, with the
// halftoner replaced by a function. Same bytes and lines as the program.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "job/cups_compat.h"
#include "job/job.h"
#include "job/memory_raster.h"
#include "support/job_files.h"
#include "support/raster_writer.h"
#include "support/run_filter.h"
#include "stream_decoder.h"

namespace kemb::testing {
namespace {

struct InProcessRun {
  int status = -1;
  std::vector<uint8_t> out;
  std::string log;
};

InProcessRun RunInProcess(const std::vector<uint8_t>& raster, const std::string& ppd_path,
                          const std::string& spool_dir, HalftoneRunner halftone = {}) {
  MemoryRaster stream(raster);
  ppd_file_t* ppd = OpenPpd(ppd_path.c_str());
  MemorySink sink;
  char* log_text = nullptr;
  size_t log_size = 0;
  FILE* log = open_memstream(&log_text, &log_size);
  Job job;
  job.engine.id = "5";
  job.engine.spool_dir = spool_dir;
  job.raster = stream.get();
  job.ppd = ppd;
  job.engine.out = &sink;
  job.log = log;
  job.engine.halftone = std::move(halftone);
  InProcessRun run;
  run.status = RunJob(job);
  std::fclose(log);
  run.log.assign(log_text, log_size);
  std::free(log_text);
  ClosePpd(ppd);
  run.out = std::move(sink.bytes);
  return run;
}

TEST(InProcessJob, SameBytesAndLinesAsTheProgram) {
  TempDir dir;
  const std::string ppd = WritePpd(dir.File("p.ppd"), "(KEMB-WMZ)", "KEMB");
  RasterPage text(PageHeader(60, 30));
  text.SetDot(0, 0);
  text.SetDot(59, 29);
  const std::vector<uint8_t> raster = RasterBytes({text, text});

  InProcessRun in_process = RunInProcess(raster, ppd, "/tmp");
  FilterCall call;
  call.args = FilterArgs("5");
  call.ppd = ppd;
  call.input = {{raster}};
  FilterRun program = RunProgram(call);
  EXPECT_EQ(in_process.status, program.status);
  EXPECT_EQ(in_process.out, program.out);
  // Each run names its own private folder, in /tmp.
  for (const std::string* log : {&in_process.log, &program.log}) {
    EXPECT_EQ(JobFolderIn(*log, "5").rfind("/tmp/kemb5.", 0), 0u) << *log;
  }
  EXPECT_EQ(FolderAsWord(in_process.log, "5"), FolderAsWord(program.log, "5"));
}

TEST(InProcessJob, HalftoneSeamSuppliesThePictureImage) {
  TempDir dir;
  const std::string ppd = WritePpd(dir.File("p.ppd"), "(KEMB-WMZ)", "KEMB");
  RasterPage photo(PageHeader(16, 24));
  std::fill(photo.rgb.begin(), photo.rgb.end(), 200);
  std::vector<std::string> calls;
  auto halftone = [&](const std::string& base, unsigned xres, HalftoneMode mode) {
    calls.push_back(base + " " + std::to_string(xres) + " " +
                    std::to_string(static_cast<int>(mode)));
    std::ofstream image(base + ".pbm", std::ios::binary);
    image << "P4\n9 24\n";
    for (int y = 0; y < 24; ++y) image << '\x80' << '\x80';  // column 0, and column 8
    return Status::Ok();
  };
  InProcessRun run = RunInProcess(RasterBytes({photo}), ppd, dir.path(), halftone);
  EXPECT_EQ(run.status, 0) << run.log;
  const std::string folder = JobFolderIn(run.log, "5");
  EXPECT_EQ(folder.rfind(dir.File("kemb5."), 0), 0u) << run.log;
  EXPECT_EQ(calls, std::vector<std::string>{folder + "/kemb5_1 180 2"});
  EXPECT_NE(run.log.find("PerLine:2 pbmHeadLen:8"), std::string::npos) << run.log;
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"p.ppd"});  // the folder and its files removed
  // Columns 0 and 8 print solid over the 24 rows, and nothing else.
  kembview::Rendering rendering = kembview::Render(run.out);
  ASSERT_EQ(rendering.pages.size(), 1u);
  const kembview::Page& page = rendering.pages[0];
  for (int y = 0; y < 24; ++y) {
    EXPECT_TRUE(page.Dot(0, y) && page.Dot(8, y)) << "row " << y;
  }
  EXPECT_EQ(page.CountDots(), 48u);
}

}  // namespace
}  // namespace kemb::testing
