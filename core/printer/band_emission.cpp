// SPDX-License-Identifier: Apache-2.0
// Band emission: one band buffer to the printer as a bit image (OutputRows) after the pending
// paper advance (PrintNLine). Blank bands only add to the advance; trailing blank columns are
// cut in steps of 1/60 inch; at 120 and 240 dpi a band goes in two passes of alternate bytes.
#include <algorithm>
#include <bit>
#include <cstring>

#include "printer/bands.h"
#include "printer/command_set.h"

namespace kemb {
namespace {

constexpr uint8_t CR = 0x0D;

// Length of `bytes` up to and including its last non-zero byte; 0 for a blank band.
size_t InkedLength(const uint8_t* bytes, size_t size) {
  size_t end = size;
  for (; end % 8 != 0; --end) {
    if (bytes[end - 1]) return end;
  }
  for (; end >= 8; end -= 8) {
    uint64_t word;
    std::memcpy(&word, bytes + end - 8, 8);
    if (word != 0) break;
  }
  while (end > 0 && bytes[end - 1] == 0) --end;
  return end;
}

// Sends the bytes of `band` whose index has parity `parity`, with 00 in the other places, eight
// bytes at a time through a word mask.
void SendPass(ByteSink& out, const uint8_t* band, size_t size, size_t parity) {
  constexpr uint64_t kLowBytes = 0x00FF00FF00FF00FFu;  // bytes 0, 2, 4, 6 on little-endian
  const bool low = (parity == 0) == (std::endian::native == std::endian::little);
  const uint64_t keep = low ? kLowBytes : ~kLowBytes;
  uint8_t chunk[4096];  // a multiple of 8, so an index keeps its parity inside the chunk
  for (size_t start = 0; start < size; start += sizeof chunk) {
    const size_t n = std::min(sizeof chunk, size - start);
    size_t k = 0;
    for (; k + 8 <= n; k += 8) {
      uint64_t word;
      std::memcpy(&word, band + start + k, 8);
      word &= keep;
      std::memcpy(chunk + k, &word, 8);
    }
    for (; k < n; ++k) chunk[k] = (k & 1) == parity ? band[start + k] : 0;
    out.Write(chunk, n);
  }
}

}  // namespace

void OutputRows(PrintState& state, ByteSink& out, const PageDescription& page, int row) {
  uint8_t* band = state.LineBuffers[row];
  const size_t stride = static_cast<size_t>(state.DotBytes);
  size_t dot_count = stride * std::min<size_t>(page.width, state.Columns);
  const size_t inked = InkedLength(band, dot_count);

  if (inked != 0) {
    // Cut whole 1/60-inch steps of blank columns, measured from the right end.
    const size_t dot_min = stride * static_cast<size_t>(state.DotColumns);
    if (dot_min != 0) dot_count -= (dot_count - inked) / dot_min * dot_min;

    out.Put(CR);
    if (state.LineNum != 0) PrintNLine(state, out);
    const size_t columns = dot_count / stride;
    state.Commands->BitImageHeader(out, page, columns);
    const unsigned xdpi = page.xdpi;
    if (xdpi == 120 || xdpi == 240) {
      // At these densities a band goes twice, each pass carrying every other byte of it.
      SendPass(out, band, dot_count, 0);
      out.Put(CR);
      state.Commands->BitImageHeader(out, page, columns);
      SendPass(out, band, dot_count, 1);
    } else {
      out.Write(band, dot_count);
    }
  }

  // Band buffer 1 of a shingled page starts 8 rows below band buffer 0's band.
  if (row == 1 && state.Shingling == 1) {
    state.LineNum += page.ydpi == 360 ? 5 : 2;
  } else {
    state.LineNum += 1;
  }
  out.Flush();
  std::memset(band, 0, inked);
}

void PrintNLine(PrintState& state, ByteSink& out) {
  state.Commands->Advance(out, state.LineNum);
  state.LineNum = 0;
}

}  // namespace kemb
