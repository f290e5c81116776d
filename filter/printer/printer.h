// The printer side of a job, as the job loop drives it:
//   Setup      once per job: wakes the printer's input
//   StartPage  once per page: reset, page set-up, page buffers
//   OutputLine once per dot row in Planes[0]
//   EndPage    once per page: last bands, form feed, buffers released
//   Shutdown   once per job: leaves the printer in its default state
// Everything goes through the ByteSink given; nothing here writes to standard output itself.
#pragma once

#include <cstdio>

#include <cups/ppd.h>
#include <cups/raster.h>

#include "printer/byte_sink.h"
#include "printer/print_state.h"
#include "printer/status.h"

namespace kemb {

// NUL bytes sent at the job's start, enough to flush a printer that was left mid-command.
inline constexpr size_t kWakeUpNulCount = 9800;

Status Setup(PrintState& state, ByteSink& out);
// `header.cupsRowCount` must already be 24. `ppd` may be null.
Status StartPage(PrintState& state, ByteSink& out, const ppd_file_t* ppd,
                 const cups_page_header2_t& header);
Status OutputLine(PrintState& state, ByteSink& out, const cups_page_header2_t& header);
// `log` receives the page's DEBUG line.
Status EndPage(PrintState& state, ByteSink& out, FILE* log, const cups_page_header2_t& header);
Status Shutdown(PrintState& state, ByteSink& out);

// The printer stream's failure as the job reports it, or Ok.
Status SinkStatus(const ByteSink& out);

}  // namespace kemb
