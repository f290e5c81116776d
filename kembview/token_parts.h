// SPDX-License-Identifier: Apache-2.0
// Building tokens, shared by the readers of the command families (internal).
//
//   Hex        a byte as "1Bh"
//   Has        whether `count` bytes remain from a position
//   Simple     a token of known length, name and parameters
//   Truncated  the rest of a stream that stops inside a command, as one entry
//   Switch     the 0/1 argument of a switch command, or a problem
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <utility>

#include "command_reader.h"

namespace kembview::detail {

inline std::string Hex(uint8_t byte) {
  char text[8];
  std::snprintf(text, sizeof text, "%02Xh", byte);
  return text;
}

inline bool Has(std::span<const uint8_t> stream, size_t pos, size_t count) {
  return stream.size() - pos >= count;
}

inline Token Simple(size_t pos, size_t length, std::string name, std::string params, Op op) {
  Token token;
  token.command = {pos, length, std::move(name), std::move(params), op == Op::kUnknown};
  token.op = op;
  return token;
}

inline Token Truncated(std::span<const uint8_t> stream, size_t pos, const std::string& what,
                       size_t needed) {
  const size_t present = stream.size() - pos;
  Token token =
      Simple(pos, present, "truncated " + what,
             "needs " + std::to_string(needed) + " bytes, " + std::to_string(present) + " present",
             Op::kUnknown);
  token.truncated = true;
  return token;
}

// A three-byte switch (ESC U n, FS x n, ESC - n, ESC x n): n is 0/1 or the digits '0'/'1'.
// Its value is 1 or 0; any other n is listed as a problem, with the value -1.
inline Token Switch(size_t pos, std::string name, uint8_t n, Op op, const char* on_text,
                    const char* off_text) {
  const bool on = n == 1 || n == '1';
  const bool off = n == 0 || n == '0';
  if (!on && !off) {
    Token token = Simple(pos, 3, std::move(name), "n=" + Hex(n) + " (not 0 or 1)", op);
    token.command.unknown = true;
    token.value = -1;
    return token;
  }
  Token token = Simple(pos, 3, std::move(name),
                       std::string(on ? on_text : off_text) + " (" + Hex(n) + ")", op);
  token.value = on ? 1 : 0;
  return token;
}

}  // namespace kembview::detail
