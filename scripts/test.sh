#!/usr/bin/env bash
# Configures, builds and runs every test under one preset (dev by default;
# asan and tsan run the same suite under the sanitizers).
#
# Run as root (as CI is), the tests run inside a private network namespace
# that has only loopback, so a fault that sent lmsview to its built-in
# scanner address could reach nothing.
set -euo pipefail
preset=${1:-dev}
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"

if [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null; then
  echo "test.sh: tests run in a private network namespace with loopback only"
  unshare -n bash -c 'ip link set lo up && exec ctest --preset "$1"' _ "$preset"
else
  echo "test.sh: not root or no unshare here: tests run in this machine's network namespace (they use loopback only)"
  ctest --preset "$preset"
fi
