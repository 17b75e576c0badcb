#!/usr/bin/env bash
# Measures the program's speed and prints one table, each figure beside its goal: transfers,
# CPU and list reads on the in-process virtual phone, telvane-phonesim's start, the libusb port
# on the emulated USB phone and telvane-cli's whole-phone backup and restore with their peak
# memory (native), the window's list and tree fills and a 1 MiB download through the bridge
# (under Wine). Release
# builds in build/bench-native and build/bench-win64. Not part of scripts/test.sh: a busy
# machine gives slower figures, not a failure; a missed goal is shown, and the exit code is 0.
#
# Adding a figure: a benchmark prints a line "row<TAB>figure<TAB>measured<TAB>goal<TAB>met"
# (or MISSED); bench/bench_figures.h does that for C++. Run it below with `figures NAME CMD...`.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/setup.sh"
# shellcheck source=lib/wine.sh
. "$root/scripts/lib/wine.sh"

quiet() { # runs a build step, showing its output only when it fails
  local log
  log=$(mktemp)
  if ! "$@" >"$log" 2>&1; then cat "$log" >&2; rm -f "$log"; return 1; fi
  rm -f "$log"
}

native="$root/build/bench-native"
win64="$root/build/bench-win64"
echo "Building the benchmarks (Release)..." >&2
quiet cmake -S "$root" -B "$native" -DCMAKE_BUILD_TYPE=Release -DTELVANE_TESTS=OFF -DTELVANE_BENCH=ON
quiet cmake --build "$native" -j"$(nproc)" --target telvane-bench-native telvane-bench-cli telvane-phonesim telvane-usb-bench
quiet cmake -S "$root" -B "$win64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTELVANE_TESTS=OFF -DTELVANE_BENCH=ON
quiet cmake --build "$win64" -j"$(nproc)" --target telvane-bench-window
phonesim="$native/sim/telvane-phonesim"

rows=$(mktemp)
work=$(mktemp -d)
sim_pid=""
finish() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  wineserver -k 2>/dev/null || true
  display_release
  rm -rf "$work" "$rows"
}
trap finish EXIT

# figures NAME COMMAND...: runs a benchmark and keeps its rows; one that fails says so.
figures() {
  local name=$1 out
  shift
  echo "Measuring: $name..." >&2
  if out=$("$@"); then
    printf '%s\n' "$out" | grep $'^row\t' >>"$rows" || true
  else
    printf 'row\t%s\tfailed to run\t-\tMISSED\n' "$name" >>"$rows"
  fi
}

figures "native figures" "$native/bench/telvane-bench-native" "$phonesim"
figures "libusb port under umockdev" "$native/bench/telvane-usb-bench"
figures "telvane-cli backup and restore" "$native/bench/telvane-bench-cli"

# The window under Wine; the bridge download from telvane-phonesim serving one 1 MiB file.
wine_prepare "$win64/wineprefix"
display_ensure
printf 'volume a\nentry-size 44\nmodel "Sim B"\nfree-space 8388608\nfile big.bin size=1048576 fill=0x5a\n' \
  >"$work/transfer.phone"
coproc SIM { exec "$phonesim" --port 0 --phone "$work/transfer.phone"; }
sim_pid=$SIM_PID
port=""
read -r -t 10 port <&"${SIM[0]}" || true
if [ -n "$port" ]; then
  figures "window figures" wine "$win64/bench/telvane-bench-window.exe" --bridge "tcp:127.0.0.1:$port"
else
  figures "window figures" wine "$win64/bench/telvane-bench-window.exe"
  printf 'row\t%s\tfailed: telvane-phonesim gave no port\t-\tMISSED\n' "Download 1 MiB in the window" >>"$rows"
fi
echo quit >&"${SIM[1]}" || true

# The table: columns as wide as their longest text.
awk -F'\t' '
  { n++; for (i = 2; i <= 5; i++) { cell[n, i] = $i; if (length($i) > w[i]) w[i] = length($i) } }
  END {
    head[2] = "Figure"; head[3] = "Measured"; head[4] = "Goal"; head[5] = "Goal met"
    for (i = 2; i <= 5; i++) if (length(head[i]) > w[i]) w[i] = length(head[i])
    line = sprintf("%-" w[2] "s | %-" w[3] "s | %-" w[4] "s | %s", head[2], head[3], head[4], head[5])
    print line
    gsub(/[^|]/, "-", line); gsub(/\|/, "+", line); print line
    for (r = 1; r <= n; r++)
      printf "%-" w[2] "s | %-" w[3] "s | %-" w[4] "s | %s\n", cell[r, 2], cell[r, 3], cell[r, 4], cell[r, 5]
  }' "$rows"
