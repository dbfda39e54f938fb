#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Idempotent and quiet: prints nothing when everything is already there.
#   scripts/install-deps.sh [--with-ros]
# --with-ros (./test.sh) adds Debian's ROS 1 for the tool's ROS commands and
# their tests; the program and the demo do without it.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qtbase5-dev qtbase5-dev-tools libqt5svg5-dev
  libpcl-dev libvtk9-dev libvtk9-qt-dev pcl-tools
  libpcap-dev libboost-dev libeigen3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth tcpdump tshark iproute2
  fonts-wqy-microhei
  # The fuzz targets (scripts/fuzz-smoke.sh, fuzz/run.sh): clang, its
  # sanitizer and libFuzzer runtimes, and llvm-symbolizer for their reports.
  clang libclang-rt-dev llvm
  # The style check (scripts/format-check.sh).
  clang-format
)
if [[ "${1:-}" == "--with-ros" ]]; then
  # The tool's ROS commands (export-bag, ros; built only when these are
  # there) and their tests.
  packages+=(librosbag-dev libroscpp-dev libsensor-msgs-dev libdiagnostic-msgs-dev
             ros-core python3-rosbag python3-rospy python3-sensor-msgs python3-diagnostic-msgs)
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing missing Debian packages: ${missing[*]}"
sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  if command -v sudo >/dev/null 2>&1; then
    sudo_cmd=(sudo)
  else
    echo "error: packages missing (${missing[*]}) and not running as root; install them or run as root" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "Packages installed."
