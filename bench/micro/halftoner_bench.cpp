// SPDX-License-Identifier: Apache-2.0
// Per-row cost of the halftoner: one photo row to targets (MakeTargets) and diffused into a
// dot row (DiffuseRow). Arguments: mode (2 diffuse all, 3 solid dark) and dpi.
#include <benchmark/benchmark.h>

#include "diffusion.h"
#include "dot_targets.h"
#include "page_content.h"
#include "tone_curve.h"

namespace {

void BM_HalftoneRow(benchmark::State& bench) {
  const auto mode = static_cast<kemb::HalftoneMode>(bench.range(0));
  const unsigned dpi = static_cast<unsigned>(bench.range(1));
  const kembbench::PageGeometry geometry = kembbench::A4At(dpi);
  const kembbench::PageContent page(kembbench::Content::kPhoto, geometry);
  constexpr unsigned kRows = 64;
  std::vector<std::vector<uint8_t>> rows(kRows, std::vector<uint8_t>(3 * geometry.width));
  for (unsigned i = 0; i < kRows; ++i) page.Row(1, geometry.height / 2 + i, rows[i].data());

  const kemb::halftone::ToneCurve curve;
  kemb::halftone::ErrorDiffuser diffuser(geometry.width, static_cast<int>(dpi));
  std::vector<int32_t> targets(geometry.width);
  std::vector<uint8_t> dots((geometry.width + 7) / 8);
  size_t i = 0;
  for (auto _ : bench) {
    kemb::halftone::MakeTargets(rows[i], mode, curve, targets);
    diffuser.DiffuseRow(targets, dots);
    benchmark::DoNotOptimize(dots.data());
    i = (i + 1) % kRows;
  }
  bench.SetItemsProcessed(bench.iterations() * geometry.width);
}

BENCHMARK(BM_HalftoneRow)->ArgsProduct({{2, 3}, {180, 360}})->ArgNames({"mode", "dpi"});

}  // namespace
