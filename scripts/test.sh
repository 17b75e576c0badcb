#!/usr/bin/env bash
# Builds everything and runs every test: the native suite, the same suite under AddressSanitizer
# with UndefinedBehaviorSanitizer and under ThreadSanitizer, the fuzzers for a few seconds each,
# the Windows build's suites under Wine on a headless X server, and a compile of the 32-bit
# Windows program. Exits non-zero on any failure.
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
configure_build build/native -DCMAKE_BUILD_TYPE=Debug
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

step "Windows build and tests under Wine"
configure_build build/win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release
wine_prepare "$root/build/win64/wineprefix"
display_ensure
ctest --test-dir build/win64 --output-on-failure --no-tests=error
wineserver -k 2>/dev/null || true

step "32-bit Windows build (compiles only: this Wine cannot run it)"
quiet cmake -S "$root" -B build/win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTELVANE_TESTS=OFF
quiet cmake --build build/win32 -j"$jobs" --target telvane

step "all tests passed"
