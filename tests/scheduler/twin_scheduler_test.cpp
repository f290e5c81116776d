// SPDX-License-Identifier: Apache-2.0
// Two private schedulers on one host print at the same time and hand out the same job IDs, as
// two CUPS instances (or a container's beside the host's) do. Each prints a multi-page raster
// document of its own, text and picture pages in a different order, so the two jobs pass each
// other's page numbers while they run. Every round, each printer file must be byte for byte
// what that scheduler printed alone, and neither the shared /tmp nor the schedulers' own
// temporary folders (where the filter keeps its pages) may keep a file of the job.
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <cups/ipp.h>
#include <gtest/gtest.h>

#include "fault/fault_fixture.h"
#include "scheduler/cups_sandbox.h"
#include "scheduler/process.h"
#include "support/raster_writer.h"

namespace kemb::scheduler_test {
namespace {

using testing::Bytes;

constexpr int kRounds = 20;
constexpr int kJobSeconds = 120;

// One scheduler with one queue printing into a file of its folder.
struct Twin {
  explicit Twin(const SandboxPrograms& programs) : sandbox(programs) {}
  Sandbox sandbox;
  std::string document;
  Bytes solo;  // what it printed with the other scheduler idle
  std::string Printer() const { return sandbox.Path("kembtwin.prn"); }
};

// Slow picture pages first in one document and fast text pages first in the other: whichever
// job starts later catches up with the other's page numbers half-way.
Bytes Document(bool pictures_first, unsigned seed) {
  std::vector<testing::RasterPage> pages;
  for (unsigned i = 0; i < 8; ++i) {
    const bool picture = (i < 4) == pictures_first;
    pages.push_back(picture ? testing::PhotoPage(720, 480, 180, seed + i)
                            : testing::TextPage(1080, 720, 180, seed + i));
  }
  return testing::RasterBytes(pages, CUPS_RASTER_WRITE_COMPRESSED);
}



// Job ids ending in 7dd: the other filter tests use other endings.
int FirstJobId() {
  return (100 + getpid() % 900) * 1000 + 700;
}

// Submits the twin's document and returns its job id (0 with *error set on failure).
int Submit(const Twin& twin, std::string* error) {
  const Command lp = twin.sandbox.Client({"lp", "-d", "kembtwin", "-t", "twin", twin.document});
  const CommandResult result = RunCommand(lp);
  const std::string request = "request id is kembtwin-";
  const size_t at = result.output.find(request);
  if (!result.Ok() || at == std::string::npos) {
    *error = result.Describe(lp);
    return 0;
  }
  return std::atoi(result.output.c_str() + at + request.size());
}

// Waits for the job to end; its IPP state, or 0 when it did not end in time.
int AwaitJob(const Twin& twin, int id) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kJobSeconds);
  while (std::chrono::steady_clock::now() < deadline) {
    const std::map<int, int> states = twin.sandbox.JobStates();
    if (states.count(id) && states.at(id) >= IPP_JSTATE_STOPPED) return states.at(id);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return 0;
}

// What the job printed; the printer file is emptied for the next job.
Bytes TakePrinted(const Twin& twin) {
  Bytes bytes = ReadBytes(twin.Printer());
  std::ofstream(twin.Printer(), std::ios::trunc);
  return bytes;
}

TEST(TwinSchedulers, SameJobIdsNeverMixTheirPages) {
  const SandboxPrograms programs{
      KEMB_CUPSD,
      KEMB_CUPS_SERVERBIN,
      KEMB_CUPS_DATADIR,
      {std::string(KEMB_BIN_DIR) + "/rastertokemb", std::string(KEMB_BIN_DIR) + "/kemb_ID"}};
  std::array<std::unique_ptr<Twin>, 2> twins;
  const int first_id = FirstJobId();
  for (size_t t = 0; t < twins.size(); ++t) {
    twins[t] = std::make_unique<Twin>(programs);
    Twin& twin = *twins[t];
    twin.document = twin.sandbox.Path("document.ras");
    testing::WriteFile(twin.document, Document(t == 0, 1 + 100 * unsigned(t)));
    ASSERT_NO_THROW(twin.sandbox.Start(first_id));
    const Command lpadmin = twin.sandbox.Client(
        {"lpadmin", "-p", "kembtwin", "-E", "-v", "file://" + twin.Printer(), "-P",
         std::string(KEMB_PPD_DIR) + "/kemb24.ppd", "-o", "printer-error-policy=abort-job"});
    const CommandResult made = RunCommand(lpadmin);
    ASSERT_TRUE(made.Ok()) << made.Describe(lpadmin) << twin.sandbox.Diagnostics();
  }

  // A failed job must not stop the queue for the rounds after it.
  // Alone, one after the other: the reference, and the job ids line up for the rounds.
  for (auto& twin : twins) {
    std::string error;
    const int id = Submit(*twin, &error);
    ASSERT_EQ(id, first_id) << error;
    ASSERT_EQ(AwaitJob(*twin, id), IPP_JSTATE_COMPLETED) << twin->sandbox.Diagnostics();
    twin->solo = TakePrinted(*twin);
    ASSERT_FALSE(twin->solo.empty());
    // The filter kept its pages in the scheduler's own TempDir, which CUPS hands it as $TMPDIR.
    const std::string folder = twin->sandbox.Path("spool/tmp/kemb" + std::to_string(id) + ".");
    EXPECT_NE(twin->sandbox.ErrorLog().find("open " + folder), std::string::npos)
        << twin->sandbox.Diagnostics();
  }
  ASSERT_NE(twins[0]->solo, twins[1]->solo);

  int damaged = 0;
  for (int round = 1; round <= kRounds; ++round) {
    std::array<int, 2> ids{};
    std::array<std::string, 2> errors;
    {
      std::thread other([&] { ids[1] = Submit(*twins[1], &errors[1]); });
      ids[0] = Submit(*twins[0], &errors[0]);
      other.join();
    }
    bool whole = true;
    for (size_t t = 0; t < twins.size(); ++t) {
      Twin& twin = *twins[t];
      ASSERT_EQ(ids[t], first_id + round) << errors[t];
      const int state = AwaitJob(twin, ids[t]);
      const Bytes printed = TakePrinted(twin);
      EXPECT_EQ(state, IPP_JSTATE_COMPLETED) << "round " << round << ", scheduler " << t;
      EXPECT_TRUE(printed == twin.solo)
          << "round " << round << ", scheduler " << t << ": " << printed.size()
          << " bytes printed, " << twin.solo.size() << " alone; first difference at byte "
          << testing::SamePrefix(printed, twin.solo);
      whole = whole && state == IPP_JSTATE_COMPLETED && printed == twin.solo;
    }
    damaged += !whole;
    const std::string id = std::to_string(first_id + round);
    std::vector<std::string> left = Glob("/tmp/kemb" + id + "[._]*");
    for (auto& twin : twins) {
      for (const std::string& path : Glob(twin->sandbox.Path("spool/tmp/kemb" + id + "*"))) {
        left.push_back(path);
      }
    }
    EXPECT_TRUE(left.empty()) << "round " << round << " left " << left[0];
  }
  std::fprintf(stderr, "%d of %d rounds damaged a job\n", damaged, kRounds);
  if (damaged > 0) {
    for (auto& twin : twins) {
      std::fprintf(stderr, "%s", twin->sandbox.Diagnostics(20).c_str());
    }
  }
}

}  // namespace
}  // namespace kemb::scheduler_test
