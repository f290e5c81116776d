// SPDX-License-Identifier: Apache-2.0
// Code page 437's upper half as Unicode, searched by code point; the ASCII look-alikes.
#include "text/code_page.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

namespace kemb {
namespace {

// Bytes 80h to FFh of code page 437, in byte order.
constexpr std::array<uint16_t, 128> kUpperHalf = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 90
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // A0
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // B0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // D0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  // E0
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  // F0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

using Entry = std::pair<uint16_t, uint8_t>;

// (code point, byte), sorted by code point for a binary search.
constexpr std::array<Entry, 128> SortedTable() {
  std::array<Entry, 128> table{};
  for (size_t i = 0; i < table.size(); ++i) {
    table[i] = {kUpperHalf[i], static_cast<uint8_t>(0x80 + i)};
  }
  std::sort(table.begin(), table.end());
  return table;
}

constexpr std::array<Entry, 128> kByCodePoint = SortedTable();

// U+00C0 to U+00FF as plain letters; '?' where no letter stands for the character.
constexpr char kLatin1Letters[] =
    "AAAAAA?CEEEEIIIIDNOOOOO?OUUUUY??"
    "aaaaaa?ceeeeiiiidnooooo?ouuuuy?y";

}  // namespace

uint8_t ToCodePage437(uint32_t code_point) {
  if (code_point >= 0x20 && code_point < 0x7F) return static_cast<uint8_t>(code_point);
  const auto it = std::lower_bound(kByCodePoint.begin(), kByCodePoint.end(), code_point,
                                   [](const Entry& e, uint32_t cp) { return e.first < cp; });
  return it != kByCodePoint.end() && it->first == code_point ? it->second : 0;
}

uint8_t ToPlainAscii(uint32_t code_point) {
  if (code_point >= 0x20 && code_point < 0x7F) return static_cast<uint8_t>(code_point);
  if (code_point == 0x00A0) return ' ';
  if (code_point >= 0x00C0 && code_point <= 0x00FF) {
    const char c = kLatin1Letters[code_point - 0x00C0];
    return c == '?' ? 0 : static_cast<uint8_t>(c);
  }
  switch (code_point) {
    case 0x00AD: case 0x2010: case 0x2011: case 0x2012: case 0x2013: case 0x2014: case 0x2015:
    case 0x2212:
      return '-';
    case 0x2018: case 0x2019: case 0x201A: case 0x2032: return '\'';
    case 0x201C: case 0x201D: case 0x201E: case 0x2033: return '"';
    case 0x2022: return '*';
    default: break;
  }
  // Box drawing: the horizontal and vertical lines of every weight, the rest are joints.
  switch (code_point) {
    case 0x2500: case 0x2501: case 0x2550: return '-';
    case 0x2502: case 0x2503: case 0x2551: return '|';
    default: break;
  }
  if (code_point >= 0x2500 && code_point <= 0x257F) return '+';
  if (code_point >= 0x2580 && code_point <= 0x2593) return '#';
  return 0;
}

}  // namespace kemb
