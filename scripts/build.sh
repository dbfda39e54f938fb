#!/usr/bin/env bash
# Configures (once) and builds the project in Release into build/: every
# target, or only the targets named (./scripts/build.sh z540k-host z540k-sim).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
# Z540K_WERROR=ON in the environment (CI) makes every warning an error.
if [[ ! -f build/CMakeCache.txt ]]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DZ540K_WERROR="${Z540K_WERROR:-OFF}" --log-level=WARNING
elif [[ -n "${Z540K_WERROR:-}" ]]; then
  cmake -S . -B build -DZ540K_WERROR="$Z540K_WERROR" --log-level=WARNING
fi
targets=()
for t in "$@"; do targets+=(--target "$t"); done
# Quiet recursive make without naming the generator's own flags: Ninja (or any
# other generator chosen through CMAKE_GENERATOR) ignores MAKEFLAGS.
export MAKEFLAGS="${MAKEFLAGS:-} --no-print-directory"
cmake --build build --parallel "$jobs" "${targets[@]}"
