// SPDX-License-Identifier: Apache-2.0
// Reading one command of the printer stream.
//
//   ReadLqImage, ReadAltImage    ESC * and ESC % 1 bit images with their data
//   ReadParenthesised            ESC ( X nL nH ..., the length-prefixed ESC/P2 form
//   ReadEscape, ReadFs           the ESC and FS families
//   ReadCommand                  dispatch on the first byte
//   CommandReader::Next          one command, then the unit and the set it leaves
// (text_commands.cpp reads the characters and the text commands)
#include "command_reader.h"

#include <algorithm>
#include <string>

#include "cp437.h"
#include "text_commands.h"
#include "token_parts.h"

namespace kembview::detail {
namespace {

constexpr uint8_t kEsc = 0x1B, kFs = 0x1C, kCr = 0x0D, kFf = 0x0C, kNul = 0x00;
constexpr uint8_t kLf = 0x0A, kSi = 0x0F, kDc2 = 0x12;

// Column density and row pitch of each ESC * mode byte the printer model knows.
struct LqMode {
  uint8_t byte;
  int column_dpi;
  int row_dpi;
};
constexpr LqMode kLqModes[] = {
    {0x00, 60, 180},  {0x01, 120, 180}, {0x27, 180, 180},
    {0x03, 240, 180}, {0x28, 360, 180}, {0x48, 360, 360},
};

const LqMode* FindLqMode(uint8_t byte) {
  for (const LqMode& mode : kLqModes) {
    if (mode.byte == byte) return &mode;
  }
  return nullptr;
}

// Fills in the data part shared by both bit-image commands.
Token WithImageData(std::span<const uint8_t> stream, size_t pos, size_t header, size_t columns,
                    Token token, const std::string& name, std::string params) {
  const size_t wanted = columns * 3;
  const size_t present = std::min(wanted, stream.size() - pos - header);
  token.columns = columns;
  token.data_offset = pos + header;
  token.data_present = present;
  token.truncated = present < wanted;
  params += "columns=" + std::to_string(columns) + " data=";
  params += token.truncated ? std::to_string(present) + " of " + std::to_string(wanted) + " bytes"
                            : std::to_string(wanted) + " bytes";
  token.command = {pos, header + present, token.truncated ? "truncated " + name : name,
                   std::move(params), token.truncated};
  return token;
}

Token ReadLqImage(std::span<const uint8_t> stream, size_t pos) {
  if (!Has(stream, pos, 3)) return Truncated(stream, pos, "ESC *", 5);
  const LqMode* mode = FindLqMode(stream[pos + 2]);
  const size_t header = mode ? 5 : 4;
  if (!Has(stream, pos, header)) return Truncated(stream, pos, "ESC *", header);
  Token token;
  token.op = Op::kLqImage;
  std::string params;
  if (mode) {
    token.has_mode = true;
    token.column_dpi = mode->column_dpi;
    token.row_dpi = mode->row_dpi;
    params = "mode=" + Hex(mode->byte) + " (" + std::to_string(mode->column_dpi) + "dpi" +
             (mode->row_dpi == 360 ? ", rows 1/360" : "") + ") ";
  } else {
    params = "mode=none ";
  }
  const size_t columns = stream[pos + header - 2] + 256u * stream[pos + header - 1];
  return WithImageData(stream, pos, header, columns, token, "ESC *", std::move(params));
}

Token ReadAltImage(std::span<const uint8_t> stream, size_t pos) {
  if (!Has(stream, pos, 5)) return Truncated(stream, pos, "ESC % 1", 5);
  Token token;
  token.op = Op::kAltImage;
  const size_t columns = 256u * stream[pos + 3] + stream[pos + 4];
  return WithImageData(stream, pos, 5, columns, token, "ESC % 1", "");
}

Token ReadParenthesised(std::span<const uint8_t> stream, size_t pos, int unit) {
  if (!Has(stream, pos, 5)) return Truncated(stream, pos, "ESC (", 5);
  const uint8_t letter = stream[pos + 2];
  const size_t length = stream[pos + 3] + 256u * stream[pos + 4];
  const std::string name = letter == 'U'   ? "ESC ( U"
                           : letter == 'v' ? "ESC ( v"
                                           : "UNKNOWN ESC ( " + Hex(letter);
  if (!Has(stream, pos, 5 + length)) return Truncated(stream, pos, name, 5 + length);
  const uint8_t* data = stream.data() + pos + 5;
  if (letter == 'U' && length == 1) {
    Token token = Simple(pos, 6, name, "unit=" + std::to_string(data[0]) + "/3600 inch", Op::kUnit);
    token.value = data[0];
    return token;
  }
  if (letter == 'v' && length == 2) {
    const int units = data[0] + 256 * data[1];
    Token token = Simple(pos, 7, name,
                         "advance=" + std::to_string(units) + " x " + std::to_string(unit) +
                             "/3600 inch = " + std::to_string(units * unit) + "/3600 inch",
                         Op::kLqAdvance);
    token.value = units;
    return token;
  }
  Token token = Simple(pos, 5 + length, name, "length=" + std::to_string(length), Op::kUnknown);
  if (letter == 'U' || letter == 'v') {
    token.command.params += letter == 'U' ? " (expected 1)" : " (expected 2)";
  }
  return token;
}

// ESC or FS followed by a byte the vocabulary does not give that prefix.
Token UnknownAfterPrefix(size_t pos, uint8_t prefix, uint8_t next) {
  // A control byte after the prefix more likely starts the next command than belongs to it.
  if (next == kNul || next == kCr || next == kFf || next == kEsc || next == kFs) {
    return Simple(pos, 1, "UNKNOWN " + Hex(prefix), "", Op::kUnknown);
  }
  return Simple(pos, 2, std::string("UNKNOWN ") + (prefix == kEsc ? "ESC " : "FS ") + Hex(next), "",
                Op::kUnknown);
}

Token ReadPercent(std::span<const uint8_t> stream, size_t pos) {
  if (!Has(stream, pos, 3)) return Truncated(stream, pos, "ESC %", 3);
  const uint8_t letter = stream[pos + 2];
  if (letter == 'B') return Simple(pos, 3, "ESC % B", "", Op::kAltSetting);
  if (letter == '1') return ReadAltImage(stream, pos);
  if (letter == '5') {
    if (!Has(stream, pos, 4)) return Truncated(stream, pos, "ESC % 5", 4);
    const int units = stream[pos + 3];
    // 16 units make one 24-dot band: 1.5 dot rows each.
    std::string rows = std::to_string(units * 3 / 2) + (units % 2 ? ".5" : "");
    Token token = Simple(pos, 4, "ESC % 5",
                         "advance=" + std::to_string(units) + " units (" + rows + " dot rows)",
                         Op::kAltAdvance);
    token.value = units;
    return token;
  }
  return Simple(pos, 3, "UNKNOWN ESC % " + Hex(letter), "", Op::kUnknown);
}

Token LineSpacing(size_t pos, size_t length, std::string name, const std::string& spacing,
                  int per_3600) {
  Token token = Simple(pos, length, std::move(name), "line spacing=" + spacing, Op::kLineSpacing);
  token.value = per_3600;
  return token;
}

Token ReadEscape(std::span<const uint8_t> stream, size_t pos, int unit, CommandSet set) {
  if (!Has(stream, pos, 2)) return Truncated(stream, pos, "ESC", 2);
  const uint8_t letter = stream[pos + 1];
  if (IsTextEscape(letter, set)) return ReadTextEscape(stream, pos, set);
  switch (letter) {
    case '@':
      return Simple(pos, 2, "ESC @", "reset", Op::kReset);
    case '6':
      return Simple(pos, 2, "ESC 6", "", Op::kSetting);
    case '2':
      return LineSpacing(pos, 2, "ESC 2", "1/6 inch", 600);
    case 'N':
      return Simple(pos, 2, "ESC N", "", Op::kAltStart);
    case '*':
      return ReadLqImage(stream, pos);
    case '(':
      return ReadParenthesised(stream, pos, unit);
    case '%':
      return ReadPercent(stream, pos);
    default:
      break;
  }
  const bool three_bytes =
      letter == '{' || letter == 'U' || letter == 'C' || letter == '3' || letter == '+';
  if (three_bytes && !Has(stream, pos, 3)) {
    return Truncated(stream, pos, std::string("ESC ") + static_cast<char>(letter), 3);
  }
  const uint8_t n = three_bytes ? stream[pos + 2] : 0;
  switch (letter) {
    case '{':
      if (n == 'A') return Simple(pos, 3, "ESC { A", "", Op::kLqSetting);
      return Simple(pos, 3, "UNKNOWN ESC { " + Hex(n), "", Op::kUnknown);
    case 'U':
      return Switch(pos, "ESC U", n, Op::kLqSetting, "unidirectional=on", "unidirectional=off");
    case '3':
      return LineSpacing(pos, 3, "ESC 3", std::to_string(n) + "/180 inch", n * 20);
    case '+':
      return LineSpacing(pos, 3, "ESC +", std::to_string(n) + "/360 inch", n * 10);
    case 'C': {
      Token token =
          Simple(pos, 3, "ESC C", "page length=" + std::to_string(n) + " lines", Op::kLqPageLength);
      token.value = n;
      return token;
    }
    case 'F': {
      if (!Has(stream, pos, 4)) return Truncated(stream, pos, "ESC F", 4);
      const uint8_t tens = stream[pos + 2], units = stream[pos + 3];
      Token token = Simple(pos, 4, "ESC F",
                           "page length=" + std::to_string(tens * 10 + units) +
                               " lines (t=" + Hex(tens) + " u=" + Hex(units) + ")",
                           Op::kAltPageLength);
      token.value = tens * 10 + units;
      return token;
    }
    default:
      return UnknownAfterPrefix(pos, kEsc, letter);
  }
}

Token ReadFs(std::span<const uint8_t> stream, size_t pos) {
  if (!Has(stream, pos, 2)) return Truncated(stream, pos, "FS", 2);
  if (stream[pos + 1] != 'x') return UnknownAfterPrefix(pos, kFs, stream[pos + 1]);
  if (!Has(stream, pos, 3)) return Truncated(stream, pos, "FS x", 3);
  return Switch(pos, "FS x", stream[pos + 2], Op::kLqSetting, "n=1", "n=0");
}

Token ReadCommand(std::span<const uint8_t> stream, size_t pos, int unit, CommandSet set) {
  switch (stream[pos]) {
    case kNul: {
      size_t end = pos;
      while (end < stream.size() && stream[end] == kNul) ++end;
      return Simple(pos, end - pos, "NUL x " + std::to_string(end - pos), "", Op::kNul);
    }
    case kCr:
      return Simple(pos, 1, "CR", "", Op::kCarriageReturn);
    case kFf:
      return Simple(pos, 1, "FF", "", Op::kFormFeed);
    case kLf:
      return Simple(pos, 1, "LF", "", Op::kLineFeed);
    case kSi:
    case kDc2:
      return ReadCondensed(pos, stream[pos], set);
    case kEsc:
      return ReadEscape(stream, pos, unit, set);
    case kFs:
      return ReadFs(stream, pos);
    default:
      if (IsPrintable(stream[pos], set == CommandSet::kAlternate)) {
        return ReadTextRun(stream, pos, set);
      }
      return Simple(pos, 1, "UNKNOWN " + Hex(stream[pos]), "", Op::kUnknown);
  }
}

}  // namespace

Token CommandReader::Next() {
  Token token = ReadCommand(stream_, pos_, unit_, set_);
  if (token.op == Op::kReset) {
    unit_ = kDefaultUnit;
    set_ = CommandSet::kLq;
  }
  if (token.op == Op::kUnit && token.value > 0) unit_ = token.value;
  if (token.op == Op::kAltStart) set_ = CommandSet::kAlternate;
  pos_ += token.command.length;
  return token;
}

}  // namespace kembview::detail
