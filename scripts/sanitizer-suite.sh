#!/usr/bin/env bash
# The whole test suite under AddressSanitizer and UBSan, in build-asan-ci/ (or
# the folder named in Z540K_ASAN_BUILD_DIR): scripts/sanitized-suite.sh with
# -DZ540K_ASAN=ON. The suppressions are tests/lsan.supp and tests/ubsan.supp.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
exec ./scripts/sanitized-suite.sh "${Z540K_ASAN_BUILD_DIR:-build-asan-ci}" -DZ540K_ASAN=ON
