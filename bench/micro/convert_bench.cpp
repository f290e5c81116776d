// SPDX-License-Identifier: Apache-2.0
// Per-row costs of the text path's pixel loops: the ink count and both thresholdings.
// Arguments: content (0 text, 1 dense, 2 photo, 3 blank) and dpi.
#include <benchmark/benchmark.h>

#include "convert/ink_count.h"
#include "convert/threshold.h"
#include "rows.h"

namespace {

using kembbench::Content;

Content ContentArg(const benchmark::State& state) {
  return static_cast<Content>(state.range(0));
}

void BM_InkCountAddRow(benchmark::State& state) {
  const unsigned dpi = static_cast<unsigned>(state.range(1));
  const auto rows = kembbench::PageRows(ContentArg(state), dpi, kembbench::MidPage(dpi), 64);
  kemb::InkCount count;
  size_t i = 0;
  for (auto _ : state) {
    count.AddRow(rows[i].data(), rows[i].size());
    i = (i + 1) % rows.size();
  }
  benchmark::DoNotOptimize(count.inked + count.dark);
  state.SetItemsProcessed(state.iterations() * (rows[0].size() / 3));
}

// The thresholding works in place: every pass restores the row first, as the read-back does
// by reading it. The copy is part of the figure (about a tenth of it).
void BM_TransToGray(benchmark::State& state) {
  const unsigned dpi = static_cast<unsigned>(state.range(1));
  const auto rows = kembbench::PageRows(ContentArg(state), dpi, kembbench::MidPage(dpi), 64);
  const cups_page_header2_t header = kembbench::BenchHeader(dpi);
  std::vector<uint8_t> row(rows[0].size());
  size_t i = 0;
  for (auto _ : state) {
    std::memcpy(row.data(), rows[i].data(), row.size());
    kemb::TransToGray(row.data(), header.cupsWidth);
    benchmark::DoNotOptimize(row.data());
    i = (i + 1) % rows.size();
  }
  state.SetItemsProcessed(state.iterations() * header.cupsWidth);
}

void BM_TransToGray360(benchmark::State& state) {
  const auto rows = kembbench::PageRows(ContentArg(state), 360, kembbench::MidPage(360), 64);
  const cups_page_header2_t header = kembbench::BenchHeader(360);
  const int pixels = static_cast<int>(header.cupsWidth);
  std::vector<uint8_t> row(rows[0].size());
  size_t i = 0;
  for (auto _ : state) {
    std::memcpy(row.data(), rows[i].data(), row.size());
    kemb::TransToGray360(row.data(), pixels / 2, pixels % 2);
    benchmark::DoNotOptimize(row.data());
    i = (i + 1) % rows.size();
  }
  state.SetItemsProcessed(state.iterations() * header.cupsWidth);
}

void TextPathArgs(benchmark::internal::Benchmark* b) {
  for (int content : {0, 1, 3}) {
    for (int dpi : {180, 360}) b->Args({content, dpi});
  }
  b->ArgNames({"content", "dpi"});
}

void PairArgs(benchmark::internal::Benchmark* b) {
  for (int content : {0, 1, 3}) b->Args({content, 360});
  b->ArgNames({"content", "dpi"});
}

BENCHMARK(BM_InkCountAddRow)->Apply(TextPathArgs)->Args({2, 180});
BENCHMARK(BM_TransToGray)->Apply(TextPathArgs);
BENCHMARK(BM_TransToGray360)->Apply(PairArgs);

}  // namespace
