// SPDX-License-Identifier: Apache-2.0
// End to end under the real scheduler: a private cupsd prints a two-page PDF to a file device
// through pdftopdf, gstoraster, rastertokemb and kemb_ID, once per queue of the table
// (print_session.h); the tests judge what it left behind.
//   JobCompletesWithOnlyTheFilterProgressLines   job state, error_log, PAGE lines
//   LeavesNoSpoolFilesInTmp                      kemb<job>* gone from /tmp and TempDir
//   FramesTwoPagesForTheChosenPaper              NULs, set-up bytes per page, form feeds, job end
//   TextPageDotsMatchGhostscript                 page 1 dots against Ghostscript's pixels
//   PicturePageGoesThroughTheHalftoner           page 2 via kemb_ID, its tone and its place
//   PhotoChoiceSendsTheTextPageToTheHalftoner    -o print-content-optimize=photo reaches the
//                                                filter, which halftones page 1
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include <cups/ipp.h>
#include <gtest/gtest.h>

#include "scheduler/dot_compare.h"
#include "scheduler/job_log.h"
#include "scheduler/print_session.h"
#include "stream_decoder.h"

namespace kemb::scheduler_test {
namespace {

// Page length in lines as the printer is told it: 6 lines per inch, rounded half up.
int PageLines(double length_points) {
  return static_cast<int>(length_points / 12.0 + 0.5);
}

// A queue's set-up bytes, the page length put in: "nn" the lines, "tt" and "uu" their tens and
// units.
std::vector<uint8_t> ExpectedSetUp(const QueueCase& c, int lines) {
  std::vector<uint8_t> bytes;
  std::istringstream tokens(c.set_up);
  for (std::string token; tokens >> token;) {
    bytes.push_back(token == "nn"   ? uint8_t(lines)
                    : token == "tt" ? uint8_t(lines / 10)
                    : token == "uu" ? uint8_t(lines % 10)
                                    : uint8_t(std::stoul(token, nullptr, 16)));
  }
  return bytes;
}

std::string Hex(std::span<const uint8_t> bytes) {
  std::string text;
  char two[4];
  for (uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02X ", b);
    text += two;
  }
  return text;
}

class SchedulerTest : public ::testing::TestWithParam<int> {
 public:
  static void SetUpTestSuite() {
    session_ = new Session;
    try {
      RunSession(*session_);
    } catch (const std::exception& e) {
      session_->error = e.what();
      std::fprintf(stderr, "The scheduler session failed: %s\n", e.what());
    }
    std::fprintf(stderr, "Printer files and error_log of this run: %s\n", KEMB_SCHEDULER_ARTIFACTS);
  }
  static void TearDownTestSuite() {
    delete session_;
    session_ = nullptr;
  }

 protected:
  void SetUp() override {
    const std::string& error = session_->error;
    ASSERT_TRUE(error.empty()) << "the scheduler session failed (details above): "
                               << error.substr(0, error.find('\n'));
    ASSERT_EQ(session_->jobs.size(), std::size(kQueues));
  }
  const QueueCase& Case() const { return kQueues[GetParam()]; }
  const JobResult& Job() const { return session_->jobs[size_t(GetParam())]; }
  const std::vector<RgbImage>& Reference() const { return session_->references[GetParam()]; }

  kembview::Rendering Render() const {
    kembview::RenderOptions options;
    options.alternate_xdpi = Case().xdpi;
    options.alternate_ydpi = Case().ydpi;
    return kembview::Render(Job().stream, options);
  }

  static Session* session_;
};

Session* SchedulerTest::session_ = nullptr;

TEST_P(SchedulerTest, JobCompletesWithOnlyTheFilterProgressLines) {
  const JobResult& job = Job();
  SCOPED_TRACE(std::string(Case().queue) + " job " + std::to_string(job.id));
  EXPECT_EQ(job.state, IPP_JSTATE_COMPLETED) << "5 processing, 6 stopped, 7 canceled, 8 aborted";
  EXPECT_FALSE(job.log.empty()) << "no line of the job in error_log";
  for (const std::string& line : JobProblems(job.log, job.id)) ADD_FAILURE() << line;
  EXPECT_EQ(CupsPageNumbers(job.log), (std::vector<int>{1, 2})) << "PAGE lines for CUPS";
  // The status CUPS shows for the printer and the job: the last page, then "Ready".
  std::vector<std::string> status;
  for (const JobLine& line : job.log)
    if (line.message.starts_with("Printed page ") || line.message == "Ready")
      status.push_back(line.message);
  EXPECT_EQ(status, (std::vector<std::string>{"Printed page 1", "Printed page 2", "Ready"}));
  EXPECT_TRUE(session_->stop_problem.empty()) << session_->stop_problem;
}

TEST_P(SchedulerTest, LeavesNoSpoolFilesInTmp) {
  for (const std::string& path : Job().leftovers) {
    ADD_FAILURE() << Case().queue << " job " << Job().id << " left " << path;
  }
}

TEST_P(SchedulerTest, FramesTwoPagesForTheChosenPaper) {
  const QueueCase& c = Case();
  const std::vector<uint8_t>& stream = Job().stream;
  const PaperGeometry paper = PaperFromPpd(c);
  SCOPED_TRACE(std::string(c.queue) + ", " + c.page_size + " " +
               std::to_string(std::lround(paper.length)) + " pt long");

  std::vector<size_t> form_feeds;
  for (const kembview::Command& command : kembview::ListCommands(stream)) {
    EXPECT_FALSE(command.unknown) << "at offset " << command.offset << ": " << command.name;
    if (command.name == "FF") form_feeds.push_back(command.offset);
  }
  ASSERT_EQ(form_feeds.size(), 2u);

  constexpr size_t kNuls = 9800;
  ASSERT_GT(stream.size(), kNuls);
  const auto nul_end = std::find_if(stream.begin(), stream.end(), [](uint8_t b) { return b; });
  EXPECT_EQ(size_t(nul_end - stream.begin()), kNuls) << "NUL bytes before the first page";

  const std::vector<uint8_t> set_up = ExpectedSetUp(c, PageLines(paper.length));
  const size_t page_starts[] = {kNuls, form_feeds[0] + 1};
  for (size_t page = 0; page < 2; ++page) {
    const size_t at = page_starts[page];
    ASSERT_LE(at + set_up.size(), stream.size());
    const std::span<const uint8_t> got(stream.data() + at, set_up.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), set_up.begin()))
        << "page " << page + 1 << " at offset " << at << ": got " << Hex(got) << "\nwanted "
        << Hex(set_up);
  }

  // Job end: a reset in the LQ set, nothing in the alternate set.
  const std::vector<uint8_t> tail(stream.begin() + std::ptrdiff_t(form_feeds[1]) + 1, stream.end());
  EXPECT_EQ(Hex(tail), c.lq ? "1B 40 " : "") << "after the last form feed";
}

TEST_P(SchedulerTest, TextPageDotsMatchGhostscript) {
  const QueueCase& c = Case();
  ASSERT_GE(Reference().size(), 1u);
  const kembview::Rendering rendering = Render();
  for (const std::string& problem : rendering.problems) ADD_FAILURE() << problem;
  ASSERT_EQ(rendering.pages.size(), 2u);
  const kembview::Page& page = rendering.pages[0];
  ASSERT_EQ(page.xdpi, c.xdpi);
  ASSERT_EQ(page.ydpi, c.ydpi);

  const PaperGeometry paper = PaperFromPpd(c);
  const auto dots_x = [&](double points) { return int(std::lround(points * c.xdpi / 72)); };
  const auto dots_y = [&](double points) { return int(std::lround(points * c.ydpi / 72)); };
  const Rect printable{dots_x(paper.left), dots_y(paper.top), dots_x(paper.right),
                       dots_y(paper.bottom)};
  const TextMatch match =
      MatchText(page, Reference()[0], printable, printable.left, printable.top, 6);
  SCOPED_TRACE(std::string(c.queue) + " page 1, printable area from (" +
               std::to_string(printable.left) + ", " + std::to_string(printable.top) +
               "): " + match.Describe());
  EXPECT_GT(match.reference, 5000u) << "the reference shows no text";
  EXPECT_GE(match.Precision(), c.exact_text_share);
  EXPECT_GE(match.Recall(), c.exact_text_share);
  EXPECT_GE(match.PrecisionNear(), 0.99);
  EXPECT_GE(match.RecallNear(), 0.99);
}

TEST_P(SchedulerTest, PicturePageGoesThroughTheHalftoner) {
  const QueueCase& c = Case();
  const JobResult& job = Job();
  const std::vector<PageReport> reports = PageReports(job.log, job.id);
  ASSERT_EQ(reports.size(), 2u) << c.queue << ": page lines in the job log";
  EXPECT_GE(std::stod(reports[0].ratio.empty() ? "-1" : reports[0].ratio), 0.3)
      << c.queue << " page 1 ratio " << reports[0].ratio;
  EXPECT_TRUE(reports[0].printed_from_spool) << c.queue << " page 1 not read from its spool";
  EXPECT_LT(std::stod(reports[1].ratio.empty() ? "1" : reports[1].ratio), 0.3)
      << c.queue << " page 2 ratio " << reports[1].ratio;
  EXPECT_TRUE(reports[1].printed_from_halftone) << c.queue << " page 2 not read from kemb_ID";

  ASSERT_GE(Reference().size(), 2u);
  const kembview::Rendering rendering = Render();
  ASSERT_EQ(rendering.pages.size(), 2u);
  const PaperGeometry paper = PaperFromPpd(c);
  const int x0 = int(std::lround(paper.left * c.xdpi / 72));
  const int y0 = int(std::lround(paper.top * c.ydpi / 72));
  const ToneMatch tone =
      MatchTone(rendering.pages[1], Reference()[1], x0, y0, c.xdpi / 15, c.xdpi / 60);
  SCOPED_TRACE(std::string(c.queue) + " page 2: " + tone.Describe());
  EXPECT_GT(tone.blocks, 100u);
  EXPECT_GE(tone.correlation, 0.9);
  EXPECT_GT(tone.coverage, 0.1);
  EXPECT_LT(tone.coverage, 0.9);
  EXPECT_EQ(tone.dots_outside, 0u);
}

TEST_P(SchedulerTest, PhotoChoiceSendsTheTextPageToTheHalftoner) {
  ASSERT_EQ(session_->photo_jobs.size(), std::size(kQueues));
  const JobResult& job = session_->photo_jobs[size_t(GetParam())];
  SCOPED_TRACE(std::string(Case().queue) + " photo job " + std::to_string(job.id));
  EXPECT_EQ(job.state, IPP_JSTATE_COMPLETED) << "5 processing, 6 stopped, 7 canceled, 8 aborted";
  for (const std::string& line : JobProblems(job.log, job.id)) ADD_FAILURE() << line;
  EXPECT_TRUE(job.leftovers.empty());

  const auto has = [&](const std::string& text) {
    return std::any_of(job.log.begin(), job.log.end(), [&](const JobLine& line) {
      return line.message.find(text) != std::string::npos;
    });
  };
  EXPECT_TRUE(has("print-content-optimize=photo")) << "the option never reached a filter";
  EXPECT_TRUE(has("Page 1: print-content-optimize=photo: halftoner mode 2"))
      << "no path line of the filter";
  const std::vector<PageReport> reports = PageReports(job.log, job.id);
  ASSERT_EQ(reports.size(), 1u) << "page lines in the job log";
  // Left to the automatic rule this page is text.
  EXPECT_GE(std::stod(reports[0].ratio.empty() ? "-1" : reports[0].ratio), 0.3);
  EXPECT_TRUE(reports[0].printed_from_halftone) << "page 1 not read from kemb_ID";

  kembview::RenderOptions options;
  options.alternate_xdpi = Case().xdpi;
  options.alternate_ydpi = Case().ydpi;
  const kembview::Rendering rendering = kembview::Render(job.stream, options);
  ASSERT_EQ(rendering.pages.size(), 1u);
  EXPECT_GT(rendering.pages[0].CountDots(), 5000u);
}

INSTANTIATE_TEST_SUITE_P(Queues, SchedulerTest, ::testing::Range(0, int(std::size(kQueues))),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(kQueues[info.param].queue);
                         });

}  // namespace
}  // namespace kemb::scheduler_test
