#!/usr/bin/env bash
# Configures, builds and runs every test under one preset (dev by default;
# asan and tsan run the same suite under the sanitizers).
set -euo pipefail
preset=${1:-dev}
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"
