// SPDX-License-Identifier: Apache-2.0
// A page on the printer side run into memory: set up, fed dot rows, ended. Pages are made
// from raster headers, as the filter describes them to the printer side.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "job/job.h"
#include "printer/bands.h"
#include "printer/printer.h"
#include "support/raster_writer.h"

namespace kemb::testing {

using Bytes = std::vector<uint8_t>;

class PrinterPage {
 public:
  explicit PrinterPage(const cups_page_header2_t& h) : header(h) {
    header.cupsRowCount = 24;
    page = DescribePage(header, nullptr);
    Status s = StartPage(state, sink, page);
    setup_bytes = sink.bytes.size();
    ok = s.ok();
  }
  // Feeds one dot row whose set dots are `columns`.
  void Row(std::initializer_list<unsigned> columns) {
    uint8_t* row = state.Planes[0].data();
    std::fill(row, row + header.cupsBytesPerLine, 0);
    for (unsigned x : columns) row[x / 8] |= 0x80 >> (x % 8);
    Status s = AddRow(state, sink, page, state.Planes[0].span());
    ok = ok && s.ok();
  }
  void BlankRows(int count) {
    for (int i = 0; i < count; ++i) Row({});
  }
  void End() {
    Status s = EndPage(state, sink, page);
    ok = ok && s.ok();
  }
  // What went out after the page set-up.
  Bytes Sent() const { return Bytes(sink.bytes.begin() + setup_bytes, sink.bytes.end()); }

  cups_page_header2_t header;  // as the filter's job loop has it
  PageDescription page;        // what the printer side is given
  PrintState state;
  MemorySink sink;
  size_t setup_bytes = 0;
  bool ok = false;
};

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

}  // namespace kemb::testing
