#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing. Quiet when
# everything is there. Needs root (or sudo) only when something has to be installed.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  libusb-1.0-0-dev umockdev libumockdev-dev
  # libusb-1.0.dll for the Windows builds, from Debian's source package (scripts/libusb-windows.sh).
  bzip2 xz-utils
  googletest libgtest-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine64 xvfb x11-utils imagemagick
  # Wine's 32-bit part, which runs the 32-bit build; from the i386 architecture added below.
  wine32:i386
  # The command-line tool's option parsing and its JSON.
  libcli11-dev nlohmann-json3-dev
  # The releases (scripts/package.sh) and their tests.
  nsis zip unzip dpkg-dev help2man lintian man-db
)

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "Adding the i386 architecture (for Wine's 32-bit part)"
  $sudo dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exec "$(dirname "$0")/libusb-windows.sh"

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# A mirror caught mid-sync fails one index now and then: try again, and go on with what the
# others gave (the install below fails clearly if a package is really not to be had).
for attempt in 1 2 3; do
  if $sudo apt-get update -qq; then break; fi
  echo "apt-get update failed (attempt $attempt of 3)"
  sleep $((attempt * 5))
done
# The i386 part goes last and on its own: when a half-synced mirror makes it uninstallable, the
# rest is still installed, and the failure names the one package that is missing.
native=()
foreign=()
for p in "${missing[@]}"; do
  case "$p" in *:i386) foreign+=("$p") ;; *) native+=("$p") ;; esac
done
if [ ${#native[@]} -gt 0 ]; then $sudo apt-get install -y -qq "${native[@]}" >/dev/null; fi
if [ ${#foreign[@]} -gt 0 ] && ! $sudo apt-get install -y -qq "${foreign[@]}" >/dev/null; then
  # Only the 32-bit Windows suites need it; scripts/test.sh says loudly that they did not run.
  echo "setup: WARNING: could not install ${foreign[*]}; the 32-bit Windows suites cannot run" >&2
fi
"$(dirname "$0")/libusb-windows.sh"
