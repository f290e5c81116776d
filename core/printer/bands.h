// SPDX-License-Identifier: Apache-2.0
// Band assembly and emission, shared by AddRow and the page end.
//   FlushBands   the page-end rule: the incomplete group, then what the band buffers hold
//   OutputRows   one band buffer to the printer (blank test, trim, passes), then the advance
//   PrintNLine   the pending paper advance
#pragma once

#include "printer/byte_sink.h"
#include "printer/page_description.h"
#include "printer/print_state.h"

namespace kemb {

void FlushBands(PrintState& state, ByteSink& out, const PageDescription& page);
void OutputRows(PrintState& state, ByteSink& out, const PageDescription& page, int row);
void PrintNLine(PrintState& state, ByteSink& out);

}  // namespace kemb
