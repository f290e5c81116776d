// SPDX-License-Identifier: Apache-2.0
// The table of text jobs and the bytes each must print, spelled out command by command.
#include "support/text_cases.h"

#include <initializer_list>

namespace kemb::testing {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes Repeat(const Bytes& part, int times) {
  Bytes all;
  for (int i = 0; i < times; ++i) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// An LQ page's start: reset, page length in 1/6 inch lines, code page 437, quality, pitch
// (10 cpi unless given) and line spacing (nothing for 6 lpi).
Bytes LqPage(uint8_t length_lines, uint8_t quality = 1, Bytes pitch = {0x1B, 'P'},
             Bytes spacing = {}) {
  return Cat({{0x1B, '@', 0x1B, '6', 0x1B, '2', 0x1B, 'C', length_lines},
              {0x1B, 't', 0x01, 0x1B, 'x', quality},
              pitch,
              spacing});
}

// A4 in the PPDs: 842 points, 70 lines of 1/6 inch.
const Bytes kA4 = LqPage(0x46);
const Bytes kFF = {0x0C};
const Bytes kReset = {0x1B, '@'};

}  // namespace

const std::vector<TextCase>& TextCases() {
  // A4 with the PPD's margins: 77 columns at 10 cpi, 65 lines. Cases that need a short line or
  // page narrow it with the margins: page-right=505 leaves 72 points (10 columns at 10 cpi),
  // page-bottom=770 leaves 54 points (4 lines at 6 lpi).
  static const std::vector<TextCase> cases = {
      {"Empty", "kemb24.ppd", "", 1, "", {}},
      {"OneLine", "kemb24.ppd", "", 1, "Hello\n", Cat({kA4, B("Hello\r\n"), kFF, kReset})},
      {"NoNewlineAtEnd", "kemb24.ppd", "", 1, "Hello", Cat({kA4, B("Hello\r\n"), kFF, kReset})},
      {"CrLfLines", "kemb24.ppd", "", 1, "a\r\nb\r\n\r\nc",
       Cat({kA4, B("a\r\nb\r\n\r\nc\r\n"), kFF, kReset})},
      {"TrailingBlanksDropped", "kemb24.ppd", "", 1, "a   \n  \n",
       Cat({kA4, B("a\r\n\r\n"), kFF, kReset})},
      {"Tabs", "kemb24.ppd", "", 1, "a\tb\n12345678\tc\n",
       Cat({kA4, B("a       b\r\n12345678        c\r\n"), kFF, kReset})},
      {"Draft12Cpi8Lpi", "kemb24.ppd", "cpi=12 lpi=8 text-quality=draft", 1, "x\n",
       Cat({LqPage(0x46, 0, {0x1B, 'M'}, {0x1B, '0'}), B("x\r\n"), kFF, kReset})},
      {"Cpi15", "kemb24.ppd", "cpi=15", 1, "x\n",
       Cat({LqPage(0x46, 1, {0x1B, 'g'}), B("x\r\n"), kFF, kReset})},
      {"Cpi17", "kemb24.ppd", "cpi=17", 1, "x\n",
       Cat({LqPage(0x46, 1, {0x1B, 'P', 0x0F}), B("x\r\n"), kFF, kReset})},
      {"Cpi20", "kemb24.ppd", "cpi=20", 1, "x\n",
       Cat({LqPage(0x46, 1, {0x1B, 'M', 0x0F}), B("x\r\n"), kFF, kReset})},
      {"PrintQualityDraft", "kemb24.ppd", "print-quality=3", 1, "x\n",
       Cat({LqPage(0x46, 0), B("x\r\n"), kFF, kReset})},
      {"Wrap", "kemb24.ppd", "page-right=505", 1, "0123456789ABC\n0123456789\n",
       Cat({kA4, B("0123456789\r\nABC\r\n0123456789\r\n"), kFF, kReset})},
      {"WrapFalseCuts", "kemb24.ppd", "page-right=505 wrap=false", 1, "0123456789ABC\tD\bD\nE\n",
       Cat({kA4, B("0123456789\r\nE\r\n"), kFF, kReset})},
      {"TabPastTheLineWraps", "kemb24.ppd", "page-right=505", 1, "abcdefghi\tj\n",
       Cat({kA4, B("abcdefghi\r\nj\r\n"), kFF, kReset})},
      {"PageBreak", "kemb24.ppd", "page-bottom=770", 1, "1\n2\n3\n4\n5\n",
       Cat({kA4, B("1\r\n2\r\n3\r\n4\r\n"), kFF, kA4, B("5\r\n"), kFF, kReset})},
      {"PageExactlyFull", "kemb24.ppd", "page-bottom=770", 1, "1\n2\n3\n4\n",
       Cat({kA4, B("1\r\n2\r\n3\r\n4\r\n"), kFF, kReset})},
      {"FullPageThenFormFeed", "kemb24.ppd", "page-bottom=770", 1, "1\n2\n3\n4\n\f",
       Cat({kA4, B("1\r\n2\r\n3\r\n4\r\n"), kFF, kReset})},
      {"FormFeeds", "kemb24.ppd", "", 1, "\fa\fb\n\f\fc",
       Cat({kA4, B("a\r\n"), kFF, kA4, B("b\r\n"), kFF, kA4, kFF, kA4, B("c\r\n"), kFF,
            kReset})},
      {"FormFeedOnTheLastLine", "kemb24.ppd", "", 1, "a\n\f", Cat({kA4, B("a\r\n"), kFF, kReset})},
      {"Margins", "kemb24.ppd", "page-left=54 page-top=42", 1, "a\n\nb\n",
       Cat({kA4, B("\n\n     a\r\n\r\n     b\r\n"), kFF, kReset})},
      {"Overstrike", "kemb24.ppd", "", 1, "B\bBo\bo _\bu_\bn x\b_",
       Cat({kA4, B("\x1B" "EBo\x1B" "F \x1B-\x01un\x1B-"), Bytes{0}, B(" \x1B-\x01x\x1B-"),
            Bytes{0}, B("\r\n"), kFF, kReset})},
      {"Utf8AndCodePage", "kemb24.ppd", "", 1, "\xC3\xA9\xE2\x94\x80\xE2\x82\xAC\xE2\x80\x9C\n",
       Cat({kA4, Bytes{0x82, 0xC4, '?', '"', '\r', '\n'}, kFF, kReset})},
      {"InvalidBytesAsLatin1", "kemb24.ppd", "", 1, "\xE9t\xE9 \xC3(\xFF\n",
       Cat({kA4, Bytes{0x82, 't', 0x82, ' ', 'A', '(', 0x98, '\r', '\n'}, kFF, kReset})},
      {"ControlCodesNeverReachThePrinter", "kemb24.ppd", "", 1, "\x1B@\x07" "a\x7F\xC2\x9B\n",
       Cat({kA4, B("?@?a??\r\n"), kFF, kReset})},
      {"Copies", "kemb24.ppd", "", 2, "a\fb",
       Cat({Repeat(Cat({kA4, B("a\r\n"), kFF, kA4, B("b\r\n"), kFF}), 2), kReset})},
      {"Okidata", "kemb24o.ppd", "", 1, "a\n", Cat({{0x1B, '{', 'A'}, kA4, B("a\r\n"), kFF, kReset})},
      {"FanfoldLetter", "kemb24.ppd", "PageSize=Letter.Fanfold", 1, "a\n",
       Cat({LqPage(0x42), B("a\r\n"), kFF, kReset})},
      {"FanfoldGerman", "kemb24.ppd", "PageSize=FanFoldGerman", 1, "a\n",
       Cat({LqPage(0x48), B("a\r\n"), kFF, kReset})},
      {"Alternate", "kemb24a.ppd", "", 1, "Hello \xC3\xA9\xE2\x94\x82\xE2\x82\xAC\nB\bB_\bu\n",
       Cat({{0x1B, 'N', 0x1B, '%', 'B', 0x1B, '6', 0x1B, 'F', 7, 0},
            B("Hello e|?\r\nBu\r\n"), kFF})},
  };
  return cases;
}

std::vector<uint8_t> TextJobBytes(const TextCase& text_case) {
  if (text_case.expected.empty()) return {};
  Bytes all(9800, 0x00);
  all.insert(all.end(), text_case.expected.begin(), text_case.expected.end());
  return all;
}

}  // namespace kemb::testing
