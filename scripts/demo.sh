#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds lmsview and lmssim and runs them together: the emulator on a loopback
# address, lmsview reading it. A key press ends lmsview; the emulator ends with it.
#   scripts/demo.sh          over TCP (127.0.0.1, port 10002)
#   scripts/demo.sh serial   over a pseudo-terminal at 9600 baud
# Extra lmsview options may follow, e.g. scripts/demo.sh tcp --format jsonl.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-tcp}
[ $# -gt 0 ] && shift
scripts/setup.sh
build_log=$(mktemp)
echo "demo: building lmsview and lmssim (release preset) ..."
if ! { cmake --preset release && cmake --build --preset release --target lmsview lmssim; } >"$build_log" 2>&1; then
  cat "$build_log"
  echo "demo: the build failed" >&2
  exit 1
fi
rm -f "$build_log"
bin=build/release
address=${LMSVIEW_DEMO_ADDRESS:-127.0.0.1}
log=$(mktemp)
sim=""
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null
  rm -f "$log"
}
trap cleanup EXIT

# Waits (at most 5 s) for the emulator to say it is ready; stops the demo if
# it ended instead (its address in use, no pseudo-terminal ...).
wait_for_sim() {
  for _ in $(seq 50); do
    grep -q "$1" "$log" && return 0
    if ! kill -0 "$sim" 2>/dev/null; then
      echo "demo: the emulator could not start:" >&2
      cat "$log" >&2
      exit 1
    fi
    sleep 0.1
  done
  echo "demo: the emulator did not get ready in 5 s" >&2
  exit 1
}

if [ "$mode" = serial ]; then
  "$bin/sim/lmssim" --serial >"$log" 2>&1 &
  sim=$!
  wait_for_sim 'serial device'
  link=(COM "$(awk '/serial device/ {print $4}' "$log")")
else
  "$bin/sim/lmssim" --address "$address" -v >"$log" 2>&1 &
  sim=$!
  wait_for_sim 'listening on'
  link=(IP "$address")
fi
status=0
"$bin/app/lmsview" "$@" "${link[@]}" LMS || status=$?
exit "$status"
