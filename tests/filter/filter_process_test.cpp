// SPDX-License-Identifier: Apache-2.0
// The built filter driven as CUPS drives it: command line, $PPD, raster on standard input or
// as a file; standard output compared byte for byte, standard error line for line.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "support/job_files.h"
#include "support/raster_writer.h"
#include "support/run_filter.h"

namespace kemb::testing {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Nuls() { return Bytes(9800, 0x00); }
Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

class FilterProcess : public ::testing::Test {
 protected:
  std::string Ppd(const std::string& product = "(KEMB-WMZ)", const std::string& maker = "KEMB",
                  const std::string& nickname = "KEMB LQ-24") {
    return WritePpd(dir_.File("printer.ppd"), product, maker, nickname);
  }
  FilterRun Run(const Bytes& raster, const std::string& ppd, const std::string& job = UniqueJobId()) {
    FilterCall call;
    call.args = FilterArgs(job);
    call.ppd = ppd;
    call.input = {{raster}};
    return RunProgram(call);
  }
  TempDir dir_;
};

TEST_F(FilterProcess, WrongArgumentCountsSayNothing) {
  for (size_t count : {3u, 4u, 7u}) {  // argc 4, 5 and 8
    FilterCall call;
    call.args = {"1", "u", "t", "1", "", "f", "g"};
    call.args.resize(count);
    call.ppd = Ppd();
    FilterRun run = RunProgram(call);
    EXPECT_EQ(run.status, 1) << "argc " << count + 1;
    EXPECT_TRUE(run.out.empty()) << "argc " << count + 1;
    EXPECT_EQ(run.log, "") << "argc " << count + 1;
  }
}

TEST_F(FilterProcess, UnreadableInputFileSaysNothing) {
  FilterCall call;
  call.args = FilterArgs(UniqueJobId(), dir_.File("missing.ras"));
  call.ppd = Ppd();
  FilterRun run = RunProgram(call);
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.out.empty());
  EXPECT_EQ(run.log, "");
}

TEST_F(FilterProcess, MissingPpdIsReportedWithItsParseError) {
  for (const char* path : {"", "/nonexistent/printer.ppd"}) {
    FilterCall call;
    call.args = FilterArgs(UniqueJobId());
    if (*path) call.ppd = path;
    call.env = {"LANG=C", "LC_ALL=C"};
    FilterRun run = RunProgram(call);
    EXPECT_EQ(run.status, 1) << path;
    EXPECT_TRUE(run.out.empty()) << path;
    ASSERT_EQ(run.LogLines().size(), 2u) << run.log;
    EXPECT_EQ(run.LogLines()[0], "ERROR: The PPD file could not be opened.") << path;
    EXPECT_EQ(run.LogLines()[1].rfind("DEBUG: ", 0), 0u) << path;
    EXPECT_NE(run.LogLines()[1].find(" on line 0."), std::string::npos) << run.LogLines()[1];
  }
}

TEST_F(FilterProcess, OnlyTheMakersPpdsAreAccepted) {
  struct Case {
    const char* product;
    const char* manufacturer;
    const char* error;  // nullptr: accepted
  };
  const Case cases[] = {
      {"(KEMB-WMZ)", "KEMB", nullptr},
      {"[KEMB-WMZ]", "KEMB", nullptr},
      {"(KEMB-WMZX)", "KEMB", "ERROR: Brand Error"},
      {"(KEMB-WM)", "KEMB", "ERROR: Brand Error"},
      {"(KEMB-XMZ)", "KEMB", "ERROR: Brand Error"},
      {"(KEMB-WMZ)", "KEMB ", "ERROR: Manufac Error"},
      {"(KEMB-WMZ)", "Kemb", "ERROR: Manufac Error"},
  };
  const Bytes empty_stream = RasterBytes({});
  for (const Case& c : cases) {
    FilterRun run = Run(empty_stream, Ppd(c.product, c.manufacturer));
    EXPECT_EQ(run.status, 1) << c.product << " / " << c.manufacturer;
    if (c.error) {
      // Refused after the wake-up NULs have gone out.
      EXPECT_EQ(run.out, Nuls()) << c.product << " / " << c.manufacturer;
      EXPECT_EQ(run.log, std::string(c.error) + "\n") << c.product << " / " << c.manufacturer;
    } else {
      // Accepted: an empty stream gives the NULs and the closing reset.
      EXPECT_EQ(run.out, Concat({Nuls(), {0x1B, 0x40}})) << c.product;
      EXPECT_EQ(run.log, "ERROR: The job held no pages\n") << c.product;
    }
  }
}

TEST_F(FilterProcess, BadJobIdsAreRefusedBeforeAnyOutput) {
  const char* ids[] = {"", "1;touch x", "$(touch x)", "../x", "12345678901", "-1", "1 2", "0x1"};
  for (const char* id : ids) {
    FilterRun run = Run(RasterBytes({}), Ppd(), id);
    EXPECT_EQ(run.status, 1) << "job ID '" << id << "'";
    EXPECT_TRUE(run.out.empty()) << "job ID '" << id << "'";
    EXPECT_EQ(run.log, "ERROR: Invalid job ID\n") << "job ID '" << id << "'";
  }
  FilterRun longest = Run(RasterBytes({}), Ppd(), "1234567890");
  EXPECT_EQ(longest.status, 1);  // valid ID, empty stream
  EXPECT_EQ(longest.out, Concat({Nuls(), {0x1B, 0x40}}));
}

TEST_F(FilterProcess, InputFileArgumentIsRead) {
  RasterPage page(PageHeader(16, 8));
  WriteFile(dir_.File("job.ras"), RasterBytes({page}));
  FilterCall call;
  call.args = FilterArgs(UniqueJobId(), dir_.File("job.ras"));
  call.ppd = Ppd();
  FilterRun run = RunProgram(call);
  EXPECT_EQ(run.status, 0) << run.log;
  EXPECT_EQ(run.out.back(), 0x40);
}

TEST_F(FilterProcess, PageLineReportsTheStreamsRowCount) {
  cups_page_header2_t header = PageHeader(40, 10, 180, 180, "LQ", 842);
  header.cupsRowCount = 17;
  header.NumCopies = 3;
  header.PageSize[0] = 595;
  FilterRun run = Run(RasterBytes({RasterPage(header)}), Ppd());
  EXPECT_EQ(run.status, 0);
  ASSERT_FALSE(run.LogLines().empty());
  EXPECT_EQ(run.LogLines()[0],
            "ERROR: V1.0 PAGE: 1 3 Width:40 Height:10 PerLine:120  RowCount:17 "
            "Resolution:180 180 pagesize:595 842");
}

// Set-up bytes of a blank page: the page holds no band, so the page is set-up then FF.
TEST_F(FilterProcess, PageSetUpOfBothCommandSets) {
  struct Case {
    const char* output_type;
    unsigned xdpi, ydpi, length_points;
    bool okidata;
    Bytes setup;
  };
  const Bytes lq_head = {0x1B, 0x40, 0x1B, 0x36};
  const Case cases[] = {
      {"LQ", 60, 60, 792, false,
       Concat({lq_head, {0x1C, 0x78, 0x30, 0x1B, 0x55, 0x30, 0x1B, 0x32, 0x1B, 0x43, 66},
               {0x1B, 0x33, 24}})},
      {"LQ", 120, 120, 792, false,
       Concat({lq_head, {0x1C, 0x78, 0x30, 0x1B, 0x55, 0x30, 0x1B, 0x32, 0x1B, 0x43, 66},
               {0x1B, 0x33, 24}})},
      {"LQ", 180, 180, 842, false,
       Concat({lq_head, {0x1C, 0x78, 0x30, 0x1B, 0x55, 0x30, 0x1B, 0x32, 0x1B, 0x43, 0x46},
               {0x1B, 0x33, 0x08}})},
      {"LQ", 240, 240, 792, false,
       Concat({lq_head, {0x1C, 0x78, 0x31, 0x1B, 0x55, 0x31, 0x1B, 0x32, 0x1B, 0x43, 66},
               {0x1B, 0x33, 24}})},
      {"LQ", 360, 180, 792, false,
       Concat({lq_head, {0x1C, 0x78, 0x31, 0x1B, 0x55, 0x31, 0x1B, 0x32, 0x1B, 0x43, 66},
               {0x1B, 0x33, 0x08}})},
      {"LQ", 360, 360, 842, false,
       Concat({lq_head, {0x1C, 0x78, 0x31, 0x1B, 0x55, 0x31, 0x1B, 0x32, 0x1B, 0x43, 0x46},
               {0x1B, 0x2B, 0x08}})},
      {"LQ", 90, 90, 792, false,
       Concat({lq_head, {0x1C, 0x78, 0x30, 0x1B, 0x55, 0x30, 0x1B, 0x32, 0x1B, 0x43, 66}})},
      {"LQ", 180, 180, 792, true,
       Concat({{0x1B, 0x7B, 0x41}, lq_head,
               {0x1C, 0x78, 0x30, 0x1B, 0x55, 0x30, 0x1B, 0x32, 0x1B, 0x43, 66, 0x1B, 0x33, 8}})},
      // 3600 points is 300 lines: sent as its low 8 bits.
      {"LQ", 180, 180, 3600, false,
       Concat({lq_head, {0x1C, 0x78, 0x30, 0x1B, 0x55, 0x30, 0x1B, 0x32, 0x1B, 0x43, 300 - 256},
               {0x1B, 0x33, 0x08}})},
      {"ALT", 180, 180, 792, false, {0x1B, 0x4E, 0x1B, 0x25, 0x42, 0x1B, 0x36, 0x1B, 0x46, 6, 6}},
      {"ALT", 60, 60, 1320, true, {0x1B, 0x4E, 0x1B, 0x25, 0x42, 0x1B, 0x36, 0x1B, 0x46, 11, 0}},
      {"ALT", 360, 360, 842, false,
       {0x1B, 0x4E, 0x1B, 0x25, 0x42, 0x1B, 0x36, 0x1B, 0x46, 7, 0}},
  };
  for (const Case& c : cases) {
    const std::string where = std::string(c.output_type) + " " + std::to_string(c.xdpi) + "x" +
                              std::to_string(c.ydpi) + (c.okidata ? " OKIDATA" : "") + " " +
                              std::to_string(c.length_points) + "pt";
    RasterPage blank(PageHeader(30, 5, c.xdpi, c.ydpi, c.output_type, c.length_points));
    FilterRun run = Run(RasterBytes({blank}),
                        Ppd("(KEMB-WMZ)", "KEMB", c.okidata ? "OKIDATA ML-24" : "KEMB LQ-24"));
    const bool lq = std::string(c.output_type) == "LQ";
    // Shutdown resets the printer only after an LQ page.
    Bytes expected = Concat({Nuls(), c.setup, {0x0C}, lq ? Bytes{0x1B, 0x40} : Bytes{}});
    EXPECT_EQ(run.status, 0) << where << "\n" << run.log;
    EXPECT_EQ(run.out, expected) << where;
  }
}

TEST_F(FilterProcess, EveryPrintedPageIsAccountedOnce) {
  cups_page_header2_t header = PageHeader(8, 4);
  header.NumCopies = 2;
  FilterRun run = Run(RasterBytes({RasterPage(header), RasterPage(header)}), Ppd());
  EXPECT_EQ(run.status, 0);
  std::vector<std::string> accounting;
  for (const std::string& line : run.LogLines()) {
    if (line.rfind("PAGE: ", 0) == 0) accounting.push_back(line);
  }
  EXPECT_EQ(accounting, (std::vector<std::string>{"PAGE: 1 1", "PAGE: 2 1"}));
}

TEST_F(FilterProcess, EmptyRasterStreamEndsWithResetAndStatusOne) {
  FilterRun run = Run({}, Ppd());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, Concat({Nuls(), {0x1B, 0x40}}));
  // CUPS would show no more than "Filter failed" without it.
  EXPECT_EQ(run.log, "ERROR: The job held no pages\n");
}

TEST_F(FilterProcess, SigtermBetweenPagesStopsBeforeTheNextPage) {
  RasterPage first(PageHeader(16, 8));
  RasterPage second(PageHeader(16, 8));
  second.SetDot(0, 0);
  const Bytes one = RasterBytes({first});
  const Bytes both = RasterBytes({first, second});
  ASSERT_TRUE(std::equal(one.begin(), one.end(), both.begin()));

  FilterCall call;
  call.args = FilterArgs(UniqueJobId());
  call.ppd = Ppd();
  // The first page is printed and its spool removed before the signal; then page 2 arrives.
  call.input = {{one}, {Bytes(both.begin() + one.size(), both.end()), "Shingling0", SIGTERM}};
  FilterRun run = RunProgram(call);
  EXPECT_EQ(run.status, 0) << run.log;
  EXPECT_EQ(run.signal, 0);
  // One page: one form feed, no bit image, the reset.
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), 0x0C), 1);
  EXPECT_EQ(run.log.find("PAGE: 2"), std::string::npos) << run.log;
  EXPECT_EQ(Bytes(run.out.end() - 3, run.out.end()), (Bytes{0x0C, 0x1B, 0x40}));
}

TEST_F(FilterProcess, BadPageHeadersEndTheJobBeforeThePage) {
  struct Case {
    const char* field;
    void (*spoil)(cups_page_header2_t&);
  };
  const Case cases[] = {
      {"cupsBitsPerColor=16", [](cups_page_header2_t& h) { h.cupsBitsPerColor = 16; }},
      {"cupsBitsPerPixel=8", [](cups_page_header2_t& h) { h.cupsBitsPerPixel = 8; }},
      {"cupsColorOrder=2", [](cups_page_header2_t& h) { h.cupsColorOrder = CUPS_ORDER_PLANAR; }},
      {"cupsColorSpace=3", [](cups_page_header2_t& h) { h.cupsColorSpace = CUPS_CSPACE_K; }},
      {"cupsWidth=2147483647",
       [](cups_page_header2_t& h) { h.cupsWidth = 2147483647, h.cupsBytesPerLine = 3; }},
      {"cupsHeight=100000", [](cups_page_header2_t& h) { h.cupsHeight = 100000; }},
      {"cupsBytesPerLine=60", [](cups_page_header2_t& h) { h.cupsBytesPerLine = 60; }},
      {"cupsWidth=0", [](cups_page_header2_t& h) { h.cupsWidth = 0; }},
      // libcups itself reads these as the end of the stream: the job ends after page 1.
      {nullptr, [](cups_page_header2_t& h) { h.cupsHeight = 0; }},
      {nullptr, [](cups_page_header2_t& h) { h.cupsBytesPerLine = 31; }},
      {"HWResolution[0]=0", [](cups_page_header2_t& h) { h.HWResolution[0] = 0; }},
      {"HWResolution[1]=721", [](cups_page_header2_t& h) { h.HWResolution[1] = 721; }},
  };
  const RasterPage good(PageHeader(10, 4));
  const size_t first_page_bytes = RasterBytes({good}).size();
  for (const Case& c : cases) {
    // libcups will not write some of these headers: write a good one and spoil it in place.
    Bytes stream = RasterBytes({good, good});
    cups_page_header2_t bad = good.header;
    c.spoil(bad);
    std::memcpy(stream.data() + first_page_bytes, &bad, sizeof bad);
    FilterRun run = Run(stream, Ppd());
    const std::string where = c.field ? c.field : "refused by libcups";
    if (!c.field) {
      EXPECT_EQ(run.status, 0) << where;
      EXPECT_EQ(run.log.find("PAGE: 2"), std::string::npos) << run.log;
      EXPECT_EQ(std::count(run.out.begin(), run.out.end(), 0x0C), 1) << where;
      continue;
    }
    EXPECT_EQ(run.status, 1) << c.field;
    // The good page went out whole; nothing of the bad one.
    Bytes tail(run.out.end() - 1, run.out.end());
    EXPECT_EQ(tail, Bytes{0x0C}) << c.field;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), 0x0C), 1) << c.field;
    std::vector<std::string> lines = run.LogLines();
    ASSERT_FALSE(lines.empty()) << c.field;
    EXPECT_EQ(lines.back().rfind("ERROR: Unsupported page: " + std::string(c.field), 0), 0u)
        << c.field << ": " << lines.back();
  }
}

TEST_F(FilterProcess, EmptyOutputTypeAbandonsTheJob) {
  RasterPage page(PageHeader(10, 4, 180, 180, ""));
  page.SetDot(0, 0);
  FilterRun run = Run(RasterBytes({page}), Ppd());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, Nuls());
  EXPECT_EQ(run.LogLines().back(), "ERROR: OutputType Error");
}

TEST_F(FilterProcess, FailedPrinterWriteIsReported) {
  FilterCall call;
  call.args = FilterArgs(UniqueJobId());
  call.ppd = Ppd();
  call.input = {{RasterBytes({RasterPage(PageHeader(10, 4))})}};
  call.stdout_path = "/dev/full";
  FilterRun run = RunProgram(call);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.LogLines().back(), "ERROR: Unable to write to the printer: No space left on device");
}

// The worked example: one black pixel in the top-left corner of a 60 x 24 page.
TEST_F(FilterProcess, OneDotPageGivesExactlyTheseBytes) {
  RasterPage page(PageHeader(60, 24, 180, 180, "LQ", 792));
  page.SetDot(0, 0);
  FilterRun run = Run(RasterBytes({page}), Ppd());
  const Bytes expected = Concat({
      Nuls(),
      {0x1B, 0x40, 0x1B, 0x36, 0x1C, 0x78, 0x30, 0x1B, 0x55, 0x30, 0x1B, 0x32, 0x1B, 0x43, 0x42,
       0x1B, 0x33, 0x08},
      {0x0D, 0x1B, 0x2A, 0x27, 0x03, 0x00, 0x80, 0, 0, 0, 0, 0, 0, 0, 0},
      {0x0C, 0x1B, 0x40},
  });
  EXPECT_EQ(run.status, 0) << run.log;
  EXPECT_EQ(run.out, expected);
}

}  // namespace
}  // namespace kemb::testing
