#!/usr/bin/env bash
# Runs the program on the virtual phone: builds telvane.exe, runs it under Wine on a path-style
# phone (--device virtual:tree) with AutoFileList on, so the files appear once the phone
# connects, and saves a picture of the window as build/telvane.png. Without a display it starts
# Xvfb, and ends the program once the picture is saved; with a display the window stays open
# until you close it. Extra arguments go to telvane.exe (e.g. --device virtual:flat).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/setup.sh"
# shellcheck source=lib/wine.sh
. "$root/scripts/lib/wine.sh"

build="$root/build/win64"
quiet() { # runs a build step, showing its output only when it fails
  local log
  log=$(mktemp)
  if ! "$@" >"$log" 2>&1; then cat "$log" >&2; rm -f "$log"; return 1; fi
  rm -f "$log"
}
echo "Building telvane.exe..."
quiet cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release
quiet cmake --build "$build" -j"$(nproc)" --target telvane
exe="$build/src/ui/win32/telvane.exe"

# The setting is read from beside the program.
printf '[General]\r\nAutoFileList=1\r\n' >"${exe%.exe}.ini"

# A prefix of its own, apart from the test suite's.
wine_prepare "$build/run-wineprefix"
# This Wine does not find its own symbol font, which draws the caption buttons.
fonts="$WINEPREFIX/drive_c/windows/Fonts"
if [ -f /usr/share/wine/fonts/marlett.ttf ] && [ ! -f "$fonts/marlett.ttf" ]; then
  mkdir -p "$fonts"
  cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
fi

headless=0
[ -z "${DISPLAY:-}" ] && headless=1
program_pid=""
finish() {
  if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
    kill "$program_pid" 2>/dev/null || true
    wait "$program_pid" 2>/dev/null || true
  fi
  if [ "$headless" = 1 ]; then wineserver -k 2>/dev/null || true; fi
  display_release
}
trap finish EXIT
display_ensure

picture="$root/build/telvane.png"
bitmap="$build/telvane-window.bmp"
rm -f "$bitmap" "$picture"
echo "Starting telvane.exe on the virtual phone..."
wine "$exe" --device virtual:tree --screenshot "$(winepath -w "$bitmap")" "$@" &
program_pid=$!

# The program saves its picture once the phone's files are listed.
for _ in $(seq 1 600); do
  [ -f "$bitmap" ] && break
  if ! kill -0 "$program_pid" 2>/dev/null; then
    echo "telvane.exe ended before it listed the phone's files" >&2
    exit 1
  fi
  sleep 0.1
done
if [ ! -f "$bitmap" ]; then
  echo "telvane.exe did not list the phone's files within 60 seconds" >&2
  exit 1
fi
convert "$bitmap" "$picture"
rm -f "$bitmap"
echo "The window, with the virtual phone's files: ${picture#"$root"/}"

if [ "$headless" = 1 ]; then
  echo "No display: telvane.exe has been ended."
else
  echo "Close the window to end telvane.exe."
  wait "$program_pid" || true
  program_pid=""
fi
