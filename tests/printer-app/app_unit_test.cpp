// SPDX-License-Identifier: Apache-2.0
// The application's parts that need no server:
//   Paper         the printable area of every PPD page size and offered resolution, against
//                 libcups's own reading of the built PPD (cupsRasterInterpretPPD)
//   Models        resolutions (offered, and those raster pages print at) and IEEE-1284 IDs
//                 against the PPDs; device-ID matching
//   Gate          the job gate under threads: never two jobs in the driver, second starts
//                 caught, admission closed until a job's thread has moved on, what the next
//                 job learns of its predecessor
//   Recovery      a state file a killed server left: processing jobs back in the queue once,
//                 aborted the second time, every other line as it was
//   Formats       document formats by their first bytes, and the message for a contradiction
//   Feed          sheet layouts (grey, black, 1-bit) print as their RGB sheet; missing rows are
//                 paper
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <map>
#include <thread>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cups/ppd.h>
#include <cups/raster.h>

#include "engine/page_engine.h"
#include "format_sniff.h"
#include "job_gate.h"
#include "models.h"
#include "recovery.h"
#include "printer/byte_sink.h"
#include "sheet_feed.h"
#include "support/scratch_dir.h"

namespace kemb::app {
namespace {

const std::map<std::string, std::string> kPpdOf = {{"kemb_wmz24", "kemb24.ppd"},
                                                   {"kemb_wmz24w", "kemb24w.ppd"},
                                                   {"kemb_wmz24o", "kemb24o.ppd"},
                                                   {"kemb_wmz24a", "kemb24a.ppd"}};

struct Ppd {
  explicit Ppd(const std::string& name) {
    ppd = ppdOpenFile((std::string(KEMB_PPD_DIR) + "/" + name).c_str());
  }
  ~Ppd() { ppdClose(ppd); }
  ppd_file_t* ppd;
};

int Round(double v) {
  return static_cast<int>(std::floor(v + 0.5));
}

TEST(Paper, PrintableAreaIsThePpdsImageableAreaForEverySizeAndResolution) {
  int checked = 0;
  for (const Model& model : Models()) {
    Ppd file(kPpdOf.at(model.driver_name));
    ASSERT_NE(file.ppd, nullptr);
    ppd_option_t* sizes = ppdFindOption(file.ppd, "PageSize");
    ppd_option_t* resolutions = ppdFindOption(file.ppd, "Resolution");
    ASSERT_TRUE(sizes && resolutions);
    for (int s = 0; s < sizes->num_choices; ++s) {
      for (const Resolution& res : model.resolutions) {
        const std::string choice = std::to_string(res.x) + "x" + std::to_string(res.y) + "dpi";
        SCOPED_TRACE(std::string(model.driver_name) + " " + sizes->choices[s].choice + " " +
                     choice);
        ppdMarkDefaults(file.ppd);
        ASSERT_EQ(ppdMarkOption(file.ppd, "Resolution", choice.c_str()), 0);
        ppdMarkOption(file.ppd, "PageSize", sizes->choices[s].choice);
        cups_page_header2_t h;
        ASSERT_EQ(cupsRasterInterpretPPD(&h, file.ppd, 0, nullptr, nullptr), 0);
        ASSERT_EQ(h.HWResolution[0], res.x);
        const bool fanfold = std::strstr(sizes->choices[s].text, "Fanfold") != nullptr;
        const Paper paper = PaperForSize(h.PageSize[0], h.PageSize[1], fanfold);
        const Area area = PrintableArea(paper, res);
        EXPECT_EQ(area.width, h.cupsWidth);
        EXPECT_EQ(area.height, h.cupsHeight);
        EXPECT_EQ(static_cast<int>(area.x), Round(h.cupsImagingBBox[0] * res.x / 72.0));
        EXPECT_EQ(static_cast<int>(area.y),
                  Round((h.PageSize[1] - h.cupsImagingBBox[3]) * res.y / 72.0));
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 30);
}

TEST(Models, ResolutionsAreThePpdsChoicesAndOnlyTheAlternateModelDropsOne) {
  for (const Model& model : Models()) {
    SCOPED_TRACE(model.driver_name);
    Ppd file(kPpdOf.at(model.driver_name));
    ppd_option_t* option = ppdFindOption(file.ppd, "Resolution");
    ASSERT_NE(option, nullptr);
    std::vector<std::string> offered;
    for (int i = 0; i < option->num_choices; ++i) offered.push_back(option->choices[i].choice);
    std::vector<std::string> ours;
    for (const Resolution& r : model.resolutions)
      ours.push_back(std::to_string(r.x) + "x" + std::to_string(r.y) + "dpi");
    for (const std::string& r : ours)
      EXPECT_NE(std::find(offered.begin(), offered.end(), r), offered.end()) << r;
    EXPECT_LE(ours.size(), 4u);
    EXPECT_EQ(offered.size() - ours.size(),
              model.command_set == CommandSetId::kAlternate ? 1u : 0u);
    // Quality maps onto offered resolutions, normal onto the PPD's default.
    for (const Resolution& q : {model.draft, model.normal, model.high})
      EXPECT_NE(std::find(model.resolutions.begin(), model.resolutions.end(), q),
                model.resolutions.end());
    ppd_choice_t* def = ppdFindChoice(option, option->defchoice);
    ASSERT_NE(def, nullptr);
    EXPECT_EQ(std::to_string(model.normal.x) + "x" + std::to_string(model.normal.y) + "dpi",
              def->choice);
  }
}

TEST(Models, RasterPagesPrintAtThePpdsResolutionsAnd360x360Only) {
  const unsigned dpis[] = {60, 72, 120, 150, 180, 240, 300, 360, 600, 720};
  for (const Model& model : Models()) {
    SCOPED_TRACE(model.driver_name);
    Ppd file(kPpdOf.at(model.driver_name));
    ppd_option_t* option = ppdFindOption(file.ppd, "Resolution");
    ASSERT_NE(option, nullptr);
    std::vector<std::string> want = {"360x360dpi"};
    for (int i = 0; i < option->num_choices; ++i) want.push_back(option->choices[i].choice);
    std::vector<std::string> printed;
    for (unsigned x : dpis)
      for (unsigned y : dpis)
        if (PrintsRasterAt(model, {x, y}))
          printed.push_back(std::to_string(x) + "x" + std::to_string(y) + "dpi");
    std::sort(want.begin(), want.end());
    std::sort(printed.begin(), printed.end());
    EXPECT_EQ(printed, want);
  }
}

TEST(Models, PpdCarriesTheSameDeviceIdAndName) {
  for (const Model& model : Models()) {
    SCOPED_TRACE(model.driver_name);
    Ppd file(kPpdOf.at(model.driver_name));
    ppd_attr_t* id = ppdFindAttr(file.ppd, "1284DeviceID", nullptr);
    ASSERT_NE(id, nullptr);
    EXPECT_STREQ(id->value, model.device_id);
    EXPECT_STREQ(file.ppd->modelname, model.make_and_model);
  }
}

TEST(Models, DeviceIdPicksTheDriver) {
  const struct {
    const char* id;
    const char* driver;  // null: not ours
  } cases[] = {
      {"MFG:KEMB;MDL:WMZ-24;CMD:ESCP24;", "kemb_wmz24"},
      {"MFG:KEMB;MDL:WMZ-24W;CMD:ESCP24;", "kemb_wmz24w"},
      {"MFG:KEMB;MDL:OKIDATA WMZ-24;", "kemb_wmz24o"},
      {"MFG:KEMB;MDL:WMZ-24A;CMD:KEMBALT;", "kemb_wmz24a"},
      {"manufacturer:kemb; model:wmz-24a ;", "kemb_wmz24a"},
      {"MANUFACTURER:KEMB;MODEL:WMZ-99;COMMAND SET:KEMBALT;", "kemb_wmz24a"},
      {"MFG:KEMB;MDL:WMZ-99;CMD:ESCP24;", "kemb_wmz24"},
      {"MFG:EPSON;MDL:WMZ-24;CMD:ESCP24;", nullptr},
      {"MFG:KEMBX;MDL:WMZ-24;", nullptr},
      {"MDL:WMZ-24;", nullptr},
      {"", nullptr},
      {";;:;MFG", nullptr},
  };
  for (const auto& c : cases) {
    const Model* m = ModelForDeviceId(c.id);
    if (c.driver) {
      ASSERT_NE(m, nullptr) << c.id;
      EXPECT_STREQ(m->driver_name, c.driver) << c.id;
    } else {
      EXPECT_EQ(m, nullptr) << c.id;
    }
  }
  for (const Model& model : Models()) EXPECT_EQ(ModelForDeviceId(model.device_id), &model);
}

TEST(Gate, NeverTwoJobsInTheDriverAndSecondStartsPrintNothing) {
  auto gate = JobGate::Create();
  std::atomic<int> inside{0}, overlaps{0}, runs{0}, duplicates{0};
  std::vector<std::thread> threads;
  // Eight jobs, each started twice at once, as PAPPL's double start does.
  for (int t = 0; t < 16; ++t) {
    threads.emplace_back([&, t] {
      const int job = 1 + t / 2;
      switch (gate->Enter(job, nullptr, true)) {
        case JobGate::Entry::kRun:
          if (++inside > 1) ++overlaps;
          ++runs;
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
          --inside;
          gate->Leave(job);
          break;
        case JobGate::Entry::kDuplicate:
        case JobGate::Entry::kDuplicateAfterEnd:
          ++duplicates;
          break;
        case JobGate::Entry::kCanceled:
          break;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(overlaps, 0);
  EXPECT_EQ(runs, 8);
  EXPECT_EQ(duplicates, 8);
  EXPECT_EQ(gate->counts().duplicates, 8u);
  // Every thread has ended, so every job is fully behind PAPPL.
  EXPECT_TRUE(gate->MayAdmit());
}

TEST(Gate, AdmissionWaitsUntilTheJobThreadHasMovedOn) {
  auto gate = JobGate::Create();
  std::atomic<int> step{0};
  std::thread job_thread([&] {
    ASSERT_EQ(gate->Enter(7, nullptr, true), JobGate::Entry::kRun);
    gate->Leave(7);
    step = 1;
    while (step != 2) std::this_thread::yield();  // PAPPL's job end runs here
    JobGate::ThreadMovedOn();                     // the next request on this thread
    step = 3;
    while (step != 4) std::this_thread::yield();
  });
  while (step != 1) std::this_thread::yield();
  EXPECT_FALSE(gate->MayAdmit()) << "the job left the driver but its thread is still in PAPPL";
  step = 2;
  while (step != 3) std::this_thread::yield();
  EXPECT_TRUE(gate->MayAdmit());
  step = 4;
  job_thread.join();

  // A thread that ends releases its mark too.
  std::thread ending([&] {
    ASSERT_EQ(gate->Enter(8, nullptr, true), JobGate::Entry::kRun);
    gate->Leave(8);
  });
  ending.join();
  EXPECT_TRUE(gate->MayAdmit());
}

TEST(Gate, NextJobWaitsForThePreviousJobThreadToEndButNotForAStreamingClient) {
  auto gate = JobGate::Create();
  std::atomic<bool> release{false}, second_in{false}, first_left{false};
  std::thread first([&] {
    ASSERT_EQ(gate->Enter(1, nullptr, true), JobGate::Entry::kRun);
    gate->Leave(1);
    first_left = true;
    while (!release) std::this_thread::yield();  // PAPPL's end of job 1, device close included
  });
  while (!first_left) std::this_thread::yield();
  std::thread second([&] {
    EXPECT_EQ(gate->Enter(2, nullptr, true), JobGate::Entry::kRun);
    second_in = true;
    gate->Leave(2);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(second_in) << "job 2 entered while job 1's thread was still ending";
  release = true;
  first.join();
  second.join();
  EXPECT_TRUE(second_in);
  EXPECT_GE(gate->counts().waits, 1u);

  // A client thread that streamed a job goes on serving its client: it leaves no mark.
  std::thread client([&] {
    ASSERT_EQ(gate->Enter(3, nullptr, false), JobGate::Entry::kRun);
    gate->Leave(3);
    EXPECT_TRUE(gate->MayAdmit());
  });
  client.join();
}

// PAPPL closes the device at the very end of a job: the next job must learn how its
// predecessor ran, and a second start, parked for good, must not hold up later jobs.
TEST(Gate, EnteringJobLearnsHowThePreviousJobEnded) {
  auto gate = JobGate::Create();
  JobGate::Predecessor seen;
  std::thread([&] {
    ASSERT_EQ(gate->Enter(1, nullptr, false, &seen), JobGate::Entry::kRun);
    gate->Leave(1);
  }).join();
  EXPECT_EQ(seen.job_id, 0) << "the first job has no predecessor";

  std::thread([&] {
    ASSERT_EQ(gate->Enter(2, nullptr, true, &seen), JobGate::Entry::kRun);
    gate->Leave(2);
  }).join();
  EXPECT_EQ(seen.job_id, 1);
  EXPECT_TRUE(seen.streamed) << "job 1 ran in a client thread";

  std::atomic<bool> parked{false}, release{false};
  std::thread second_start([&] {
    EXPECT_EQ(gate->Enter(2, nullptr, true, &seen), JobGate::Entry::kDuplicateAfterEnd);
    parked = true;
    while (!release) std::this_thread::yield();
  });
  while (!parked) std::this_thread::yield();
  EXPECT_TRUE(gate->MayAdmit()) << "a parked second start holds up the printer";

  std::thread([&] {
    ASSERT_EQ(gate->Enter(3, nullptr, true, &seen), JobGate::Entry::kRun);
    gate->Leave(3);
  }).join();
  EXPECT_EQ(seen.job_id, 2);
  EXPECT_FALSE(seen.streamed);
  EXPECT_LT(seen.since_end, std::chrono::seconds(1)) << "job 2's thread ended just now";
  release = true;
  second_start.join();
}

// PAPPL may start a job again while it runs or after it has ended; the two are told apart
// because the second leaves PAPPL holding a finished job as the printer's current one.
TEST(Gate, SecondStartIsToldWhetherTheJobStillRuns) {
  auto gate = JobGate::Create();
  std::atomic<bool> first_in{false}, release{false};
  std::thread first([&] {
    ASSERT_EQ(gate->Enter(4, nullptr, true), JobGate::Entry::kRun);
    first_in = true;
    while (!release) std::this_thread::yield();
    gate->Leave(4);
  });
  while (!first_in) std::this_thread::yield();
  std::thread([&] { EXPECT_EQ(gate->Enter(4, nullptr, true), JobGate::Entry::kDuplicate); }).join();
  release = true;
  first.join();
  std::thread([&] {
    EXPECT_EQ(gate->Enter(4, nullptr, true), JobGate::Entry::kDuplicateAfterEnd);
  }).join();
  const JobGate::Counts counts = gate->counts();
  EXPECT_EQ(counts.duplicates, 2u);
  EXPECT_EQ(counts.duplicates_after_end, 1u);
  EXPECT_TRUE(gate->MayAdmit());
}

// A second start ends its thread with pthread_exit from inside the driver: the unwind runs the
// frames' destructors, and the thread's end releases the marks of the jobs it ran before, so
// the printer is not held up.
TEST(Gate, ThreadEndedByPthreadExitReleasesItsMarks) {
  auto gate = JobGate::Create();
  std::atomic<bool> unwound{false};
  struct Frame {
    std::atomic<bool>* unwound;
    ~Frame() { *unwound = true; }
  };
  std::thread([&] {
    ASSERT_EQ(gate->Enter(5, nullptr, true), JobGate::Entry::kRun);
    gate->Leave(5);
    Frame frame{&unwound};
    [&] {
      EXPECT_EQ(gate->Enter(5, nullptr, true), JobGate::Entry::kDuplicateAfterEnd);
      pthread_exit(nullptr);
    }();
  }).join();
  EXPECT_TRUE(unwound);
  EXPECT_TRUE(gate->MayAdmit());
  EXPECT_EQ(gate->running(), 0);
}

TEST(Gate, WaitingJobGivesUpWhenCancelled) {
  auto gate = JobGate::Create();
  ASSERT_EQ(gate->Enter(1, nullptr, true), JobGate::Entry::kRun);
  std::atomic<bool> cancel{false};
  std::thread second([&] {
    EXPECT_EQ(gate->Enter(
                  2, [&] { return cancel.load(); }, true),
              JobGate::Entry::kCanceled);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  cancel = true;
  second.join();
  EXPECT_EQ(gate->running(), 1);
  gate->Leave(1);
  JobGate::ThreadMovedOn();
}

// Feed: a small custom sheet at 180 dpi, through the engine into memory.
std::vector<uint8_t> Print(const SheetFormat& sheet, const std::vector<std::vector<uint8_t>>& lines,
                           const testing::TempDir& dir) {
  MemorySink out;
  JobSettings settings;
  settings.id = "77";
  settings.spool_dir = dir.path();
  settings.out = &out;
  settings.halftone = InProcessHalftoner(nullptr);
  PageEngine engine(settings);
  SheetFeed feed(engine);
  EXPECT_TRUE(engine.StartJob().ok());
  EXPECT_TRUE(feed.StartPage(*FindModel("kemb_wmz24"), sheet, Content::kAuto).ok());
  for (unsigned y = 0; y < lines.size(); ++y) EXPECT_TRUE(feed.AddRow(y, lines[y]).ok());
  EXPECT_TRUE(feed.EndPage().ok());
  EXPECT_TRUE(engine.EndJob().ok());
  return out.bytes;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The stops of one job, as the record and the state file show them at each start: the job
// in the driver at a stop goes back in the queue once (its count of printed pages reset, its
// attribute file without the attributes PAPPL adds again) and is aborted the second time, its
// document gone; a job that never reached the driver goes back uncounted.
TEST(Recovery, AJobInTheDriverAtAStopPrintsAgainOnceAndIsAbortedTheSecondTime) {
  testing::TempDir dir;
  const std::string state = dir.path() + "/app.state", record_file = dir.path() + "/app.jobs";
  const std::string spool = dir.path();
  // Lines as PAPPL writes them; a job name with quotes, a backslash and "state" in it.
  const std::string head =
      "DefaultPrinterID 1\n<Printer id=\"1\" name=\"lq\" did=\"\" uri=\"file:///dev/null\" "
      "driver=\"kemb_wmz24\">\nprint-quality-default draft\n";
  const std::string done =
      "Job id=\"1\" name=\"a\" username=\"u\" format=\"image/pwg-raster\" state=\"9\"\n";
  const std::string pending =
      "Job id=\"3\" name=\"c\" username=\"u\" format=\"image/pwg-raster\" filename=\"/s/3.pwg\" "
      "state=\"3\"\n";
  const std::string document = spool + "/p00001j000000002-x.pdf";
  auto job2 = [&](int state, const char* extra = "") {
    return "Job id=\"2\" name=\"say \\\"state=\\\"5\\\" \\\\ here\" username=\"u\" "
           "format=\"application/pdf\" filename=\"" + document + "\" state=\"" +
           std::to_string(state) + "\"" + extra + "\n";
  };
  const std::string tail = "</Printer>\n";
  std::ofstream(document) << "%PDF-1.4\n";
  // An attribute file as PAPPL saves it, with the attributes it adds again when it loads.
  const std::string attributes = spool + "/p00001j000000002-x.ipp";
  {
    ipp_t* attrs = ippNew();
    ippAddInteger(attrs, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-id", 2);
    ippAddString(attrs, IPP_TAG_JOB, IPP_TAG_URI, "job-uri", nullptr, "ipp://h/ipp/print/lq/2");
    ippAddInteger(attrs, IPP_TAG_JOB, IPP_TAG_INTEGER, "copies", 2);
    const int fd = open(attributes.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_EQ(ippWriteFile(fd, attrs), IPP_STATE_DATA);
    close(fd);
    ippDelete(attrs);
  }
  auto attribute_names = [&] {
    ipp_t* attrs = ippNew();
    const int fd = open(attributes.c_str(), O_RDONLY);
    ippReadFile(fd, attrs);
    close(fd);
    std::string names;
    for (ipp_attribute_t* a = ippFirstAttribute(attrs); a; a = ippNextAttribute(attrs))
      if (ippGetName(a)) names += std::string(ippGetName(a)) + " ";
    ippDelete(attrs);
    return names;
  };

  // Processing in the state file, never in the driver (it waited for its printer): back in
  // the queue, not counted.
  std::ofstream(state) << head << done << job2(5) << pending << tail;
  EXPECT_TRUE(RecoverJobs(state, record_file, spool).empty());
  EXPECT_EQ(ReadText(state), head + done + job2(3) + pending + tail);

  // In the driver at the first stop, whatever the state file says: back in the queue.
  for (int saved_state : {3, 5}) {
    SCOPED_TRACE("state file says " + std::to_string(saved_state));
    std::remove(record_file.c_str());
    {
      JobRecord record(record_file);
      EXPECT_EQ(record.Started(1, 2), 0);
    }
    std::ofstream(state, std::ios::trunc)
        << head << done << job2(saved_state, " imcompleted=\"7\"") << pending << tail;
    std::vector<RecoveredJob> first = RecoverJobs(state, record_file, spool);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].printer_id, 1);
    EXPECT_EQ(first[0].job_id, 2);
    EXPECT_EQ(first[0].outcome, Recovered::kRequeued);
    EXPECT_EQ(ReadText(state), head + done + job2(3, " imcompleted=\"0\"") + pending + tail);
    EXPECT_EQ(attribute_names(), "copies ");
    // A start that ends before the job runs again changes nothing.
    ASSERT_EQ(RecoverJobs(state, record_file, spool).size(), 1u);
    EXPECT_EQ(ReadText(state), head + done + job2(3, " imcompleted=\"0\"") + pending + tail);
  }

  // In the driver again at the second stop: aborted, its document gone; said again at every
  // start after.
  {
    JobRecord record(record_file);
    EXPECT_EQ(record.Started(1, 2), 1);
  }
  std::ofstream(state, std::ios::trunc) << head << done << job2(5) << pending << tail;
  for (int start = 0; start < 2; ++start) {
    std::vector<RecoveredJob> second = RecoverJobs(state, record_file, spool);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].outcome, Recovered::kAborted);
    const std::string aborted = ReadText(state);
    EXPECT_NE(aborted.find("state=\"8\" completed=\""), std::string::npos) << aborted;
    EXPECT_EQ(aborted.find("filename=\"" + document), std::string::npos) << aborted;
    EXPECT_NE(aborted.find(done + "Job id=\"2\""), std::string::npos) << aborted;
    EXPECT_NE(aborted.find(pending + tail), std::string::npos) << aborted;
  }
  EXPECT_FALSE(std::filesystem::exists(document));
  EXPECT_FALSE(std::filesystem::exists(attributes));

  // Printed after one stop: said at every start while the job is listed, forgotten after.
  std::remove(record_file.c_str());
  {
    JobRecord record(record_file);
    record.Started(1, 3);
  }
  std::ofstream(state, std::ios::trunc) << head << pending << tail;
  ASSERT_EQ(RecoverJobs(state, record_file, spool).size(), 1u);
  {
    JobRecord record(record_file);
    EXPECT_EQ(record.Started(1, 3), 1);
    record.Ended(1, 3, true);
  }
  const std::string printed =
      "Job id=\"3\" name=\"c\" username=\"u\" format=\"image/pwg-raster\" state=\"9\"\n";
  std::ofstream(state, std::ios::trunc) << head << printed << tail;
  std::vector<RecoveredJob> after = RecoverJobs(state, record_file, spool);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].outcome, Recovered::kPrinted);
  std::ofstream(state, std::ios::trunc) << head << tail;
  EXPECT_TRUE(RecoverJobs(state, record_file, spool).empty());
  EXPECT_EQ(ReadText(record_file), "");
}

TEST(Formats, FirstBytesNameTheFormatAndAContradictionIsSaidInWords) {
  auto bytes = [](std::string_view s) { return std::vector<uint8_t>(s.begin(), s.end()); };
  const std::string late_pdf = std::string(600, ' ') + "%PDF-1.7\n";
  const std::string too_late_pdf = std::string(kSniffBytes, ' ') + "%PDF-1.7\n";
  struct Case {
    const char* name;
    std::vector<uint8_t> head;
    const char* format;  // null: none
  };
  const Case cases[] = {
      {"PDF", bytes("%PDF-1.4\n%\xe2\xe3"), "application/pdf"},
      {"PDF after leading junk", bytes(late_pdf), "application/pdf"},
      {"PDF header past the first kilobyte", bytes(too_late_pdf), nullptr},
      {"JPEG with JFIF", bytes("\xff\xd8\xff\xe0\x00\x10JFIF"), "image/jpeg"},
      {"JPEG with only a quantization table", bytes("\xff\xd8\xff\xdb\x00\x43"), "image/jpeg"},
      {"PNG", bytes("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR"), "image/png"},
      {"PNG with a broken signature", bytes("\x89PNG\n\n\x1a\n"), nullptr},
      {"PWG raster", bytes("RaS2PwgRaster"), "image/pwg-raster"},
      {"Apple raster", bytes(std::string_view("UNIRAST\0\x08", 9)), "image/urf"},
      {"CUPS raster v3", bytes("RaS3...."), kDriverFormat},
      {"CUPS raster v2, other byte order", bytes("2SaR...."), kDriverFormat},
      {"text", bytes("Hello\n"), nullptr},
      {"nothing", {}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const char* got = FormatOf(c.head);
    EXPECT_STREQ(got ? got : "(none)", c.format ? c.format : "(none)");
  }

  struct Mismatch {
    const char* declared;
    std::vector<uint8_t> head;
    const char* message;  // empty: they agree, or the format is not checked
  };
  const Mismatch mismatches[] = {
      {"application/pdf", bytes("%PDF-1.4\n"), ""},
      {"image/jpeg", bytes("\xff\xd8\xff\xdb"), ""},
      {"application/pdf", bytes("Hello\n"),
       "The document was sent as application/pdf but is not a PDF: it is text"},
      {"image/png", bytes("\xff\xd8\xff\xe1"),
       "The document was sent as image/png but is not a PNG image: it is a JPEG image"},
      {"image/jpeg", {}, "The document was sent as image/jpeg but is not a JPEG image: it is empty"},
      {"image/jpeg", bytes(std::string_view("\x00\x9f", 2)),
       "The document was sent as image/jpeg but is not a JPEG image: it starts with the bytes 00 "
       "9F"},
      {"image/pwg-raster", bytes("Hello\n"), ""},
      {kDriverFormat, bytes("RaS2PwgR"), ""},
  };
  for (const Mismatch& m : mismatches) {
    SCOPED_TRACE(m.declared);
    EXPECT_EQ(FormatMismatch(m.declared, m.head), m.message);
  }
}

TEST(Feed, EveryPixelLayoutPrintsAsItsRgbSheetAndMissingRowsArePaper) {
  testing::TempDir dir;
  SheetFormat rgb;
  rgb.width = 300, rgb.height = 260;
  rgb.width_points = 120, rgb.length_points = 104;
  rgb.resolution = {180, 180};
  // Black strokes and grey areas: ink that is dark and ink that is not.
  auto value = [](unsigned x, unsigned y) -> uint8_t {
    if ((x / 7 + y / 11) % 5 == 0) return 0;
    if (x > 150 && y > 130) return static_cast<uint8_t>(90 + (x * 3 + y) % 120);
    return 255;
  };
  std::vector<std::vector<uint8_t>> rgb_lines, gray_lines, black_lines, bit_lines;
  for (unsigned y = 0; y < rgb.height; ++y) {
    std::vector<uint8_t> r, g, k, b((rgb.width + 7) / 8, 0);
    for (unsigned x = 0; x < rgb.width; ++x) {
      // The 1-bit sheet holds only the black strokes; its RGB twin is made below.
      const uint8_t v = value(x, y);
      r.insert(r.end(), {v, v, v});
      g.push_back(v);
      k.push_back(static_cast<uint8_t>(255 - v));
      if (v == 0) b[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
    rgb_lines.push_back(r), gray_lines.push_back(g), black_lines.push_back(k),
        bit_lines.push_back(b);
  }
  const std::vector<uint8_t> want = Print(rgb, rgb_lines, dir);
  ASSERT_GT(want.size(), 9800u);

  SheetFormat gray = rgb;
  gray.layout = PixelLayout::kGray8;
  EXPECT_EQ(Print(gray, gray_lines, dir), want);
  SheetFormat black = rgb;
  black.layout = PixelLayout::kBlack8;
  EXPECT_EQ(Print(black, black_lines, dir), want);

  std::vector<std::vector<uint8_t>> strokes_rgb;
  for (unsigned y = 0; y < rgb.height; ++y) {
    std::vector<uint8_t> r;
    for (unsigned x = 0; x < rgb.width; ++x) {
      const uint8_t v = value(x, y) == 0 ? 0 : 255;
      r.insert(r.end(), {v, v, v});
    }
    strokes_rgb.push_back(r);
  }
  SheetFormat bits = rgb;
  bits.layout = PixelLayout::kBlack1;
  EXPECT_EQ(Print(bits, bit_lines, dir), Print(rgb, strokes_rgb, dir));

  // A sheet raster that stops early: the rest of the area is paper.
  std::vector<std::vector<uint8_t>> short_lines(rgb_lines.begin(), rgb_lines.begin() + 150);
  std::vector<std::vector<uint8_t>> padded = short_lines;
  padded.resize(rgb.height, std::vector<uint8_t>(size_t{rgb.width} * 3, 255));
  EXPECT_EQ(Print(rgb, short_lines, dir), Print(rgb, padded, dir));
  EXPECT_TRUE(dir.Entries().empty()) << "spool files left behind";
}

}  // namespace
}  // namespace kemb::app
