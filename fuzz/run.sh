#!/usr/bin/env bash
# Builds the fuzz targets with clang, ASan and UBSan into build-fuzz/ and
# fuzzes one of them for the given number of seconds (default 60):
#   fuzz/run.sh [SECONDS] [decoders|capture_reader]
# The decoders start from seeds the encoders write, the capture reader from
# the real captures in fuzz/capture-seeds/ (fuzz/make_capture_seeds.sh records
# them); the growing corpus of each target stays in build-fuzz/corpus-TARGET.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
target=${2:-decoders}
jobs=$(nproc 2>/dev/null || echo 2)
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZ540K_FUZZ=ON \
  -DZ540K_BUILD_TESTS=OFF -DZ540K_BUILD_BENCHMARKS=OFF --log-level=WARNING
# Quiet recursive make without the generator's own flags (Ninja ignores MAKEFLAGS).
export MAKEFLAGS="${MAKEFLAGS:-} --no-print-directory"
cmake --build build-fuzz --parallel "$jobs" --target "fuzz_$target" make_fuzz_seeds
mkdir -p "build-fuzz/corpus-$target" build-fuzz/seeds
corpora=("corpus-$target")
if [[ "$target" == decoders ]]; then
  build-fuzz/fuzz/make_fuzz_seeds build-fuzz/seeds
  corpora+=(seeds)
else
  corpora+=(../fuzz/capture-seeds)
fi
cd build-fuzz
exec "./fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=16384 -rss_limit_mb=2048 \
  -print_final_stats=1 "${corpora[@]}"
