// kemb-printer-app end to end, on loopback, each suite with a server of its own:
//   SameBytes    whole sheets streamed as PWG raster print exactly what rastertokemb prints
//                for the PPD's printable area of the same sheets
//   PdfJobs      PDF through Ghostscript; a broken PDF aborts its job with a message, the
//                next job prints
//   Load         4 clients x 10 jobs x 5 rounds of PWG and PDF, on a file device and on a
//                network printer: no crash, every job completes, and the device stream is the
//                jobs' solo bytes, whole and in job order
//   Cancel       a job cancelled mid-page leaves a well-formed stream (form feed, reset) and
//                the next job prints
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "app/app_server.h"
#include "app/filter_oracle.h"
#include "models.h"
#include "scheduler/process.h"
#include "test_page.h"

namespace kemb::app_test {
namespace {

std::vector<uint8_t> Tail(const std::string& path, size_t from) {
  std::vector<uint8_t> all = ReadBytes(path);
  return from < all.size() ? std::vector<uint8_t>(all.begin() + static_cast<long>(from), all.end())
                           : std::vector<uint8_t>{};
}

std::string FirstDifference(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want) {
  size_t i = 0;
  while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
  char text[160];
  std::snprintf(text, sizeof(text), "%zu bytes vs %zu expected; first difference at byte %zu",
                got.size(), want.size(), i);
  return text;
}

// A document printed alone, waited for, and its bytes on the printer's device.
std::vector<uint8_t> PrintAlone(AppServer& server, Ipp& ipp, const std::string& printer,
                                const std::vector<uint8_t>& doc, const std::string& format,
                                const JobAttributes& attrs = {}, ipp_jstate_t* state = nullptr) {
  const size_t before = FileSize(server.DevicePath(printer));
  Submitted job = ipp.Print(printer, doc, format, attrs);
  EXPECT_EQ(job.status, IPP_STATUS_OK) << job.message;
  auto states = ipp.Wait(printer, {job.job_id});
  if (state)
    *state = states[job.job_id];
  else
    EXPECT_EQ(states[job.job_id], IPP_JSTATE_COMPLETED) << server.Log();
  return Tail(server.DevicePath(printer), before);
}

std::vector<uint8_t> SamplePdf() {
  return ReadBytes(std::string(KEMB_SOURCE_DIR) + "/samples/sample.pdf");
}

// A PDF of `pages` grey-ramp pages made by Ghostscript: picture pages that take a while.
std::vector<uint8_t> RampPdf(const std::string& dir, int pages) {
  const std::string path = dir + "/ramp.pdf";
  std::string ps =
      "/ramp { 0 1 99 { /i exch def i 100 div setgray 30 i 7.8 mul 30 add 535 7.8 "
      "rectfill } for showpage } def";
  for (int i = 0; i < pages; ++i) ps += " ramp";
  auto r = scheduler_test::RunCommand(
      scheduler_test::Command({"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite",
                               "-sPAPERSIZE=a4", "-o", path, "-c", ps}));
  EXPECT_TRUE(r.Ok()) << r.output;
  return ReadBytes(path);
}

struct Printers {
  const char* name;
  const char* driver;
};
constexpr Printers kPrinters[] = {
    {"lq", "kemb_wmz24"}, {"wide", "kemb_wmz24w"}, {"oki", "kemb_wmz24o"}, {"alt", "kemb_wmz24a"}};

struct SameBytesCase {
  const char* name;
  const char* printer;
  const char* ppd;
  const char* page_size;  // the PPD's choice for the sheet
  const char* media;      // PWG name of the sheet
  const char* media_type;
  unsigned xdpi, ydpi;
  Drawing drawing;
  const char* content;  // print-content-optimize; the filter gets it in its options
};

const SameBytesCase kSameBytes[] = {
    {"text A4 180", "lq", "kemb24.ppd", "A4", "iso_a4_210x297mm", "", 180, 180, Drawing::kText, ""},
    {"picture A4 180", "lq", "kemb24.ppd", "A4", "iso_a4_210x297mm", "", 180, 180,
     Drawing::kPicture, ""},
    {"mixed Letter 360x180", "lq", "kemb24.ppd", "Letter", "na_letter_8.5x11in", "", 360, 180,
     Drawing::kMixed, ""},
    {"text reduced 360x360", "lq", "kemb24.ppd", "A4", "iso_a4_210x297mm", "", 360, 360,
     Drawing::kText, ""},
    {"text Legal 180", "lq", "kemb24.ppd", "Legal", "na_legal_8.5x14in", "", 180, 180,
     Drawing::kText, ""},
    {"text fanfold 8.5x12", "lq", "kemb24.ppd", "FanFoldGerman", "na_fanfold-eur_8.5x12in", "", 180,
     180, Drawing::kText, ""},
    {"text fanfold Letter", "lq", "kemb24.ppd", "Letter.Fanfold", "na_letter_8.5x11in",
     "continuous", 180, 180, Drawing::kText, ""},
    {"OKIDATA text A4", "oki", "kemb24o.ppd", "A4", "iso_a4_210x297mm", "", 180, 180,
     Drawing::kText, ""},
    {"wide fanfold text", "wide", "kemb24w.ppd", "11x14.875Rotated",
     "custom_fanfold-wide_14.875x11in", "", 180, 180, Drawing::kText, ""},
    {"wide fanfold mixed 360x180", "wide", "kemb24w.ppd", "11x14.875Rotated",
     "custom_fanfold-wide_14.875x11in", "", 360, 180, Drawing::kMixed, ""},
    {"alternate text A4 180", "alt", "kemb24a.ppd", "A4", "iso_a4_210x297mm", "", 180, 180,
     Drawing::kText, ""},
    {"alternate picture 120", "alt", "kemb24a.ppd", "A4", "iso_a4_210x297mm", "", 120, 120,
     Drawing::kPicture, ""},
    {"alternate text 240", "alt", "kemb24a.ppd", "Letter", "na_letter_8.5x11in", "", 240, 240,
     Drawing::kText, ""},
    {"alternate mixed 360x180", "alt", "kemb24a.ppd", "A4", "iso_a4_210x297mm", "", 360, 180,
     Drawing::kMixed, ""},
    {"content auto", "lq", "kemb24.ppd", "A4", "iso_a4_210x297mm", "", 180, 180, Drawing::kMixed,
     "auto"},
    {"content text", "lq", "kemb24.ppd", "A4", "iso_a4_210x297mm", "", 180, 180, Drawing::kMixed,
     "text"},
    {"content photo", "lq", "kemb24.ppd", "A4", "iso_a4_210x297mm", "", 180, 180, Drawing::kMixed,
     "photo"},
    {"content graphic", "lq", "kemb24.ppd", "A4", "iso_a4_210x297mm", "", 180, 180, Drawing::kMixed,
     "graphic"},
    {"content text-and-graphic", "lq", "kemb24.ppd", "A4", "iso_a4_210x297mm", "", 180, 180,
     Drawing::kMixed, "text-and-graphic"},
    {"alternate content photo 120", "alt", "kemb24a.ppd", "A4", "iso_a4_210x297mm", "", 120, 120,
     Drawing::kText, "photo"},
};

class AppSuite : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<AppServer>();
    for (const Printers& p : kPrinters) server_->AddPrinter(p.name, p.driver);
    ipp_ = std::make_unique<Ipp>(server_->port());
  }
  void TearDown() override {
    EXPECT_TRUE(server_->Running()) << "the server died:\n" << server_->Log();
    ipp_.reset();
    EXPECT_TRUE(server_->Stop()) << "the server had to be killed";
  }
  std::unique_ptr<AppServer> server_;
  std::unique_ptr<Ipp> ipp_;
};

using SameBytes = AppSuite;

TEST_F(SameBytes, WholeSheetsPrintTheFiltersBytesForThePrintableArea) {
  std::map<std::string, std::vector<uint8_t>> by_content;  // the mixed page, per choice
  for (const SameBytesCase& c : kSameBytes) {
    SCOPED_TRACE(c.name);
    SheetPage sheet = RenderSheet({c.media, c.xdpi, c.ydpi, c.drawing});
    JobAttributes attrs;
    attrs.content = c.content;
    attrs.media = c.media;
    attrs.media_type = c.media_type;
    const std::vector<uint8_t> got =
        PrintAlone(*server_, *ipp_, c.printer, PwgStream({sheet}), "image/pwg-raster", attrs);
    const std::string options =
        *c.content ? std::string("print-content-optimize=") + c.content : "";
    const std::vector<uint8_t> want = FilterBytes({{c.ppd, c.page_size, sheet}}, options);
    EXPECT_TRUE(got == want) << FirstDifference(got, want);
    if (std::string(c.name).rfind("content ", 0) == 0) by_content[c.content] = got;
  }
  // The choice reaches the engine: text and photo print the mixed page differently.
  EXPECT_NE(by_content["text"], by_content["photo"]);
}

TEST_F(SameBytes, PagesOfOneJobPrintAsTheFiltersJob) {
  std::vector<SheetPage> sheets = {RenderSheet({"iso_a4_210x297mm", 180, 180, Drawing::kText}),
                                   RenderSheet({"iso_a4_210x297mm", 180, 180, Drawing::kPicture}),
                                   RenderSheet({"iso_a4_210x297mm", 180, 180, Drawing::kMixed})};
  const std::vector<uint8_t> got =
      PrintAlone(*server_, *ipp_, "lq", PwgStream(sheets), "image/pwg-raster");
  std::vector<FilterPage> pages;
  for (SheetPage& s : sheets) pages.push_back({"kemb24.ppd", "A4", s});
  const std::vector<uint8_t> want = FilterBytes(pages);
  EXPECT_TRUE(got == want) << FirstDifference(got, want);
}

using PdfJobs = AppSuite;

TEST_F(PdfJobs, PdfPrintsAsItsGhostscriptSheetsThroughThePwgPath) {
  // The same PDF rendered by Ghostscript as the filter inside the application does, sent as
  // PWG raster: both roads must meet in the same bytes.
  const std::vector<uint8_t> pdf = SamplePdf();
  const std::vector<uint8_t> via_pdf = PrintAlone(*server_, *ipp_, "lq", pdf, "application/pdf");
  const std::string pwg_path = server_->dir() + "/sample.pwg";
  auto r = scheduler_test::RunCommand(scheduler_test::Command(
      {"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-dNOINTERPOLATE", "-sDEVICE=pwgraster",
       "-dcupsColorSpace=19", "-dcupsBitsPerColor=8", "-r180x180", "-dDEVICEWIDTHPOINTS=595",
       "-dDEVICEHEIGHTPOINTS=842", "-dFIXEDMEDIA", "-dPDFFitPage", "-o", pwg_path,
       std::string(KEMB_SOURCE_DIR) + "/samples/sample.pdf"}));
  ASSERT_TRUE(r.Ok()) << r.output;
  const std::vector<uint8_t> via_pwg =
      PrintAlone(*server_, *ipp_, "lq", ReadBytes(pwg_path), "image/pwg-raster");
  EXPECT_GT(via_pdf.size(), 9800u);
  EXPECT_TRUE(via_pdf == via_pwg) << FirstDifference(via_pdf, via_pwg);
}

TEST_F(PdfJobs, BrokenPdfAbortsWithAMessageAndSendsNothingAndTheNextJobPrints) {
  const std::vector<std::pair<const char*, std::string>> broken = {
      {"truncated", "%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"},
      {"garbage", "%PDF-1.7\n\x01\x02\x03 this is not a PDF at all\n%%EOF\n"},
  };
  for (const auto& [name, text] : broken) {
    SCOPED_TRACE(name);
    ipp_jstate_t state;
    const std::vector<uint8_t> bytes =
        PrintAlone(*server_, *ipp_, "lq", std::vector<uint8_t>(text.begin(), text.end()),
                   "application/pdf", {}, &state);
    EXPECT_EQ(state, IPP_JSTATE_ABORTED);
    EXPECT_TRUE(bytes.empty()) << bytes.size() << " bytes reached the printer";
  }
  EXPECT_NE(server_->Log().find("The PDF has no pages to print: Error:"), std::string::npos)
      << server_->Log();
  EXPECT_GT(PrintAlone(*server_, *ipp_, "lq", SamplePdf(), "application/pdf").size(), 9800u);
}

TEST_F(PdfJobs, TestPagePrintsOnePageWithTextAndGreys) {
  const std::string pdf = app::TestPagePdf(*app::FindModel("kemb_wmz24"), "lq");
  const std::vector<uint8_t> bytes = PrintAlone(
      *server_, *ipp_, "lq", std::vector<uint8_t>(pdf.begin(), pdf.end()), "application/pdf");
  const std::string path = server_->dir() + "/testpage.prn";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
  const scheduler_test::Command view(
      {std::string(KEMB_BIN_DIR) + "/kembview", "--render", server_->dir() + "/tp.pbm", path});
  auto decoded = scheduler_test::RunCommand(view);
  EXPECT_TRUE(decoded.Ok()) << decoded.output;
  EXPECT_NE(decoded.output.find("tp-1.pbm"), std::string::npos) << decoded.output;
  EXPECT_EQ(decoded.output.find("tp-2.pbm"), std::string::npos) << decoded.output;
}

using Load = AppSuite;

// 4 clients x 10 jobs x 5 rounds of PWG and PDF on one printer; `device` reads everything the
// printer has received so far.
void LoadPrinter(AppServer& server, Ipp& ipp, const std::string& printer,
                 const std::function<std::vector<uint8_t>()>& device) {
  struct Doc {
    std::vector<uint8_t> bytes;
    std::string format;
    std::vector<uint8_t> solo;
  };
  std::vector<Doc> docs = {
      {PwgStream({RenderSheet({"iso_a4_210x297mm", 180, 180, Drawing::kText})}),
       "image/pwg-raster",
       {}},
      {PwgStream({RenderSheet({"iso_a4_210x297mm", 180, 180, Drawing::kMixed})}),
       "image/pwg-raster",
       {}},
      {SamplePdf(), "application/pdf", {}},
  };
  for (Doc& d : docs) {
    const size_t before = device().size();
    Submitted job = ipp.Print(printer, d.bytes, d.format);
    ASSERT_EQ(job.status, IPP_STATUS_OK) << job.message;
    ASSERT_EQ(ipp.Wait(printer, {job.job_id})[job.job_id], IPP_JSTATE_COMPLETED) << server.Log();
    const std::vector<uint8_t> all = device();
    d.solo.assign(all.begin() + static_cast<long>(before), all.end());
    ASSERT_FALSE(d.solo.empty());
  }

  constexpr int kClients = 4, kJobs = 10, kRounds = 5;
  int completed = 0, busy = 0;
  double seconds = 0;
  for (int round = 0; round < kRounds; ++round) {
    const size_t before = device().size();
    std::vector<std::pair<int, int>> jobs;  // job id, document
    std::mutex jobs_mutex;
    std::atomic<int> failures{0}, busy_answers{0};
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
      clients.emplace_back([&, c] {
        Ipp client(server.port());
        for (int j = 0; j < kJobs; ++j) {
          const int doc = (c + j + round) % static_cast<int>(docs.size());
          Submitted s = client.Print(printer, docs[doc].bytes, docs[doc].format);
          busy_answers += s.busy_answers;
          if (s.status != IPP_STATUS_OK) {
            ++failures;
            continue;
          }
          std::lock_guard lock(jobs_mutex);
          jobs.emplace_back(s.job_id, doc);
        }
      });
    }
    for (std::thread& t : clients) t.join();
    std::sort(jobs.begin(), jobs.end());
    std::vector<int> ids;
    for (auto& [id, doc] : jobs) ids.push_back(id);
    auto states = ipp.Wait(printer, ids);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    busy += busy_answers;
    EXPECT_EQ(failures, 0) << "round " << round;
    ASSERT_TRUE(server.Running()) << "round " << round << ": the server died\n" << server.Log();
    for (auto& [id, state] : states) {
      if (state == IPP_JSTATE_COMPLETED)
        ++completed;
      else
        ADD_FAILURE() << "job " << id << " ended in state " << state << "\n" << server.JobLog(id);
    }
    // The device stream: the jobs' solo bytes one after the other, in job order.
    std::vector<uint8_t> want;
    for (auto& [id, doc] : jobs) want.insert(want.end(), docs[doc].solo.begin(), docs[doc].solo.end());
    const std::vector<uint8_t> all = device();
    const std::vector<uint8_t> got(all.begin() + static_cast<long>(std::min(before, all.size())),
                                   all.end());
    EXPECT_TRUE(got == want) << "round " << round << ": " << FirstDifference(got, want);
  }
  EXPECT_EQ(completed, kClients * kJobs * kRounds);
  const std::string log = server.Log();
  auto count = [&log](const char* text) {
    size_t n = 0;
    for (size_t at = 0; (at = log.find(text, at)) != std::string::npos; ++at) ++n;
    return n;
  };
  std::printf(
      "load on %s: %d of %d jobs completed in %.1f s (%.2f s a job), %d busy answers, %zu second "
      "starts caught, %zu jobs on a device of their own (%zu handed none by PAPPL)\n",
      printer.c_str(), completed, kClients * kJobs * kRounds, seconds,
      seconds / (kClients * kJobs * kRounds), busy, count("was started a second time"),
      count("the job opened its own"), count("PAPPL handed over no device"));
}

TEST_F(Load, FourClientsTenJobsFiveRoundsOnAFileDeviceEachJobWholeAndInOrder) {
  const std::string path = server_->DevicePath("lq");
  LoadPrinter(*server_, *ipp_, "lq", [&] { return ReadBytes(path); });
}

// PAPPL keeps a network printer's connection between jobs and closes it only when no job is
// left: the jobs share PAPPL's device, and the printer must never see two connections at once.
TEST_F(Load, FourClientsTenJobsFiveRoundsOnANetworkPrinterEachJobWholeAndInOrder) {
  SocketPrinter network;
  server_->AddPrinter("net", "kemb_wmz24", network.Uri());
  LoadPrinter(*server_, *ipp_, "net", [&] { return network.Bytes(); });
  std::printf("network printer: %zu connections\n", network.connections());
}

using Cancel = AppSuite;

TEST_F(Cancel, JobCancelledMidPageEndsItsPageAndResetsAndTheNextJobPrints) {
  const std::vector<uint8_t> ramp = RampPdf(server_->dir(), 6);
  const std::vector<uint8_t> text =
      PwgStream({RenderSheet({"iso_a4_210x297mm", 180, 180, Drawing::kText})});
  const std::vector<uint8_t> text_solo =
      PrintAlone(*server_, *ipp_, "lq", text, "image/pwg-raster");

  const std::string device = server_->DevicePath("lq");
  const size_t before = FileSize(device);
  JobAttributes high;
  high.xdpi = 360, high.ydpi = 180;
  Submitted job = ipp_->Print("lq", ramp, "application/pdf", high);
  ASSERT_EQ(job.status, IPP_STATUS_OK) << job.message;
  // Cancel once the first page's bands are reaching the printer.
  for (int i = 0; i < 600 && FileSize(device) < before + 9800 + 4096; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(ipp_->Cancel("lq", job.job_id));
  Submitted next = ipp_->Print("lq", text, "image/pwg-raster");
  ASSERT_EQ(next.status, IPP_STATUS_OK) << next.message;
  auto states = ipp_->Wait("lq", {job.job_id, next.job_id});
  EXPECT_EQ(states[job.job_id], IPP_JSTATE_CANCELED);
  EXPECT_EQ(states[next.job_id], IPP_JSTATE_COMPLETED);

  const std::vector<uint8_t> all = Tail(device, before);
  ASSERT_GT(all.size(), text_solo.size());
  const std::vector<uint8_t> cancelled(all.begin(),
                                       all.end() - static_cast<long>(text_solo.size()));
  EXPECT_TRUE(std::equal(text_solo.begin(), text_solo.end(),
                         all.end() - static_cast<long>(text_solo.size())))
      << "the next job's bytes are not whole";
  // The cancelled job ends its page and resets the printer, and its stream decodes cleanly.
  ASSERT_GE(cancelled.size(), 3u);
  EXPECT_EQ(cancelled[cancelled.size() - 3], 0x0C);
  EXPECT_EQ(cancelled[cancelled.size() - 2], 0x1B);
  EXPECT_EQ(cancelled[cancelled.size() - 1], 0x40);
  const std::string part = server_->dir() + "/cancelled.prn";
  std::ofstream(part, std::ios::binary)
      .write(reinterpret_cast<const char*>(cancelled.data()), static_cast<long>(cancelled.size()));
  auto decoded = scheduler_test::RunCommand(
      scheduler_test::Command({std::string(KEMB_BIN_DIR) + "/kembview", "--list", part}));
  EXPECT_TRUE(decoded.Ok()) << decoded.output.substr(0, 2000);
  std::printf("cancel: %zu bytes of the cancelled job reached the printer\n", cancelled.size());
}

}  // namespace
}  // namespace kemb::app_test
