// SPDX-License-Identifier: Apache-2.0
// The page engine driven directly, as a front end without libcups drives it: page description,
// rows pushed one at a time, in-process halftoner. Each path (text, picture, 360 x 360 printed
// at 180 x 180) must give the bytes the filter program gives for the same page, and two jobs
// in one process must not touch each other. A content choice set in the page description
// prints what the filter prints for the same option.
//   Page             an RGB page from bench-job (the PPM it writes is the raster's page 1)
//   RunEngine        the page through PageEngine into memory
//   RunFilter        the same page's raster through the built rastertokemb and kemb_ID
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "content/content_choice.h"
#include "engine/page_engine.h"
#include "printer/page_description.h"
#include "support/job_files.h"
#include "support/run_filter.h"
#include "support/scratch_dir.h"

namespace kemb::testing {
namespace {

struct Page {
  unsigned width = 0, height = 0;
  std::vector<uint8_t> rgb;
};

// Parses the P6 file bench-job writes: "P6\n<w> <h>\n255\n" and the rows.
Page ReadPpm(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadFile(path);
  Page page;
  int head = 0;
  const std::string text(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 32));
  if (std::sscanf(text.c_str(), "P6\n%u %u\n255\n%n", &page.width, &page.height, &head) != 2 ||
      head == 0) {
    ADD_FAILURE() << "not a P6 file: " << path;
    return page;
  }
  page.rgb.assign(bytes.begin() + head, bytes.end());
  return page;
}

struct Case {
  const char* name;
  const char* content;
  unsigned dpi;
  const char* size;
  bool picture;
};

struct Output {
  std::vector<uint8_t> bytes;
  std::string log;
};

// The log without the lines only the filter writes (its page report and page accounting),
// the job's private folder written as a word.
std::string EngineLines(const std::string& log, const std::string& job_id) {
  std::string kept;
  for (const std::string& line : SplitLines(FolderAsWord(log, job_id))) {
    // The filter's own lines: page accounting and the status CUPS shows.
    if (line.rfind("ERROR: V1.0 PAGE:", 0) == 0 || line.rfind("PAGE: ", 0) == 0 ||
        line.rfind("INFO: ", 0) == 0)
      continue;
    kept += line + "\n";
  }
  return kept;
}

// The engine's events as the filter writes them, kept in memory.
class MemoryLog {
 public:
  MemoryLog() : file_(open_memstream(&text_, &size_)), lines_(file_) {}
  ~MemoryLog() {
    if (file_) std::fclose(file_);
    std::free(text_);
  }
  JobLog* get() { return &lines_; }
  std::string Text() {
    std::fflush(file_);
    return std::string(text_, size_);
  }

 private:
  char* text_ = nullptr;
  size_t size_ = 0;
  FILE* file_;
  LineLog lines_;
};

// The page files in the jobs' private folders below `spool`.
std::vector<std::string> PageFiles(const TempDir& spool) {
  std::vector<std::string> files;
  for (const std::string& folder : spool.Entries()) {
    for (const auto& entry : std::filesystem::directory_iterator(spool.File(folder))) {
      files.push_back(folder + "/" + entry.path().filename().string());
    }
  }
  return files;
}

PageDescription Describe(const Page& page, unsigned dpi, Content content = Content::kAuto) {
  PageDescription d;
  d.content = content;
  d.command_set = CommandSetId::kLq;
  d.xdpi = d.ydpi = dpi;
  d.width = page.width;
  d.height = page.height;
  d.bytes_per_line = 3 * page.width;
  d.length_points = 842;  // bench-job's A4
  return d;
}

void PushPage(PageEngine& engine, const Page& page, unsigned dpi,
              Content content = Content::kAuto) {
  ASSERT_TRUE(engine.StartPage(Describe(page, dpi, content)).ok());
  const size_t row_bytes = 3 * size_t{page.width};
  for (unsigned y = 0; y < page.height; ++y) {
    ASSERT_TRUE(engine.AddRow({page.rgb.data() + y * row_bytes, row_bytes}).ok());
  }
  const Status finished = engine.EndPage();
  ASSERT_TRUE(finished.ok()) << finished.error;
}

// Settings of a job whose printer bytes and log stay in memory.
JobSettings SettingsFor(const std::string& id, const std::string& spool_dir, ByteSink* out,
                        JobLog* log) {
  JobSettings settings;
  settings.id = id;
  settings.spool_dir = spool_dir;
  settings.out = out;
  settings.log = log;
  return settings;
}

Output RunEngine(const Page& page, unsigned dpi, const std::string& spool_dir,
                 const std::string& id = "5", Content content = Content::kAuto) {
  MemorySink sink;
  MemoryLog log;
  JobSettings settings = SettingsFor(id, spool_dir, &sink, log.get());
  settings.halftone = InProcessHalftoner({});
  PageEngine engine(settings);
  EXPECT_TRUE(engine.StartJob().ok());
  PushPage(engine, page, dpi, content);
  EXPECT_TRUE(engine.EndJob().ok());
  return {sink.bytes, log.Text()};
}

class PageEngineTest : public ::testing::TestWithParam<Case> {
 protected:
  // Writes the case's page as a raster stream and as the PPM of its pixels.
  void MakePage(const Case& c) {
    for (bool ppm : {false, true}) {
      FilterCall make;
      make.program = BinPath("bench-job");
      make.args = {"--size",  c.size,
                   c.content, std::to_string(c.dpi),
                   "1",       dir_.File(ppm ? "page.ppm" : "page.ras")};
      if (ppm) make.args.insert(make.args.begin(), "--ppm");
      ASSERT_EQ(RunProgram(make).status, 0);
    }
  }

  TempDir dir_;
};

TEST_P(PageEngineTest, SameBytesAsTheFilter) {
  const Case& c = GetParam();
  MakePage(c);
  const Page page = ReadPpm(dir_.File("page.ppm"));
  ASSERT_EQ(page.rgb.size(), 3 * size_t{page.width} * page.height);

  FilterCall call;
  const std::string job_id = UniqueJobId();
  call.args = FilterArgs(job_id, dir_.File("page.ras"));
  call.ppd = WritePpd(dir_.File("kemb.ppd"), "(KEMB-WMZ)", "KEMB");
  call.env = {"PATH=" + std::string(KEMB_BIN_DIR) + ":/usr/bin:/bin"};
  const FilterRun filter = RunProgram(call);
  ASSERT_EQ(filter.status, 0) << filter.log;

  TempDir spool;
  const Output engine = RunEngine(page, c.dpi, spool.path(), job_id);
  EXPECT_EQ(engine.bytes, filter.out) << c.name;
  EXPECT_EQ(EngineLines(engine.log, job_id), EngineLines(filter.log, job_id)) << c.name;
  // The path the case is about was the one taken.
  EXPECT_EQ(engine.log.find(".pbm ok") != std::string::npos, c.picture) << engine.log;
  EXPECT_TRUE(spool.Entries().empty());
}

// Each content choice in the page description against the filter given the same option.
TEST_F(PageEngineTest, ContentChoiceAsTheFilterPrintsIt) {
  MakePage({"photo", "photo", 180, "400x300", true});
  const Page page = ReadPpm(dir_.File("page.ppm"));
  const std::string ppd = WritePpd(dir_.File("kemb.ppd"), "(KEMB-WMZ)", "KEMB");
  for (const char* keyword : {"auto", "text", "photo", "graphic", "text-and-graphic"}) {
    SCOPED_TRACE(keyword);
    const std::optional<Content> content = ParseContent(keyword);
    ASSERT_TRUE(content.has_value());
    FilterCall call;
    const std::string job_id = UniqueJobId();
    call.args = FilterArgs(job_id, dir_.File("page.ras"));
    call.args[4] = std::string("print-content-optimize=") + keyword;
    call.ppd = ppd;
    call.env = {"PATH=" + std::string(KEMB_BIN_DIR) + ":/usr/bin:/bin"};
    const FilterRun filter = RunProgram(call);
    ASSERT_EQ(filter.status, 0) << filter.log;

    TempDir spool;
    const Output engine = RunEngine(page, 180, spool.path(), job_id, *content);
    EXPECT_EQ(engine.bytes, filter.out);
    EXPECT_EQ(EngineLines(engine.log, job_id), EngineLines(filter.log, job_id));
    EXPECT_EQ(engine.log.find("DEBUG: Page 1: print-content-optimize=") != std::string::npos,
              *content != Content::kAuto)
        << engine.log;
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, PageEngineTest,
                         ::testing::Values(Case{"text", "text", 180, "400x300", false},
                                           Case{"picture", "photo", 180, "400x300", true},
                                           Case{"reduced", "text", 360, "801x301", false}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

// Two jobs in one process, with the same job ID, their pages interleaved row by row: each
// prints what it prints alone, and a cancel of one is no cancel of the other.
TEST(PageEngine, TwoJobsInOneProcess) {
  Page text{64, 48, std::vector<uint8_t>(3 * 64 * 48, 0xFF)};
  for (unsigned x = 0; x < 64; ++x) text.rgb[3 * (20 * 64 + x)] = 0;  // a dark red rule
  Page grey{64, 48, std::vector<uint8_t>(3 * 64 * 48, 160)};

  TempDir spool;
  const Output text_alone = RunEngine(text, 180, spool.path(), "1");
  const Output grey_alone = RunEngine(grey, 180, spool.path(), "1");

  MemorySink sinks[2];
  MemoryLog logs[2];
  bool cancel_second = false;
  std::vector<std::unique_ptr<PageEngine>> engines;
  for (int j = 0; j < 2; ++j) {
    JobSettings settings = SettingsFor("1", spool.path(), &sinks[j], logs[j].get());
    settings.halftone = InProcessHalftoner({});
    if (j == 1) settings.canceled = [&cancel_second] { return cancel_second; };
    engines.push_back(std::make_unique<PageEngine>(settings));
    ASSERT_TRUE(engines[j]->StartJob().ok());
  }
  const Page* pages[2] = {&text, &grey};
  for (int j = 0; j < 2; ++j) ASSERT_TRUE(engines[j]->StartPage(Describe(*pages[j], 180)).ok());
  for (unsigned y = 0; y < 48; ++y) {
    for (int j = 0; j < 2; ++j) {
      ASSERT_TRUE(engines[j]->AddRow({pages[j]->rgb.data() + y * 3 * 64, 3 * 64}).ok());
    }
  }
  cancel_second = true;
  for (int j = 0; j < 2; ++j) ASSERT_TRUE(engines[j]->EndPage().ok());
  for (int j = 0; j < 2; ++j) ASSERT_TRUE(engines[j]->EndJob().ok());

  EXPECT_FALSE(engines[0]->canceled());
  EXPECT_EQ(sinks[0].bytes, text_alone.bytes);
  EXPECT_EQ(EngineLines(logs[0].Text(), "1"), EngineLines(text_alone.log, "1"));
  // The cancelled job's picture page ends without its image: set-up, form feed, reset.
  EXPECT_NE(sinks[1].bytes, grey_alone.bytes);
  EXPECT_EQ(logs[1].Text().find(".pbm ok"), std::string::npos);
  EXPECT_EQ(spool.Entries().size(), 2u);  // a private folder each
  EXPECT_TRUE(PageFiles(spool).empty());
  engines.clear();
  EXPECT_TRUE(spool.Entries().empty());
}

// A description no buffer or printer count could carry is refused before a byte is sent.
TEST(PageEngine, PagesBeyondThePrinterAreRefused) {
  struct Bad {
    const char* field;
    void (*spoil)(PageDescription&);
  };
  const Bad cases[] = {
      {"width=0", [](PageDescription& d) { d.width = 0; }},
      {"width=14401", [](PageDescription& d) { d.width = 14401, d.bytes_per_line = 3 * 14401; }},
      {"height=0", [](PageDescription& d) { d.height = 0; }},
      {"height=21601", [](PageDescription& d) { d.height = 21601; }},
      {"bytes_per_line=5", [](PageDescription& d) { d.bytes_per_line = 5; }},
      {"xdpi=0", [](PageDescription& d) { d.xdpi = 0; }},
      {"ydpi=721", [](PageDescription& d) { d.ydpi = 721; }},
      {"band_rows=8", [](PageDescription& d) { d.band_rows = 8; }},
  };
  for (const Bad& c : cases) {
    TempDir spool;
    MemorySink sink;
    MemoryLog log;
    JobSettings settings = SettingsFor("9", spool.path(), &sink, log.get());
    PageEngine engine(settings);
    PageDescription page = Describe(Page{2, 1, {}}, 180);
    c.spoil(page);
    const Status started = engine.StartPage(page);
    EXPECT_FALSE(started.ok()) << c.field;
    EXPECT_NE(started.error.find(c.field), std::string::npos) << started.error;
    EXPECT_TRUE(sink.bytes.empty()) << c.field;
    EXPECT_TRUE(spool.Entries().empty()) << c.field;
  }
}

// A job ID that is not a number could name a path outside the spool folder: no page starts.
TEST(PageEngine, JobIdsOtherThanNumbersAreRefused) {
  for (const char* id : {"", "../5", "5/6", "12345678901", "5 "}) {
    TempDir spool;
    MemorySink sink;
    JobSettings settings = SettingsFor(id, spool.path(), &sink, nullptr);
    PageEngine engine(settings);
    EXPECT_EQ(engine.StartJob().error, "Invalid job ID") << id;
    EXPECT_FALSE(engine.StartPage(Describe(Page{2, 1, {}}, 180)).ok()) << id;
    EXPECT_TRUE(sink.bytes.empty()) << id;
    EXPECT_TRUE(spool.Entries().empty()) << id;
  }
}

// Misuse by a front end is a clear failure, never a crash or a stray byte.
TEST(PageEngine, RowsOutsideAPageAreRefused) {
  TempDir spool;
  MemorySink sink;
  MemoryLog log;
  JobSettings settings = SettingsFor("9", spool.path(), &sink, log.get());
  PageEngine engine(settings);
  const uint8_t row[6] = {0, 0, 0, 255, 255, 255};
  Page page{2, 1, std::vector<uint8_t>(row, row + 6)};
  EXPECT_FALSE(engine.StartPage(Describe(page, 180)).ok()) << "before StartJob";
  EXPECT_TRUE(sink.bytes.empty());
  ASSERT_TRUE(engine.StartJob().ok());
  EXPECT_FALSE(engine.StartJob().ok()) << "a second start";
  const size_t woken = sink.bytes.size();
  EXPECT_FALSE(engine.AddRow(row).ok());
  EXPECT_FALSE(engine.EndPage().ok());
  EXPECT_EQ(sink.bytes.size(), woken);

  ASSERT_TRUE(engine.StartPage(Describe(page, 180)).ok());
  EXPECT_FALSE(engine.StartPage(Describe(page, 180)).ok());
  ASSERT_TRUE(engine.AddRow(row).ok());
  // One row more than the page holds, or a short row: the page ends, its files go.
  const Status extra = engine.AddRow(row);
  EXPECT_FALSE(extra.ok());
  EXPECT_NE(extra.error.find("page height"), std::string::npos) << extra.error;
  EXPECT_EQ(sink.bytes.back(), 0x0C);
  EXPECT_TRUE(PageFiles(spool).empty());

  ASSERT_TRUE(engine.StartPage(Describe(page, 180)).ok());
  EXPECT_FALSE(engine.AddRow(std::span<const uint8_t>(row, 3)).ok());
  EXPECT_TRUE(PageFiles(spool).empty());
}

// The engine owns what follows a failure: after a failed page, or a failure the front end hands
// in, EndJob sends no reset and returns the failure; after a good job it resets the printer.
TEST(PageEngine, EndJobResetsOnlyAJobThatDidNotFail) {
  struct Case {
    const char* what;
    bool page_fails;
    Status outcome;
    const char* error;  // nullptr: EndJob succeeds and resets
  };
  const Case cases[] = {
      {"good job", false, Status::Ok(), nullptr},
      {"front end's failure", false, Status::Fail("Brand Error"), "Brand Error"},
      {"failed page", true, Status::Ok(), "A page of the job failed"},
  };
  const uint8_t row[6] = {0, 0, 0, 255, 255, 255};
  const Page page{2, 1, std::vector<uint8_t>(row, row + 6)};
  for (const Case& c : cases) {
    TempDir spool;
    MemorySink sink;
    PageEngine engine(SettingsFor("9", spool.path(), &sink, nullptr));
    ASSERT_TRUE(engine.StartJob().ok()) << c.what;
    ASSERT_TRUE(engine.StartPage(Describe(page, 180)).ok()) << c.what;
    if (c.page_fails) {
      EXPECT_FALSE(engine.AddRow(std::span<const uint8_t>(row, 3)).ok()) << c.what;
    } else {
      ASSERT_TRUE(engine.AddRow(row).ok()) << c.what;
      ASSERT_TRUE(engine.EndPage().ok()) << c.what;
    }
    const size_t page_end = sink.bytes.size();
    const Status ended = engine.EndJob(c.outcome);
    if (c.error == nullptr) {
      EXPECT_TRUE(ended.ok()) << c.what << ": " << ended.error;
      EXPECT_GT(sink.bytes.size(), page_end) << c.what << ": no reset";
    } else {
      EXPECT_EQ(ended.error, c.error) << c.what;
      EXPECT_EQ(sink.bytes.size(), page_end) << c.what << ": bytes after the failure";
    }
  }
}

}  // namespace
}  // namespace kemb::testing
