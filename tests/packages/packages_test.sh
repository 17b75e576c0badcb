#!/usr/bin/env bash
# The releases of scripts/package.sh as their users meet them: each Windows zip unpacked and its
# telvane-cli.exe run under Wine; the installer run silently in a fresh 64-bit and 32-bit Wine
# prefix, its programs run, and its uninstaller leaving the prefix as it found it; the Debian
# package installed on this machine with dpkg, its programs and files where they belong, and
# removed again without a trace; lintian without errors. Needs root (dpkg) and a display for
# Wine (scripts/test.sh gives one). Exits non-zero on any failure.
#   tests/packages/packages_test.sh [DIST]     DIST: build/dist
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dist=${1:-$root/build/dist}
# shellcheck source=../../scripts/lib/wine.sh
. "$root/scripts/lib/wine.sh"

deb=$(ls "$dist"/telvane_*_amd64.deb)
version=$(dpkg-deb -f "$deb" Version)
scratch="$root/build/package-test"
rm -rf "$scratch"
mkdir -p "$scratch"

failures=0
check() { # description, command...: one line per check, and the run goes on after a failure
  local what=$1
  shift
  if "$@" >"$scratch/check.log" 2>&1; then
    echo "ok    $what"
  else
    echo "FAIL  $what"
    sed 's/^/      /' "$scratch/check.log" | tail -n 20
    failures=$((failures + 1))
  fi
}
has_line() { grep -qxF -- "$1" "$2"; }
output_has() { # text, command...: the command ends well and prints the text
  local text=$1
  shift
  local out
  out=$("$@" 2>&1) || { echo "$out"; return 1; }
  grep -qF -- "$text" <<<"$out" || { echo "no \"$text\" in:"; echo "$out"; return 1; }
}
pe_is() { # file, format (pei-x86-64 | pei-i386)
  x86_64-w64-mingw32-objdump -f "$1" | grep -q "file format $2"
}
readme_ok() { grep -q $'\r$' "$1" && grep -qF "Telvane $version" "$1"; }
wine32_installed() { dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; }

check "SHA256SUMS names the four packages and their sums hold" \
  bash -c 'cd "$1" && [ "$(wc -l <SHA256SUMS)" = 4 ] && sha256sum --quiet -c SHA256SUMS' _ "$dist"

# --- the zips ---
for arch in x64:pei-x86-64 x86:pei-i386; do
  name="telvane-$version-windows-${arch%%:*}"
  format=${arch#*:}
  check "$name.zip unpacks into one folder" unzip -q "$dist/$name.zip" -d "$scratch/zip"
  dir="$scratch/zip/$name"
  (cd "$dir" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) >"$scratch/$name.files"
  for f in telvane.exe telvane-cli.exe libusb-1.0.dll README.txt licences/libusb-1.0.txt \
    licences/libusb-1.0-source.txt; do
    check "$name.zip holds $f" has_line "$f" "$scratch/$name.files"
  done
  for f in telvane.exe telvane-cli.exe libusb-1.0.dll; do
    check "$name: $f is a $format build" pe_is "$dir/$f" "$format"
  done
  check "$name: README.txt is Windows text naming $version" readme_ok "$dir/README.txt"
  check "$name: the libusb licence is the LGPL" grep -q "GNU LESSER GENERAL PUBLIC LICENSE" \
    "$dir/licences/libusb-1.0.txt"
done

display_ensure
trap display_release EXIT
wine_prepare "$scratch/wine64"
x64="$scratch/zip/telvane-$version-windows-x64"
check "x64 zip: telvane-cli.exe --device virtual info" output_has "model: " wine "$x64/telvane-cli.exe" --device virtual info
check "x64 zip: telvane-cli.exe --version" output_has "telvane-cli $version" wine "$x64/telvane-cli.exe" --version
if wine32_installed; then
  x86="$scratch/zip/telvane-$version-windows-x86"
  check "x86 zip: telvane-cli.exe --device virtual info" output_has "model: " wine "$x86/telvane-cli.exe" --device virtual info
else
  echo "WARNING: the x86 zip's programs did NOT run: wine32:i386 is not installed"
fi

# --- the installer, in the prefix of each Windows it chooses for ---
setup="$dist/telvane-$version-setup.exe"
apps_entry_has() { # line: the uninstall key, in the system's own registry view, holds it
  grep -A 20 -F '[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Telvane]' "$WINEPREFIX/system.reg" |
    grep -qF -- "$1"
}
prefix_state() { # what an install may change: the files below drive_c, and any key naming Telvane
  (cd "$WINEPREFIX/drive_c" && find . -iname temp -prune -o -print |
    LC_ALL=C sort)
  grep -i '^\[.*telvane' "$WINEPREFIX"/*.reg || true
}
installer_round() { # label, PE format the installed programs must have
  local label=$1 format=$2
  local program_files
  program_files=$(winepath -u 'C:\Program Files' 2>/dev/null)
  local installed="$program_files/Telvane"
  local menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Telvane.lnk"
  wineserver -w
  prefix_state >"$scratch/$label.before"
  check "$label: setup.exe /S installs" wine "$setup" /S
  wineserver -w
  for f in telvane.exe telvane-cli.exe libusb-1.0.dll README.txt uninstall.exe licences/libusb-1.0.txt; do
    check "$label: Program Files\\Telvane\\$f" test -f "$installed/$f"
  done
  check "$label: the installed programs are the $format build" pe_is "$installed/telvane-cli.exe" "$format"
  check "$label: a Start menu entry" test -f "$menu"
  check "$label: an entry under Apps with the version" apps_entry_has "\"DisplayVersion\"=\"$version\""
  check "$label: the installed telvane-cli.exe --device virtual info" output_has "model: " \
    wine 'C:\Program Files\Telvane\telvane-cli.exe' --device virtual info
  check "$label: uninstall.exe /S" wine 'C:\Program Files\Telvane\uninstall.exe' /S
  wineserver -w # the uninstaller goes on in a copy of itself
  check "$label: the uninstaller removed the folder" test ! -e "$installed"
  check "$label: the uninstaller removed the Start menu entry" test ! -e "$menu"
  prefix_state >"$scratch/$label.after"
  check "$label: the prefix is as it was before the install" diff "$scratch/$label.before" "$scratch/$label.after"
}
installer_round "installer on 64-bit Windows" pei-x86-64
wineserver -k 2>/dev/null || true
if wine32_installed; then
  WINEARCH=win32 wine_prepare "$scratch/wine32"
  installer_round "installer on 32-bit Windows" pei-i386
  wineserver -k 2>/dev/null || true
else
  echo "WARNING: the installer did NOT run on 32-bit Windows: wine32:i386 is not installed"
fi

# --- the Debian package, on this machine ---
if [ "$(id -u)" -ne 0 ]; then
  echo "FAIL  the Debian package is installed with dpkg, which needs root"
  exit 1
fi
if dpkg-query -W -f='${Status}' telvane 2>/dev/null | grep -q "installed"; then
  dpkg --purge telvane >/dev/null # left by an earlier run cut short
fi
check "lintian reports no errors" lintian --fail-on error "$deb"
check "the package depends on libusb and recommends wine" \
  sh -c "dpkg-deb -f '$deb' Depends | grep -q libusb-1.0-0 && dpkg-deb -f '$deb' Recommends | grep -qx wine"
check "dpkg -i installs it" dpkg -i "$deb"
dpkg-query -L telvane | LC_ALL=C sort >"$scratch/deb.files"
check "/usr/bin/telvane-cli --device virtual info" output_has "model: " /usr/bin/telvane-cli --device virtual info
check "/usr/bin/telvane-cli --version" output_has "telvane-cli $version" /usr/bin/telvane-cli --version
check "/usr/bin/telvane-phonesim --help" output_has "--profile" /usr/bin/telvane-phonesim --help
check "/usr/bin/telvane-usbserver --help" output_has "--port" /usr/bin/telvane-usbserver --help
for program in telvane-cli telvane-usbserver telvane-phonesim telvane; do
  check "man page of $program" sh -c "man -w $program | grep -qx /usr/share/man/man1/$program.1.gz"
done
check "the man page of telvane-cli holds its options" sh -c "zcat /usr/share/man/man1/telvane-cli.1.gz | grep -q 'device'"
check "the udev rule is where udev reads it" cmp /usr/lib/udev/rules.d/70-telvane-p2k.rules \
  "$root/packaging/linux/70-telvane-p2k.rules"
check "bash completes telvane-cli" bash -c \
  '. /usr/share/bash-completion/completions/telvane-cli && complete -p telvane-cli | grep -q _telvane_cli'
check "the desktop entry starts telvane" has_line "Exec=telvane" /usr/share/applications/telvane.desktop
check "telvane without Wine says how to get it" sh -c \
  'PATH=/nonexistent; export PATH; /bin/sh /usr/bin/telvane 2>&1 >/dev/null | /usr/bin/grep -q "apt install wine"'
check "the window is bundled" pe_is /usr/lib/telvane/telvane.exe pei-x86-64
# telvane's plumbing, with a stand-in for Wine that checks the server listens where it is sent.
mkdir -p "$scratch/fakebin"
cat >"$scratch/fakebin/wine" <<'EOF'
#!/bin/bash
printf '%s\n' "$@" >"$TELVANE_TEST_DIR/wine.args"
exec 3<>"/dev/tcp/127.0.0.1/${3##*:}" && echo listening >"$TELVANE_TEST_DIR/wine.saw"
EOF
chmod +x "$scratch/fakebin/wine"
launch() {
  TELVANE_TEST_DIR=$scratch PATH="$scratch/fakebin:$PATH" /usr/bin/telvane --tray
}
check "telvane runs the bundled window under Wine" launch
check "... on telvane-usbserver, listening on loopback" has_line listening "$scratch/wine.saw"
check "... with its own options passed on" sh -c "head -n 1 '$scratch/wine.args' | grep -qx /usr/lib/telvane/telvane.exe &&
  sed -n 2p '$scratch/wine.args' | grep -qx -- --device && sed -n 4p '$scratch/wine.args' | grep -qx -- --tray"
port=$(sed -n 3p "$scratch/wine.args" 2>/dev/null || true)
port=${port##*:}
check "... and the server ends with the window" sh -c "! bash -c 'exec 3<>/dev/tcp/127.0.0.1/${port:-1}' 2>/dev/null"
check "dpkg --purge removes it" dpkg --purge telvane
check "nothing of it is left" sh -c "while read -r f; do [ -d \"\$f\" ] || [ ! -e \"\$f\" ] || { echo \"\$f is left\"; exit 1; }; done <'$scratch/deb.files'"

rm -rf "$scratch"
if [ "$failures" -ne 0 ]; then
  echo "$failures package checks failed"
  exit 1
fi
echo "every package check passed"
