// SPDX-License-Identifier: Apache-2.0
// texttokemb as CUPS runs it, and in-process:
//   TextTable       every row of the text table, from a file and in-process, byte for byte
//   TextFilter      copies from a pipe, the substitution warning, the empty document
//   TextRefused     settings a model cannot print, bad values, documents that are not text,
//                   an unreadable file: one ERROR line and no byte to the printer
//   TextDocuments   a formatted manual page, an 80-column invoice on both fanfold forms, a
//                   132-column report on the wide model; a line of 1 MB
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/run_filter.h"
#include "support/scratch_dir.h"
#include "support/text_cases.h"
#include "text/text_job.h"

namespace kemb::testing {
namespace {

using Bytes = std::vector<uint8_t>;

std::string PpdPath(const std::string& name) { return std::string(KEMB_PPD_DIR) + "/" + name; }

std::string DocumentPath(const std::string& name) {
  return std::string(KEMB_SOURCE_DIR) + "/tests/filter/documents/" + name;
}

Bytes AsBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

FilterRun RunText(const std::string& ppd, const std::string& options, int copies,
                  const std::string& file, const Bytes& stdin_bytes = {}) {
  FilterCall call;
  call.program = BinPath("texttokemb");
  call.args = {"7", "alice", "text", std::to_string(copies), options};
  if (!file.empty()) call.args.push_back(file);
  call.ppd = PpdPath(ppd);
  if (!stdin_bytes.empty()) call.input.emplace_back(stdin_bytes);
  return RunProgram(call);
}

struct InProcessRun {
  int status = -1;
  Bytes out;
  std::string log;
};

InProcessRun RunTextInProcess(const std::string& ppd, const std::string& options, int copies,
                              const std::string& file) {
  std::vector<std::string> args = {"texttokemb", "7", "alice", "text", std::to_string(copies),
                                   options, file};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  MemorySink sink;
  char* log_text = nullptr;
  size_t log_size = 0;
  FILE* log = open_memstream(&log_text, &log_size);
  InProcessRun run;
  const std::string ppd_path = PpdPath(ppd);
  run.status = TextFilterMain(static_cast<int>(argv.size()), argv.data(), ppd_path.c_str(),
                              sink, log);
  std::fclose(log);
  run.log.assign(log_text, log_size);
  std::free(log_text);
  run.out = std::move(sink.bytes);
  return run;
}

// The printed lines of a text job's stream: what lies between the page set-ups, split at CR LF.
std::vector<std::string> PrintedLines(const Bytes& out) {
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i + 1 < out.size(); ++i) {
    if (out[i] == '\r' && out[i + 1] == '\n') {
      lines.push_back(line);
      line.clear();
      ++i;
    } else {
      line.push_back(static_cast<char>(out[i]));
    }
  }
  return lines;
}

size_t CountByte(const Bytes& out, uint8_t byte) {
  return static_cast<size_t>(std::count(out.begin(), out.end(), byte));
}

class TextTable : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextTable, ProgramAndInProcessPrintTheExpectedBytes) {
  const TextCase& c = GetParam();
  TempDir dir;
  const std::string file = dir.File("doc.txt");
  WriteFile(file, AsBytes(c.input));

  const FilterRun program = RunText(c.ppd, c.options, c.copies, file);
  EXPECT_EQ(program.status, 0) << program.log;
  EXPECT_EQ(program.out, TextJobBytes(c));
  EXPECT_EQ(program.log.find("ERROR"), std::string::npos) << program.log;

  const InProcessRun in_process = RunTextInProcess(c.ppd, c.options, c.copies, file);
  EXPECT_EQ(in_process.status, 0) << in_process.log;
  EXPECT_EQ(in_process.out, TextJobBytes(c));
}

INSTANTIATE_TEST_SUITE_P(Cases, TextTable, ::testing::ValuesIn(TextCases()),
                         [](const auto& info) { return info.param.name; });

TEST(TextFilter, CopiesFromAPipeAndPageLines) {
  const FilterRun run = RunText("kemb24.ppd", "", 3, "", AsBytes("a\fb\n"));
  ASSERT_EQ(run.status, 0) << run.log;
  EXPECT_EQ(CountByte(run.out, 0x0C), 6u);
  EXPECT_EQ(PrintedLines(run.out).size(), 6u);
  for (int page = 1; page <= 6; ++page) {
    EXPECT_NE(run.log.find("PAGE: " + std::to_string(page) + " 1\n"), std::string::npos)
        << run.log;
  }
  EXPECT_NE(run.log.find("INFO: Ready"), std::string::npos);
}

TEST(TextFilter, OneWarningCountsTheSubstitutedCharacters) {
  const FilterRun run = RunText("kemb24.ppd", "", 2, "", AsBytes("\xE2\x82\xAC x \xE2\x98\x83\n"));
  ASSERT_EQ(run.status, 0) << run.log;
  const std::vector<std::string> lines = run.LogLines();
  const auto warnings = std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.rfind("WARNING:", 0) == 0;
  });
  EXPECT_EQ(warnings, 1) << run.log;
  EXPECT_NE(run.log.find("WARNING: 4 characters"), std::string::npos) << run.log;
}

TEST(TextFilter, EmptyDocumentSendsNothingAndSaysSo) {
  TempDir dir;
  WriteFile(dir.File("empty.txt"), {});
  const FilterRun run = RunText("kemb24.ppd", "", 1, dir.File("empty.txt"));
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.out.empty());
  EXPECT_NE(run.log.find("WARNING: The document is empty"), std::string::npos) << run.log;
}

struct Refusal {
  std::string name;
  std::string ppd;
  std::string options;
  std::string input;
  std::string message;  // the ERROR line begins with this
};

class TextRefused : public ::testing::TestWithParam<Refusal> {};

TEST_P(TextRefused, OneErrorLineAndNoByte) {
  const Refusal& r = GetParam();
  TempDir dir;
  WriteFile(dir.File("doc"), AsBytes(r.input));
  const FilterRun run = RunText(r.ppd, r.options, 1, dir.File("doc"));
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.out.empty()) << run.out.size() << " bytes";
  const std::vector<std::string> lines = run.LogLines();
  ASSERT_EQ(lines.size(), 1u) << run.log;
  EXPECT_EQ(lines[0].rfind("ERROR: " + r.message, 0), 0u) << lines[0];
}

std::string Binary() {
  std::string bytes(4096, '\0');
  unsigned x = 12345;
  for (char& b : bytes) b = static_cast<char>((x = x * 1103515245 + 12345) >> 16);
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextRefused,
    ::testing::Values(
        Refusal{"AlternateCpi", "kemb24a.ppd", "cpi=12", "a\n",
                "The KEMB WMZ-24A prints text at its own pitch, line spacing and quality: cpi"},
        Refusal{"AlternateLpi", "kemb24a.ppd", "lpi=8", "a\n", "The KEMB WMZ-24A prints text"},
        Refusal{"AlternateQuality", "kemb24a.ppd", "text-quality=draft", "a\n",
                "The KEMB WMZ-24A prints text"},
        Refusal{"UnknownCpi", "kemb24.ppd", "cpi=13", "a\n",
                "Unsupported cpi=\"13\" (10, 12, 15, 17 or 20)"},
        Refusal{"UnknownLpi", "kemb24.ppd", "lpi=7", "a\n", "Unsupported lpi=\"7\""},
        Refusal{"BadMargin", "kemb24.ppd", "page-left=-5", "a\n", "Unsupported page-left"},
        Refusal{"BadWrap", "kemb24.ppd", "wrap=maybe", "a\n", "Unsupported wrap"},
        Refusal{"NoRoomForALine", "kemb24.ppd", "page-top=500 page-bottom=400", "a\n",
                "No room for a line"},
        Refusal{"NoRoomForAColumn", "kemb24.ppd", "page-left=300 page-right=300", "a\n",
                "No room for a character"},
        Refusal{"NulBytes", "kemb24.ppd", "", std::string("text\0more\n", 10),
                "The document is not text: it holds a NUL byte (byte 5)"},
        Refusal{"BinaryAsText", "kemb24.ppd", "", Binary(), "The document is not text"}),
    [](const auto& info) { return info.param.name; });

TEST(TextRefused, UnreadableFileSaysWhy) {
  const FilterRun run = RunText("kemb24.ppd", "", 1, "/nonexistent/doc.txt");
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.out.empty());
  EXPECT_NE(run.log.find("ERROR: Unable to open the document: No such file or directory"),
            std::string::npos)
      << run.log;
}

// Every line of `document` printed whole, one printed line per input line, none wrapped.
void ExpectLinesIntact(const Bytes& out, const std::string& document) {
  std::vector<std::string> expected;
  for (std::string line : SplitLines(document)) {
    if (!line.empty() && line[0] == '\f') line.erase(0, 1);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    expected.push_back(line);
  }
  std::vector<std::string> printed;
  for (std::string line : PrintedLines(out)) {
    // A page's first line carries the page set-up in front of it.
    const size_t set_up = line.rfind('\x1B');
    if (set_up != std::string::npos) {
      size_t text = set_up + 2;
      while (text < line.size() && static_cast<unsigned char>(line[text]) < 0x20) ++text;
      line.erase(0, text);
    }
    printed.push_back(line);
  }
  EXPECT_EQ(printed, expected);
}

std::string ReadText(const std::string& path) {
  const Bytes bytes = ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

TEST(TextDocuments, InvoiceOnBothFanfoldForms) {
  const std::string invoice = ReadText(DocumentPath("invoice-80.txt"));
  // 7.5 inches between the tractor strips: 80 columns at 12 cpi.
  for (const char* paper : {"Letter.Fanfold", "FanFoldGerman"}) {
    SCOPED_TRACE(paper);
    const FilterRun run = RunText("kemb24.ppd", std::string("cpi=12 PageSize=") + paper, 1,
                                  DocumentPath("invoice-80.txt"));
    ASSERT_EQ(run.status, 0) << run.log;
    EXPECT_EQ(CountByte(run.out, 0x0C), 1u);
    ExpectLinesIntact(run.out, invoice);
  }
  // At 10 cpi the form holds 75 columns: the wide lines wrap rather than run off the paper.
  const FilterRun ten = RunText("kemb24.ppd", "PageSize=Letter.Fanfold", 1,
                                DocumentPath("invoice-80.txt"));
  for (const std::string& line : PrintedLines(ten.out)) {
    EXPECT_LE(line.size() - (line.rfind('\x1B') == std::string::npos ? 0 : line.rfind('\x1B') + 2),
              75u);
  }
}

TEST(TextDocuments, ReportOf132ColumnsOnTheWideModel) {
  const std::string report = ReadText(DocumentPath("report-132.txt"));
  const FilterRun run = RunText("kemb24w.ppd", "cpi=17 PageSize=11x14.875Rotated", 1,
                                DocumentPath("report-132.txt"));
  ASSERT_EQ(run.status, 0) << run.log;
  // 155 lines, a form feed after every 60 accounts: three pages of at most 64 lines.
  EXPECT_EQ(CountByte(run.out, 0x0C), 3u);
  const Bytes condensed = {0x1B, 'P', 0x0F};
  EXPECT_NE(std::search(run.out.begin(), run.out.end(), condensed.begin(), condensed.end()),
            run.out.end());
  ExpectLinesIntact(run.out, report);
}

TEST(TextDocuments, FormattedManualPage) {
  const FilterRun run = RunText("kemb24.ppd", "PageSize=Letter", 1,
                                DocumentPath("rastertokemb.8.txt"));
  ASSERT_EQ(run.status, 0) << run.log;
  // The headings print bold, the emphasis underlined, and no backspace reaches the printer.
  const Bytes bold_name = {0x1B, 'E', 'N', 'A', 'M', 'E', 0x1B, 'F'};
  EXPECT_NE(std::search(run.out.begin(), run.out.end(), bold_name.begin(), bold_name.end()),
            run.out.end());
  const Bytes underline = {0x1B, '-', 0x01};
  EXPECT_NE(std::search(run.out.begin(), run.out.end(), underline.begin(), underline.end()),
            run.out.end());
  EXPECT_EQ(CountByte(run.out, '\b'), 0u);
  // 103 lines at 63 to a page of Letter with the PPD's margins, one of them the 88-character
  // example command that the formatter could not break: it wraps.
  EXPECT_EQ(CountByte(run.out, 0x0C), 2u);
  EXPECT_EQ(PrintedLines(run.out).size(), 104u);
  // The formatter's hyphens (U+2010) print as ASCII hyphens, counted in the warning.
  EXPECT_NE(run.log.find("WARNING: "), std::string::npos) << run.log;
}

TEST(TextDocuments, LineOfOneMegabyteWraps) {
  const std::string line(1 << 20, 'x');
  const FilterRun run = RunText("kemb24.ppd", "", 1, "", AsBytes(line));
  ASSERT_EQ(run.status, 0) << run.log;
  // 77 columns to a line, 65 lines to a page.
  const size_t lines = (line.size() + 76) / 77;
  EXPECT_EQ(PrintedLines(run.out).size(), lines);
  EXPECT_EQ(CountByte(run.out, 0x0C), (lines + 64) / 65);
}

}  // namespace
}  // namespace kemb::testing
