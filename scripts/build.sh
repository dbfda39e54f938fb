#!/usr/bin/env bash
# Configures (once) and builds the project in Release into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
if [[ ! -f build/CMakeCache.txt ]]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release --log-level=WARNING
fi
cmake --build build --parallel "$jobs" -- --no-print-directory
