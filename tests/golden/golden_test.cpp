// SPDX-License-Identifier: Apache-2.0
// Golden jobs: the filter's printer bytes, log and exit status for every job fixture and every
// benchmark job, compared with what an earlier build recorded in expected/. Code may move
// freely underneath; what the printer and the job log see may not change unnoticed.
//   Fixtures          the fuzz corpus and regression jobs, run by the built program with the
//                     real halftoner, the PPD chosen as the job fuzzer chooses it
//   BenchJobs         one A4 page of each benchmark content at 180 and 360 dpi
//   Normalised log    the job's private folder and the job ID are replaced by words
// KEMB_GOLDEN_RECORD=1 rewrites expected/ from the build under test.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/job_files.h"
#include "support/raster_writer.h"
#include "support/run_filter.h"

namespace kemb::testing {
namespace {

const std::string kSourceDir = KEMB_SOURCE_DIR;
const std::string kExpectedDir = kSourceDir + "/tests/golden/expected";
constexpr std::string_view kImageMarker = "\nKEMB-PBM\n";

uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
  uint64_t hash = 0xcbf29ce484222325u;
  for (uint8_t b : bytes) hash = (hash ^ b) * 0x100000001b3u;
  return hash;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The log with the job's private folder and the job ID made neutral.
std::string Normalised(const std::string& log, const std::string& job_id) {
  return ReplaceAll(FolderAsWord(log, job_id), "kemb" + job_id + "_", "kembJOB_");
}

std::string Record(const FilterRun& run, const std::string& job_id) {
  char digest[64];
  std::snprintf(digest, sizeof digest, "%zu %016llx", run.out.size(),
                static_cast<unsigned long long>(Fnv1a(run.out)));
  std::ostringstream text;
  text << "status " << run.status << " signal " << run.signal << "\n";
  text << "printer " << digest << "\n";
  text << "log:\n" << Normalised(run.log, job_id);
  return text.str();
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return in ? text.str() : std::string();
}

void Compare(const std::string& name, const std::string& actual) {
  const std::string path = kExpectedDir + "/" + name + ".golden";
  if (const char* record = std::getenv("KEMB_GOLDEN_RECORD"); record && *record == '1') {
    std::ofstream(path, std::ios::binary) << actual;
    return;
  }
  const std::string expected = ReadText(path);
  ASSERT_FALSE(expected.empty()) << "no golden record " << path;
  EXPECT_EQ(expected, actual) << name;
}

struct Ppds {
  TempDir dir;
  std::string plain = WritePpd(dir.File("kemb.ppd"), "(KEMB-WMZ)", "KEMB");
  std::string okidata = WritePpd(dir.File("okidata.ppd"), "(KEMB-WMZ)", "KEMB", "KEMB OKIDATA LQ");
};

FilterRun RunFilter(const std::string& ppd, const std::string& job_id, const std::string& file) {
  FilterCall call;
  call.args = FilterArgs(job_id, file);
  call.ppd = ppd;
  call.env = {"PATH=" + std::string(KEMB_BIN_DIR) + ":/usr/bin:/bin"};
  return RunProgram(call);
}

std::vector<std::string> FixtureFiles() {
  std::vector<std::string> files;
  for (const char* folder : {"corpus/job", "regressions/job"}) {
    const std::string dir = kSourceDir + "/tests/fuzz/" + folder;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) continue;
    while (dirent* entry = readdir(d)) {
      if (entry->d_name[0] != '.') files.push_back(dir + "/" + entry->d_name);
    }
    closedir(d);
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(GoldenJobs, Fixtures) {
  Ppds ppds;
  TempDir scratch;
  const std::vector<std::string> files = FixtureFiles();
  ASSERT_FALSE(files.empty());
  for (const std::string& file : files) {
    std::vector<uint8_t> bytes = ReadFile(file);
    // The fuzzer's choice of PPD; the raster alone (the image after the marker is the
    // fuzzer's halftoner stand-in, here the real halftoner runs).
    const bool okidata = bytes.size() % 2 == 1;
    const auto marker =
        std::search(bytes.begin(), bytes.end(), kImageMarker.begin(), kImageMarker.end());
    bytes.erase(marker, bytes.end());
    const std::string raster = scratch.File("job.ras");
    WriteFile(raster, bytes);
    const std::string job_id = UniqueJobId();
    const FilterRun run = RunFilter(okidata ? ppds.okidata : ppds.plain, job_id, raster);
    const std::string name = file.substr(file.rfind('/') + 1);
    SCOPED_TRACE(name);
    Compare("fixture-" + name, Record(run, job_id));
  }
}

TEST(GoldenJobs, BenchJobs) {
  Ppds ppds;
  TempDir scratch;
  for (const char* content : {"text", "dense", "photo", "blank"}) {
    for (const char* dpi : {"180", "360"}) {
      const std::string name = std::string("bench-") + content + "-" + dpi;
      SCOPED_TRACE(name);
      const std::string raster = scratch.File("job.ras");
      FilterCall make;
      make.program = BinPath("bench-job");
      make.args = {content, dpi, "1", raster};
      ASSERT_EQ(RunProgram(make).status, 0);
      const std::string job_id = UniqueJobId();
      Compare(name, Record(RunFilter(ppds.plain, job_id, raster), job_id));
    }
  }
}

}  // namespace
}  // namespace kemb::testing
