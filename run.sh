#!/usr/bin/env bash
# Installs what is missing, builds in Release, and starts the program.
#   ./run.sh                 the program (options are passed on to it; --help lists them)
#   ./run.sh --demo          the program fed by a simulated sensor on loopback
# The build prints nothing when nothing changed, and its errors when it fails.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
[[ -x build/app/z540k-host ]] || echo "Building the program (a few minutes the first time)..."
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Only the programs this script starts, and the tool beside them; ./test.sh
# builds the tests and benchmarks.
if ! ./scripts/build.sh z540k-host z540k-sim z540k-tool > "$log" 2>&1; then
  grep -E 'error|Error|failed|FAILED' "$log" | head -40 >&2 || cat "$log" >&2
  echo "The build failed (the whole log: ./scripts/build.sh)." >&2
  exit 1
fi

program=build/app/z540k-host
simulator=build/simulator/z540k-sim

demo=0
args=()
for a in "$@"; do
  if [[ "$a" == "--demo" ]]; then demo=1; else args+=("$a"); fi
done

if [[ $demo -eq 1 ]]; then
  # The simulated sensor lives at 127.0.0.2 and sends to 127.0.0.1, data
  # port 2368, status port 2369, in the protocol 1.7 layout. The window
  # receives at once, with no multicast group (joining one here would send
  # membership reports off the machine).
  "$simulator" --layout 1.7 --quiet &
  sim_pid=$!
  trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null || true; rm -f "$log"' EXIT
  "$program" --start --layout 1.7 --multicast "" "${args[@]}"
  exit $?
fi

exec "$program" "${args[@]}"
