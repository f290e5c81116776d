// SPDX-License-Identifier: Apache-2.0
// Band assembly: dot rows into 8-row groups (AddRow, AddToGroup), each group turned into column
// bytes and placed into the band buffers, split by column parity when shingling (PlaceGroup,
// PlaceBlocks), and the page-end rule (FlushBands).
//
// CompBuffer holds the group as 8 x 8 dot blocks: bytes 8j .. 8j + 7 are dot byte j of the
// group's eight rows, the first row in byte 8j + 7. One 64-bit load then holds a block, and a
// bit transpose turns it into the block's eight column bytes. Blocks without a dot are skipped
// and blocks that were used are cleared as they are placed, so an idle buffer is all zero.
#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "printer/bands.h"
#include "printer/printer.h"

namespace kemb {
namespace {

static_assert(std::endian::native == std::endian::little || std::endian::native == std::endian::big,
              "mixed-endian machines are not supported");

inline uint64_t Load64(const uint8_t* bytes) {
  uint64_t word;
  std::memcpy(&word, bytes, 8);
  return word;
}

// Byte k of a word as memory holds it.
inline uint8_t ByteOf(uint64_t word, unsigned k) {
  const unsigned shift = std::endian::native == std::endian::little ? 8 * k : 8 * (7 - k);
  return static_cast<uint8_t>(word >> shift);
}

// With row r of a block in bits 8 (7 - r) .. 8 (7 - r) + 7 and column c at bit 7 - c of each
// row byte, returns column c in bits 8 (7 - c) .. with row r at bit 7 - r (an 8 x 8 bit
// transpose by three rounds of swaps).
inline uint64_t ColumnsOf(uint64_t rows) {
  uint64_t t = (rows ^ (rows >> 7)) & 0x00AA00AA00AA00AAu;
  rows ^= t ^ (t << 7);
  t = (rows ^ (rows >> 14)) & 0x0000CCCC0000CCCCu;
  rows ^= t ^ (t << 14);
  t = (rows ^ (rows >> 28)) & 0x00000000F0F0F0F0u;
  rows ^= t ^ (t << 28);
  return rows;
}

// Where row r of the group puts its dot byte j: loaded as a word, the block then holds the row
// in bits 8 (7 - r) .. 8 (7 - r) + 7.
inline size_t BlockSlot(size_t j, unsigned row) {
  const unsigned byte = std::endian::native == std::endian::little ? 7 - row : row;
  return 8 * j + byte;
}

size_t PageWidth(const PrintState& state, const PageDescription& page) {
  return std::min<size_t>(page.width, state.Columns);
}

// Copies the dot row into its place in every block; words of 64 blank dots are skipped.
void AddToGroup(const uint8_t* row, size_t width, uint8_t* blocks, unsigned group_row) {
  const size_t bytes = width / 8;
  size_t j = 0;
  for (; j + 8 <= bytes; j += 8) {
    const uint64_t word = Load64(row + j);
    if (word == 0) continue;
#pragma GCC unroll 8
    for (unsigned k = 0; k < 8; ++k) blocks[BlockSlot(j + k, group_row)] = ByteOf(word, k);
  }
  for (; j < bytes; ++j) blocks[BlockSlot(j, group_row)] = row[j];
  // Bits past the last dot are padding and never reach paper.
  if (const size_t rest = width % 8) {
    blocks[BlockSlot(bytes, group_row)] = row[bytes] & static_cast<uint8_t>(0xFF00u >> rest);
  }
}

// Writes the column bytes of the group's blocks into the band slots at `even` (even columns)
// and `odd` (odd columns), kStride bytes apart (0: `stride`), and clears the blocks. Band slots
// start zero, so blank blocks need no writing.
template <size_t kStride>
void PlaceBlocks(uint8_t* blocks, size_t width, size_t stride, uint8_t* even, uint8_t* odd) {
  if constexpr (kStride != 0) stride = kStride;
  for (size_t x = 0; x < width; x += 8) {
    uint8_t* block = blocks + x;
    const uint64_t rows = Load64(block);
    if (rows == 0) continue;
    std::memset(block, 0, 8);
    const uint64_t columns = ColumnsOf(rows);
    uint8_t* even_x = even + x * stride;
    uint8_t* odd_x = odd + x * stride;
    if (x + 8 <= width) {
#pragma GCC unroll 4
      for (size_t c = 0; c < 8; c += 2) {
        even_x[c * stride] = static_cast<uint8_t>(columns >> (56 - 8 * c));
        odd_x[(c + 1) * stride] = static_cast<uint8_t>(columns >> (48 - 8 * c));
      }
    } else {
      for (size_t c = 0; c < width - x; ++c) {
        ((c & 1) ? odd_x : even_x)[c * stride] = static_cast<uint8_t>(columns >> (56 - 8 * c));
      }
    }
  }
}

// Moves the column bytes of a complete (or completed) group into the band buffers and prints
// each buffer that is full.
void PlaceGroup(PrintState& state, ByteSink& out, const PageDescription& page) {
  const size_t width = PageWidth(state, page);
  const size_t stride = static_cast<size_t>(state.DotBytes);
  const bool split = state.Shingling == 1 && state.LineCount != 0;

  uint8_t* even = state.LineBuffers[0] + state.EvenOffset;
  uint8_t* odd = even;
  if (split) {
    uint8_t* b1 = state.LineBuffers[1] + state.OddOffset;
    // Even columns go to the pass the previous group's odd columns did not use.
    (state.LineCount % 2 ? even : odd) = b1;
  }
  // A 24-pin head has 3 bytes per column; a known stride keeps the stores simple.
  if (stride == 3) {
    PlaceBlocks<3>(state.CompBuffer.data(), width, stride, even, odd);
  } else {
    PlaceBlocks<0>(state.CompBuffer.data(), width, stride, even, odd);
  }

  if (split) {
    if (++state.EvenOffset == state.DotBytes) {
      state.EvenOffset = 0;
      OutputRows(state, out, page, 0);
    }
    if (++state.OddOffset == state.DotBytes) {
      state.OddOffset = 0;
      OutputRows(state, out, page, 1);
    }
  } else if (++state.EvenOffset == state.DotBytes) {
    state.EvenOffset = 0;
    OutputRows(state, out, page, 0);
  }

  state.DotBit = 128;
  ++state.LineCount;
}

}  // namespace

Status AddRow(PrintState& state, ByteSink& out, const PageDescription& page,
              std::span<const uint8_t> row) {
  const size_t width = PageWidth(state, page);
  if (row.size() < (width + 7) / 8) {
    return Status::Fail("Dot row of " + std::to_string(row.size()) + " bytes is shorter than " +
                        std::to_string(width) + " dots");
  }
  // DotBit 80h is the group's row 0, 01h its row 7.
  const auto group_row =
      static_cast<unsigned>(std::countl_zero(static_cast<uint8_t>(state.DotBit)));
  AddToGroup(row.data(), width, state.CompBuffer.data(), group_row);
  if (state.DotBit > 1) {
    state.DotBit >>= 1;
    return Status::Ok();
  }
  PlaceGroup(state, out, page);
  return SinkStatus(out);
}

void FlushBands(PrintState& state, ByteSink& out, const PageDescription& page) {
  // An incomplete last group is completed with blank rows, so every row reaches paper.
  if (state.DotBit < 128) PlaceGroup(state, out, page);
  if (state.Shingling == 1) {
    const bool odd_first = state.EvenOffset < state.OddOffset;
    OutputRows(state, out, page, odd_first ? 1 : 0);
    OutputRows(state, out, page, odd_first ? 0 : 1);
  } else if (state.EvenOffset != 0) {
    OutputRows(state, out, page, 0);
  }
}

}  // namespace kemb
