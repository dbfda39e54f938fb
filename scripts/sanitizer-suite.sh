#!/usr/bin/env bash
# The whole test suite under AddressSanitizer and UBSan: configures
# build-asan-ci/ (or the folder named in Z540K_ASAN_BUILD_DIR) with
# -DZ540K_ASAN=ON, builds the tests and the programs they start, and runs
# ctest under a virtual X server. The suppressions and the runtimes' options
# come with the tests (tests/lsan.supp, tests/ubsan.supp, the sanitizer block
# at the end of tests/CMakeLists.txt). Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
dir=${Z540K_ASAN_BUILD_DIR:-build-asan-ci}
jobs=$(nproc 2>/dev/null || echo 2)
started=$SECONDS
# RelWithDebInfo: optimised enough for the timing of the loopback and window
# tests, with the line numbers the reports need.
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZ540K_ASAN=ON -DZ540K_BUILD_BENCHMARKS=OFF \
  --log-level=WARNING
# Only the tests' folder: its targets bring the libraries, z540k-sim and
# z540k-tool with them (the program and the benchmarks are not built).
export MAKEFLAGS="${MAKEFLAGS:-} --no-print-directory"
if [[ -f "$dir/tests/Makefile" ]]; then
  make -C "$dir/tests" -j "$jobs" all
else
  cmake --build "$dir" --parallel "$jobs" --target tests/all
fi
echo "sanitizer-suite: built in $((SECONDS - started)) s"
cd "$dir"
xvfb-run -a ctest --output-on-failure --parallel "$jobs" --timeout 900
