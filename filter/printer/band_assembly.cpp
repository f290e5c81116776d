// Band assembly: dot rows into 8-row column bytes (OutputLine), column bytes into the band
// buffers, split by column parity when shingling (PlaceGroup), and the page-end rule (FlushBands).
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "printer/bands.h"
#include "printer/printer.h"

namespace kemb {
namespace {

// kSpread[v]: the 8 column bytes of row byte v as one word, FF where the dot is set.
constexpr std::array<uint64_t, 256> kSpread = [] {
  std::array<uint64_t, 256> table{};
  for (unsigned v = 0; v < 256; ++v) {
    for (unsigned k = 0; k < 8; ++k) {
      if (v & (0x80u >> k)) {
        const unsigned shift = std::endian::native == std::endian::little ? 8 * k : 8 * (7 - k);
        table[v] |= uint64_t{0xFF} << shift;
      }
    }
  }
  return table;
}();

inline void OrColumns(uint8_t* columns, uint64_t bits) {
  uint64_t word;
  std::memcpy(&word, columns, 8);
  word |= bits;
  std::memcpy(columns, &word, 8);
}

// ORs `dot_bit` into the column byte of every set dot of a row of `width` dots.
void PackRow(const uint8_t* row, size_t width, uint8_t* columns, int dot_bit) {
  const uint64_t bit = uint64_t{static_cast<uint8_t>(dot_bit)} * 0x0101010101010101u;
  const size_t whole = width / 8;
  size_t i = 0;
  for (; i + 8 <= whole; i += 8) {
    uint64_t word;
    std::memcpy(&word, row + i, 8);
    if (word == 0) continue;
    for (size_t j = i; j < i + 8; ++j) {
      if (row[j]) OrColumns(columns + 8 * j, kSpread[row[j]] & bit);
    }
  }
  for (; i < whole; ++i) {
    if (row[i]) OrColumns(columns + 8 * i, kSpread[row[i]] & bit);
  }
  // Bits past the last dot are padding and never reach paper.
  if (const size_t rest = width % 8) {
    const uint8_t last = row[whole] & static_cast<uint8_t>(0xFF00u >> rest);
    if (last) OrColumns(columns + 8 * whole, kSpread[last] & bit);
  }
}

size_t PageWidth(const PrintState& state, const cups_page_header2_t& header) {
  return std::min<size_t>(header.cupsWidth, state.Columns);
}

// Moves the column bytes of a complete (or completed) group into the band buffers and prints
// each buffer that is full.
void PlaceGroup(PrintState& state, ByteSink& out, const cups_page_header2_t& header) {
  const size_t width = PageWidth(state, header);
  const size_t stride = static_cast<size_t>(state.DotBytes);
  uint8_t* comp = state.CompBuffer.data();
  const bool split = state.Shingling == 1 && state.LineCount != 0;

  uint8_t* even = state.LineBuffers[0] + state.EvenOffset;
  uint8_t* odd = even;
  if (split) {
    uint8_t* b1 = state.LineBuffers[1] + state.OddOffset;
    // Even columns go to the pass the previous group's odd columns did not use.
    (state.LineCount % 2 ? even : odd) = b1;
  }
  // Band slots start zero, so only the set column bytes need writing.
  for (size_t x = 0; x < width; x += 8) {
    uint64_t word;
    std::memcpy(&word, comp + x, 8);
    if (word == 0) continue;
    for (size_t c = x; c < x + 8; ++c) {
      if (comp[c]) ((c & 1) ? odd : even)[c * stride] = comp[c];
    }
  }

  if (split) {
    if (++state.EvenOffset == state.DotBytes) {
      state.EvenOffset = 0;
      OutputRows(state, out, header, 0);
    }
    if (++state.OddOffset == state.DotBytes) {
      state.OddOffset = 0;
      OutputRows(state, out, header, 1);
    }
  } else if (++state.EvenOffset == state.DotBytes) {
    state.EvenOffset = 0;
    OutputRows(state, out, header, 0);
  }

  state.DotBit = 128;
  ++state.LineCount;
  std::memset(comp, 0, (width + 7) / 8 * 8);
}

}  // namespace

Status OutputLine(PrintState& state, ByteSink& out, const cups_page_header2_t& header) {
  PackRow(state.Planes[0].data(), PageWidth(state, header), state.CompBuffer.data(),
          state.DotBit);
  if (state.DotBit > 1) {
    state.DotBit >>= 1;
    return Status::Ok();
  }
  PlaceGroup(state, out, header);
  return SinkStatus(out);
}

void FlushBands(PrintState& state, ByteSink& out, const cups_page_header2_t& header) {
  // An incomplete last group is completed with blank rows, so every row reaches paper.
  if (state.DotBit < 128) PlaceGroup(state, out, header);
  if (state.Shingling == 1) {
    const bool odd_first = state.EvenOffset < state.OddOffset;
    OutputRows(state, out, header, odd_first ? 1 : 0);
    OutputRows(state, out, header, odd_first ? 0 : 1);
  } else if (state.EvenOffset != 0) {
    OutputRows(state, out, header, 0);
  }
}

}  // namespace kemb
