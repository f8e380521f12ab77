#!/usr/bin/env bash
# Builds lmsview and lmssim and runs them together: the emulator on a loopback
# address, lmsview reading it. A key press ends lmsview; the emulator ends with it.
#   scripts/demo.sh          over TCP (127.0.0.1, port 10002)
#   scripts/demo.sh serial   over a pseudo-terminal at 9600 baud
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target lmsview lmssim >/dev/null
bin=build/release
address=${LMS_DEMO_ADDRESS:-127.0.0.1}

if [ "${1:-tcp}" = serial ]; then
  log=$(mktemp)
  "$bin/sim/lmssim" --serial >"$log" &
  sim=$!
  trap 'kill $sim 2>/dev/null; rm -f "$log"' EXIT
  for _ in $(seq 50); do grep -q 'serial device' "$log" && break; sleep 0.1; done
  device=$(awk '/serial device/ {print $4}' "$log")
  "$bin/app/lmsview" COM "$device" LMS
else
  "$bin/sim/lmssim" --address "$address" &
  sim=$!
  trap 'kill $sim 2>/dev/null' EXIT
  sleep 0.3
  "$bin/app/lmsview" IP "$address" LMS
fi
