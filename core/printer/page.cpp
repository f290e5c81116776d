// SPDX-License-Identifier: Apache-2.0
// Job and page framing: StartJob, StartPage (set-up bytes and page buffers), EndPage, EndJob;
// the page limits every front end is held to.
#include <cerrno>
#include <cstring>
#include <string>

#include "printer/bands.h"
#include "printer/command_set.h"
#include "printer/printer.h"

namespace kemb {

Status UnsupportedPage(const char* field, unsigned value, const std::string& expected) {
  return Status::Fail(std::string("Unsupported page: ") + field + "=" + std::to_string(value) +
                      " (" + expected + ")");
}

Status CheckPageLimits(const PageDescription& page, const PageFieldNames& names) {
  auto within = [](unsigned value, unsigned max) { return value >= 1 && value <= max; };
  if (!within(page.width, kMaxPageWidth)) {
    return UnsupportedPage(names.width, page.width,
                           "must be 1 to " + std::to_string(kMaxPageWidth));
  }
  if (!within(page.height, kMaxPageHeight)) {
    return UnsupportedPage(names.height, page.height,
                           "must be 1 to " + std::to_string(kMaxPageHeight));
  }
  if (page.bytes_per_line != 3 * page.width) {
    return UnsupportedPage(
        names.bytes_per_line, page.bytes_per_line,
        std::string("must be 3 x ") + names.width + " = " + std::to_string(3 * page.width));
  }
  const std::string resolutions = "must be 1 to " + std::to_string(kMaxResolution);
  if (!within(page.xdpi, kMaxResolution))
    return UnsupportedPage(names.xdpi, page.xdpi, resolutions);
  if (!within(page.ydpi, kMaxResolution))
    return UnsupportedPage(names.ydpi, page.ydpi, resolutions);
  if (page.band_rows != 24) return UnsupportedPage(names.band_rows, page.band_rows, "must be 24");
  return Status::Ok();
}

Status SinkStatus(const ByteSink& out) {
  if (out.Error() == 0) return Status::Ok();
  return Status::Fail(std::string("Unable to write to the printer: ") + std::strerror(out.Error()));
}

Status StartJob(PrintState& state, ByteSink& out) {
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

Status EndPage(PrintState& state, ByteSink& out, const PageDescription& page) {
  if (state.DotBytes != 0) FlushBands(state, out, page);
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

Status EndJob(PrintState& state, ByteSink& out) {
  (state.SimulationTypeLQ == 1 ? LqCommands() : AlternateCommands()).EndJob(out);
  out.Flush();
  return SinkStatus(out);
}

}  // namespace kemb
