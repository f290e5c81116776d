// SPDX-License-Identifier: Apache-2.0
// Tests of the command listing: every command of both sets, NUL runs, unknown bytes,
// truncated commands, the line format, and arbitrary bytes.
//
//   ListCase, kCommandCases     stream -> "name / params" per entry, and which entries are unknown
//   ListsEveryCommand           the table
//   ListsWorkedExamplePage      a whole one-page job, with offsets
//   FormatsLines                offset, name column, params
//   CoversArbitraryBytes        entries tile any byte stream without gaps
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "stream_bytes.h"
#include "stream_decoder.h"

namespace {

using kembtest::Bytes;
using kembtest::Cat;
using kembtest::Repeat;

struct ListCase {
  const char* name;
  Bytes stream;
  std::vector<std::string> entries;  // "name / params", or just the name when it has none
  std::vector<bool> unknown;         // per entry
};

std::string Describe(const kembview::Command& command) {
  return command.params.empty() ? command.name : command.name + " / " + command.params;
}

Bytes Columns(size_t count) {
  return Repeat(0x5A, 3 * count);
}

const std::vector<ListCase> kCommandCases = {
    {"nul run", Repeat(0x00, 9800), {"NUL x 9800"}, {false}},
    {"single nul between", {0x0D, 0x00, 0x0D}, {"CR", "NUL x 1", "CR"}, {false, false, false}},
    {"reset", {0x1B, 0x40}, {"ESC @ / reset"}, {false}},
    {"okidata", {0x1B, 0x7B, 0x41}, {"ESC { A"}, {false}},
    {"esc 6", {0x1B, 0x36}, {"ESC 6"}, {false}},
    {"fs x 1 and 0",
     {0x1C, 0x78, 0x31, 0x1C, 0x78, 0x30},
     {"FS x / n=1 (31h)", "FS x / n=0 (30h)"},
     {false, false}},
    {"esc U 1 and 0",
     {0x1B, 0x55, 0x31, 0x1B, 0x55, 0x30},
     {"ESC U / unidirectional=on (31h)", "ESC U / unidirectional=off (30h)"},
     {false, false}},
    {"esc 2 and esc C",
     {0x1B, 0x32, 0x1B, 0x43, 0x42},
     {"ESC 2 / line spacing=1/6 inch", "ESC C / page length=66 lines"},
     {false, false}},
    {"line spacings",
     {0x1B, 0x33, 0x18, 0x1B, 0x33, 0x08, 0x1B, 0x2B, 0x08},
     {"ESC 3 / line spacing=24/180 inch", "ESC 3 / line spacing=8/180 inch",
      "ESC + / line spacing=8/360 inch"},
     {false, false, false}},
    {"esc * modes",
     Cat({kembtest::LqImage(0x00, Columns(1)), kembtest::LqImage(0x01, Columns(2)),
          kembtest::LqImage(0x27, Columns(3)), kembtest::LqImage(0x03, Columns(1)),
          kembtest::LqImage(0x28, Columns(1)), kembtest::LqImage(0x48, Columns(1))}),
     {"ESC * / mode=00h (60dpi) columns=1 data=3 bytes",
      "ESC * / mode=01h (120dpi) columns=2 data=6 bytes",
      "ESC * / mode=27h (180dpi) columns=3 data=9 bytes",
      "ESC * / mode=03h (240dpi) columns=1 data=3 bytes",
      "ESC * / mode=28h (360dpi) columns=1 data=3 bytes",
      "ESC * / mode=48h (360dpi, rows 1/360) columns=1 data=3 bytes"},
     std::vector<bool>(6, false)},
    {"esc * without mode byte",
     Cat({{0x1B, 0x2A, 0x02, 0x00}, Columns(2), {0x0D}}),
     {"ESC * / mode=none columns=2 data=6 bytes", "CR"},
     {false, false}},
    {"esc * 256 columns",
     kembtest::LqImage(0x27, Columns(256)),
     {"ESC * / mode=27h (180dpi) columns=256 data=768 bytes"},
     {false}},
    {"unit and advance",
     Cat({kembtest::LqUnit(0x14), kembtest::LqAdvance(24), kembtest::LqUnit(0x40),
          kembtest::LqAdvance(0x0102)}),
     {"ESC ( U / unit=20/3600 inch", "ESC ( v / advance=24 x 20/3600 inch = 480/3600 inch",
      "ESC ( U / unit=64/3600 inch", "ESC ( v / advance=258 x 64/3600 inch = 16512/3600 inch"},
     std::vector<bool>(4, false)},
    {"advance in the default unit, and after reset",
     Cat({kembtest::LqAdvance(48), kembtest::LqUnit(0x14), kembtest::kResetLq,
          kembtest::LqAdvance(1)}),
     {"ESC ( v / advance=48 x 10/3600 inch = 480/3600 inch", "ESC ( U / unit=20/3600 inch",
      "ESC @ / reset", "ESC ( v / advance=1 x 10/3600 inch = 10/3600 inch"},
     std::vector<bool>(4, false)},
    {"alternate set-up",
     {0x1B, 0x4E, 0x1B, 0x25, 0x42, 0x1B, 0x36, 0x1B, 0x46, 0x06, 0x06, 0x1B, 0x46, 0x0B, 0x00},
     {"ESC N", "ESC % B", "ESC 6", "ESC F / page length=66 lines (t=06h u=06h)",
      "ESC F / page length=110 lines (t=0Bh u=00h)"},
     std::vector<bool>(5, false)},
    {"alternate image, n big endian",
     kembtest::AltImage(Columns(300)),
     {"ESC % 1 / columns=300 data=900 bytes"},
     {false}},
    {"alternate advances",
     Cat({kembtest::AltAdvance(0xFF), kembtest::AltAdvance(0x41), kembtest::AltAdvance(16)}),
     {"ESC % 5 / advance=255 units (382.5 dot rows)", "ESC % 5 / advance=65 units (97.5 dot rows)",
      "ESC % 5 / advance=16 units (24 dot rows)"},
     std::vector<bool>(3, false)},
    {"cr and ff", {0x0D, 0x0C}, {"CR", "FF"}, {false, false}},
    // Bytes the vocabulary does not explain.
    {"stray control byte", {0x0D, 0x07, 0x0D}, {"CR", "UNKNOWN 07h", "CR"}, {false, true, false}},
    {"vertical tab", {0x0B}, {"UNKNOWN 0Bh"}, {true}},
    {"unknown escape", {0x1B, 0x5A, 0x0D}, {"UNKNOWN ESC 5Ah", "CR"}, {true, false}},
    {"escape before a control byte", {0x1B, 0x0D}, {"UNKNOWN 1Bh", "CR"}, {true, false}},
    {"unknown fs", {0x1C, 0x41}, {"UNKNOWN FS 41h"}, {true}},
    {"esc U out of range", {0x1B, 0x55, 0x05}, {"ESC U / n=05h (not 0 or 1)"}, {true}},
    {"unknown esc ( skipped by its length",
     {0x1B, 0x28, 0x43, 0x02, 0x00, 0x41, 0x42, 0x0D},
     {"UNKNOWN ESC ( 43h / length=2", "CR"},
     {true, false}},
    {"esc ( U of another length",
     {0x1B, 0x28, 0x55, 0x02, 0x00, 0x14, 0x00},
     {"ESC ( U / length=2 (expected 1)"},
     {true}},
    {"unknown esc %", {0x1B, 0x25, 0x39}, {"UNKNOWN ESC % 39h"}, {true}},
    {"esc { other", {0x1B, 0x7B, 0x42}, {"UNKNOWN ESC { 42h"}, {true}},
    // Streams cut inside a command.
    {"image cut inside its data",
     {0x1B, 0x2A, 0x27, 0x03, 0x00, 0x80, 0x00},
     {"truncated ESC * / mode=27h (180dpi) columns=3 data=2 of 9 bytes"},
     {true}},
    {"image cut inside its header",
     {0x0D, 0x1B, 0x2A, 0x27, 0x03},
     {"CR", "truncated ESC * / needs 5 bytes, 4 present"},
     {false, true}},
    {"alternate image cut",
     {0x1B, 0x25, 0x31, 0x00, 0x02, 0x80},
     {"truncated ESC % 1 / columns=2 data=1 of 6 bytes"},
     {true}},
    {"lone escape", {0x1B}, {"truncated ESC / needs 2 bytes, 1 present"}, {true}},
    {"advance cut",
     {0x1B, 0x28, 0x76, 0x02, 0x00, 0x18},
     {"truncated ESC ( v / needs 7 bytes, 6 present"},
     {true}},
    {"esc F cut", {0x1B, 0x46, 0x06}, {"truncated ESC F / needs 4 bytes, 3 present"}, {true}},
    {"esc C cut", {0x1B, 0x43}, {"truncated ESC C / needs 3 bytes, 2 present"}, {true}},
    {"esc % 5 cut", {0x1B, 0x25, 0x35}, {"truncated ESC % 5 / needs 4 bytes, 3 present"}, {true}},
};

// Entries must tile the stream: each starts where the last ended, none is empty.
void ExpectTiles(const std::vector<kembview::Command>& commands, size_t stream_size,
                 const std::string& where) {
  size_t next = 0;
  for (size_t i = 0; i < commands.size(); ++i) {
    EXPECT_EQ(commands[i].offset, next) << where << ", entry " << i;
    EXPECT_GT(commands[i].length, 0u) << where << ", entry " << i;
    next = commands[i].offset + commands[i].length;
  }
  EXPECT_EQ(next, stream_size) << where << ": entries end before the stream does";
}

TEST(CommandList, ListsEveryCommand) {
  for (const ListCase& c : kCommandCases) {
    const auto commands = kembview::ListCommands(c.stream);
    std::vector<std::string> described;
    std::vector<bool> unknown;
    for (const auto& command : commands) {
      described.push_back(Describe(command));
      unknown.push_back(command.unknown);
    }
    EXPECT_EQ(described, c.entries) << "case: " << c.name;
    EXPECT_EQ(unknown, c.unknown) << "case: " << c.name;
    ExpectTiles(commands, c.stream.size(), std::string("case: ") + c.name);
  }
}

// The one-page job of a 60x24 page with one dot at its top-left corner.
TEST(CommandList, ListsWorkedExamplePage) {
  const Bytes stream = Cat({Repeat(0x00, 9800),
                            {0x1B, 0x40, 0x1B, 0x36, 0x1C, 0x78, 0x30, 0x1B, 0x55, 0x30, 0x1B, 0x32,
                             0x1B, 0x43, 0x42, 0x1B, 0x33, 0x08, 0x0D},
                            kembtest::LqImage(0x27, {0x80, 0, 0, 0, 0, 0, 0, 0, 0}),
                            {0x0C, 0x1B, 0x40}});
  const std::vector<std::pair<size_t, std::string>> expected = {
      {0, "NUL x 9800"},
      {9800, "ESC @ / reset"},
      {9802, "ESC 6"},
      {9804, "FS x / n=0 (30h)"},
      {9807, "ESC U / unidirectional=off (30h)"},
      {9810, "ESC 2 / line spacing=1/6 inch"},
      {9812, "ESC C / page length=66 lines"},
      {9815, "ESC 3 / line spacing=8/180 inch"},
      {9818, "CR"},
      {9819, "ESC * / mode=27h (180dpi) columns=3 data=9 bytes"},
      {9833, "FF"},
      {9834, "ESC @ / reset"},
  };
  std::vector<std::pair<size_t, std::string>> listed;
  for (const auto& command : kembview::ListCommands(stream)) {
    listed.emplace_back(command.offset, Describe(command));
  }
  EXPECT_EQ(listed, expected);
}

TEST(CommandList, FormatsLines) {
  const struct {
    kembview::Command command;
    const char* line;
  } cases[] = {
      {{0x264B, 14, "ESC *", "mode=27h (180dpi) columns=3 data=9 bytes", false},
       "0000264b  ESC *           mode=27h (180dpi) columns=3 data=9 bytes"},
      {{0, 9800, "NUL x 9800", "", false}, "00000000  NUL x 9800"},
      {{0x10, 1, "UNKNOWN 41h", "", true}, "00000010  UNKNOWN 41h"},
      {{0x12, 20, "UNKNOWN ESC ( 43h", "length=15", true}, "00000012  UNKNOWN ESC ( 43h length=15"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(kembview::FormatListLine(c.command), c.line) << "command: " << c.command.name;
  }
}

// Random streams drawn mostly from command bytes, so that they hit every reader path.
TEST(CommandList, CoversArbitraryBytes) {
  const uint8_t alphabet[] = {0x00, 0x0C, 0x0D, 0x1B, 0x1C, 0x2A, 0x25, 0x28, 0x31, 0x35,
                              0x55, 0x76, 0x40, 0x43, 0x46, 0x27, 0x48, 0x01, 0x02, 0xFF};
  std::mt19937 random(20240611);
  for (int round = 0; round < 300; ++round) {
    Bytes stream(random() % 200);
    for (uint8_t& byte : stream) {
      byte = random() % 3 ? alphabet[random() % sizeof alphabet] : static_cast<uint8_t>(random());
    }
    ExpectTiles(kembview::ListCommands(stream), stream.size(), "round " + std::to_string(round));
  }
}

}  // namespace
