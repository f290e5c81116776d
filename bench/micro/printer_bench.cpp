// SPDX-License-Identifier: Apache-2.0
// Per-row and per-band costs of band assembly (AddRow) and emission (OutputRows), fed the
// dot rows that the thresholding makes of the benchmark pages.
// Arguments: content (0 text, 1 dense, 3 blank) and dpi (square; 360 keeps the full width).
#include <benchmark/benchmark.h>

#include <cstdio>

#include "convert/threshold.h"
#include "job/job.h"
#include "printer/bands.h"
#include "printer/printer.h"
#include "rows.h"

namespace {

using kembbench::Content;

constexpr unsigned kRows = 48;  // two bands' worth, so both band buffers fill

std::vector<std::vector<uint8_t>> DotRows(Content content, unsigned dpi) {
  const cups_page_header2_t header = kembbench::BenchHeader(dpi);
  auto rows = kembbench::PageRows(content, dpi, kembbench::MidPage(dpi), kRows);
  for (auto& row : rows) {
    kemb::TransToGray(row.data(), header.cupsWidth);
    row.resize((header.cupsWidth + 7) / 8);
  }
  return rows;
}

struct Page {
  explicit Page(unsigned dpi)
      : header(kembbench::BenchHeader(dpi)), page(kemb::DescribePage(header, nullptr)) {
    if (!kemb::StartPage(state, sink, page).ok()) std::abort();
  }
  cups_page_header2_t header;
  kemb::PageDescription page;
  kemb::PrintState state;
  kembbench::NullSink sink;
};

void BM_OutputLine(benchmark::State& bench) {
  const unsigned dpi = static_cast<unsigned>(bench.range(1));
  const auto rows = DotRows(static_cast<Content>(bench.range(0)), dpi);
  Page page(dpi);
  uint8_t* plane = page.state.Planes[0].data();
  size_t i = 0;
  for (auto _ : bench) {
    std::memcpy(plane, rows[i].data(), rows[i].size());
    if (!kemb::AddRow(page.state, page.sink, page.page, page.state.Planes[0].span()).ok()) {
      std::abort();
    }
    i = (i + 1) % rows.size();
  }
  bench.SetItemsProcessed(bench.iterations() * page.header.cupsWidth);
  bench.counters["bytes_out_per_row"] =
      benchmark::Counter(static_cast<double>(page.sink.bytes) / bench.iterations());
}

// One band buffer as AddRow leaves it for OutputRows: 24 rows, 3 bytes per column.
std::vector<uint8_t> Band(const std::vector<std::vector<uint8_t>>& rows, unsigned width) {
  std::vector<uint8_t> band(3 * size_t{width});
  for (unsigned y = 0; y < 24; ++y) {
    for (unsigned x = 0; x < width; ++x) {
      if (rows[y][x / 8] & (0x80 >> (x % 8))) band[3 * x + y / 8] |= 0x80 >> (y % 8);
    }
  }
  return band;
}

// OutputRows clears the band it sends, so every pass puts it back first (a copy of a few
// kilobytes, part of the figure).
void BM_OutputRows(benchmark::State& bench) {
  const unsigned dpi = static_cast<unsigned>(bench.range(1));
  Page page(dpi);
  const auto band = Band(DotRows(static_cast<Content>(bench.range(0)), dpi), page.header.cupsWidth);
  for (auto _ : bench) {
    std::memcpy(page.state.LineBuffers[0], band.data(), band.size());
    kemb::OutputRows(page.state, page.sink, page.page, 0);
  }
  bench.SetItemsProcessed(bench.iterations() * 24 * page.header.cupsWidth);
}

void Args(benchmark::internal::Benchmark* b) {
  for (int content : {0, 1, 3}) {
    for (int dpi : {180, 360}) b->Args({content, dpi});
  }
  b->ArgNames({"content", "dpi"});
}

BENCHMARK(BM_OutputLine)->Apply(Args);
BENCHMARK(BM_OutputRows)->Apply(Args);

}  // namespace
