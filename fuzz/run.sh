#!/usr/bin/env bash
# Builds the fuzz targets with clang, ASan and UBSan into build-fuzz/, writes
# the seed corpus and fuzzes the decoders for the given number of seconds
# (default 60). The growing corpus stays in build-fuzz/corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
jobs=$(nproc 2>/dev/null || echo 2)
if [[ ! -f build-fuzz/CMakeCache.txt ]]; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZ540K_FUZZ=ON \
    -DZ540K_BUILD_TESTS=OFF -DZ540K_BUILD_BENCHMARKS=OFF --log-level=WARNING
fi
cmake --build build-fuzz --parallel "$jobs" -- --no-print-directory
mkdir -p build-fuzz/corpus build-fuzz/seeds
build-fuzz/fuzz/make_fuzz_seeds build-fuzz/seeds
cd build-fuzz
exec ./fuzz/fuzz_decoders -max_total_time="$seconds" -max_len=16384 -rss_limit_mb=2048 \
  -print_final_stats=1 corpus seeds
