#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Checks the demo as a user meets it: it ends with 0 after a normal stop, and
# stops with a message when the emulator cannot take its address.
set -euo pipefail
cd "$(dirname "$0")/.."
export LMSVIEW_DEMO_ADDRESS=127.0.0.61
out=$(scripts/demo.sh tcp --count 2 --interval 200 </dev/null 2>&1) || { echo "$out"; echo "demo_check: the demo failed"; exit 1; }
grep -q "muestra: 1" <<<"$out" || { echo "$out"; echo "demo_check: no scans shown"; exit 1; }
grep -q "demo: building" <<<"$out" || { echo "demo_check: the build was not announced"; exit 1; }
# An emulator that holds the address; its ready line says it listens.
exec 3< <(build/release/sim/lmssim --address "$LMSVIEW_DEMO_ADDRESS" --max-seconds 60)
holder=$!
trap 'kill $holder 2>/dev/null' EXIT
read -r -t 10 ready <&3 && [[ $ready == "lmssim: listening on"* ]] || { echo "demo_check: the emulator did not start"; exit 1; }
status=0
out=$(scripts/demo.sh </dev/null 2>&1) || status=$?
[ "$status" = 1 ] && grep -q "the emulator could not start" <<<"$out" || {
  echo "$out"
  echo "demo_check: a taken address was not reported (status $status)"
  exit 1
}
echo "demo_check: the demo runs, ends with 0, and stops on a taken address"
