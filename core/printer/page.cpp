// SPDX-License-Identifier: Apache-2.0
// Job and page framing: Setup, StartPage (set-up bytes and page buffers), EndPage, Shutdown.
#include <cerrno>
#include <cstring>
#include <string>

#include "printer/bands.h"
#include "printer/command_set.h"
#include "printer/printer.h"

namespace kemb {

Status SinkStatus(const ByteSink& out) {
  if (out.Error() == 0) return Status::Ok();
  return Status::Fail(std::string("Unable to write to the printer: ") + std::strerror(out.Error()));
}

Status Setup(PrintState& state, ByteSink& out) {
  static constexpr uint8_t kNuls[1024] = {};
  for (size_t left = kWakeUpNulCount; left > 0;) {
    size_t n = left < sizeof kNuls ? left : sizeof kNuls;
    out.Write(kNuls, n);
    left -= n;
  }
  state.LineNum = 0;
  return SinkStatus(out);
}

Status StartPage(PrintState& state, ByteSink& out, const PageDescription& page) {
  // Size everything before the first byte, so a page too large to print sends nothing.
  const int dot_bytes = static_cast<int>(page.band_rows / 8);
  const size_t width = page.width;
  const bool lq = page.command_set == CommandSetId::kLq;
  const int shingling_if_lq = (page.xdpi == 180 || page.xdpi == 360);
  const int shingling = lq ? shingling_if_lq : 0;
  size_t band_bytes = 0, block_bytes = 0;
  if (!CheckedMul(static_cast<size_t>(dot_bytes), width, &band_bytes) ||
      !CheckedMul(band_bytes, 1 + shingling, &block_bytes)) {
    return Status::Fail("Unable to allocate memory");
  }
  // Whole 8-column words, so that row packing may touch a word past the last column.
  const size_t comp_bytes = (width + 7) / 8 * 8 + 8;
  if (!state.Planes[0].Allocate(page.bytes_per_line)) {
    return Status::Fail("Unable to allocate memory");
  }
  if (!state.CompBuffer.Allocate(comp_bytes)) {
    return Status::Fail("Unable to allocate memory CompBuffer");
  }
  if (!state.BandBlock.Allocate(block_bytes)) return Status::Fail("Unable to allocate memory");

  state.SimulationTypeLQ = lq ? 1 : 0;
  state.Commands = lq ? &LqCommands() : &AlternateCommands();
  state.Shingling = state.Commands->SetUpPage(out, page);
  state.DotBytes = dot_bytes;
  state.DotColumns = static_cast<int>(page.xdpi / 60);
  state.Columns = width;
  state.LineBuffers[0] = state.BandBlock.data();
  state.LineBuffers[1] = state.Shingling ? state.BandBlock.data() + band_bytes : nullptr;
  state.DotBit = 128;
  state.LineCount = state.EvenOffset = state.OddOffset = 0;
  state.LineNum = 0;
  return SinkStatus(out);
}

Status EndPage(PrintState& state, ByteSink& out, FILE* log, const PageDescription& page) {
  if (state.DotBytes != 0) {
    std::fprintf(log, "DEBUG: Shingling0:%d\n", state.Shingling);
    FlushBands(state, out, page);
  }
  out.Put(0x0C);
  // The form feed moves to the next page; an advance still pending has no band to precede.
  state.LineNum = 0;
  out.Flush();

  state.Planes[0].Release();
  state.CompBuffer.Release();
  state.BandBlock.Release();
  state.LineBuffers = {};
  state.DotBytes = 0;
  state.Columns = 0;
  return SinkStatus(out);
}

Status Shutdown(PrintState& state, ByteSink& out) {
  (state.SimulationTypeLQ == 1 ? LqCommands() : AlternateCommands()).EndJob(out);
  out.Flush();
  return SinkStatus(out);
}

}  // namespace kemb
