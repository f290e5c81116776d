// SPDX-License-Identifier: Apache-2.0
// The random comparison: seed-driven whole-sheet raster jobs (random_sheets.h: PWG streams, the
// driver's own format, Apple raster) printed one after another through the application on
// file devices, each against the filter's bytes for the same pages at the same resolution; a
// page the application cannot print (a resolution the model does not print, a streamed 1-bit
// page) must be refused with a message that names it and no byte. A failing job's files are
// kept.
//   KEMB_DIFF_SEED  the run's seed (a fresh one, printed, when unset)
//   KEMB_DIFF_JOBS  how many jobs (100; the benchmark target runs thousands)
//   KEMB_DIFF_JOB   replay only this job of the seed, and keep its files
//   KEMB_DIFF_KEEP  where kept files go (TMPDIR, else /tmp)
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <random>

#include "printer-app/app_server.h"
#include "printer-app/filter_oracle.h"
#include "printer-app/random_sheets.h"

namespace kemb::app_test {
namespace {

// Every raster type, as a PWG stream, as the driver's own format (a file the application reads
// itself) and as Apple raster.
const DiffChoices kChoices = {
    {RasterType::kSgray8, RasterType::kSrgb8, RasterType::kBlack1, RasterType::kBlack8},
    {"image/pwg-raster", "application/vnd.kemb-raster", "image/urf"},
    true};

const char* Env(const char* name) {
  const char* value = getenv(name);
  return value && *value ? value : nullptr;
}

uint64_t EnvNumber(const char* name, uint64_t fallback) {
  const char* value = Env(name);
  if (!value) return fallback;
  char* end = nullptr;
  const unsigned long long n = std::strtoull(value, &end, 10);
  if (*end) throw std::runtime_error(std::string(name) + " is not a number: " + value);
  return n;
}

struct Outcome {
  ipp_status_t status = IPP_STATUS_ERROR_INTERNAL;
  std::string status_message;
  ipp_jstate_t state = IPP_JSTATE_PENDING;
  std::string state_message;
  std::vector<uint8_t> bytes;  // what reached the device
  std::string log;             // the server's log lines meanwhile
};

std::string JobStateMessage(Ipp& ipp, const std::string& printer, int job_id) {
  ipp_t* request = ipp.NewRequest(IPP_OP_GET_JOB_ATTRIBUTES, printer);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job_id);
  ipp_t* response = ipp.Do(printer, request);
  const char* text =
      ippGetString(ippFindAttribute(response, "job-state-message", IPP_TAG_TEXT), 0, nullptr);
  std::string message = text ? text : "";
  ippDelete(response);
  return message;
}

Outcome PrintJob(AppServer& server, Ipp& ipp, const DiffJob& job, const std::vector<uint8_t>& pwg) {
  Outcome outcome;
  const std::string device = server.DevicePath(job.printer);
  // A long run would fill the disk: the device starts each job empty (closed between jobs).
  if (FileSize(device) > (size_t{64} << 20)) std::ofstream(device, std::ios::trunc).flush();
  const size_t before = FileSize(device);
  const size_t log_before = FileSize(server.dir() + "/app.log");
  JobAttributes attrs;
  attrs.content = job.content;
  attrs.media = job.media;
  attrs.media_type = job.media_type;
  const Submitted submitted = ipp.Print(job.printer, pwg, job.format, attrs);
  outcome.status = submitted.status;
  outcome.status_message = submitted.message;
  if (submitted.status == IPP_STATUS_OK) {
    outcome.state = ipp.Wait(job.printer, {submitted.job_id})[submitted.job_id];
    outcome.state_message = JobStateMessage(ipp, job.printer, submitted.job_id);
  }
  outcome.bytes = Tail(device, before);
  const std::vector<uint8_t> log = Tail(server.dir() + "/app.log", log_before);
  outcome.log.assign(log.begin(), log.end());
  return outcome;
}

// What is wrong with the outcome, or nothing.
std::string Judge(const DiffJob& job, const Outcome& got, const std::vector<uint8_t>& want) {
  if (job.refusal.empty()) {
    if (got.status != IPP_STATUS_OK) return "refused: " + got.status_message;
    if (got.state != IPP_JSTATE_COMPLETED)
      return "job state " + std::to_string(got.state) + ": " + got.state_message;
    if (got.bytes != want) return "not the filter's bytes: " + FirstDifference(got.bytes, want);
    return "";
  }
  if (!got.bytes.empty())
    return std::to_string(got.bytes.size()) +
           " bytes reached the printer for a page it cannot print";
  // Refused at once, or stopped before a byte; either way the message says why.
  if (got.status == IPP_STATUS_OK && got.state == IPP_JSTATE_COMPLETED)
    return "reported completed with nothing printed";
  const std::string& message = got.status == IPP_STATUS_OK ? got.state_message : got.status_message;
  for (const std::string& name : job.refusal_names)
    if (message.find(name) != std::string::npos) return "";
  return "refused with a message that names none of the faults: \"" + message + "\"";
}

void Keep(const std::string& dir, const DiffJob& job, const std::string& fault,
          const std::vector<uint8_t>& pwg, const Outcome& got, const std::vector<uint8_t>& want) {
  mkdir(dir.c_str(), 0755);
  std::ofstream(dir + "/job.txt") << Describe(job) << "\n"
                                  << (fault.empty() ? "agrees" : fault) << "\n"
                                  << "status " << ippErrorString(got.status) << " "
                                  << got.status_message << "\nstate " << got.state << " "
                                  << got.state_message << "\n";
  testing::WriteFile(dir + "/sheets.pwg", pwg);
  testing::WriteFile(dir + "/app.prn", got.bytes);
  testing::WriteFile(dir + "/filter.prn", want);
  std::ofstream(dir + "/app.log") << got.log;
}

TEST(RandomJobs, PrintAsTheFilterOrAreRefused) {
  const bool replay = Env("KEMB_DIFF_JOB") != nullptr;
  const uint64_t seed = EnvNumber("KEMB_DIFF_SEED", std::random_device{}() % 1000000000u);
  const unsigned first = static_cast<unsigned>(EnvNumber("KEMB_DIFF_JOB", 0));
  const unsigned count = replay ? 1 : static_cast<unsigned>(EnvNumber("KEMB_DIFF_JOBS", 100));
  const std::string keep = Env("KEMB_DIFF_KEEP") ? Env("KEMB_DIFF_KEEP")
                           : Env("TMPDIR")       ? Env("TMPDIR")
                                                 : "/tmp";
  std::printf("random jobs: seed %llu, jobs %u..%u\n", static_cast<unsigned long long>(seed), first,
              first + count - 1);
  std::fflush(stdout);  // the seed must show even if the run dies

  AppServer server;
  for (const DiffPrinter& p : DiffPrinters()) server.AddPrinter(p.printer, p.driver);
  Ipp ipp(server.port());
  unsigned printed = 0, refused = 0, faults = 0;
  for (unsigned n = first; n < first + count && server.Running(); ++n) {
    const DiffJob job = PlanJob(seed, n, kChoices);
    std::vector<SheetPage> sheets;
    std::vector<FilterPage> pages;
    for (const PagePlan& plan : job.pages) {
      sheets.push_back(RenderPage(job, plan));
      pages.push_back({job.ppd, job.page_size, sheets.back()});
    }
    const std::vector<uint8_t> pwg = PwgStream(
        sheets, job.format == "image/urf" ? CUPS_RASTER_WRITE_APPLE : CUPS_RASTER_WRITE_PWG);
    // The filter runs while the application prints: two processes, two cores.
    std::future<std::vector<uint8_t>> filter = std::async(std::launch::async, [&] {
      return job.refusal.empty() ? FilterBytes(pages, FilterOptionFor(job.content))
                                 : std::vector<uint8_t>{};
    });
    const Outcome got = PrintJob(server, ipp, job, pwg);
    std::vector<uint8_t> want;
    std::string fault;
    try {
      want = filter.get();
      fault = Judge(job, got, want);
    } catch (const std::exception& e) {
      fault = std::string("no filter output: ") + e.what();
    }
    (job.refusal.empty() ? printed : refused) += fault.empty();
    faults += !fault.empty();
    if ((n - first + 1) % 250 == 0) {  // the long run shows its progress
      std::printf("random jobs: %u done, %u faults\n", n - first + 1, faults);
      std::fflush(stdout);
    }
    if (fault.empty() && !replay) continue;
    // A run gone wrong everywhere keeps the first few jobs, not the disk's worth.
    const std::string dir = keep + "/kemb-random-" + std::to_string(seed) + "-" + std::to_string(n);
    const bool kept = faults <= 20;
    if (kept) Keep(dir, job, fault, pwg, got, want);
    if (fault.empty()) continue;
    ADD_FAILURE() << Describe(job) << ": " << fault << "\n  files "
                  << (kept ? "kept in " + dir : "not kept") << "\n  replay: KEMB_DIFF_SEED=" << seed
                  << " KEMB_DIFF_JOB=" << n << " " << KEMB_BIN_DIR << "/../tests/app_random_test";
  }
  EXPECT_TRUE(server.Running()) << "the server died:\n" << server.Log();
  std::printf("random jobs: %u printed as the filter, %u refused, %u faults of %u\n", printed,
              refused, faults, count);
  EXPECT_TRUE(server.Stop()) << "the server had to be killed";
}

}  // namespace
}  // namespace kemb::app_test
