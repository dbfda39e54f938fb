#!/usr/bin/env bash
# Installs what is missing, builds in Release, and starts the program.
#   ./run.sh                 the program (options are passed on to it)
#   ./run.sh --demo          the program fed by a simulated sensor on loopback
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
./scripts/build.sh

program=build/app/z540k-host
simulator=build/simulator/z540k-sim
tool=build/app/cli/z540k-tool

demo=0
args=()
for a in "$@"; do
  if [[ "$a" == "--demo" ]]; then demo=1; else args+=("$a"); fi
done

if [[ $demo -eq 1 ]]; then
  # The simulated sensor lives at 127.0.0.2 and sends to 127.0.0.1, data
  # port 2368, status port 2369, in the protocol 1.7 layout.
  "$simulator" --layout 1.7 &
  sim_pid=$!
  trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null || true' EXIT
  sleep 0.3
  if [[ -x "$program" ]]; then
    "$program" "${args[@]}"
  else
    echo "The window is not built yet: the simulated sensor's revolutions as z540k-tool receives them (Ctrl+C stops)."
    "$tool" listen --layout 1.7 "${args[@]}"
  fi
  exit 0
fi

if [[ -x "$program" ]]; then
  exec "$program" "${args[@]}"
fi

cat <<'MSG'
Built in build/ (the window is not built yet):
  simulator/z540k-sim   a simulated sensor on loopback (z540k-sim --help)
  app/cli/z540k-tool    the sensor's data without the window: export-csv, listen, status
                        (z540k-tool --help)
  tests/, bench/        ./test.sh runs every test; the benchmarks run by hand
Try ./run.sh --demo to see a simulated sensor's revolutions arrive.
MSG
