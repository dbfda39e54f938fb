#!/usr/bin/env bash
# A short run of every libFuzzer target (clang, ASan, UBSan; fuzz/run.sh
# builds them into build-fuzz/ and starts each from its seed corpus): 60
# seconds each by default, or the number of seconds given. Exits non-zero
# when a target crashes, leaks, hits UB or runs out of memory or time.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
seconds=${1:-60}
targets=(decoders capture_reader)
passed=0
for target in "${targets[@]}"; do
  echo "fuzz-smoke: fuzz_$target for $seconds s"
  fuzz/run.sh "$seconds" "$target"
  passed=$((passed + 1))
done
echo "fuzz-smoke: $passed passed, 0 failed"
