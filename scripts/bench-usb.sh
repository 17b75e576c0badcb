#!/usr/bin/env bash
# Builds the native programs (Release) and times the libusb port on the phone emulated at the
# USB level against the in-process virtual port: ms per KiB downloaded, commands per second.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
build="$root/build/bench"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTELVANE_TESTS=OFF -DTELVANE_BENCH=ON &&
       cmake --build "$build" -j"$(nproc)" --target telvane-usb-bench; } >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi
"$build/bench/telvane-usb-bench"
