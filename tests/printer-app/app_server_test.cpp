// SPDX-License-Identifier: Apache-2.0
// kemb-printer-app end to end, on loopback, each suite with a server of its own:
//   SameBytes    whole sheets streamed as PWG raster print exactly what rastertokemb prints
//                for the PPD's printable area of the same sheets
//   PdfJobs      PDF through Ghostscript; a broken PDF aborts its job with a message, the
//                next job prints
//   Load         4 clients x 10 jobs x 5 rounds of PWG and PDF, on a file device and on a
//                network printer: no crash, every job completes, and the device stream is the
//                jobs' solo bytes, whole and in job order
//   Outcomes     a network printer lost mid-job aborts the job with the reason and shows the
//                printer offline; the next job prints whole
//   Cancel       a job cancelled mid-page leaves a well-formed stream (form feed, reset) and
//                the next job prints
//   ImageJobs    JPEG and PNG print at the resolution print-quality maps to (not PAPPL's own
//                choice); PNGs of every pixel format print as their plain twin; a broken image
//                aborts its job with a message and no byte, the next job prints
//   RasterTypes  every PWG raster type and resolution prints as the filter prints the same
//                page, streamed or as the driver's own format, or is refused before a byte
//   Copies       copies=N prints every format's pages N times, collated, and counts them
//   Formats      a document sent without its format prints as with it (a JPEG without a JFIF
//                marker too); one whose content contradicts its format is refused by name
//   PrinterActions  Identify-Printer rings the bell and sends nothing else; the web page's
//                "Print Test Page" form (with its session field) prints the test page
//   NoDnsSd      without avahi-daemon every web page (and every page they link to) and every
//                sub-command that lists devices answers and the server lives; the Add Printer
//                page adds a printer from a typed URI with its session field, and refuses
//                what it cannot add with a message
#include <gtest/gtest.h>

#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "printer-app/app_server.h"
#include "printer-app/filter_oracle.h"
#include "models.h"
#include "printer/byte_sink.h"
#include "printer/command_set.h"
#include "printer/printer.h"
#include "scheduler/process.h"
#include "test_page.h"

namespace kemb::app_test {
namespace {

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
  return ReadFile(std::string(KEMB_SOURCE_DIR) + "/samples/sample.pdf");
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
    const std::string options = FilterOptionFor(c.content);
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
  const std::vector<uint8_t> want = FilterBytes(pages, FilterOptionFor(""));
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
      PrintAlone(*server_, *ipp_, "lq", ReadFile(pwg_path), "image/pwg-raster");
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

// Dot coverage of the test page's grey ramp in the rendered 180 dpi page: eleven patches 44 pt
// wide from 54 pt, 80 pt high. The ramp's top is found from its solid last patch, so the
// rendering's own origin does not matter; each patch is measured inside an inset of 8 pt.
std::vector<double> RampCoverage(const std::string& pbm_path) {
  std::ifstream in(pbm_path, std::ios::binary);
  std::string magic, comment;
  std::getline(in, magic);
  std::getline(in, comment);
  size_t width = 0, height = 0;
  in >> width >> height;
  in.get();
  const std::vector<uint8_t> bits((std::istreambuf_iterator<char>(in)), {});
  const size_t row_bytes = (width + 7) / 8;
  if (magic != "P4" || bits.size() != row_bytes * height) return {};
  auto dot = [&](size_t x, size_t y) { return (bits[y * row_bytes + x / 8] >> (7 - x % 8)) & 1; };
  const double dots_per_pt = 180.0 / 72.0;
  const double left = (595.0 - width / dots_per_pt) / 2;  // A4, centred printable width
  auto column = [&](double pt) { return static_cast<size_t>((pt - left) * dots_per_pt); };
  auto coverage = [&](size_t x0, size_t x1, size_t y0, size_t y1) {
    size_t inked = 0;
    for (size_t y = y0; y < y1; ++y)
      for (size_t x = x0; x < x1; ++x) inked += dot(x, y);
    return static_cast<double>(inked) / static_cast<double>((x1 - x0) * (y1 - y0));
  };
  const size_t last_x0 = column(54 + 10 * 44 + 8), last_x1 = column(54 + 10 * 44 + 36);
  const size_t inset = static_cast<size_t>(8 * dots_per_pt);
  const size_t high = static_cast<size_t>(80 * dots_per_pt);
  size_t top = 0;
  while (top + 1 < height && coverage(last_x0, last_x1, top, top + 1) < 0.99) ++top;
  if (top + high > height) return {};
  std::vector<double> ramp;
  for (int i = 0; i <= 10; ++i)
    ramp.push_back(coverage(column(54 + i * 44 + 8), column(54 + i * 44 + 36), top + inset,
                            top + high - inset));
  return ramp;
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

  // The grey ramp: eleven patches from paper to full ink, each darker than the one before and
  // the light and middle greys neither blank nor solid (the page-wide rule printed half of them
  // blank, half black). The darkest grey may print solid: the printer's dots overlap.
  const std::vector<double> ramp = RampCoverage(server_->dir() + "/tp-1.pbm");
  ASSERT_EQ(ramp.size(), 11u);
  EXPECT_LT(ramp.front(), 0.01);
  EXPECT_GT(ramp.back(), 0.99);
  for (size_t i = 1; i < ramp.size(); ++i) {
    EXPECT_GE(ramp[i], ramp[i - 1]) << "patch " << i;
    if (i <= 8) {
      EXPECT_GT(ramp[i], ramp[i - 1] + 0.03) << "patch " << i;
      EXPECT_GT(ramp[i], 0.02) << "patch " << i;
      EXPECT_LT(ramp[i], 0.9) << "patch " << i;
    }
  }
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
  LoadPrinter(*server_, *ipp_, "lq", [&] { return ReadFile(path); });
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

// Writes `bytes` to `path`, for the decoder.
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

// The column densities of a stream's bit images as kembview reads them ("180dpi": count), and
// whether it decoded cleanly.
struct Densities {
  std::map<std::string, int> images;
  bool clean = false;
  std::string listing;
};
Densities ImageDensities(const std::string& dir, const std::vector<uint8_t>& bytes) {
  const std::string path = dir + "/densities.prn";
  WriteFile(path, bytes);
  auto listed = scheduler_test::RunCommand(
      scheduler_test::Command({std::string(KEMB_BIN_DIR) + "/kembview", "--list", path}));
  Densities d;
  d.clean = listed.Ok();
  d.listing = listed.output.substr(0, 2000);
  std::istringstream lines(listed.output);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.find("ESC *") == std::string::npos) continue;
    const size_t open = line.find('('), close = line.find(')', open);
    if (open != std::string::npos && close != std::string::npos)
      ++d.images[line.substr(open + 1, close - open - 1)];
  }
  return d;
}

// A picture made by Ghostscript at 72 dpi (so the image carries its resolution): a grey ramp
// with a black bar, 5 x 3.33 inches.
std::vector<uint8_t> Picture(const std::string& dir, const std::string& device,
                             const std::string& name) {
  const std::string path = dir + "/" + name;
  auto r = scheduler_test::RunCommand(scheduler_test::Command(
      {"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=" + device, "-r72", "-g360x240",
       "-o", path, "-c",
       "0 1 9 { /i exch def i 10 div setgray i 36 mul 0 36 240 rectfill } for "
       "0 setgray 20 100 320 20 rectfill showpage"}));
  EXPECT_TRUE(r.Ok()) << r.output;
  return ReadFile(path);
}

struct JobStatus {
  std::string message;  // job-state-message
  std::string reasons;  // job-state-reasons, comma-separated
  int impressions_completed = -1;
};
JobStatus StatusOf(Ipp& ipp, const std::string& printer, int job_id) {
  ipp_t* request = ipp.NewRequest(IPP_OP_GET_JOB_ATTRIBUTES, printer);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job_id);
  ipp_t* response = ipp.Do(printer, request);
  JobStatus status;
  char text[1024] = "";
  if (ipp_attribute_t* a = ippFindAttribute(response, "job-state-message", IPP_TAG_TEXT))
    status.message = ippGetString(a, 0, nullptr);
  if (ipp_attribute_t* a = ippFindAttribute(response, "job-state-reasons", IPP_TAG_KEYWORD)) {
    ippAttributeString(a, text, sizeof(text));
    status.reasons = text;
  }
  if (ipp_attribute_t* a = ippFindAttribute(response, "job-impressions-completed", IPP_TAG_INTEGER))
    status.impressions_completed = ippGetInteger(a, 0);
  ippDelete(response);
  return status;
}

using Outcomes = AppSuite;

std::string PrinterReasons(Ipp& ipp, const std::string& printer) {
  ipp_t* request = ipp.NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, printer);
  ipp_t* response = ipp.Do(printer, request);
  char text[1024] = "";
  if (ipp_attribute_t* a = ippFindAttribute(response, "printer-state-reasons", IPP_TAG_KEYWORD))
    ippAttributeString(a, text, sizeof(text));
  ippDelete(response);
  return text;
}

// A network printer that drops the connection mid-job: the job is aborted with the reason,
// never completed, the printer shows it offline, and the next job prints whole and clears it.
TEST_F(Outcomes, PrinterLostMidJobAbortsTheJobAndTheNextJobPrints) {
  constexpr size_t kResetAfter = 20000;
  SocketPrinter network(kResetAfter);
  server_->AddPrinter("net", "kemb_wmz24", network.Uri());
  std::vector<SheetPage> sheets;
  for (int i = 0; i < 6; ++i)
    sheets.push_back(RenderSheet({"iso_a4_210x297mm", 180, 180, Drawing::kMixed}));
  const std::vector<uint8_t> document = PwgStream(sheets);

  Submitted lost = ipp_->Print("net", document, "image/pwg-raster");
  ASSERT_EQ(lost.status, IPP_STATUS_OK) << lost.message;
  EXPECT_EQ(ipp_->Wait("net", {lost.job_id})[lost.job_id], IPP_JSTATE_ABORTED)
      << server_->JobLog(lost.job_id);
  const JobStatus status = StatusOf(*ipp_, "net", lost.job_id);
  EXPECT_NE(status.reasons.find("aborted-by-system"), std::string::npos) << status.reasons;
  EXPECT_NE(PrinterReasons(*ipp_, "net").find("offline"), std::string::npos);
  const size_t received = network.Bytes().size();
  EXPECT_EQ(received, kResetAfter);
  // The message counts what the connection accepted: at least what the printer received,
  // never more than the job had to send.
  size_t sent = 0, handed = 0;
  ASSERT_EQ(std::sscanf(status.message.c_str(), "Lost the printer: sent %zu of %zu bytes before "
                                                "the connection failed;", &sent, &handed), 2)
      << status.message;
  EXPECT_GE(sent, received) << status.message;
  EXPECT_LT(sent, handed) << status.message;
  std::printf("lost printer: %s (the printer received %zu)\n", status.message.c_str(), received);

  Submitted next = ipp_->Print("net", document, "image/pwg-raster");
  ASSERT_EQ(next.status, IPP_STATUS_OK) << next.message;
  EXPECT_EQ(ipp_->Wait("net", {next.job_id})[next.job_id], IPP_JSTATE_COMPLETED)
      << server_->JobLog(next.job_id);
  const std::vector<uint8_t> all = network.Bytes();
  ASSERT_GT(all.size(), received);
  // The whole job after the cut: the stream it would have sent, from its own start.
  const std::vector<uint8_t> whole(all.begin() + static_cast<long>(received), all.end());
  EXPECT_GT(whole.size(), kResetAfter);
  EXPECT_TRUE(std::equal(all.begin(), all.begin() + static_cast<long>(received), whole.begin()))
      << "the lost job's bytes are not the start of the same document's stream";
  EXPECT_EQ(PrinterReasons(*ipp_, "net").find("offline"), std::string::npos);
  EXPECT_EQ(network.connections(), 2u);
}

ipp_pstate_t PrinterState(Ipp& ipp, const std::string& printer) {
  ipp_t* response = ipp.Do(printer, ipp.NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, printer));
  const auto state = static_cast<ipp_pstate_t>(
      ippGetInteger(ippFindAttribute(response, "printer-state", IPP_TAG_ENUM), 0));
  ippDelete(response);
  return state;
}

// A network printer that dies mid-job: that job is aborted; the next job, sent while the
// printer is down, waits with the printer shown offline (not paused) and prints whole once the
// printer is back.
TEST_F(Outcomes, PrinterDeadMidJobAbortsItAndTheNextJobWaitsOfflineUntilItIsBack) {
  constexpr size_t kDiesAfter = 30000;
  SocketPrinter network(kDiesAfter, SocketPrinter::Cut::kDies);
  server_->AddPrinter("net", "kemb_wmz24", network.Uri());
  // A spooled document: the client is answered at once, not when the job ends (as streamed
  // raster is), so it can look on while the job waits.
  const std::vector<uint8_t> document = RampPdf(server_->dir(), 3);

  Submitted lost = ipp_->Print("net", document, "application/pdf");
  ASSERT_EQ(lost.status, IPP_STATUS_OK) << lost.message;
  EXPECT_EQ(ipp_->Wait("net", {lost.job_id})[lost.job_id], IPP_JSTATE_ABORTED)
      << server_->JobLog(lost.job_id);
  EXPECT_EQ(StatusOf(*ipp_, "net", lost.job_id).message.rfind("Lost the printer: sent ", 0), 0u)
      << StatusOf(*ipp_, "net", lost.job_id).message;
  ASSERT_TRUE(network.down());
  const size_t received = network.Bytes().size();
  EXPECT_EQ(received, kDiesAfter);

  Submitted next = ipp_->Print("net", document, "application/pdf");
  ASSERT_EQ(next.status, IPP_STATUS_OK) << next.message;
  // Waiting is what the job says it does; the bound is only a safety net.
  JobStatus waiting;
  for (int i = 0; i < 600; ++i) {
    waiting = StatusOf(*ipp_, "net", next.job_id);
    if (waiting.message.find("Waiting for the printer") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_NE(waiting.message.find("Waiting for the printer"), std::string::npos) << waiting.message;
  EXPECT_EQ(ipp_->JobState("net", next.job_id), IPP_JSTATE_PROCESSING);
  const std::string reasons = PrinterReasons(*ipp_, "net");
  EXPECT_NE(reasons.find("offline"), std::string::npos) << reasons;
  EXPECT_EQ(reasons.find("paused"), std::string::npos) << reasons;
  EXPECT_NE(PrinterState(*ipp_, "net"), IPP_PSTATE_STOPPED);
  network.SwitchOn();
  EXPECT_EQ(ipp_->Wait("net", {next.job_id})[next.job_id], IPP_JSTATE_COMPLETED)
      << server_->JobLog(next.job_id);
  // Its message says how it ended, no longer that it waits.
  EXPECT_EQ(StatusOf(*ipp_, "net", next.job_id).message, "Job completed.");
  const std::vector<uint8_t> all = network.Bytes();
  ASSERT_GT(all.size(), received);
  const std::vector<uint8_t> whole(all.begin() + static_cast<long>(received), all.end());
  EXPECT_TRUE(std::equal(all.begin(), all.begin() + static_cast<long>(received), whole.begin()))
      << "the dead job's bytes are not the start of the same document's stream";
  EXPECT_EQ(PrinterReasons(*ipp_, "net").find("offline"), std::string::npos);
  EXPECT_EQ(network.connections(), 2u);
}

using Recovery = AppSuite;

int PrintQualityDefault(Ipp& ipp, const std::string& printer) {
  ipp_t* response = ipp.Do(printer, ipp.NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, printer));
  const int quality =
      ippGetInteger(ippFindAttribute(response, "print-quality-default", IPP_TAG_ENUM), 0);
  ippDelete(response);
  return quality;
}

// The server killed while a job runs (here: waiting for its printer to answer): started again on
// the same folder, that job prints again from its start, nothing stays "processing", the next
// job prints, and the printer keeps its settings.
TEST_F(Recovery, ServerKilledMidJobRestartsWithNoStuckJobAndTheNextJobPrints) {
  SocketPrinter network;
  server_->AddPrinter("net", "kemb_wmz24", network.Uri());
  ASSERT_TRUE(server_->Run({"modify", "-d", "net", "-o", "print-quality-default=draft"}).Ok());
  ASSERT_EQ(PrintQualityDefault(*ipp_, "net"), IPP_QUALITY_DRAFT);
  // Spooled, as a job must be to outlive the server.
  const std::vector<uint8_t> document = SamplePdf();

  network.SwitchOff();
  Submitted stuck = ipp_->Print("net", document, "application/pdf");
  ASSERT_EQ(stuck.status, IPP_STATUS_OK) << stuck.message;
  // The server has the job processing, and has said so in its state file (a setting changed
  // meanwhile makes it write the file).
  for (int i = 0; i < 600 && ipp_->JobState("net", stuck.job_id) != IPP_JSTATE_PROCESSING; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(server_->Run({"modify", "-d", "net", "-o", "printer-location=Back office"}).Ok());
  const std::string state_file = server_->dir() + "/state/kemb-printer-app.state";
  const std::string id = " id=\"" + std::to_string(stuck.job_id) + "\"";
  bool saved = false;
  std::string state;
  for (int i = 0; i < 600 && !saved; ++i) {
    const std::vector<uint8_t> text = ReadFile(state_file);
    state.assign(text.begin(), text.end());
    std::istringstream lines(state);
    std::string line;
    while (std::getline(lines, line))
      saved = saved || (line.rfind("Job ", 0) == 0 && line.find(id) != std::string::npos &&
                        line.find(" state=\"5\"") != std::string::npos);
    if (!saved) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(saved) << state;
  server_->Kill();

  network.SwitchOn();
  server_->Restart();
  Ipp ipp(server_->port());
  EXPECT_EQ(ipp.Wait("net", {stuck.job_id})[stuck.job_id], IPP_JSTATE_COMPLETED)
      << server_->JobLog(stuck.job_id);
  Submitted next = ipp.Print("net", document, "application/pdf");
  ASSERT_EQ(next.status, IPP_STATUS_OK) << next.message;
  EXPECT_EQ(ipp.Wait("net", {next.job_id})[next.job_id], IPP_JSTATE_COMPLETED)
      << server_->JobLog(next.job_id);
  // Each job whole: the printer received the same stream twice.
  const std::vector<uint8_t> all = network.Bytes();
  ASSERT_EQ(all.size() % 2, 0u);
  ASSERT_GT(all.size(), 0u);
  EXPECT_TRUE(std::equal(all.begin(), all.begin() + static_cast<long>(all.size() / 2),
                         all.begin() + static_cast<long>(all.size() / 2)));
  EXPECT_EQ(PrintQualityDefault(ipp, "net"), IPP_QUALITY_DRAFT);
}

// The record of jobs in the driver shows `job_id` there after `stops` stops (the driver has
// the job: a kill now is a kill during it).
bool InDriver(const AppServer& server, int job_id, int stops) {
  const std::vector<uint8_t> bytes = ReadFile(server.dir() + "/state/kemb-printer-app.jobs");
  std::istringstream lines(std::string(bytes.begin(), bytes.end()));
  int printer = 0, job = 0, count = 0;
  std::string flag;
  while (lines >> printer >> job >> count >> flag)
    if (job == job_id && count == stops && flag == "running") return true;
  return false;
}

// Get-Job-Attributes and Get-Jobs (all attributes) through ipptool, which fails a response
// with an attribute twice or a value out of its syntax.
scheduler_test::CommandResult CheckJobAttributes(const AppServer& server,
                                                 const std::string& printer, int job_id) {
  const std::string test = server.dir() + "/job-attributes.test";
  std::ofstream(test) << R"({
  NAME "Get-Job-Attributes"
  OPERATION Get-Job-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR integer job-id $job_id
  ATTR name requesting-user-name test
  ATTR keyword requested-attributes all
  STATUS successful-ok
}
{
  NAME "Get-Jobs"
  OPERATION Get-Jobs
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR name requesting-user-name test
  ATTR keyword which-jobs all
  ATTR keyword requested-attributes all
  STATUS successful-ok
}
)";
  return scheduler_test::RunCommand(scheduler_test::Command(
      {"ipptool", "-t", "-d", "job_id=" + std::to_string(job_id), server.Uri(printer), test}));
}

// The number of form feeds in a printer stream as the decoder reads it: its sheets.
int Sheets(const std::string& dir, const std::vector<uint8_t>& bytes) {
  const std::string path = dir + "/sheets.prn";
  WriteFile(path, bytes);
  auto listed = scheduler_test::RunCommand(
      scheduler_test::Command({std::string(KEMB_BIN_DIR) + "/kembview", "--list", path}));
  EXPECT_TRUE(listed.Ok()) << listed.output.substr(0, 2000);
  std::istringstream lines(listed.output);
  std::string line;
  int sheets = 0;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string offset, command;
    words >> offset >> command;
    if (command == "FF") ++sheets;
  }
  return sheets;
}

struct KillCase {
  bool network;  // a slow network printer, else a file device
  int kills;     // during the job: the first two while the driver has it, a third at once
};

// Kills of the server during one job, 0 to 3, on a file device and on a slow network printer:
// the job's end and message, well-formed job attributes, and a free printer afterwards.
TEST_F(Recovery, KillsDuringOneJobEndAsTheRuleSaysAndThePrinterPrintsTheNextJob) {
  // A file takes bytes at once: many pages at the high resolution keep the job long enough.
  // The slow printer takes a few kilobytes each 10 ms: fewer pages of fewer bytes.
  SocketPrinter network(0, SocketPrinter::Cut::kReset, 16384);
  server_->AddPrinter("net", "kemb_wmz24", network.Uri());
  const std::vector<uint8_t> long_document = RampPdf(server_->dir(), 12);
  const std::vector<uint8_t> short_document = RampPdf(server_->dir(), 8);
  JobAttributes high;
  high.xdpi = 360, high.ydpi = 180;
  const KillCase cases[] = {{false, 0}, {false, 1}, {false, 2}, {false, 3},
                            {true, 0},  {true, 1},  {true, 2},  {true, 3}};
  for (const KillCase& c : cases) {
    const std::string printer = c.network ? "net" : "lq";
    SCOPED_TRACE(printer + ", " + std::to_string(c.kills) + " kills");
    const int pages = c.network ? 8 : 12;
    auto ipp = std::make_unique<Ipp>(server_->port());
    Submitted job = c.network ? ipp->Print(printer, short_document, "application/pdf")
                              : ipp->Print(printer, long_document, "application/pdf", high);
    ASSERT_EQ(job.status, IPP_STATUS_OK) << job.message;
    for (int kill = 0; kill < c.kills; ++kill) {
      // The first two kills while the driver has the job (its first and second attempt).
      for (int i = 0; kill < 2 && i < 1200 && !InDriver(*server_, job.job_id, kill); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (kill < 2) {
        ASSERT_TRUE(InDriver(*server_, job.job_id, kill)) << server_->Log();
      }
      ipp.reset();
      server_->Kill();
      server_->Restart();
      ipp = std::make_unique<Ipp>(server_->port());
    }
    const ipp_jstate_t want = c.kills >= 2 ? IPP_JSTATE_ABORTED : IPP_JSTATE_COMPLETED;
    EXPECT_EQ(ipp->Wait(printer, {job.job_id})[job.job_id], want) << server_->JobLog(job.job_id);
    const JobStatus status = StatusOf(*ipp, printer, job.job_id);
    switch (c.kills) {
      case 0:
        EXPECT_EQ(status.impressions_completed, pages);
        break;
      case 1:
        EXPECT_EQ(status.message, "Printed after the server restarted; the first attempt's "
                                  "pages may have printed too.");
        EXPECT_EQ(status.impressions_completed, pages);
        break;
      default:
        EXPECT_EQ(status.message,
                  "The server stopped twice during this job; it is not printed again.");
        EXPECT_NE(status.reasons.find("aborted-by-system"), std::string::npos) << status.reasons;
        break;
    }
    const auto checked = CheckJobAttributes(*server_, printer, job.job_id);
    EXPECT_TRUE(checked.Ok()) << checked.output;
    std::printf("%s, %d kills: job %s, \"%s\", %d impressions\n", printer.c_str(), c.kills,
                ippEnumString("job-state", ipp->JobState(printer, job.job_id)),
                status.message.c_str(), status.impressions_completed);

    // The printer is free: the next job prints whole, within the bound of any job.
    // A slow printer is still taking what the job's end left in the network buffers.
    constexpr auto kDrained = std::chrono::minutes(5);
    const size_t before = c.network ? network.Bytes(kDrained).size()
                                    : FileSize(server_->DevicePath(printer));
    Submitted next = ipp->Print(printer, SamplePdf(), "application/pdf", {}, 60);
    ASSERT_EQ(next.status, IPP_STATUS_OK) << next.message;
    EXPECT_EQ(next.busy_answers, 0);
    EXPECT_EQ(ipp->Wait(printer, {next.job_id}, 120)[next.job_id], IPP_JSTATE_COMPLETED)
        << server_->JobLog(next.job_id);
    const std::vector<uint8_t> all =
        c.network ? network.Bytes(kDrained) : ReadFile(server_->DevicePath(printer));
    EXPECT_EQ(Sheets(server_->dir(),
                     std::vector<uint8_t>(all.begin() + static_cast<long>(before), all.end())),
              1);
  }
}

using ImageJobs = AppSuite;

TEST_F(ImageJobs, JpegAndPngPrintAtTheResolutionPrintQualityMapsTo) {
  const std::string dir = server_->dir();
  const std::vector<uint8_t> jpeg = Picture(dir, "jpeg", "picture.jpg");
  const std::vector<uint8_t> png = Picture(dir, "png16m", "picture.png");
  const std::vector<uint8_t> grey_png = Picture(dir, "pnggray", "grey.png");
  const std::vector<uint8_t> grey_jpeg = Picture(dir, "jpeggray", "grey.jpg");
  struct Case {
    const char* name;
    const std::vector<uint8_t>* doc;
    const char* format;
    int quality;             // print-quality; 0: none sent (the printer's default, normal)
    int xdpi, ydpi;          // printer-resolution; 0: none sent
    const char* densities;   // of every bit image on the LQ printer
  };
  const Case cases[] = {
      {"JPEG default", &jpeg, "image/jpeg", 0, 0, 0, "180dpi"},
      {"JPEG draft", &jpeg, "image/jpeg", IPP_QUALITY_DRAFT, 0, 0, "180dpi"},
      {"JPEG normal", &jpeg, "image/jpeg", IPP_QUALITY_NORMAL, 0, 0, "180dpi"},
      {"JPEG high", &jpeg, "image/jpeg", IPP_QUALITY_HIGH, 0, 0, "360dpi"},
      {"JPEG printer-resolution 360x180", &jpeg, "image/jpeg", IPP_QUALITY_NORMAL, 360, 180,
       "360dpi"},
      {"PNG default", &png, "image/png", 0, 0, 0, "180dpi"},
      {"PNG normal", &png, "image/png", IPP_QUALITY_NORMAL, 0, 0, "180dpi"},
      {"PNG high", &png, "image/png", IPP_QUALITY_HIGH, 0, 0, "360dpi"},
      {"grey PNG default", &grey_png, "image/png", 0, 0, 0, "180dpi"},
      {"grey JPEG default", &grey_jpeg, "image/jpeg", 0, 0, 0, "180dpi"},
      {"grey JPEG high", &grey_jpeg, "image/jpeg", IPP_QUALITY_HIGH, 0, 0, "360dpi"},
  };
  std::map<std::string, std::vector<uint8_t>> printed;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JobAttributes attrs;
    attrs.quality = c.quality;
    attrs.xdpi = c.xdpi;
    attrs.ydpi = c.ydpi;
    const std::vector<uint8_t> bytes = PrintAlone(*server_, *ipp_, "lq", *c.doc, c.format, attrs);
    const Densities d = ImageDensities(dir, bytes);
    EXPECT_TRUE(d.clean) << d.listing;
    ASSERT_EQ(d.images.size(), 1u) << d.listing;
    EXPECT_EQ(d.images.begin()->first, c.densities);
    EXPECT_GT(d.images.begin()->second, 10) << "bands of the 3.33-inch picture";
    printed[c.name] = bytes;
  }
  // Default and normal are one choice; the picture is there in both formats.
  EXPECT_EQ(printed["JPEG default"], printed["JPEG normal"]);
  // The application's `auto` prints an image as a photo, not by the page's dark share.
  JobAttributes photo;
  photo.content = "photo";
  EXPECT_EQ(printed["PNG default"], PrintAlone(*server_, *ipp_, "lq", png, "image/png", photo));
  EXPECT_EQ(printed["PNG default"], printed["PNG normal"]);
  EXPECT_EQ(printed["JPEG high"], printed["JPEG printer-resolution 360x180"]);
}

// A document the application must refuse as of the wrong format: aborted, reason
// document-format-error, no byte on the device. Its job-state-message.
std::string RefusedAlone(AppServer& server, Ipp& ipp, const std::string& printer,
                         const std::vector<uint8_t>& doc, const std::string& format) {
  const size_t before = FileSize(server.DevicePath(printer));
  Submitted job = ipp.Print(printer, doc, format);
  EXPECT_EQ(job.status, IPP_STATUS_OK) << job.message;
  if (job.status != IPP_STATUS_OK) return job.message;
  EXPECT_EQ(ipp.Wait(printer, {job.job_id})[job.job_id], IPP_JSTATE_ABORTED);
  EXPECT_EQ(FileSize(server.DevicePath(printer)), before) << "bytes reached the printer";
  const JobStatus status = StatusOf(ipp, printer, job.job_id);
  EXPECT_NE(status.reasons.find("document-format-error"), std::string::npos) << status.reasons;
  return status.message;
}

TEST_F(ImageJobs, BrokenImageAbortsWithAMessageAndSendsNothingAndTheNextJobPrints) {
  const std::string dir = server_->dir();
  const std::vector<uint8_t> jpeg = Picture(dir, "jpeg", "picture.jpg");
  const std::vector<uint8_t> png = Picture(dir, "png16m", "picture.png");
  auto text = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
  auto half = [](const std::vector<uint8_t>& v) {
    return std::vector<uint8_t>(v.begin(), v.begin() + static_cast<long>(v.size() / 2));
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> doc;
    const char* format;
    const char* message;  // the start of the job's message
  };
  const Case cases[] = {
      {"garbage JPEG", text("this is not a JPEG image at all"), "image/jpeg",
       "The document was sent as image/jpeg but is not a JPEG image: it is text"},
      {"truncated JPEG", half(jpeg), "image/jpeg",
       "Unable to read the JPEG image: Premature end of JPEG file"},
      {"garbage PNG", text("this is not a PNG image at all"), "image/png",
       "The document was sent as image/png but is not a PNG image: it is text"},
      {"truncated PNG", half(png), "image/png", "Unable to read the PNG image: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string message = RefusedAlone(*server_, *ipp_, "lq", c.doc, c.format);
    EXPECT_EQ(message.rfind(c.message, 0), 0u) << message;
  }
  const Densities next = ImageDensities(dir, PrintAlone(*server_, *ipp_, "lq", jpeg, "image/jpeg"));
  EXPECT_TRUE(next.clean) << next.listing;
  ASSERT_EQ(next.images.count("180dpi"), 1u) << next.listing;
  EXPECT_GT(next.images.at("180dpi"), 10) << next.listing;
}

// A black box on white paper, 300 x 200 pixels at 72 dpi, written as a PNG of the given kind;
// `transparent` leaves the paper transparent black instead of white.
struct PngKind {
  const char* name;
  int color_type, bit_depth, interlace;
  bool transparent;
};
std::vector<uint8_t> BoxPng(const std::string& path, const PngKind& kind) {
  constexpr png_uint_32 kWidth = 300, kHeight = 200;
  const bool palette = kind.color_type == PNG_COLOR_TYPE_PALETTE;
  const int channels = palette                                    ? 1
                       : kind.color_type == PNG_COLOR_TYPE_GRAY       ? 1
                       : kind.color_type == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                       : kind.color_type == PNG_COLOR_TYPE_RGB        ? 3
                                                                      : 4;
  std::vector<std::vector<png_byte>> rows(kHeight);
  for (png_uint_32 y = 0; y < kHeight; ++y) {
    std::vector<png_byte> samples;  // one value per channel, at full scale
    for (png_uint_32 x = 0; x < kWidth; ++x) {
      const bool ink = x >= 50 && x < 150 && y >= 100 && y < 150;
      const unsigned full = (1u << kind.bit_depth) - 1;
      for (int c = 0; c < channels; ++c) {
        const bool alpha = (kind.color_type & PNG_COLOR_MASK_ALPHA) && c == channels - 1;
        unsigned v = palette ? (ink ? 1 : 0)
                     : alpha ? (ink || !kind.transparent ? full : 0)
                             : (ink || kind.transparent ? 0 : full);
        samples.push_back(static_cast<png_byte>(v >> 8));
        samples.push_back(static_cast<png_byte>(v & 0xFF));
      }
    }
    // Pack: 16-bit samples big-endian, 8-bit as they are, fewer bits MSB first.
    std::vector<png_byte>& row = rows[y];
    if (kind.bit_depth == 16) {
      row = samples;
    } else if (kind.bit_depth == 8) {
      for (size_t i = 1; i < samples.size(); i += 2) row.push_back(samples[i]);
    } else {
      row.assign((kWidth * channels * kind.bit_depth + 7) / 8, 0);
      for (size_t i = 0; i < samples.size() / 2; ++i)
        row[i * kind.bit_depth / 8] |= static_cast<png_byte>(
            samples[2 * i + 1] << (8 - kind.bit_depth - (i * kind.bit_depth) % 8));
    }
  }
  FILE* f = fopen(path.c_str(), "wb");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (!f || !png || !info || setjmp(png_jmpbuf(png))) {
    ADD_FAILURE() << "cannot write " << path;
    png_destroy_write_struct(&png, &info);
    if (f) fclose(f);
    return {};
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, kWidth, kHeight, kind.bit_depth, kind.color_type, kind.interlace,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_color colors[2] = {{255, 255, 255}, {0, 0, 0}};
  if (palette) png_set_PLTE(png, info, colors, 2);
  png_set_pHYs(png, info, 2835, 2835, PNG_RESOLUTION_METER);  // 72 dpi
  png_write_info(png, info);
  std::vector<png_bytep> pointers;
  for (auto& row : rows) pointers.push_back(row.data());
  png_write_image(png, pointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  fclose(f);
  return ReadFile(path);
}

TEST_F(ImageJobs, PngOfEveryPixelFormatPrintsAsItsPlainTwin) {
  // Grey kinds print as the plain 8-bit grey box, colour kinds as the plain RGB box: bit
  // depths, palettes, interlacing and transparency (over white paper) are the decoder's work.
  const PngKind grey{"grey 8", PNG_COLOR_TYPE_GRAY, 8, PNG_INTERLACE_NONE, false};
  const PngKind rgb{"RGB 8", PNG_COLOR_TYPE_RGB, 8, PNG_INTERLACE_NONE, false};
  const PngKind kinds[] = {
      {"grey 1", PNG_COLOR_TYPE_GRAY, 1, PNG_INTERLACE_NONE, false},
      {"grey 16", PNG_COLOR_TYPE_GRAY, 16, PNG_INTERLACE_NONE, false},
      {"grey and alpha, transparent paper", PNG_COLOR_TYPE_GRAY_ALPHA, 8, PNG_INTERLACE_NONE,
       true},
      {"grey interlaced", PNG_COLOR_TYPE_GRAY, 8, PNG_INTERLACE_ADAM7, false},
      {"palette 1", PNG_COLOR_TYPE_PALETTE, 1, PNG_INTERLACE_NONE, false},
      {"RGB 16", PNG_COLOR_TYPE_RGB, 16, PNG_INTERLACE_NONE, false},
      {"RGBA, transparent paper", PNG_COLOR_TYPE_RGB_ALPHA, 8, PNG_INTERLACE_NONE, true},
      {"RGB interlaced", PNG_COLOR_TYPE_RGB, 8, PNG_INTERLACE_ADAM7, false},
  };
  const std::string dir = server_->dir();
  const std::vector<uint8_t> grey_box =
      PrintAlone(*server_, *ipp_, "lq", BoxPng(dir + "/grey.png", grey), "image/png");
  const std::vector<uint8_t> rgb_box =
      PrintAlone(*server_, *ipp_, "lq", BoxPng(dir + "/rgb.png", rgb), "image/png");
  const Densities d = ImageDensities(dir, rgb_box);
  EXPECT_TRUE(d.clean) << d.listing;
  EXPECT_EQ(d.images.count("180dpi"), 1u) << d.listing;
  for (const PngKind& kind : kinds) {
    SCOPED_TRACE(kind.name);
    const std::vector<uint8_t> got =
        PrintAlone(*server_, *ipp_, "lq", BoxPng(dir + "/kind.png", kind), "image/png");
    const std::vector<uint8_t>& want = (kind.color_type & PNG_COLOR_MASK_COLOR) ? rgb_box : grey_box;
    EXPECT_TRUE(got == want) << FirstDifference(got, want);
  }
}

using PrinterActions = AppSuite;

TEST_F(PrinterActions, IdentifyRingsTheBellAndSendsNothingElse) {
  struct Case {
    const char* name;
    const char* actions;  // identify-actions; null: none sent (the printer's default, sound)
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"sound", "sound", {0x07, 0x07, 0x07}},
      {"default", nullptr, {0x07, 0x07, 0x07}},
      {"display only", "display", {}},  // a dot-matrix printer has nothing to show it on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t before = FileSize(server_->DevicePath("lq"));
    ipp_t* request = ipp_->NewRequest(IPP_OP_IDENTIFY_PRINTER, "lq");
    if (c.actions)
      ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "identify-actions", nullptr,
                   c.actions);
    ipp_t* response = ipp_->Do("lq", request);
    ASSERT_NE(response, nullptr) << cupsLastErrorString();
    EXPECT_EQ(ippGetStatusCode(response), IPP_STATUS_OK) << cupsLastErrorString();
    ippDelete(response);
    EXPECT_EQ(Tail(server_->DevicePath("lq"), before), c.bytes);
  }
  // The printer prints on afterwards.
  const std::vector<uint8_t> page =
      PwgStream({RenderSheet({"iso_a4_210x297mm", 180, 180, Drawing::kText})});
  EXPECT_GT(PrintAlone(*server_, *ipp_, "lq", page, "image/pwg-raster").size(), 9800u);
}

struct WebPage {
  int status = 0;
  std::string body;
};

// A GET, or a POST of the urlencoded `form`, to the application's web server.
WebPage Web(int port, const std::string& path, const std::string* form = nullptr) {
  WebPage page;
  http_t* http = httpConnect2("localhost", port, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1,
                              30000, nullptr);
  if (!http) return page;
  httpClearFields(http);
  if (form) {
    httpSetField(http, HTTP_FIELD_CONTENT_TYPE, "application/x-www-form-urlencoded");
    httpSetLength(http, form->size());
    if (httpPost(http, path.c_str()) == 0)
      httpWrite2(http, form->data(), form->size());
  } else {
    httpGet(http, path.c_str());
  }
  http_status_t status;
  while ((status = httpUpdate(http)) == HTTP_STATUS_CONTINUE) {
  }
  page.status = status;
  char buffer[8192];
  ssize_t n;
  while ((n = httpRead2(http, buffer, sizeof(buffer))) > 0) page.body.append(buffer, size_t(n));
  httpClose(http);
  return page;
}

// The newest job of the printer named `name`, or 0.
int NewestJob(Ipp& ipp, const std::string& printer, const std::string& name) {
  ipp_t* request = ipp.NewRequest(IPP_OP_GET_JOBS, printer);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
  static const char* const kWanted[] = {"job-id", "job-name"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr,
                kWanted);
  ipp_t* response = ipp.Do(printer, request);
  int newest = 0, id = 0;
  bool named = false;
  // One group of attributes per job, in no set order.
  for (ipp_attribute_t* a = ippFirstAttribute(response);; a = ippNextAttribute(response)) {
    const char* attr = a ? ippGetName(a) : nullptr;
    if (!attr) {
      if (named) newest = std::max(newest, id);
      if (!a) break;
      id = 0, named = false;
    } else if (std::strcmp(attr, "job-id") == 0) {
      id = ippGetInteger(a, 0);
    } else if (std::strcmp(attr, "job-name") == 0) {
      named = name == ippGetString(a, 0, nullptr);
    }
  }
  ippDelete(response);
  return newest;
}

TEST_F(PrinterActions, WebPagePrintTestPagePrintsTheTestPage) {
  const std::string device = server_->DevicePath("lq");
  // The form as the printer's page offers it, with the page's session field; a form without
  // it is refused and prints nothing.
  const WebPage page = Web(server_->port(), "/lq/");
  ASSERT_EQ(page.status, HTTP_STATUS_OK);
  ASSERT_NE(page.body.find("value=\"print-test-page\""), std::string::npos) << page.body;
  const std::string field = "name=\"session\" value=\"";
  const size_t at = page.body.find(field);
  ASSERT_NE(at, std::string::npos) << page.body;
  const size_t start = at + field.size();
  const std::string session = page.body.substr(start, page.body.find('"', start) - start);

  const std::string forged = "action=print-test-page";
  const WebPage refused = Web(server_->port(), "/lq/", &forged);
  EXPECT_NE(refused.body.find("Invalid form submission."), std::string::npos) << refused.body;

  const size_t before = FileSize(device);
  const std::string form = "session=" + session + "&action=print-test-page";
  const WebPage done = Web(server_->port(), "/lq/", &form);
  EXPECT_NE(done.body.find("Test page printed."), std::string::npos) << done.body;
  const int job = NewestJob(*ipp_, "lq", "Test Page");
  ASSERT_GT(job, 0) << "no test page job";
  EXPECT_EQ(ipp_->Wait("lq", {job})[job], IPP_JSTATE_COMPLETED) << server_->JobLog(job);
  const std::vector<uint8_t> bytes = Tail(device, before);

  // One page that decodes cleanly, and the same bytes as the test page sent as a PDF job.
  const std::string path = server_->dir() + "/webtestpage.prn";
  WriteFile(path, bytes);
  auto decoded = scheduler_test::RunCommand(scheduler_test::Command(
      {std::string(KEMB_BIN_DIR) + "/kembview", "--render", server_->dir() + "/web.pbm", path}));
  EXPECT_TRUE(decoded.Ok()) << decoded.output;
  EXPECT_NE(decoded.output.find("web-1.pbm"), std::string::npos) << decoded.output;
  EXPECT_EQ(decoded.output.find("web-2.pbm"), std::string::npos) << decoded.output;
  const std::string pdf = app::TestPagePdf(*app::FindModel("kemb_wmz24"), "lq");
  const std::vector<uint8_t> via_ipp = PrintAlone(
      *server_, *ipp_, "lq", std::vector<uint8_t>(pdf.begin(), pdf.end()), "application/pdf");
  EXPECT_TRUE(bytes == via_ipp) << FirstDifference(bytes, via_ipp);
}

// A sheet in another PWG raster type: the page a client sends, and the sRGB sheet whose
// filter bytes it must print (its grey or black widened to sRGB).
struct TypedSheet {
  SheetPage page;
  SheetPage twin;
};
TypedSheet AsType(const SheetPage& rgb, const char* type) {
  const cups_page_header2_t& s = rgb.header;
  TypedSheet t{{}, rgb};
  cups_page_header2_t& h = t.page.header;
  if (!cupsRasterInitPWGHeader(&h, pwgMediaForPWG(s.cupsPageSizeName), type,
                               static_cast<int>(s.HWResolution[0]),
                               static_cast<int>(s.HWResolution[1]), "one-sided", nullptr))
    throw std::runtime_error(std::string("no PWG header for ") + type);
  t.page.rgb.assign(size_t{h.cupsBytesPerLine} * h.cupsHeight, 0);
  const std::string_view kind = type;
  for (unsigned y = 0; y < s.cupsHeight; ++y) {
    uint8_t* out = t.page.rgb.data() + size_t{y} * h.cupsBytesPerLine;
    for (unsigned x = 0; x < s.cupsWidth; ++x) {
      uint8_t* p = t.twin.rgb.data() + size_t{y} * s.cupsBytesPerLine + 3 * size_t{x};
      uint8_t grey = static_cast<uint8_t>((p[0] * 30 + p[1] * 59 + p[2] * 11 + 50) / 100);
      if (kind == "black_1") {
        const bool ink = grey < 128;
        if (ink) out[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        grey = ink ? 0 : 255;
      } else if (kind == "black_8") {
        out[x] = static_cast<uint8_t>(255 - grey);
      } else if (kind == "sgray_8") {
        out[x] = grey;
      } else if (kind == "sgray_16") {
        out[2 * x] = out[2 * x + 1] = grey;
      } else {
        std::memcpy(out + 3 * size_t{x}, p, 3);
        continue;
      }
      p[0] = p[1] = p[2] = grey;
    }
  }
  return t;
}

constexpr const char* kDriverFormat = "application/vnd.kemb-raster";

struct RasterTypeCase {
  const char* name;
  const char* printer;
  const char* ppd;
  const char* type;
  unsigned xdpi, ydpi;
  Drawing drawing;
  const char* format;   // image/urf: sent as Apple raster
  const char* refusal;  // in the job's message when the page is refused; null: it prints
};

// Refusals between pages that print: each job after a refused one must print whole.
const RasterTypeCase kRasterTypes[] = {
    {"sgray_8 stream", "lq", "kemb24.ppd", "sgray_8", 180, 180, Drawing::kText,
     "image/pwg-raster", nullptr},
    {"black_1 stream refused", "lq", "kemb24.ppd", "black_1", 180, 180, Drawing::kText,
     "image/pwg-raster", "black_1"},
    {"black_8 stream 360x180", "lq", "kemb24.ppd", "black_8", 360, 180, Drawing::kMixed,
     "image/pwg-raster", nullptr},
    {"sgray_8 stream at a resolution the model lacks", "lq", "kemb24.ppd", "sgray_8", 120, 120,
     Drawing::kText, "image/pwg-raster", "120x120"},
    {"srgb_8 Apple raster 240", "alt", "kemb24a.ppd", "srgb_8", 240, 240, Drawing::kPicture,
     "image/urf", nullptr},
    {"sgray_16 stream refused", "lq", "kemb24.ppd", "sgray_16", 180, 180, Drawing::kText,
     "image/pwg-raster", "cannot read"},
    {"black_1 file", "lq", "kemb24.ppd", "black_1", 180, 180, Drawing::kText, kDriverFormat,
     nullptr},
    {"sgray_16 file refused", "lq", "kemb24.ppd", "sgray_16", 180, 180, Drawing::kText,
     kDriverFormat, "sgray_16"},
    {"black_1 file alternate 120", "alt", "kemb24a.ppd", "black_1", 120, 120, Drawing::kPicture,
     kDriverFormat, nullptr},
    {"srgb_8 file at a resolution the model lacks", "lq", "kemb24.ppd", "srgb_8", 240, 240,
     Drawing::kText, kDriverFormat, "240x240"},
    {"black_8 file 360x360", "lq", "kemb24.ppd", "black_8", 360, 360, Drawing::kText,
     kDriverFormat, nullptr},
    {"sgray_8 file alternate 60", "alt", "kemb24a.ppd", "sgray_8", 60, 60, Drawing::kMixed,
     kDriverFormat, nullptr},
    {"srgb_8 file 360x180", "lq", "kemb24.ppd", "srgb_8", 360, 180, Drawing::kMixed,
     kDriverFormat, nullptr},
};

using RasterTypes = AppSuite;

TEST_F(RasterTypes, EveryPagePrintsAsTheFilterPrintsItOrIsRefusedBeforeAByte) {
  for (const RasterTypeCase& c : kRasterTypes) {
    SCOPED_TRACE(c.name);
    const SheetPage rgb = RenderSheet({"iso_a4_210x297mm", c.xdpi, c.ydpi, c.drawing});
    const TypedSheet typed = AsType(rgb, c.type);
    const bool apple = std::string_view(c.format) == "image/urf";
    const std::vector<uint8_t> doc =
        PwgStream({typed.page}, apple ? CUPS_RASTER_WRITE_APPLE : CUPS_RASTER_WRITE_PWG);
    ipp_jstate_t state;
    const size_t before = FileSize(server_->DevicePath(c.printer));
    Submitted job = ipp_->Print(c.printer, doc, c.format);
    ASSERT_EQ(job.status, IPP_STATUS_OK) << job.message;
    state = ipp_->Wait(c.printer, {job.job_id})[job.job_id];
    const std::vector<uint8_t> got = Tail(server_->DevicePath(c.printer), before);
    if (c.refusal) {
      EXPECT_EQ(state, IPP_JSTATE_ABORTED);
      EXPECT_TRUE(got.empty()) << got.size() << " bytes reached the printer";
      const JobStatus status = StatusOf(*ipp_, c.printer, job.job_id);
      EXPECT_NE(status.message.find(c.refusal), std::string::npos) << status.message;
      continue;
    }
    EXPECT_EQ(state, IPP_JSTATE_COMPLETED) << server_->Log();
    const std::vector<uint8_t> want =
        FilterBytes({{c.ppd, "A4", typed.twin}}, FilterOptionFor(""));
    EXPECT_TRUE(got == want) << FirstDifference(got, want);
  }
}


// A job's bytes with its pages printed `copies` times in order: the printer's wake-up at the
// job's start and its reset at the end once, everything between them repeated.
std::vector<uint8_t> Collated(const std::vector<uint8_t>& single, int copies) {
  MemorySink reset;
  LqCommands().EndJob(reset);
  const size_t head = kWakeUpNulCount, tail = reset.bytes.size();
  if (single.size() <= head + tail ||
      !std::equal(reset.bytes.begin(), reset.bytes.end(), single.end() - static_cast<long>(tail)))
    return {};
  const auto body_begin = single.begin() + static_cast<long>(head);
  const auto body_end = single.end() - static_cast<long>(tail);
  std::vector<uint8_t> out(single.begin(), body_begin);
  for (int i = 0; i < copies; ++i) out.insert(out.end(), body_begin, body_end);
  out.insert(out.end(), body_end, single.end());
  return out;
}

using Copies = AppSuite;

TEST_F(Copies, EveryFormatPrintsItsPagesCopiesTimesCollatedAndCountsThem) {
  const std::string dir = server_->dir();
  const SheetPage text = RenderSheet({"iso_a4_210x297mm", 180, 180, Drawing::kText});
  const SheetPage mixed = RenderSheet({"iso_a4_210x297mm", 180, 180, Drawing::kMixed});
  struct Case {
    const char* name;
    std::vector<uint8_t> doc;
    const char* format;
    int pages;
  };
  const Case cases[] = {
      {"PDF one page", RampPdf(dir, 1), "application/pdf", 1},
      {"PDF two pages", RampPdf(dir, 2), "application/pdf", 2},
      {"JPEG", Picture(dir, "jpeg", "picture.jpg"), "image/jpeg", 1},
      {"PWG raster one page", PwgStream({text}), "image/pwg-raster", 1},
      {"PWG raster two pages", PwgStream({text, mixed}), "image/pwg-raster", 2},
      {"driver format two pages", PwgStream({mixed, text}), "application/vnd.kemb-raster", 2},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> single;
    for (int copies = 1; copies <= 3; ++copies) {
      SCOPED_TRACE(std::string(c.name) + " x" + std::to_string(copies));
      JobAttributes attrs;
      attrs.copies = copies;
      const size_t before = FileSize(server_->DevicePath("lq"));
      Submitted job = ipp_->Print("lq", c.doc, c.format, attrs);
      ASSERT_EQ(job.status, IPP_STATUS_OK) << job.message;
      EXPECT_EQ(ipp_->Wait("lq", {job.job_id})[job.job_id], IPP_JSTATE_COMPLETED)
          << server_->JobLog(job.job_id);
      const std::vector<uint8_t> got = Tail(server_->DevicePath("lq"), before);
      EXPECT_EQ(StatusOf(*ipp_, "lq", job.job_id).impressions_completed, c.pages * copies);
      if (copies == 1) {
        single = got;
        continue;
      }
      const std::vector<uint8_t> want = Collated(single, copies);
      ASSERT_FALSE(want.empty()) << "the single copy is no whole job";
      EXPECT_TRUE(got == want) << FirstDifference(got, want);
    }
  }
}

// `submit -n N` and `submit -o copies=N` print N collated copies of every format, as IPP
// `copies` does: the sheets as the decoder reads them from the device, and the count of
// impressions; a count that is no number is refused before anything is sent.
TEST_F(Copies, SubmitCopiesPrintEveryFormatThatManyTimes) {
  const std::string dir = server_->dir();
  WriteFile(dir + "/two.pdf", RampPdf(dir, 2));
  WriteFile(dir + "/two.pwg",
            PwgStream({RenderSheet({"iso_a4_210x297mm", 180, 180, Drawing::kText}),
                       RenderSheet({"iso_a4_210x297mm", 180, 180, Drawing::kMixed})}));
  Picture(dir, "jpeg", "one.jpg");
  struct Case {
    const char* file;
    int pages;
  };
  const Case files[] = {{"two.pdf", 2}, {"one.jpg", 1}, {"two.pwg", 2}};
  struct Choice {
    std::vector<std::string> options;
    int copies;
  };
  const Choice choices[] = {{{"-n", "3"}, 3}, {{"-n2"}, 2}, {{"-o", "copies=2"}, 2}};
  const std::string device = server_->DevicePath("lq");
  for (const Case& f : files) {
    for (const Choice& choice : choices) {
      SCOPED_TRACE(std::string(f.file) + " " + choice.options[0]);
      const size_t before = FileSize(device);
      std::vector<std::string> args{"submit", "-d", "lq"};
      args.insert(args.end(), choice.options.begin(), choice.options.end());
      args.push_back(dir + "/" + f.file);
      const auto submitted = server_->Run(args);
      ASSERT_TRUE(submitted.Ok()) << submitted.output;
      // It names the job as PRINTER-ID.
      const size_t dash = submitted.output.rfind("lq-");
      ASSERT_NE(dash, std::string::npos) << submitted.output;
      const int id = std::atoi(submitted.output.c_str() + dash + 3);
      EXPECT_EQ(ipp_->Wait("lq", {id})[id], IPP_JSTATE_COMPLETED) << server_->JobLog(id);
      EXPECT_EQ(Sheets(dir, Tail(device, before)), f.pages * choice.copies);
      EXPECT_EQ(StatusOf(*ipp_, "lq", id).impressions_completed, f.pages * choice.copies);
    }
  }
  const size_t before = FileSize(device);
  for (const char* wrong : {"0", "two", "-1"}) {
    const auto refused = server_->Run({"submit", "-d", "lq", "-n", wrong, dir + "/one.jpg"});
    EXPECT_EQ(refused.status, 1) << refused.output;
    EXPECT_NE(refused.output.find("number of copies"), std::string::npos) << refused.output;
  }
  EXPECT_EQ(FileSize(device), before);
}

using Formats = AppSuite;

// The JPEG without its JFIF (APP0) segment, as some cameras and scanners write it.
std::vector<uint8_t> WithoutJfif(const std::vector<uint8_t>& jpeg) {
  if (jpeg.size() < 6 || jpeg[2] != 0xff || jpeg[3] != 0xe0) return {};
  const size_t length = static_cast<size_t>(jpeg[4]) << 8 | jpeg[5];
  std::vector<uint8_t> bare(jpeg.begin(), jpeg.begin() + 2);
  bare.insert(bare.end(), jpeg.begin() + 4 + static_cast<long>(length), jpeg.end());
  return bare;
}

TEST_F(Formats, DocumentsWithoutTheirFormatPrintAsWithItAndContradictionsAreRefusedByName) {
  const std::string dir = server_->dir();
  const std::vector<uint8_t> jpeg = Picture(dir, "jpeg", "picture.jpg");
  const std::vector<uint8_t> bare_jpeg = WithoutJfif(jpeg);
  ASSERT_FALSE(bare_jpeg.empty()) << "Ghostscript's JPEG has no JFIF segment to take out";
  const std::vector<uint8_t> png = Picture(dir, "png16m", "picture.png");
  const std::vector<uint8_t> pdf = SamplePdf();
  Sheet sheet;
  sheet.drawing = Drawing::kMixed;
  const std::vector<uint8_t> pwg = PwgStream({RenderSheet(sheet)});

  struct Typed {
    const char* name;
    const std::vector<uint8_t>* doc;
    const char* format;  // the document's own
  };
  const Typed typed[] = {{"JPEG", &jpeg, "image/jpeg"},
                         {"JPEG without JFIF", &bare_jpeg, "image/jpeg"},
                         {"PNG", &png, "image/png"},
                         {"PDF", &pdf, "application/pdf"},
                         {"PWG raster", &pwg, "image/pwg-raster"}};
  for (const Typed& t : typed) {
    SCOPED_TRACE(t.name);
    const std::vector<uint8_t> with = PrintAlone(*server_, *ipp_, "lq", *t.doc, t.format);
    ASSERT_FALSE(with.empty());
    EXPECT_EQ(PrintAlone(*server_, *ipp_, "lq", *t.doc, "application/octet-stream"), with);
  }

  auto text = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
  struct Wrong {
    const char* name;
    std::vector<uint8_t> doc;
    const char* format;
    const char* message;
  };
  const Wrong wrong[] = {
      {"text as PDF", text("Dear printer,\nthis is a letter.\n"), "application/pdf",
       "The document was sent as application/pdf but is not a PDF: it is text"},
      {"JPEG as PDF", jpeg, "application/pdf",
       "The document was sent as application/pdf but is not a PDF: it is a JPEG image"},
      {"PNG as JPEG", png, "image/jpeg",
       "The document was sent as image/jpeg but is not a JPEG image: it is a PNG image"},
      {"PDF as PNG", pdf, "image/png",
       "The document was sent as image/png but is not a PNG image: it is a PDF"},
      {"binary as PDF", {0x00, 0x01, 0xfe, 0xff, 0x10}, "application/pdf",
       "The document was sent as application/pdf but is not a PDF: it starts with the bytes 00 "
       "01 FE FF"},
  };
  for (const Wrong& w : wrong) {
    SCOPED_TRACE(w.name);
    EXPECT_EQ(RefusedAlone(*server_, *ipp_, "lq", w.doc, w.format), w.message);
  }
  EXPECT_FALSE(PrintAlone(*server_, *ipp_, "lq", pdf, "application/pdf").empty());
}

using NoDnsSd = AppSuite;

bool AvahiRuns() { return access("/run/avahi-daemon/socket", F_OK) == 0; }

// The same-server paths a page links to ("/x", "http://localhost:PORT/x"), without fragments.
std::vector<std::string> Links(const std::string& body, int port) {
  std::vector<std::string> links;
  const std::string self = "http://localhost:" + std::to_string(port);
  for (size_t at = body.find("href=\""); at != std::string::npos;
       at = body.find("href=\"", at + 1)) {
    const size_t start = at + 6;
    std::string link = body.substr(start, body.find('"', start) - start);
    if (link.rfind(self, 0) == 0) link = link.substr(self.size());
    link = link.substr(0, link.find('#'));
    if (!link.empty() && link[0] == '/') links.push_back(link);
  }
  return links;
}

struct Seed {
  const char* path;
  const char* text;  // shown on the page without avahi-daemon, or ""
};
// The pages PAPPL offers this application, and those it does not (a 404 is an answer too).
constexpr Seed kSeeds[] = {
    {"/", "lq"},
    {"/addprinter", "avahi-daemon is not running"},
    {"/config", ""},
    {"/logs", ""},
    {"/logfile.txt", ""},
    {"/security", ""},
    {"/network", ""},
    {"/lq/", "KEMB WMZ-24"},
    {"/lq/config", ""},
    {"/lq/delete", ""},
    {"/lq/jobs", ""},
    {"/lq/media", ""},
    {"/lq/printing", ""},
    {"/lq/supplies", ""},
    {"/wide/", "WMZ-24W"},
};

TEST_F(NoDnsSd, EveryPageAndDeviceSubCommandAnswersAndTheServerLives) {
  std::vector<std::string> queue;
  for (const Seed& s : kSeeds) queue.push_back(s.path);
  std::set<std::string> seen;
  for (size_t i = 0; i < queue.size(); ++i) {
    const std::string path = queue[i];
    if (!seen.insert(path).second) continue;
    const WebPage page = Web(server_->port(), path);
    // PAPPL sends its status line before the page's body: a server that dies on the way
    // still shows 200, so the body must be whole too.
    EXPECT_TRUE(page.status >= 200 && page.status < 500) << path << ": " << page.status;
    ASSERT_TRUE(server_->Running()) << path << " killed the server:\n" << server_->Log();
    if (page.status == HTTP_STATUS_OK && page.body.find("<html") != std::string::npos) {
      EXPECT_NE(page.body.find("</html>"), std::string::npos) << path << ": " << page.body;
    }
    for (const Seed& s : kSeeds) {
      if (path == s.path && *s.text && !AvahiRuns()) {
        EXPECT_NE(page.body.find(s.text), std::string::npos) << path << ": " << page.body;
      }
    }
    for (std::string& link : Links(page.body, server_->port())) queue.push_back(link);
  }
  EXPECT_GT(seen.size(), std::size(kSeeds)) << "the pages link to nothing new";

  struct SubCommand {
    std::vector<std::string> args;
    bool refused_without_avahi;
    const char* text;  // in the output without avahi-daemon, or ""
  };
  // A dnssd:// printer would abort the server at its first job.
  const SubCommand kSubCommands[] = {
      {{"devices"}, false, "avahi-daemon is not running"},
      {{"autoadd"}, false, ""},
      {{"drivers"}, false, "kemb_wmz24"},
      {{"add", "-d", "bonjour", "-m", "kemb_wmz24", "-v",
        "dnssd://Office._pdl-datastream._tcp.local/"},
       true, "cannot be resolved"},
  };
  for (const SubCommand& c : kSubCommands) {
    const auto r = server_->Run(c.args);
    EXPECT_EQ(r.Ok(), AvahiRuns() || !c.refused_without_avahi) << c.args[0] << ": " << r.output;
    if (*c.text && !AvahiRuns()) {
      EXPECT_NE(r.output.find(c.text), std::string::npos) << r.output;
    }
    ASSERT_TRUE(server_->Running()) << c.args[0] << " killed the server:\n" << server_->Log();
  }
}

std::string FormEncoded(const std::vector<std::pair<std::string, std::string>>& fields) {
  std::string out;
  for (const auto& [name, value] : fields) {
    if (!out.empty()) out += '&';
    out += name + '=';
    for (unsigned char c : value) {
      if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
        out += static_cast<char>(c);
      } else {
        char hex[4];
        std::snprintf(hex, sizeof(hex), "%%%02X", c);
        out += hex;
      }
    }
  }
  return out;
}

bool PrinterExists(Ipp& ipp, const std::string& name) {
  ipp_t* response = ipp.Do(name, ipp.NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, name));
  const bool found = response && ippGetStatusCode(response) == IPP_STATUS_OK;
  ippDelete(response);
  return found;
}

TEST_F(NoDnsSd, AddPrinterPageAddsAPrinterFromATypedUriAndRefusesWhatItCannotAdd) {
  if (AvahiRuns()) GTEST_SKIP() << "avahi-daemon runs: the Add Printer page is PAPPL's own";
  const WebPage page = Web(server_->port(), "/addprinter");
  ASSERT_EQ(page.status, HTTP_STATUS_OK);
  const std::string field = "name=\"session\" value=\"";
  const size_t at = page.body.find(field);
  ASSERT_NE(at, std::string::npos) << page.body;
  const size_t start = at + field.size();
  const std::string session = page.body.substr(start, page.body.find('"', start) - start);

  struct Case {
    const char* name;
    std::string uri;
    const char* driver;
    bool with_session;
    const char* refusal;  // the page's message, or "" when the printer is added
  };
  const std::string file = "file://" + server_->DevicePath("viaweb");
  std::ofstream(server_->DevicePath("viaweb")).flush();  // a file device must exist
  const Case kCases[] = {
      {"forged", file, "kemb_wmz24", false, "not sent from this page"},
      {"lq", file, "kemb_wmz24", true, "already exists"},
      {"noname", "", "kemb_wmz24", true, "pick a device or type its URI"},
      {"bonjour", "dnssd://Office._pdl-datastream._tcp.local/", "kemb_wmz24", true,
       "names a DNS-SD service"},
      {"strange", "nosuch://host/", "kemb_wmz24", true, "not supported"},
      {"guess", "socket://127.0.0.1:9", "auto", true, "No driver matches"},
      {"viaweb", file, "kemb_wmz24o", true, ""},
  };
  for (const Case& c : kCases) {
    std::vector<std::pair<std::string, std::string>> fields{
        {"printer_name", c.name}, {"device_uri", "typed"}, {"typed_uri", c.uri},
        {"driver_name", c.driver}};
    if (c.with_session) fields.insert(fields.begin(), {"session", session});
    const std::string form = FormEncoded(fields);
    const WebPage answer = Web(server_->port(), "/addprinter", &form);
    ASSERT_TRUE(server_->Running()) << c.name << " killed the server:\n" << server_->Log();
    if (*c.refusal) {
      EXPECT_EQ(answer.status, HTTP_STATUS_OK) << c.name;
      EXPECT_NE(answer.body.find(c.refusal), std::string::npos) << c.name << ": " << answer.body;
      if (std::string(c.name) != "lq") {
        EXPECT_FALSE(PrinterExists(*ipp_, c.name)) << c.name;
      }
    } else {
      EXPECT_EQ(answer.status, HTTP_STATUS_FOUND) << c.name << ": " << answer.body;
      ASSERT_TRUE(PrinterExists(*ipp_, c.name)) << c.name << ": " << answer.body;
    }
  }
  // The new printer is the model chosen and prints on its device.
  const std::vector<uint8_t> page_bytes = PrintAlone(
      *server_, *ipp_, "viaweb",
      PwgStream({RenderSheet({"iso_a4_210x297mm", 180, 180, Drawing::kText})}),
      "image/pwg-raster");
  EXPECT_GT(page_bytes.size(), 9800u);
  ipp_t* response =
      ipp_->Do("viaweb", ipp_->NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, "viaweb"));
  ipp_attribute_t* model = ippFindAttribute(response, "printer-make-and-model", IPP_TAG_TEXT);
  EXPECT_STREQ(model ? ippGetString(model, 0, nullptr) : "", "KEMB OKIDATA WMZ-24");
  ippDelete(response);
}

TEST(Devices, ListingAnswersWithoutAborting) {
  auto r = scheduler_test::RunCommand(
      scheduler_test::Command({std::string(KEMB_BIN_DIR) + "/kemb-printer-app", "devices"}));
  EXPECT_TRUE(r.Ok()) << r.output;
  if (access("/run/avahi-daemon/socket", F_OK) != 0) {
    EXPECT_NE(r.output.find("avahi-daemon is not running"), std::string::npos) << r.output;
  }
}

}  // namespace
}  // namespace kemb::app_test
