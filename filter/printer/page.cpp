// Job and page framing: Setup, StartPage (set-up bytes and page buffers), EndPage, Shutdown.
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "printer/bands.h"
#include "printer/command_set.h"
#include "printer/printer.h"

namespace kemb {
namespace {

std::string_view OutputTypeOf(const cups_page_header2_t& header) {
  return {header.OutputType, strnlen(header.OutputType, sizeof header.OutputType)};
}

bool IsOkidata(const ppd_file_t* ppd) {
  return ppd != nullptr && ppd->nickname != nullptr &&
         std::strstr(ppd->nickname, "OKIDATA") != nullptr;
}

}  // namespace

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

Status StartPage(PrintState& state, ByteSink& out, const ppd_file_t* ppd,
                 const cups_page_header2_t& header) {
  const std::string_view output_type = OutputTypeOf(header);
  if (output_type.empty()) return Status::Fail("OutputType Error");

  // Size everything before the first byte, so a page too large to print sends nothing.
  const int dot_bytes = static_cast<int>(header.cupsRowCount / 8);
  const size_t width = header.cupsWidth;
  const bool lq = output_type == "LQ";
  const int shingling_if_lq = (header.HWResolution[0] == 180 || header.HWResolution[0] == 360);
  const int shingling = lq ? shingling_if_lq : 0;
  size_t band_bytes = 0, block_bytes = 0;
  if (!CheckedMul(static_cast<size_t>(dot_bytes), width, &band_bytes) ||
      !CheckedMul(band_bytes, 1 + shingling, &block_bytes)) {
    return Status::Fail("Unable to allocate memory");
  }
  // Whole 8-column words, so that row packing may touch a word past the last column.
  const size_t comp_bytes = (width + 7) / 8 * 8 + 8;
  if (!state.Planes[0].Allocate(header.cupsBytesPerLine)) {
    return Status::Fail("Unable to allocate memory");
  }
  if (!state.CompBuffer.Allocate(comp_bytes)) {
    return Status::Fail("Unable to allocate memory CompBuffer");
  }
  if (!state.BandBlock.Allocate(block_bytes)) return Status::Fail("Unable to allocate memory");

  state.SimulationTypeLQ = lq ? 1 : 0;
  state.Commands = lq ? &LqCommands() : &AlternateCommands();
  state.Shingling = state.Commands->SetUpPage(out, header, lq && IsOkidata(ppd));
  state.DotBytes = dot_bytes;
  state.DotColumns = static_cast<int>(header.HWResolution[0] / 60);
  state.Columns = width;
  state.LineBuffers[0] = state.BandBlock.data();
  state.LineBuffers[1] = state.Shingling ? state.BandBlock.data() + band_bytes : nullptr;
  state.DotBit = 128;
  state.LineCount = state.EvenOffset = state.OddOffset = 0;
  state.LineNum = 0;
  return SinkStatus(out);
}

Status EndPage(PrintState& state, ByteSink& out, FILE* log, const cups_page_header2_t& header) {
  if (state.DotBytes != 0) {
    std::fprintf(log, "DEBUG: Shingling0:%d\n", state.Shingling);
    FlushBands(state, out, header);
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
