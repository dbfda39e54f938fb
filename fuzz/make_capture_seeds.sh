#!/usr/bin/env bash
# Records the capture reader's seed corpus: a few packets of the simulated
# sensor's traffic as real capture programs write it (tcpdump on the loopback
# adapter and on Linux's "any" in both cooked layouts, microsecond and
# nanosecond time stamps) and as the simulator writes it, two of them also as
# pcapng (editcap, from tshark). Run as root (tcpdump captures), with the
# project built in build/; the files go to fuzz/capture-seeds/ and are small
# enough to keep in the repository.
#   fuzz/make_capture_seeds.sh
set -euo pipefail
cd "$(dirname "$0")/.."
sim=build/simulator/z540k-sim
out=fuzz/capture-seeds
mkdir -p "$out"
port=$((40000 + RANDOM % 20000))

# One capture: tcpdump with the given options while the simulator sends a
# handful of data and status packets to the port.
record() {
  local name=$1
  shift
  tcpdump -q -U -c 6 -w "$out/$name" "$@" "udp port $port" 2>/tmp/z540k-seed-tcpdump.log &
  local pid=$!
  for _ in $(seq 100); do
    grep -q "listening on" /tmp/z540k-seed-tcpdump.log 2>/dev/null && break
    sleep 0.05
  done
  "$sim" --quiet --count 4 --rate 50 --status-to-data-port --data-port "$port" --status-port "$port" \
    --sensor-port "$port" >/dev/null 2>&1 || true
  wait "$pid" || true
}

record lo-ethernet.pcap -i lo
record any-cooked.pcap -i any -y LINUX_SLL
record any-cooked2.pcap -i any -y LINUX_SLL2
record lo-nanoseconds.pcap -i lo --time-stamp-precision nano
"$sim" --quiet --count 4 --layout 1.6 --write-pcap "$out/simulator-1.6.pcap"
"$sim" --quiet --count 3 --compact --short-status --status-to-data-port --write-pcap "$out/simulator-compact.pcap"
# pcapng, as Wireshark writes it (editcap comes with tshark).
editcap -F pcapng "$out/lo-nanoseconds.pcap" "$out/lo-nanoseconds.pcapng"
editcap -F pcapng "$out/any-cooked2.pcap" "$out/any-cooked2.pcapng"
ls -l "$out"
