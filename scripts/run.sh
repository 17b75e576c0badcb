#!/usr/bin/env bash
# Runs a session on the virtual phone (interim, until the window exists): builds the simulator
# and the command-line tool, starts telvane-phonesim on a free port and runs telvane-cli against
# it. Options are passed to telvane-phonesim (e.g. --fault status=7@0x22). Exits with the CLI's
# status. Quiet apart from the session's own output.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/setup.sh"

build="$root/build/native"
quiet() { # runs a build step, showing its output only when it fails
  local log
  log=$(mktemp)
  if ! "$@" >"$log" 2>&1; then cat "$log" >&2; rm -f "$log"; return 1; fi
  rm -f "$log"
}
quiet cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug
quiet cmake --build "$build" -j"$(nproc)" --target telvane-phonesim telvane-cli

coproc SIM { exec "$build/sim/telvane-phonesim" --port 0 "$@"; }
sim_pid=$SIM_PID
sim_in=${SIM[1]}
stop_sim() {
  # Ask first; an unresponsive simulator is killed.
  { echo quit >&"$sim_in"; } 2>/dev/null || true
  for _ in $(seq 50); do
    kill -0 "$sim_pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill "$sim_pid" 2>/dev/null || true
}
trap stop_sim EXIT

port=""
if ! read -r -t 10 port <&"${SIM[0]}" || ! [[ $port =~ ^[0-9]+$ ]]; then
  echo "telvane-phonesim did not start" >&2
  exit 1
fi

status=0
"$build/tools/telvane-cli" --device "tcp:127.0.0.1:$port" || status=$?
exit $status
