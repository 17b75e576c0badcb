#!/usr/bin/env bash
# Makes the releases into build/dist/:
#   telvane-VERSION-windows-x64.zip, telvane-VERSION-windows-x86.zip   unpack and run
#   telvane-VERSION-setup.exe                                           the Windows installer
#   telvane_VERSION_amd64.deb                                           the Debian package
# VERSION is the project's version in CMakeLists.txt. The Windows programs come from
# build/win64 and build/win32 (the Release builds scripts/test.sh makes, so after it they cost
# nothing more), the Linux ones from a Release build of their own in build/package-native;
# TELVANE_PACKAGE_BUILD=DIR builds in DIR/win64, DIR/win32 and DIR/native instead.
# libusb-1.0.dll is taken from build/libusb/ (made from Debian's libusb-1.0 source package).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/setup.sh"

builds=${TELVANE_PACKAGE_BUILD:-}
win64=${builds:-$root/build}/win64
win32=${builds:-$root/build}/win32
native=${builds:+$builds/native}
native=${native:-$root/build/package-native}
libusb="$root/build/libusb"
dist="$root/build/dist"
work="$dist/work"

fail() {
  echo "package: $*" >&2
  exit 1
}
for f in win64/libusb-1.0.dll win32/libusb-1.0.dll COPYING SOURCE.txt; do
  [ -f "$libusb/$f" ] || fail "build/libusb/$f is missing: the Windows zips and the installer ship libusb-1.0.dll, \
its licence and where its source is. It is built from Debian's libusb-1.0 source package; nothing was packaged."
done

quiet() { # runs a build step, showing its output only when it fails
  local log
  log=$(mktemp)
  if ! "$@" >"$log" 2>&1; then cat "$log" >&2; rm -f "$log"; return 1; fi
  rm -f "$log"
}
jobs=$(nproc)
echo "Building the Windows programs (64-bit and 32-bit) and the Linux programs..."
quiet cmake -S "$root" -B "$win64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release
quiet cmake --build "$win64" -j"$jobs" --target telvane telvane-cli
quiet cmake -S "$root" -B "$win32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" -DCMAKE_BUILD_TYPE=Release
quiet cmake --build "$win32" -j"$jobs" --target telvane telvane-cli
quiet cmake -S "$root" -B "$native" -DCMAKE_BUILD_TYPE=Release -DTELVANE_TESTS=OFF
quiet cmake --build "$native" -j"$jobs" --target telvane-cli telvane-usbserver telvane-phonesim

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$native/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $native/CMakeCache.txt"
rm -rf "$dist"
mkdir -p "$work"

crlf() { sed 's/\r*$/\r/' "$1" >"$2"; } # Windows text

# --- Windows: one folder per build, zipped as it is, and the installer of both ---
stage_windows() { # build dir, libusb arch, strip tool, folder
  local build=$1 arch=$2 strip=$3 dir=$4
  mkdir -p "$dir/licences"
  "$strip" -o "$dir/telvane.exe" "$build/src/ui/win32/telvane.exe"
  "$strip" -o "$dir/telvane-cli.exe" "$build/tools/telvane-cli.exe"
  cp "$libusb/$arch/libusb-1.0.dll" "$dir/"
  sed "s/@VERSION@/$version/g" "$root/packaging/windows/README.txt" >"$work/README.txt"
  crlf "$work/README.txt" "$dir/README.txt"
  crlf "$libusb/COPYING" "$dir/licences/libusb-1.0.txt"
  crlf "$libusb/SOURCE.txt" "$dir/licences/libusb-1.0-source.txt"
  # Built into the programs: the command line's parser and JSON, and the MinGW-w64 runtime.
  crlf /usr/share/doc/libcli11-dev/copyright "$dir/licences/CLI11.txt"
  crlf /usr/share/doc/nlohmann-json3-dev/copyright "$dir/licences/nlohmann-json.txt"
  crlf /usr/share/doc/mingw-w64-common/copyright "$dir/licences/mingw-w64.txt"
  crlf /usr/share/doc/gcc-mingw-w64-base/copyright "$dir/licences/gcc-runtime.txt"
}
x64="telvane-$version-windows-x64"
x86="telvane-$version-windows-x86"
stage_windows "$win64" win64 x86_64-w64-mingw32-strip "$work/$x64"
stage_windows "$win32" win32 i686-w64-mingw32-strip "$work/$x86"
(cd "$work" && zip -q -r -X "$dist/$x64.zip" "$x64" && zip -q -r -X "$dist/$x86.zip" "$x86")

# The installer installs, and its uninstaller removes, exactly the files of a zip.
filelist="$work/files.nsh"
(cd "$work/$x64" && find . -type f | LC_ALL=C sort) | while read -r f; do
  f=${f#./}
  sub=$(dirname "$f")
  if [ "$sub" = . ]; then sub=""; else sub="\\${sub//\//\\}"; fi
  printf '${FILE} "%s" "%s"\n' "$sub" "$(basename "$f")"
done >"$filelist"
diff <(cd "$work/$x64" && find . -type f | sort) <(cd "$work/$x86" && find . -type f | sort) >/dev/null ||
  fail "the x64 and x86 folders differ in their files"
quiet makensis -V2 -DVERSION="$version" -DX64DIR="$work/$x64" -DX86DIR="$work/$x86" -DFILELIST="$filelist" \
  -DICON="$root/src/ui/win32/icons/program.ico" -DOUTFILE="$dist/telvane-$version-setup.exe" \
  "$root/packaging/windows/telvane.nsi"

# --- Debian ---
deb="$work/deb"
linux="$root/packaging/linux"
install -d "$deb/DEBIAN" "$deb/usr/bin" "$deb/usr/share/man/man1" "$deb/usr/lib/telvane" \
  "$deb/usr/share/doc/telvane"
for program in tools/telvane-cli tools/telvane-usbserver sim/telvane-phonesim; do
  strip --strip-unneeded --remove-section=.comment --remove-section=.note \
    -o "$deb/usr/bin/$(basename "$program")" "$native/$program"
done
sed "s/@VERSION@/$version/g" "$linux/telvane" >"$deb/usr/bin/telvane"
chmod 0755 "$deb/usr/bin/"*
install -m 0644 "$work/$x64/telvane.exe" "$deb/usr/lib/telvane/telvane.exe"
install -D -m 0644 "$linux/70-telvane-p2k.rules" "$deb/usr/lib/udev/rules.d/70-telvane-p2k.rules"
install -D -m 0644 "$linux/telvane-cli.bash-completion" "$deb/usr/share/bash-completion/completions/telvane-cli"
install -D -m 0644 "$linux/telvane.desktop" "$deb/usr/share/applications/telvane.desktop"
install -d "$deb/usr/share/icons/hicolor/32x32/apps"
convert "$root/src/ui/win32/icons/program.ico[0]" "$deb/usr/share/icons/hicolor/32x32/apps/telvane.png"

manual() { # program, one-line description
  help2man --no-info --no-discard-stderr --version-string="$version" --name="$2" \
    --include="$linux/man/$(basename "$1").h2m" --output="$work/$(basename "$1").1" "$1"
  gzip -9n -c "$work/$(basename "$1").1" >"$deb/usr/share/man/man1/$(basename "$1").1.gz"
}
manual "$deb/usr/bin/telvane-cli" "manage the files and seems of a P2K phone"
manual "$deb/usr/bin/telvane-usbserver" "serve the P2K phones on this machine's USB to Telvane's window"
manual "$deb/usr/bin/telvane-phonesim" "serve a virtual P2K phone"
manual "$deb/usr/bin/telvane" "open Telvane's window on the phones plugged into this machine"

{
  cat "$linux/debian/copyright"
  for part in libcli11-dev:CLI11 nlohmann-json3-dev:nlohmann-json mingw-w64-common:MinGW-w64 \
    gcc-mingw-w64-base:"GCC's runtime"; do
    printf '\n\n==== %s (from Debian'"'"'s %s) ====\n\n' "${part#*:}" "${part%%:*}"
    cat "/usr/share/doc/${part%%:*}/copyright"
  done
} >"$deb/usr/share/doc/telvane/copyright"
{
  printf 'telvane (%s) unstable; urgency=medium\n\n' "$version"
  printf '  * Release %s.\n\n' "$version"
  printf ' -- Telvane developers <developers@telvane.invalid>  %s\n' "$(date -R -u -d "@$(git log -1 --format=%ct 2>/dev/null || date +%s)")"
} | gzip -9n >"$deb/usr/share/doc/telvane/changelog.gz"
find "$deb/usr" -type d -exec chmod 0755 {} +

install -m 0755 "$linux/debian/postinst" "$linux/debian/postrm" "$deb/DEBIAN/"
# The libraries the programs link with, as Debian names them.
mkdir -p "$work/shlibs/debian"
printf 'Source: telvane\n\nPackage: telvane\nArchitecture: amd64\n' >"$work/shlibs/debian/control"
depends=$(cd "$work/shlibs" && dpkg-shlibdeps -O "$deb/usr/bin/telvane-cli" "$deb/usr/bin/telvane-usbserver" \
  "$deb/usr/bin/telvane-phonesim" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || fail "dpkg-shlibdeps found no libraries"
sed -e "s/@VERSION@/$version/" -e "s/@DEPENDS@/$depends/" \
  -e "s/@SIZE@/$(du -sk --exclude=DEBIAN "$deb" | cut -f1)/" "$linux/debian/control" >"$deb/DEBIAN/control"
(cd "$deb" && find usr -type f -exec md5sum {} + | LC_ALL=C sort -k2 >DEBIAN/md5sums)
chmod 0644 "$deb/DEBIAN/control" "$deb/DEBIAN/md5sums"
quiet dpkg-deb --root-owner-group -Zxz --build "$deb" "$dist/telvane_${version}_amd64.deb"

rm -rf "$work"
# What a user downloads can be checked against this.
(cd "$dist" && sha256sum -- *.zip *.exe *.deb >SHA256SUMS)
echo "Made in build/dist/:"
(cd "$dist" && ls -1)
