// SPDX-License-Identifier: Apache-2.0
// PrintState: everything the printer side knows about the job and the page in progress.
//   row and column buffers   Planes[0], CompBuffer
//   band buffers              BandBlock, LineBuffers[0..1]
//   band geometry             DotBit, DotBytes, DotColumns, LineCount, EvenOffset, OddOffset
//   pass and advance state    Shingling, LineNum
//   command set               SimulationTypeLQ, Commands
// Buffers live from StartPage to EndPage; only SimulationTypeLQ outlives a page.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "printer/byte_buffer.h"

namespace kemb {

class CommandSet;

struct PrintState {
  // One plane: the RGB row as read, then the dot row made from it.
  std::array<ByteBuffer, 1> Planes;
  // One byte per dot column, collecting the current 8-row group (row 1 = bit 80h).
  ByteBuffer CompBuffer;
  // Both band buffers in one block; LineBuffers[1] is used only when shingling.
  ByteBuffer BandBlock;
  std::array<uint8_t*, 2> LineBuffers{};

  int DotBit = 128;
  int DotBytes = 0;    // bytes per dot column in a band: 3 for 24 pins
  int DotColumns = 0;  // dot columns per 1/60 inch, the trim step
  int LineCount = 0;   // 8-row groups placed on this page
  int EvenOffset = 0;  // byte row that band buffer 0 fills next
  int OddOffset = 0;   // byte row that band buffer 1 fills next
  int Shingling = 0;   // 1: each band printed as two interleaved half-passes
  unsigned LineNum = 0;  // pending paper advance, in band steps
  int SimulationTypeLQ = 1;
  const CommandSet* Commands = nullptr;

  // Dot columns the page buffers were sized for; later header changes may only shrink the page.
  size_t Columns = 0;
};

}  // namespace kemb
