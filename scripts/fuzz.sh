#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (default 60 s), starting from the checked-in corpus. New inputs go to
# fuzz-out/, never into the corpus itself; a crash leaves its input there.
#   scripts/fuzz.sh [seconds per target]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
LMSVIEW_WITH_FUZZ=1 scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
status=0
mkdir -p fuzz-out
build/fuzz/tests/fuzz/fuzz_cli_dictionary >fuzz-out/cli.dict
for t in reply framer sim_parser cli mcap serve; do
  work=fuzz-out/$t
  mkdir -p "$work"
  log=fuzz-out/$t.log
  dict=()
  [ "$t" = cli ] && dict=(-dict=fuzz-out/cli.dict)
  if build/fuzz/tests/fuzz/fuzz_$t "$work" tests/fuzz/corpus/$t "${dict[@]}" -max_total_time="$seconds" \
      -artifact_prefix="fuzz-out/$t-" -print_final_stats=1 >"$log" 2>&1; then
    runs=$(awk '/stat::number_of_executed_units/ {print $2}' "$log")
    echo "fuzz_$t: ${seconds}s, ${runs:-?} executions, clean"
  else
    echo "fuzz_$t: FAILED, see $log"
    status=1
  fi
done
exit $status
