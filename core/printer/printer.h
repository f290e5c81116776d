// SPDX-License-Identifier: Apache-2.0
// The printer side of a job, as a front end or the page engine drives it:
//   StartJob   once per job: wakes the printer's input
//   StartPage  once per page: reset, page set-up, page buffers
//   AddRow     once per dot row
//   EndPage    once per page: last bands, form feed, buffers released
//   EndJob     once per job: leaves the printer in its default state
// Everything goes through the ByteSink given; nothing here writes to standard output itself.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include "printer/byte_sink.h"
#include "printer/page_description.h"
#include "printer/print_state.h"
#include "printer/status.h"

namespace kemb {

// NUL bytes sent at the job's start, enough to flush a printer that was left mid-command.
inline constexpr size_t kWakeUpNulCount = 9800;

Status StartJob(PrintState& state, ByteSink& out);
// Allocates Planes[0] (page.bytes_per_line bytes, for the caller's rows), the column buffer and
// the band buffers, then sends the page set-up.
Status StartPage(PrintState& state, ByteSink& out, const PageDescription& page);
// Adds one dot row (one bit per dot, most significant bit first, bit set = dot) of page.width
// dots. `page` describes the rows as they are now: a page may print narrower or at a lower
// resolution than it was set up for, never wider.
Status AddRow(PrintState& state, ByteSink& out, const PageDescription& page,
              std::span<const uint8_t> row);
Status EndPage(PrintState& state, ByteSink& out, const PageDescription& page);
Status EndJob(PrintState& state, ByteSink& out);

// The printer stream's failure as the job reports it, or Ok.
Status SinkStatus(const ByteSink& out);

}  // namespace kemb
