#!/usr/bin/env bash
# Builds everything and runs every test: the native suite, the same suite under AddressSanitizer
# with UndefinedBehaviorSanitizer and under ThreadSanitizer, the fuzzers for a few seconds each,
# the suites of the 64-bit and the 32-bit Windows builds under Wine on a headless X server, and
# the releases (scripts/package.sh) installed, run and removed. Exits non-zero on any failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/setup.sh"
# shellcheck source=lib/wine.sh
. "$root/scripts/lib/wine.sh"
trap display_release EXIT

jobs=$(nproc)
quiet() { # runs a build step, showing its output only when it fails
  local log
  log=$(mktemp)
  if ! "$@" >"$log" 2>&1; then cat "$log"; rm -f "$log"; return 1; fi
  rm -f "$log"
}
step() { printf '== %s\n' "$*"; }

configure_build() { # dir, cmake args...
  local dir=$1
  shift
  quiet cmake -S "$root" -B "$dir" "$@"
  quiet cmake --build "$dir" -j"$jobs"
}

step "native build and tests"
# The benchmarks are built too (not run), so they keep building.
configure_build build/native -DCMAKE_BUILD_TYPE=Debug -DTELVANE_BENCH=ON
ctest --test-dir build/native -j"$jobs" --output-on-failure --no-tests=error

step "native tests under AddressSanitizer and UndefinedBehaviorSanitizer"
configure_build build/asan -DCMAKE_BUILD_TYPE=Debug -DTELVANE_SANITIZE=address,undefined
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan -j"$jobs" --output-on-failure --no-tests=error

step "native tests under ThreadSanitizer"
configure_build build/tsan -DCMAKE_BUILD_TYPE=Debug -DTELVANE_SANITIZE=thread
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build/tsan -j"$jobs" --output-on-failure --no-tests=error

if [ -f "$root/fuzz/CMakeLists.txt" ]; then
  step "fuzzers"
  configure_build build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DTELVANE_FUZZ=ON -DTELVANE_TESTS=OFF
  "$root/scripts/run-fuzzers.sh" build/fuzz
fi

step "Windows builds, 64-bit and 32-bit"
configure_build build/win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DTELVANE_BENCH=ON
configure_build build/win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DTELVANE_TESTS=ON

# Every suite on both: the 32-bit build is the one older Windows with the maker's 32-bit driver
# runs, with its own structure layouts and pointer sizes. The two run side by side, each in a
# prefix (and so a Wine server) of its own, as they mostly wait on Wine: the 32-bit suites add
# little to the time the 64-bit ones take alone.
step "Windows tests under Wine, 64-bit and 32-bit side by side"
display_ensure
wine_suites() { # build dir: its suites in its own prefix
  wine_prepare "$root/$1/wineprefix"
  local rc=0
  ctest --test-dir "$1" --output-on-failure --no-tests=error || rc=$?
  wineserver -k 2>/dev/null || true
  return "$rc"
}
logs=$(mktemp -d)
wine_suites build/win64 >"$logs/win64" 2>&1 &
win64_pid=$!
if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  wine_suites build/win32 >"$logs/win32" 2>&1 &
else
  # Only when the package could not be installed (a package mirror that cannot give it): the
  # build above still compiled every 32-bit suite.
  echo "WARNING: the 32-bit Windows suites did NOT run: wine32:i386 is not installed" >"$logs/win32" &
fi
win32_pid=$!
failed=0
wait "$win64_pid" || failed=1
wait "$win32_pid" || failed=1
for build in win64 win32; do
  printf -- '-- %s\n' "$build"
  cat "$logs/$build"
done
rm -rf "$logs"
[ "$failed" = 0 ]

# The releases as their users meet them. The Windows programs are those built above, so only the
# Linux programs' Release build and the packaging itself cost time here; each step is time-boxed.
step "releases: the Windows zips and installer, the Debian package"
timeout 900 "$root/scripts/package.sh"
timeout 300 "$root/tests/packages/packages_test.sh" "$root/build/dist"

step "all tests passed"
