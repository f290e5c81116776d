// SPDX-License-Identifier: Apache-2.0
// The text engine's parts on their own:
//   Utf8Decoder    well-formed sequences, and every malformed kind read as ISO-8859-1 bytes
//   CodePage437    its letters, box drawing and symbols at their bytes; look-alikes elsewhere
//   TextEngine     a document fed whole, byte by byte and in odd pieces prints the same bytes
//                  (sequences, CR LF, overstrikes and tabs cut across pieces)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "printer/byte_sink.h"
#include "text/code_page.h"
#include "text/text_engine.h"
#include "text/text_layout.h"
#include "text/utf8_decoder.h"

namespace kemb {
namespace {

std::vector<uint32_t> Decode(const std::string& bytes) {
  std::vector<uint32_t> out;
  Utf8Decoder decoder;
  auto emit = [&](uint32_t c) { out.push_back(c); };
  for (char b : bytes) decoder.Put(static_cast<uint8_t>(b), emit);
  decoder.Finish(emit);
  return out;
}

TEST(Utf8Decoder, ReadsSequencesAndFallsBackToLatin1) {
  struct Case {
    std::string bytes;
    std::vector<uint32_t> expected;
  };
  const std::vector<Case> cases = {
      {"a\xC3\xA9", {'a', 0xE9}},
      {"\xE2\x94\x80", {0x2500}},
      {"\xF0\x9F\x98\x80", {0x1F600}},
      {"\xE9t\xE9", {0xE9, 't', 0xE9}},             // Latin-1 text
      {"\x80\xBF", {0x80, 0xBF}},                   // stray continuations
      {"\xC0\x80", {0xC0, 0x80}},                   // overlong NUL
      {"\xE0\x80\xAF", {0xE0, 0x80, 0xAF}},         // overlong slash
      {"\xED\xA0\x80", {0xED, 0xA0, 0x80}},         // a surrogate
      {"\xF4\x90\x80\x80", {0xF4, 0x90, 0x80, 0x80}},  // past U+10FFFF
      {"\xF8\x88", {0xF8, 0x88}},                   // no such lead byte
      {"\xE2\x82", {0xE2, 0x82}},                   // cut by the end
      {"\xE2(", {0xE2, '('}},                       // cut by an ASCII byte, which stays
  };
  for (const Case& c : cases) EXPECT_EQ(Decode(c.bytes), c.expected) << c.bytes;
}

TEST(CodePage437, LettersBoxDrawingAndSymbolsAtTheirBytes) {
  const std::vector<std::pair<uint32_t, uint8_t>> known = {
      {0x00C7, 0x80}, {0x00E9, 0x82}, {0x00C4, 0x8E}, {0x00DC, 0x9A}, {0x00F1, 0xA4},
      {0x00BD, 0xAB}, {0x2591, 0xB0}, {0x2502, 0xB3}, {0x2510, 0xBF}, {0x2500, 0xC4},
      {0x253C, 0xC5}, {0x2550, 0xCD}, {0x2588, 0xDB}, {0x00DF, 0xE1}, {0x00B0, 0xF8},
      {0x00A0, 0xFF}, {'A', 'A'}, {'~', '~'}};
  for (const auto& [code_point, byte] : known) {
    EXPECT_EQ(ToCodePage437(code_point), byte) << std::hex << code_point;
  }
  for (uint32_t missing : {0x20ACu, 0x00C3u, 0x2603u, 0x7Fu, 0x1Bu, 0x9Bu}) {
    EXPECT_EQ(ToCodePage437(missing), 0) << std::hex << missing;
  }
  // Every byte of the upper half is reached by exactly one code point of its table.
  std::vector<int> reached(256, 0);
  for (uint32_t c = 0xA0; c < 0x2600; ++c) ++reached[ToCodePage437(c)];
  for (int byte = 0x80; byte <= 0xFF; ++byte) EXPECT_EQ(reached[byte], 1) << std::hex << byte;
}

TEST(CodePage437, LookAlikes) {
  EXPECT_EQ(ToPlainAscii(0x00C3), 'A');
  EXPECT_EQ(ToPlainAscii(0x00E9), 'e');
  EXPECT_EQ(ToPlainAscii(0x2500), '-');
  EXPECT_EQ(ToPlainAscii(0x2551), '|');
  EXPECT_EQ(ToPlainAscii(0x2554), '+');
  EXPECT_EQ(ToPlainAscii(0x2592), '#');
  EXPECT_EQ(ToPlainAscii(0x2010), '-');
  EXPECT_EQ(ToPlainAscii(0x201C), '"');
  EXPECT_EQ(ToPlainAscii(0x00C6), 0);
  EXPECT_EQ(ToPlainAscii(0x20AC), 0);
}

std::vector<uint8_t> Print(const std::string& document, size_t piece, CommandSetId set) {
  TextPaper paper;
  paper.command_set = set;
  paper.width = 612, paper.length = 792, paper.length_points = 792;
  paper.left = paper.right = 18, paper.top = paper.bottom = 18;
  TextSettings settings;
  settings.page_right = 612 - 18 - 72;  // 10 columns
  settings.page_bottom = 792 - 18 - 36; // 3 lines
  TextLayout layout;
  EXPECT_TRUE(MakeTextLayout(paper, settings, &layout).ok());
  MemorySink out;
  TextEngine engine(layout, out);
  EXPECT_TRUE(engine.Start().ok());
  const auto* bytes = reinterpret_cast<const uint8_t*>(document.data());
  for (size_t at = 0; at < document.size(); at += piece) {
    engine.Feed({bytes + at, std::min(piece, document.size() - at)});
  }
  EXPECT_TRUE(engine.EndCopy().ok());
  EXPECT_TRUE(engine.EndJob().ok());
  return out.bytes;
}

TEST(TextEngine, PiecesOfAnySizePrintTheSame) {
  const std::string document =
      "Caf\xC3\xA9 \xE2\x94\x80\xE2\x94\x80\r\nB\bBo\bo_\bu\tx\r\n\xE9t\xE9 0123456789abc\f"
      "\r\n\r\n\xF0\x9F\x98\x80 end\r";
  for (CommandSetId set : {CommandSetId::kLq, CommandSetId::kAlternate}) {
    const std::vector<uint8_t> whole = Print(document, document.size(), set);
    ASSERT_GT(whole.size(), 9800u);
    for (size_t piece : {1u, 2u, 3u, 5u, 7u}) {
      EXPECT_EQ(Print(document, piece, set), whole) << "pieces of " << piece;
    }
  }
}

}  // namespace
}  // namespace kemb
