// SPDX-License-Identifier: Apache-2.0
// texttokemb judged by the preview: each document printed by the filter draws, dot for dot,
// like the same document sent as the plainest stream of characters at the same pitch and
// line spacing: every character in its column and line.
//
//   Cp437Of         a document line in code page 437, from the decoder's own table
//   PlainStream     the reference: reset, pitch, spacing, quality, then each line and CR LF
//   Mismatches      dots that differ between two pages, with the first one's column and line
//   TextPreview.DrawsEveryCharacterInItsCell   an invoice with box drawing and accented
//                                              letters at each pitch, spacing and quality; an
//                                              ASCII invoice on the alternate model
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cp437.h"
#include "stream_decoder.h"
#include "support/run_filter.h"

namespace kemb::testing {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kEsc = 0x1B;

std::vector<std::string> DocumentLines(const std::string& name) {
  std::ifstream file(std::string(KEMB_SOURCE_DIR) + "/tests/filter/documents/" + name);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

// UTF-8 of every printed byte -> the byte, as the decoder shows them.
std::map<std::string, uint8_t> Cp437Table() {
  std::map<std::string, uint8_t> table;
  for (int byte = 0x20; byte <= 0xFE; ++byte) {
    if (byte == 0x7F) continue;
    std::string utf8;
    kembview::detail::AppendUtf8(static_cast<uint8_t>(byte), utf8);
    table.emplace(utf8, static_cast<uint8_t>(byte));
  }
  return table;
}

Bytes Cp437Of(const std::string& line, const std::map<std::string, uint8_t>& table) {
  Bytes bytes;
  for (size_t i = 0; i < line.size();) {
    const uint8_t lead = static_cast<uint8_t>(line[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    const auto found = table.find(line.substr(i, length));
    bytes.push_back(found == table.end() ? '?' : found->second);
    i += length;
  }
  return bytes;
}

Bytes PlainStream(const Bytes& setup, const std::vector<std::string>& lines) {
  const auto table = Cp437Table();
  Bytes stream = setup;
  for (const std::string& line : lines) {
    const Bytes bytes = Cp437Of(line, table);
    stream.insert(stream.end(), bytes.begin(), bytes.end());
    stream.insert(stream.end(), {0x0D, 0x0A});
  }
  stream.push_back(0x0C);
  return stream;
}

// "" when the pages show the same dots, else how many differ and where the first one lies.
std::string Mismatches(const kembview::Page& printed, const kembview::Page& expected,
                       int column_dots, double line_dots) {
  if (printed.xdpi != expected.xdpi || printed.ydpi != expected.ydpi) {
    return "grid " + std::to_string(printed.xdpi) + "x" + std::to_string(printed.ydpi);
  }
  size_t differ = 0;
  std::ostringstream first;
  for (int y = 0; y < std::max(printed.height, expected.height); ++y) {
    for (int x = 0; x < std::max(printed.width, expected.width); ++x) {
      if (printed.Dot(x, y) == expected.Dot(x, y)) continue;
      if (differ++ == 0) {
        first << "first at column " << x / column_dots << ", line "
              << static_cast<int>(y / line_dots) << (printed.Dot(x, y) ? " (extra dot)" : "");
      }
    }
  }
  return differ == 0 ? "" : std::to_string(differ) + " dots differ, " + first.str();
}

TEST(TextPreview, DrawsEveryCharacterInItsCell) {
  const struct {
    const char* document;
    const char* ppd;
    const char* options;
    Bytes setup;       // the reference's commands
    int column_dots;   // at 360 dpi
    double line_dots;  // at 180 dpi
  } cases[] = {
      {"invoice-boxes.txt",
       "kemb24.ppd",
       "cpi=10 lpi=6 PageSize=Letter",
       {kEsc, '@', kEsc, 'P', kEsc, '2'},
       36,
       30},
      {"invoice-boxes.txt",
       "kemb24.ppd",
       "cpi=12 lpi=8",
       {kEsc, '@', kEsc, 'M', kEsc, '0'},
       30,
       22.5},
      {"invoice-boxes.txt",
       "kemb24.ppd",
       "cpi=17 text-quality=draft",
       {kEsc, '@', kEsc, 'P', 0x0F, kEsc, 'x', 0},
       21,
       30},
      {"invoice-boxes.txt",
       "kemb24w.ppd",
       "cpi=20 lpi=8",
       {kEsc, '@', kEsc, 'M', 0x0F, kEsc, '0'},
       18,
       22.5},
      {"invoice-80.txt", "kemb24a.ppd", "PageSize=Letter", {kEsc, 'N'}, 36, 30},
  };
  for (const auto& c : cases) {
    const std::string where = std::string(c.document) + " on " + c.ppd + ", " + c.options;
    const std::vector<std::string> lines = DocumentLines(c.document);
    ASSERT_FALSE(lines.empty()) << where;
    FilterCall call;
    call.program = BinPath("texttokemb");
    call.args = {"1",       "alice",
                 "preview", "1",
                 c.options, std::string(KEMB_SOURCE_DIR) + "/tests/filter/documents/" + c.document};
    call.ppd = std::string(KEMB_PPD_DIR) + "/" + c.ppd;
    const FilterRun run = RunProgram(call);
    ASSERT_EQ(run.status, 0) << where << "\n" << run.log;

    const kembview::Rendering printed = kembview::Render(run.out);
    const kembview::Rendering expected = kembview::Render(PlainStream(c.setup, lines));
    EXPECT_TRUE(printed.problems.empty()) << where << ": " << printed.problems.front();
    ASSERT_EQ(printed.pages.size(), 1u) << where;
    ASSERT_EQ(expected.pages.size(), 1u) << where;
    EXPECT_GT(expected.pages[0].CountDots(), 10000u) << where;
    EXPECT_EQ(Mismatches(printed.pages[0], expected.pages[0], c.column_dots, c.line_dots), "")
        << where;
  }
}

}  // namespace
}  // namespace kemb::testing
