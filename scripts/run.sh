#!/usr/bin/env bash
# Runs the program on the virtual phone: builds telvane.exe, runs it under Wine on a path-style
# phone (--device virtual:tree) with AutoFileList on, so the files appear once the phone
# connects, and saves a picture of the window as build/telvane.png. Without a display it starts
# Xvfb, and ends the program once the picture is saved; with a display the window stays open
# until you close it. Extra arguments go to telvane.exe (e.g. --device virtual:flat).
#   scripts/run.sh --usb            the window on a real phone plugged into this machine, served
#                                   to telvane.exe by telvane-usbserver (libusb) over the bridge
#   scripts/run.sh --usb-emulated   the same road with the virtual phone on an emulated USB bus
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
usb=""
case "${1:-}" in
  --usb | --usb-emulated) usb=$1; shift ;;
esac
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
echo "Building telvane.exe and telvane-cli.exe..."
quiet cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release
quiet cmake --build "$build" -j"$(nproc)" --target telvane telvane-cli
exe="$build/src/ui/win32/telvane.exe"
if [ -n "$usb" ]; then
  echo "Building telvane-usbserver..."
  native="$root/build/native"
  quiet cmake -S "$root" -B "$native" -DCMAKE_BUILD_TYPE=Debug
  quiet cmake --build "$native" -j"$(nproc)" --target telvane-usbserver telvane-usbphone
fi

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
server_pid=""
finish() {
  if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
    kill "$program_pid" 2>/dev/null || true
    wait "$program_pid" 2>/dev/null || true
  fi
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  if [ "$headless" = 1 ]; then wineserver -k 2>/dev/null || true; fi
  display_release
}
trap finish EXIT
display_ensure

device="virtual:tree"
phone="the virtual phone"
if [ -n "$usb" ]; then
  server=("$native/tools/telvane-usbserver")
  phone="the phone on USB"
  if [ "$usb" = --usb-emulated ]; then
    server=("$native/sim/usb/telvane-usbphone" -- "${server[@]}")
    phone="the virtual phone on an emulated USB bus"
  fi
  portfile="$build/usbserver.port"
  rm -f "$portfile"
  "${server[@]}" --port 0 >"$portfile" </dev/null &
  server_pid=$!
  for _ in $(seq 1 100); do
    [ -s "$portfile" ] && break
    sleep 0.1
  done
  port=$(head -n 1 "$portfile" 2>/dev/null || true)
  if [ -z "$port" ]; then
    echo "telvane-usbserver did not start" >&2
    exit 1
  fi
  device="tcp:127.0.0.1:$port"
fi

picture="$root/build/telvane.png"
bitmap="$build/telvane-window.bmp"
rm -f "$bitmap" "$picture"
echo "Starting telvane.exe on $phone..."
wine "$exe" --device "$device" --screenshot "$(winepath -w "$bitmap")" "$@" &
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
echo "The window, with the files of $phone: ${picture#"$root"/}"

if [ "$headless" = 1 ]; then
  echo "No display: telvane.exe has been ended."
else
  echo "Close the window to end telvane.exe."
  wait "$program_pid" || true
  program_pid=""
fi
