#!/usr/bin/env bash
# Installs what is missing, builds in Release, and starts the program.
#   ./run.sh          the program
#   ./run.sh --demo   the program fed by a simulated sensor on loopback
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
./scripts/build.sh

program=build/app/z540k-host
if [[ -x "$program" ]]; then
  exec "$program" "$@"
fi

cat <<'MSG'
Built in build/:
  libz540k_protocol.a   the sensor protocol: data packet decoding (both layouts,
                        all return modes, compact scan packets) and status decoding
  libz540k_encoders.a   packet encoders for tests, benchmarks and the simulator
  tests/protocol_tests  the protocol tests (./test.sh runs all tests)
  bench/bench_decoder   decoding speed: build/bench/bench_decoder
The window and the simulated sensor are not built yet; --demo needs both.
MSG
