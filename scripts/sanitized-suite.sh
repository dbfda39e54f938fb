#!/usr/bin/env bash
# What scripts/sanitizer-suite.sh and scripts/tsan-suite.sh share:
#   sanitized-suite.sh BUILD_DIR CMAKE_OPTION [CTEST_ARGUMENT...]
# configures BUILD_DIR with CMAKE_OPTION (RelWithDebInfo, no benchmarks),
# builds the tests and the programs they start at low priority, and runs
# ctest under a virtual X server. The runtimes' options and suppressions come
# with the tests (the sanitizer block at the end of tests/CMakeLists.txt).
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1
option=$2
shift 2
./scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
started=$SECONDS
# RelWithDebInfo: optimised enough for the timing of the loopback and window
# tests, with the line numbers the reports need.
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$option" -DZ540K_BUILD_BENCHMARKS=OFF --log-level=WARNING
# Only the tests' folder: its targets bring the libraries, z540k-sim and
# z540k-tool with them (the program and the benchmarks are not built).
# Instrumented compiles are heavy and the machine is shared.
export MAKEFLAGS="${MAKEFLAGS:-} --no-print-directory"
if [[ -f "$dir/tests/Makefile" ]]; then
  nice make -C "$dir/tests" -j "$jobs" all
else
  nice cmake --build "$dir" --parallel "$jobs" --target tests/all
fi
echo "$(basename "$dir"): built in $((SECONDS - started)) s"
cd "$dir"
xvfb-run -a ctest --output-on-failure --parallel "$jobs" --timeout 900 "$@"
