#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# smoke.sh FUZZER WORKDIR DICT MAX_LEN CORPUS... : a short, repeatable libFuzzer run (fixed seed,
# bounded runs and time) from the given corpora. New inputs land in WORKDIR, emptied first;
# a crash is saved there too and fails the run. Memory is capped at 2 GiB as in the campaign.
set -euo pipefail
fuzzer=$1 work=$2 dict=$3 max_len=$4
shift 4
rm -rf "$work"
mkdir -p "$work/corpus"
exec "$fuzzer" -seed=1 -runs="${KEMB_FUZZ_SMOKE_RUNS:-5000}" -max_total_time=60 -timeout=30 \
  -rss_limit_mb=2048 -max_len="$max_len" -dict="$dict" -artifact_prefix="$work/" \
  -print_final_stats=1 "$work/corpus" "$@"
