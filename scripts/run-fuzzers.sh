#!/usr/bin/env bash
# Runs every built fuzzer in BUILD_DIR for a short fixed budget, seeded from fuzz/corpus/<name>/.
# New inputs go to a scratch corpus, so the committed seeds stay small. Fails on any finding.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?build directory}
seconds=${FUZZ_SECONDS:-5}
found=0
for exe in "$build"/fuzz/*_fuzz; do
  [ -x "$exe" ] || continue
  name=$(basename "$exe")
  name=${name%_fuzz}
  seeds="$root/fuzz/corpus/$name"
  scratch="$build/fuzz/corpus-$name"
  mkdir -p "$scratch"
  [ -d "$seeds" ] || seeds=""
  log="$build/fuzz/$name.log"
  if ASAN_OPTIONS=detect_leaks=1 "$exe" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=1024 -malloc_limit_mb=256 \
      -artifact_prefix="$build/fuzz/$name-" "$scratch" $seeds >"$log" 2>&1; then
    printf '   %-24s ok (%s)\n' "$name" "$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true) runs"
  else
    printf '   %-24s FAILED\n' "$name"
    tail -n 40 "$log"
    found=1
  fi
done
exit $found
