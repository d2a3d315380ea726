#!/usr/bin/env bash
# Builds the fuzz target with clang and runs it for a bounded time (seconds,
# default 120) on the seed corpus (every effect of the table, written from the
# table itself), the inputs earlier runs found and the regression inputs.
# A fault fails the run and leaves its input in build/fuzz/artifacts/; copy it
# into fuzz/regressions/ once the fault is fixed.
set -euo pipefail
seconds=${1:-120}
cd "$(dirname "$0")/.."

cxx=${KVE_FUZZ_CXX:-}
if [ -z "$cxx" ]; then
  cxx=$(command -v clang++-14 || command -v clang++)
fi
cmake -S fuzz -B build/fuzz -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build build/fuzz -j"$(nproc)"

rm -rf build/fuzz/seeds
build/fuzz/kve_fuzz --write-seeds=build/fuzz/seeds
mkdir -p build/fuzz/corpus build/fuzz/artifacts
# A unit counts as hung after 100 s: the widest elliptical footprints of the
# warps on the largest frames take tens of seconds under the sanitizers.
# shellcheck disable=SC2086
build/fuzz/kve_fuzz build/fuzz/corpus build/fuzz/seeds fuzz/regressions \
  -dict=fuzz/kve.dict -max_total_time="$seconds" -timeout=100 -max_len=1024 \
  -rss_limit_mb=2048 -artifact_prefix=build/fuzz/artifacts/ -print_final_stats=1 \
  ${KVE_FUZZ_ARGS:-}
