#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Exits non-zero on
# any failure.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh --with-ros
./scripts/build.sh
cd build
# GUI tests need a display: every test runs under a virtual X server.
xvfb-run -a ctest --output-on-failure --parallel "$(nproc 2>/dev/null || echo 2)" --timeout 600
