// SPDX-License-Identifier: Apache-2.0
// Tests of text: the text commands and characters in the listing, and where the preview
// draws each character.
//
//   TextListCase, kTextListCases   stream -> "name / params" per entry, and which are problems
//   ListsTextCommands              the table, in both command sets
//   PlacesCharactersAtPitchAndLine a full block at a column and line for every pitch and spacing
//   DrawsStyles                    underline row, bold darker, draft lighter, reset plain
//   MovesTheHead                   CR, LF, runs after images, text after a paper move
//   SplitsTextPages                a form feed ends a page; trailing spaces make none
//   JoinsBoxDrawing                lines meet cell to cell, and line to line at 1/8 inch
//   HasAGlyphForEveryCharacter     every printed byte draws, and no two alike
#include <gtest/gtest.h>

#include <algorithm>
#include <ios>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "font.h"
#include "stream_bytes.h"
#include "stream_decoder.h"

namespace {

using kembtest::Bytes;
using kembtest::Cat;
using kembtest::kCr;
using kembtest::kFf;
using kembtest::kResetLq;

const Bytes kLf = {0x0A};
const Bytes kAltStart = {0x1B, 0x4E};
const Bytes kBold = {0x1B, 0x45};
const Bytes kUnderline = {0x1B, 0x2D, 0x01};
const Bytes kDraft = {0x1B, 0x78, 0x00};
const uint8_t kFullBlock = 0xDB;

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

struct TextListCase {
  const char* name;
  Bytes stream;
  std::vector<std::string> entries;  // "name / params", or just the name
  std::vector<bool> unknown;
};

const std::vector<TextListCase> kTextListCases = {
    {"quality",
     Cat({kResetLq, {0x1B, 0x78, 0x00, 0x1B, 0x78, 0x01, 0x1B, 0x78, 0x31}}),
     {"ESC @ / reset", "ESC x / draft (00h)", "ESC x / letter quality (01h)",
      "ESC x / letter quality (31h)"},
     std::vector<bool>(4, false)},
    {"pitches",
     Cat({kResetLq, {0x1B, 0x50, 0x1B, 0x4D, 0x1B, 0x67}}),
     {"ESC @ / reset", "ESC P / pitch=10 cpi", "ESC M / pitch=12 cpi", "ESC g / pitch=15 cpi"},
     std::vector<bool>(4, false)},
    {"condensed",
     Cat({kResetLq, {0x0F, 0x12}}),
     {"ESC @ / reset", "SI / condensed on", "DC2 / condensed off"},
     std::vector<bool>(3, false)},
    {"line spacings",
     Cat({kResetLq, {0x1B, 0x32, 0x1B, 0x30}}),
     {"ESC @ / reset", "ESC 2 / line spacing=1/6 inch", "ESC 0 / line spacing=1/8 inch"},
     std::vector<bool>(3, false)},
    {"code page 437",
     Cat({kResetLq, {0x1B, 0x74, 0x01}}),
     {"ESC @ / reset", "ESC t / table=01h (code page 437)"},
     std::vector<bool>(2, false)},
    {"bold: ESC F after ESC @ is bold off",
     Cat({kResetLq, {0x1B, 0x45, 0x1B, 0x46}}),
     {"ESC @ / reset", "ESC E / bold on", "ESC F / bold off"},
     std::vector<bool>(3, false)},
    {"underline",
     Cat({kResetLq, {0x1B, 0x2D, 0x01, 0x1B, 0x2D, 0x00}}),
     {"ESC @ / reset", "ESC - / underline on (01h)", "ESC - / underline off (00h)"},
     std::vector<bool>(3, false)},
    {"characters and line end",
     Cat({kResetLq, Text("  INVOICE 1234"), kCr, kLf, kFf}),
     {"ESC @ / reset", "text / \"  INVOICE 1234\"", "CR", "LF", "FF"},
     std::vector<bool>(5, false)},
    {"code page 437 shown as UTF-8",
     Cat({kResetLq, {0xC9, 0xCD, 0xBB, 0xB3, 0x81, 0x9C, 0xE1, 0xF8, 0xFF}}),
     {"ESC @ / reset", "text / \"╔═╗│ü£ß°\u00a0\""},
     std::vector<bool>(2, false)},
    {"quote and backslash escaped",
     Text("say \"a\\b\""),
     {"text / \"say \\\"a\\\\b\\\"\""},
     {false}},
    {"long runs in several entries",
     kembtest::Repeat('x', 600),
     {"text / \"" + std::string(512, 'x') + "\"", "text / \"" + std::string(88, 'x') + "\""},
     {false, false}},
    // Problems in the LQ set.
    {"another character table",
     Cat({kResetLq, {0x1B, 0x74, 0x00}}),
     {"ESC @ / reset", "ESC t / table=00h (not known)"},
     {false, true}},
    {"underline out of range",
     Cat({kResetLq, {0x1B, 0x2D, 0x05}}),
     {"ESC @ / reset", "ESC - / n=05h (not 0 or 1)"},
     {false, true}},
    {"delete is no character", {0x41, 0x7F}, {"text / \"A\"", "UNKNOWN 7Fh"}, {false, true}},
    {"quality cut", {0x1B, 0x78}, {"truncated ESC x / needs 3 bytes, 2 present"}, {true}},
    // The alternate set: ASCII, CR, LF, FF and its page length; the LQ text commands are not
    // known to it.
    {"alternate text",
     Cat({kAltStart, {0x1B, 0x46, 0x06, 0x06}, Text("Hi"), kCr, kLf, kFf}),
     {"ESC N", "ESC F / page length=66 lines (t=06h u=06h)", "text / \"Hi\"", "CR", "LF", "FF"},
     std::vector<bool>(6, false)},
    {"alternate: LQ text commands are problems",
     Cat({kAltStart, kBold, {0x1B, 0x50, 0x0F, 0x1B, 0x2D, 0x01, 0x1B, 0x30}}),
     {"ESC N", "ESC E / bold on (LQ set only)", "ESC P / pitch=10 cpi (LQ set only)",
      "SI / condensed on (LQ set only)", "ESC - / underline on (01h) (LQ set only)",
      "ESC 0 / line spacing=1/8 inch (LQ set only)"},
     {false, true, true, true, true, true}},
    {"alternate: no characters above 7Fh",
     Cat({kAltStart, {0x41, 0x81}}),
     {"ESC N", "text / \"A\"", "UNKNOWN 81h"},
     {false, false, true}},
    {"ESC F follows the set of each page",
     Cat({kAltStart,
          {0x1B, 0x46, 0x00, 0x03},
          kFf,
          kResetLq,
          {0x1B, 0x46},
          kFf,
          kAltStart,
          {0x1B, 0x46, 0x01, 0x02}}),
     {"ESC N", "ESC F / page length=3 lines (t=00h u=03h)", "FF", "ESC @ / reset",
      "ESC F / bold off", "FF", "ESC N", "ESC F / page length=12 lines (t=01h u=02h)"},
     std::vector<bool>(8, false)},
};

TEST(TextList, ListsTextCommands) {
  for (const TextListCase& c : kTextListCases) {
    std::vector<std::string> described;
    std::vector<bool> unknown;
    size_t next = 0;
    for (const kembview::Command& command : kembview::ListCommands(c.stream)) {
      described.push_back(command.params.empty() ? command.name
                                                 : command.name + " / " + command.params);
      unknown.push_back(command.unknown);
      EXPECT_EQ(command.offset, next) << "case: " << c.name;
      next = command.offset + command.length;
    }
    EXPECT_EQ(described, c.entries) << "case: " << c.name;
    EXPECT_EQ(unknown, c.unknown) << "case: " << c.name;
    EXPECT_EQ(next, c.stream.size()) << "case: " << c.name;
  }
}

struct Box {
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // dots [x0, x1) x [y0, y1)
  bool operator==(const Box&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Box& box) {
  return out << "[" << box.x0 << "," << box.x1 << ")x[" << box.y0 << "," << box.y1 << ")";
}

Box InkBox(const kembview::Page& page) {
  Box box{page.width, page.height, 0, 0};
  for (int y = 0; y < page.height; ++y) {
    for (int x = 0; x < page.width; ++x) {
      if (!page.Dot(x, y)) continue;
      box = {std::min(box.x0, x), std::min(box.y0, y), std::max(box.x1, x + 1),
             std::max(box.y1, y + 1)};
    }
  }
  return box;
}

kembview::Page OnlyPage(const Bytes& stream) {
  const kembview::Rendering rendering = kembview::Render(stream);
  EXPECT_TRUE(rendering.problems.empty()) << rendering.problems.front();
  EXPECT_EQ(rendering.pages.size(), 1u);
  return rendering.pages.empty() ? kembview::Page() : rendering.pages[0];
}

// `column` spaces, then a full block: the block fills its character cell, 24 pins high.
Bytes BlockAt(const Bytes& setup, int column, int line) {
  Bytes stream = Cat({kResetLq, setup});
  for (int i = 0; i < line; ++i) stream = Cat({stream, kCr, kLf});
  return Cat({stream, kembtest::Repeat(' ', column), {kFullBlock}, kCr, kLf});
}

TEST(TextRender, PlacesCharactersAtPitchAndLine) {
  const Bytes eighth = {0x1B, 0x30};
  const struct {
    const char* name;
    Bytes setup;
    int width;  // character width in 1/360 inch, the grid's column pitch
    int column, line;
    int top;  // first 1/180 row of the line
  } cases[] = {
      {"10 cpi, 1/6 inch", {}, 36, 5, 3, 90},
      {"12 cpi", {0x1B, 0x4D}, 30, 7, 1, 30},
      {"15 cpi", {0x1B, 0x67}, 24, 11, 2, 60},
      {"17 cpi: condensed 10", {0x1B, 0x50, 0x0F}, 21, 13, 0, 0},
      {"20 cpi: condensed 12", {0x1B, 0x4D, 0x0F}, 18, 131, 4, 120},
      {"condensed ends", {0x1B, 0x4D, 0x0F, 0x12}, 30, 3, 0, 0},
      {"15 cpi is not condensed further", {0x1B, 0x67, 0x0F}, 24, 2, 1, 30},
      {"1/8 inch: 22.5 rows a line", eighth, 36, 1, 3, 67},
      {"1/8 inch, 12 cpi", Cat({eighth, {0x1B, 0x4D}}), 30, 4, 2, 45},
      {"1/8 inch then 1/6 inch", Cat({eighth, {0x1B, 0x32}}), 36, 0, 2, 60},
      {"ESC 3 24: 24/180 inch", {0x1B, 0x33, 24}, 36, 0, 2, 48},
      {"ESC + 36: 36/360 inch", {0x1B, 0x2B, 36}, 36, 0, 3, 54},
  };
  for (const auto& c : cases) {
    const kembview::Page page = OnlyPage(BlockAt(c.setup, c.column, c.line));
    EXPECT_EQ(page.xdpi, 360) << "case: " << c.name;
    EXPECT_EQ(page.ydpi, 180) << "case: " << c.name;
    const Box cell{c.column * c.width, c.top, (c.column + 1) * c.width, c.top + 24};
    EXPECT_EQ(InkBox(page), cell) << "case: " << c.name;
    EXPECT_EQ(page.CountDots(), static_cast<size_t>(c.width) * 24) << "case: " << c.name;
  }
}

TEST(TextRender, KeepsLettersInsideTheirCell) {
  // "Ag" at 10 cpi: letters from the cap line (pin 4) to the descender (pin 21).
  const kembview::Page page = OnlyPage(Cat({kResetLq, Text(" Ag")}));
  const Box box = InkBox(page);
  EXPECT_GE(box.x0, 36);
  EXPECT_LE(box.x1, 3 * 36);
  EXPECT_EQ(box.y0, 4);
  EXPECT_EQ(box.y1, 22);
}

// Dots on one 1/180 row of a page, from x0 to x1.
int DotsInRow(const kembview::Page& page, int y, int x0, int x1) {
  int dots = 0;
  for (int x = x0; x < x1; ++x) dots += page.Dot(x, y);
  return dots;
}

TEST(TextRender, DrawsStyles) {
  const kembview::Page plain = OnlyPage(Cat({kResetLq, Text("HELLO")}));
  const size_t plain_dots = plain.CountDots();
  ASSERT_GT(plain_dots, 0u);
  EXPECT_EQ(DotsInRow(plain, 22, 0, 5 * 36), 0);

  // The underline: pins 22 and 23 under every cell, the spaces' too.
  const kembview::Page underlined = OnlyPage(Cat({kResetLq, kUnderline, Text("HE LO")}));
  for (int pin : {22, 23}) EXPECT_EQ(DotsInRow(underlined, pin, 0, 5 * 36), 5 * 36) << pin;
  EXPECT_EQ(DotsInRow(underlined, 21, 0, 5 * 36), DotsInRow(plain, 21, 0, 5 * 36));

  const struct {
    const char* name;
    Bytes stream;
    int compared;  // -1 fewer dots than plain, 0 the same, 1 more
  } cases[] = {
      {"bold is darker", Cat({kResetLq, kBold, Text("HELLO")}), 1},
      {"bold off", Cat({kResetLq, kBold, {0x1B, 0x46}, Text("HELLO")}), 0},
      {"draft is lighter", Cat({kResetLq, kDraft, Text("HELLO")}), -1},
      {"reset forgets bold, draft and underline",
       Cat({kResetLq, kBold, kDraft, kUnderline, kResetLq, Text("HELLO")}), 0},
      {"alternate set: bold unknown, not applied", Cat({kAltStart, kBold, Text("HELLO")}), 0},
  };
  for (const auto& c : cases) {
    const kembview::Rendering rendering = kembview::Render(c.stream);
    ASSERT_EQ(rendering.pages.size(), 1u) << "case: " << c.name;
    const kembview::Page& page = rendering.pages[0];
    const size_t dots = page.CountDots();
    const int compared = dots < plain_dots ? -1 : dots > plain_dots ? 1 : 0;
    EXPECT_EQ(compared, c.compared) << "case: " << c.name << ", " << dots << " dots";
    EXPECT_EQ(InkBox(page).x0, InkBox(plain).x0) << "case: " << c.name;
    EXPECT_EQ(InkBox(page).y0, InkBox(plain).y0) << "case: " << c.name;
  }
}

TEST(TextRender, MovesTheHead) {
  const Bytes block = {kFullBlock};
  const struct {
    const char* name;
    Bytes stream;
    Box box;
  } cases[] = {
      {"CR returns to the left edge", Cat({kResetLq, Text("    "), kCr, block}), {0, 0, 36, 24}},
      {"LF returns too", Cat({kResetLq, Text("    "), kLf, block}), {0, 30, 36, 54}},
      {"runs follow each other",
       Cat({kResetLq, Text("  "), {0x1B, 0x4D}, Text("  "), block}),
       {2 * 36 + 2 * 30, 0, 2 * 36 + 3 * 30, 24}},
      {"text after a bit image starts at its right end",
       Cat({kResetLq, kembtest::LqImage(0x27, Cat({kembtest::Repeat(0, 3 * 9), {0x80, 0, 0}})),
            block}),
       {18, 0, 20 + 36, 24}},
      {"text after a paper move prints there",
       Cat({kResetLq, kembtest::LqAdvance(100), block}),
       {0, 50, 36, 74}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(InkBox(OnlyPage(c.stream)), c.box) << "case: " << c.name;
  }
}

TEST(TextRender, SplitsTextPages) {
  const Bytes stream = Cat({kembtest::Repeat(0, 100),
                            kResetLq,
                            {0x1B, 0x43, 66},
                            Text("  A"),
                            kCr,
                            kLf,
                            kFf,
                            Text("B"),
                            kCr,
                            kLf,
                            kFf,
                            kResetLq,
                            Text("   "),
                            kCr,
                            kLf});
  const kembview::Rendering rendering = kembview::Render(stream);
  EXPECT_TRUE(rendering.problems.empty());
  ASSERT_EQ(rendering.pages.size(), 2u);
  for (const kembview::Page& page : rendering.pages) {
    EXPECT_TRUE(page.ended_by_form_feed);
    EXPECT_EQ(page.height, 66 * 30);
  }
  EXPECT_GE(InkBox(rendering.pages[0]).x0, 2 * 36);
  EXPECT_LT(InkBox(rendering.pages[1]).x0, 36);
  EXPECT_LT(InkBox(rendering.pages[1]).y1, 30);
}

TEST(TextRender, JoinsBoxDrawing) {
  // A box three lines high: top, side, bottom.
  const Bytes rows = Cat({{0xDA, 0xC4, 0xC4, 0xBF},
                          kCr,
                          kLf,
                          {0xB3, ' ', ' ', 0xB3},
                          kCr,
                          kLf,
                          {0xC0, 0xC4, 0xC4, 0xD9},
                          kCr,
                          kLf});
  const struct {
    const char* name;
    Bytes spacing;
    int pitch;  // 1/180 rows a line
    bool joined;
  } cases[] = {
      {"1/8 inch: lines overlap", {0x1B, 0x30}, 22, true},
      {"1/6 inch: the head leaves a gap", {0x1B, 0x32}, 30, false},
  };
  for (const auto& c : cases) {
    const kembview::Page page = OnlyPage(Cat({kResetLq, c.spacing, rows}));
    const Box box = InkBox(page);
    // The left side's line (the leftmost ink), from the top line's middle to the bottom line's.
    const int side = box.x0 + 1;
    int gaps = 0;
    for (int y = 11; y < 2 * c.pitch + 11; ++y) gaps += !page.Dot(side, y);
    EXPECT_EQ(gaps == 0, c.joined) << "case: " << c.name << ", " << gaps << " rows missing";
    // The top line runs unbroken from the corner across both cells to the other corner.
    const int top_line = box.y0 + 1;
    EXPECT_EQ(DotsInRow(page, top_line, side, 3 * 36 + side), 3 * 36) << "case: " << c.name;
  }
}

TEST(TextRender, HasAGlyphForEveryCharacter) {
  const kembview::detail::Font font = kembview::detail::BuildFont();
  std::set<std::vector<uint8_t>> seen;
  for (int byte = 0x21; byte <= 0xFE; ++byte) {
    if (byte == 0x7F) continue;
    const auto& rows = font[byte].rows;
    EXPECT_FALSE(font[byte].Empty()) << std::hex << byte;
    EXPECT_TRUE(seen.insert(std::vector<uint8_t>(rows.begin(), rows.end())).second)
        << "glyph of " << std::hex << byte << " drawn twice";
  }
  for (int byte : {0x00, 0x0A, 0x1B, 0x20, 0x7F, 0xFF}) {
    EXPECT_TRUE(font[byte].Empty()) << std::hex << byte;
  }
}

}  // namespace
