// SPDX-License-Identifier: Apache-2.0
// Reading one command of the printer stream (internal to kembdecode).
//
//   Op             what a command does to the print head and the paper
//   Token          one command: its listing entry plus the values rendering needs
//   CommandSet     which set the stream speaks: decides ESC F and which bytes are characters
//   CommandReader  the commands of a stream in order, following the unit and the set
//   kDefaultUnit   the ESC ( v unit before any ESC ( U
//   kMaxTextRun    characters one text entry holds at most
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
  kAltStart,        // ESC N, which starts every alternate-set page
  kAltSetting,      // alternate-set command without effect on dot positions
  kSetting,         // ESC 6, used by both sets
  kText,            // a run of printed characters
  kLineFeed,        // LF
  kLineSpacing,     // ESC 2, ESC 0, ESC 3 n, ESC + n
  kPitch,           // ESC P, ESC M, ESC g
  kCondensed,       // SI, DC2
  kQuality,         // ESC x n
  kCharacterTable,  // ESC t n
  kBold,            // ESC E, ESC F in the LQ set
  kUnderline,       // ESC - n
  kUnknown,         // not in the vocabulary, or cut short before its data
};

// ESC/P2 starts with a unit of 1/360 inch; kept in 1/3600 inch like ESC ( U's m.
inline constexpr int kDefaultUnit = 10;

// Longer runs of characters are listed (and read) as several entries.
inline constexpr size_t kMaxTextRun = 512;

// ESC @ speaks the LQ set, ESC N the alternate set; before either, ESC F reads as the
// alternate page length and the LQ text commands are known.
enum class CommandSet { kUndecided, kLq, kAlternate };

struct Token {
  Command command;
  Op op = Op::kUnknown;
  bool truncated = false;   // the stream ends inside this command
  int value = 0;            // unit m, advance units, page length in lines, line spacing in
                            // 1/3600 inch, character width in 1/360 inch, or 1/0 for a switch
  bool has_mode = false;    // LQ image: a mode byte was recognised
  int column_dpi = 0;       // LQ image: column density of its mode (0 without mode byte)
  int row_dpi = 180;        // LQ image: 180, or 360 for mode 48h
  size_t columns = 0;       // bit image: columns the header declares
  size_t data_offset = 0;   // bit image or text: first data byte
  size_t data_present = 0;  // bit image: data bytes in the stream (short when truncated);
                            // text: characters
};

// Reads a stream command after command. The unit (1/3600 inch) only words the ESC ( v
// parameters; the set decides how the next command reads. No token extends past the end
// of the stream.
class CommandReader {
 public:
  explicit CommandReader(std::span<const uint8_t> stream) : stream_(stream) {}

  bool AtEnd() const { return pos_ >= stream_.size(); }
  Token Next();  // only when !AtEnd()
  int unit() const { return unit_; }

 private:
  std::span<const uint8_t> stream_;
  size_t pos_ = 0;
  int unit_ = kDefaultUnit;
  CommandSet set_ = CommandSet::kUndecided;
};

}  // namespace kembview::detail
