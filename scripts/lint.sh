#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Format check and static analysis: clang-format must have nothing to change,
# and clang-tidy (the checks in .clang-tidy) must report nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
LMSVIEW_WITH_LINT=1 scripts/setup.sh
mapfile -t sources < <(git ls-files '*.cpp' '*.h')
clang-format --dry-run --Werror "${sources[@]}"
echo "lint: clang-format clean (${#sources[@]} files)"
cmake --preset dev >/dev/null
cmake --build --preset dev >/dev/null
# The fuzz targets build only with clang's fuzzer runtime; the rest is the product and its tests.
mapfile -t units < <(git ls-files '*.cpp' | grep -v '^tests/fuzz/')
log=$(mktemp)
run-clang-tidy -p build/dev -quiet "${units[@]/#/$PWD/}" >"$log" 2>&1 || true
if grep -E '(warning|error):' "$log" | grep -v 'warnings generated' >/dev/null; then
  grep -E '(warning|error):' -A3 "$log" | head -80
  echo "lint: clang-tidy found problems"
  exit 1
fi
echo "lint: clang-tidy clean (${#units[@]} files)"
rm -f "$log"
