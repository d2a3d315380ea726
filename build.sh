#!/usr/bin/env bash
# Builds everything (installing missing Debian packages first) and runs the
# main job on the built-in sample frames.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j"$(nproc)"
if [ -x build/release/cli/kve ]; then
  build/release/cli/kve gallery -o gallery
else
  build/release/bench/kve_bench --benchmark_min_time=0.05
fi
