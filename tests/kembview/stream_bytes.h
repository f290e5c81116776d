// SPDX-License-Identifier: Apache-2.0
// Hand-made printer streams for the decoder tests.
//
//   Bytes, Cat, Repeat        byte vectors and joining them
//   LqImage, AltImage         bit images from column bytes (3 per column)
//   LqUnit, LqAdvance, AltAdvance, ResetLq, kCr, kFf   the other commands used
//   DotList, DotsOf           the dots of a page as (x, y) pairs, for comparing with a table
#pragma once

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "stream_decoder.h"

namespace kembtest {

using Bytes = std::vector<uint8_t>;

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

inline Bytes Repeat(uint8_t byte, size_t count) {
  return Bytes(count, byte);
}

inline Bytes LqImage(uint8_t mode, const Bytes& columns) {
  const size_t n = columns.size() / 3;
  return Cat(
      {{0x1B, 0x2A, mode, static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>(n >> 8)}, columns});
}

inline Bytes AltImage(const Bytes& columns) {
  const size_t n = columns.size() / 3;
  return Cat(
      {{0x1B, 0x25, 0x31, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n & 0xFF)}, columns});
}

inline Bytes LqUnit(uint8_t m) {
  return {0x1B, 0x28, 0x55, 0x01, 0x00, m};
}

inline Bytes LqAdvance(uint16_t units) {
  return {0x1B,
          0x28,
          0x76,
          0x02,
          0x00,
          static_cast<uint8_t>(units & 0xFF),
          static_cast<uint8_t>(units >> 8)};
}

inline Bytes AltAdvance(uint8_t units) {
  return {0x1B, 0x25, 0x35, units};
}

inline const Bytes kResetLq = {0x1B, 0x40};
inline const Bytes kCr = {0x0D};
inline const Bytes kFf = {0x0C};

using DotList = std::vector<std::pair<int, int>>;

// Every dot of the page, row by row, as (x, y).
inline DotList DotsOf(const kembview::Page& page) {
  DotList dots;
  for (int y = 0; y < page.height; ++y) {
    for (int x = 0; x < page.width; ++x) {
      if (page.Dot(x, y)) dots.emplace_back(x, y);
    }
  }
  return dots;
}

}  // namespace kembtest
