// SPDX-License-Identifier: Apache-2.0
// Reading printed characters and the LQ set's text commands.
//
//   ForSet          an LQ text command in the alternate set becomes a problem
//   Pitch, Flag     tokens of the argument-less commands
//   ReadTextEscape, ReadCondensed, ReadTextRun
#include "text_commands.h"

#include <string>
#include <utility>

#include "cp437.h"
#include "token_parts.h"

namespace kembview::detail {
namespace {

Token ForSet(Token token, CommandSet set) {
  if (set != CommandSet::kAlternate) return token;
  token.op = Op::kUnknown;
  token.command.unknown = true;
  token.command.params += token.command.params.empty() ? "LQ set only" : " (LQ set only)";
  return token;
}

// Character width in 1/360 inch.
Token Pitch(size_t pos, char letter, int cpi, int width) {
  Token token = Simple(pos, 2, std::string("ESC ") + letter,
                       "pitch=" + std::to_string(cpi) + " cpi", Op::kPitch);
  token.value = width;
  return token;
}

Token Flag(size_t pos, size_t length, std::string name, std::string params, Op op, int value) {
  Token token = Simple(pos, length, std::move(name), std::move(params), op);
  token.value = value;
  return token;
}

}  // namespace

bool IsTextEscape(uint8_t letter, CommandSet set) {
  switch (letter) {
    case 'x':
    case 'P':
    case 'M':
    case 'g':
    case '0':
    case 't':
    case 'E':
    case '-':
      return true;
    case 'F':  // the alternate set's page length
      return set == CommandSet::kLq;
    default:
      return false;
  }
}

Token ReadTextEscape(std::span<const uint8_t> stream, size_t pos, CommandSet set) {
  const char letter = static_cast<char>(stream[pos + 1]);
  switch (letter) {
    case 'P':
      return ForSet(Pitch(pos, letter, 10, 36), set);
    case 'M':
      return ForSet(Pitch(pos, letter, 12, 30), set);
    case 'g':
      return ForSet(Pitch(pos, letter, 15, 24), set);
    case '0':
      return ForSet(Flag(pos, 2, "ESC 0", "line spacing=1/8 inch", Op::kLineSpacing, 450), set);
    case 'E':
      return ForSet(Flag(pos, 2, "ESC E", "bold on", Op::kBold, 1), set);
    case 'F':
      return ForSet(Flag(pos, 2, "ESC F", "bold off", Op::kBold, 0), set);
    default:
      break;
  }
  const std::string name = std::string("ESC ") + letter;
  if (!Has(stream, pos, 3)) return Truncated(stream, pos, name, 3);
  const uint8_t n = stream[pos + 2];
  switch (letter) {
    case 'x':
      return ForSet(Switch(pos, name, n, Op::kQuality, "letter quality", "draft"), set);
    case '-':
      return ForSet(Switch(pos, name, n, Op::kUnderline, "underline on", "underline off"), set);
    default: {  // ESC t: only the code page 437 table is known
      Token token = Flag(pos, 3, name, "table=" + Hex(n), Op::kCharacterTable, n);
      if (n == 1 || n == '1') {
        token.command.params += " (code page 437)";
      } else {
        token.command.params += " (not known)";
        token.command.unknown = true;
      }
      return ForSet(std::move(token), set);
    }
  }
}

Token ReadCondensed(size_t pos, uint8_t byte, CommandSet set) {
  const bool on = byte == 0x0F;
  return ForSet(Flag(pos, 1, on ? "SI" : "DC2", on ? "condensed on" : "condensed off",
                     Op::kCondensed, on ? 1 : 0),
                set);
}

Token ReadTextRun(std::span<const uint8_t> stream, size_t pos, CommandSet set) {
  const bool ascii_only = set == CommandSet::kAlternate;
  size_t end = pos;
  while (end < stream.size() && end - pos < kMaxTextRun && IsPrintable(stream[end], ascii_only)) {
    ++end;
  }
  std::string shown = "\"";
  for (size_t i = pos; i < end; ++i) {
    if (stream[i] == '"' || stream[i] == '\\') shown += '\\';
    AppendUtf8(stream[i], shown);
  }
  shown += '"';
  Token token = Simple(pos, end - pos, "text", std::move(shown), Op::kText);
  token.data_offset = pos;
  token.data_present = end - pos;
  return token;
}

}  // namespace kembview::detail
