#!/usr/bin/env bash
# The whole test suite under ThreadSanitizer, in build-tsan-ci/ (or the folder
# named in Z540K_TSAN_BUILD_DIR): scripts/sanitized-suite.sh with
# -DZ540K_TSAN=ON. The suppressions are in tests/tsan.supp; a race report
# fails its test. Tests labelled no_tsan are left out (each says why where it
# is labelled; none is today). Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
exec ./scripts/sanitized-suite.sh "${Z540K_TSAN_BUILD_DIR:-build-tsan-ci}" -DZ540K_TSAN=ON --label-exclude no_tsan
