// SPDX-License-Identifier: Apache-2.0
// Reading one command of the printer stream (internal to kembdecode).
//
//   Op             what a command does to the print head and the paper
//   Token          one command: its listing entry plus the values rendering needs
//   ReadCommand    decodes the command that starts at a stream position
//   kDefaultUnit   the ESC ( v unit before any ESC ( U
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "stream_decoder.h"

namespace kembview::detail {

enum class Op {
  kNul,             // padding, no effect
  kReset,           // ESC @
  kCarriageReturn,  // CR
  kFormFeed,        // FF
  kLqImage,         // ESC * [m] nL nH data
  kAltImage,        // ESC % 1 nH nL data
  kUnit,            // ESC ( U 01 00 m
  kLqAdvance,       // ESC ( v 02 00 nL nH
  kAltAdvance,      // ESC % 5 n
  kLqPageLength,    // ESC C n
  kAltPageLength,   // ESC F t u
  kLqSetting,       // LQ-set command without effect on dot positions
  kAltSetting,      // alternate-set command without effect on dot positions
  kSetting,         // ESC 6, used by both sets
  kUnknown,         // not in the vocabulary, or cut short before its data
};

// ESC/P2 starts with a unit of 1/360 inch; kept in 1/3600 inch like ESC ( U's m.
inline constexpr int kDefaultUnit = 10;

struct Token {
  Command command;
  Op op = Op::kUnknown;
  bool truncated = false;   // the stream ends inside this command
  int value = 0;            // unit m, advance units or page length in lines
  bool has_mode = false;    // LQ image: a mode byte was recognised
  int column_dpi = 0;       // LQ image: column density of its mode (0 without mode byte)
  int row_dpi = 180;        // LQ image: 180, or 360 for mode 48h
  size_t columns = 0;       // bit image: columns the header declares
  size_t data_offset = 0;   // bit image: first data byte
  size_t data_present = 0;  // bit image: data bytes in the stream (short when truncated)
};

// Decodes the command at `pos`, which must lie inside `stream`; `unit` (1/3600 inch) only
// words the ESC ( v parameters. The token never extends past the end of the stream.
Token ReadCommand(std::span<const uint8_t> stream, size_t pos, int unit);

}  // namespace kembview::detail
