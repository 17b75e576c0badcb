#!/usr/bin/env bash
# Builds libusb-1.0.dll for the 64-bit and the 32-bit Windows builds from Debian's own source
# package, once: the programs load it at run time to reach a phone bound to WinUSB. Quiet, and
# costs nothing, when build/libusb already holds this version.
#   build/libusb/win64/libusb-1.0.dll, build/libusb/win32/libusb-1.0.dll
#   build/libusb/COPYING      its licence (LGPL-2.1), shipped beside the DLL
#   build/libusb/SOURCE.txt   the source package, its version and where to get it
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build/libusb"

package=libusb-1.0
version=2:1.0.26-1
upstream=1.0.26
# The files of that version as the archive has them; anything else is refused.
declare -A sha256=(
  [libusb-1.0_1.0.26.orig.tar.bz2]=12ce7a61fc9854d1d2a1ffe095f7b5fac19ddba095c259e6067a46500381b5a5
  [libusb-1.0_1.0.26-1.debian.tar.xz]=fdf5de721b46c9f411f833f531176f93de9e2b15101d55a4bff36ea6af0e0226
)
stamp="$out/.built-$package-$version"
if [ -f "$stamp" ] && [ -f "$out/win64/libusb-1.0.dll" ] && [ -f "$out/win32/libusb-1.0.dll" ] &&
  [ -f "$out/COPYING" ] && [ -f "$out/SOURCE.txt" ]; then
  exit 0
fi

echo "Building libusb-1.0.dll ($package $version) for Windows"
work="$out/work"
rm -rf "$work"
mkdir -p "$work/source"

# A deb-src entry for each mirror apt already uses, kept under build/ with its own index, so
# the machine's apt configuration is left as it is.
apt_dir="$work/apt"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
: >"$apt_dir/sources.list"
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$f" ] || continue
  sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" >>"$apt_dir/sources.list"
done
mkdir -p "$apt_dir/parts"
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] || continue
  sed 's/^Types:.*/Types: deb-src/' "$f" >"$apt_dir/parts/$(basename "$f")"
done
apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=$apt_dir/parts"
  -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache" -o APT::Sandbox::User=root)
# A mirror caught mid-sync, or another repository without sources, fails one index now and then:
# try again, and go on with what the others gave; the download below says if the package is not
# to be had.
for attempt in 1 2 3; do
  if apt-get -qq "${apt_opts[@]}" update; then break; fi
  echo "apt-get update (sources) failed (attempt $attempt of 3)"
  [ "$attempt" = 3 ] || sleep $((attempt * 5))
done
(cd "$work/source" && apt-get -qq "${apt_opts[@]}" source --download-only "$package=$version" >/dev/null)
for f in "${!sha256[@]}"; do
  echo "${sha256[$f]}  $work/source/$f" | sha256sum --quiet -c - || {
    echo "libusb: $f does not have the expected SHA-256" >&2
    exit 1
  }
done
tar -xjf "$work/source/libusb-1.0_$upstream.orig.tar.bz2" -C "$work/source"
tar -xJf "$work/source/libusb-1.0_${version#*:}.debian.tar.xz" -C "$work/source/libusb-$upstream"
src="$work/source/libusb-$upstream"
if [ -f "$src/debian/patches/series" ]; then
  while read -r p; do
    case "$p" in '' | '#'*) continue ;; esac
    patch -s -p1 -d "$src" <"$src/debian/patches/$p"
  done <"$src/debian/patches/series"
fi

build_one() { # host triplet, output folder
  local host=$1 dir=$2 log
  mkdir -p "$work/$dir"
  log="$work/$dir.log"
  # libgcc linked in, so the DLL needs nothing beside it but Windows itself.
  if ! (cd "$work/$dir" && "$src/configure" --host="$host" CC="$host-gcc-posix" \
    LDFLAGS="-static-libgcc" --enable-shared --disable-static --disable-examples-build \
    --disable-tests-build && make -j"$(nproc)") >"$log" 2>&1; then
    cat "$log" >&2
    return 1
  fi
  mkdir -p "$out/$dir"
  cp "$work/$dir/libusb/.libs/libusb-1.0.dll" "$out/$dir/libusb-1.0.dll"
  "$host-strip" --strip-unneeded "$out/$dir/libusb-1.0.dll"
}
build_one x86_64-w64-mingw32 win64
build_one i686-w64-mingw32 win32

cp "$src/COPYING" "$out/COPYING"
cat >"$out/SOURCE.txt" <<EOF
libusb-1.0.dll is libusb $upstream, built unchanged with MinGW-w64 from Debian's source package
$package, version $version (Debian 12 "bookworm"), under the GNU Lesser General Public
License 2.1 (COPYING). Its source:

    apt-get source $package=$version
    https://sources.debian.org/src/$package/${version#*:}/
    https://deb.debian.org/debian/pool/main/libu/$package/

Files of that source package (SHA-256):
EOF
for f in "${!sha256[@]}"; do printf '    %s  %s\n' "${sha256[$f]}" "$f" >>"$out/SOURCE.txt"; done
printf '\nYou may replace libusb-1.0.dll with another build of libusb 1.0 of the same interface.\n' >>"$out/SOURCE.txt"
rm -rf "$work"
rm -f "$out"/.built-*
touch "$stamp"
