#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Configures, builds and runs every test under one preset (dev by default;
# asan and tsan run the same suite under the sanitizers).
#
# Run as root (as CI is), the tests run inside a private network namespace
# that has only loopback, so a fault that sent lmsview to its built-in
# scanner address could reach nothing.
set -euo pipefail
preset=${1:-dev}
cd "$(dirname "$0")/.."

# Runs a command inside a private network namespace with loopback only when
# root can make one; says which.
isolated() {
  if [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null; then
    echo "test.sh: tests run in a private network namespace with loopback only"
    unshare -n bash -c 'ip link set lo up && exec "$@"' _ "$@"
  else
    echo "test.sh: not root or no unshare here: tests run in this machine's network namespace (they use loopback only)"
    "$@"
  fi
}

# The Windows build under Wine: its unit tests, the Win32 serial tests through
# COM ports mapped to pseudo-terminals, and lmsview.exe end to end against the
# Linux emulator. A private prefix under the build folder, one wineserver for
# the run, stopped at the end.
if [ "$preset" = windows ]; then
  LMSVIEW_WITH_WINDOWS=1 scripts/setup.sh
  cmake --preset dev >/dev/null
  cmake --build --preset dev --target lmssim lmsview
  cmake --preset mingw -DLMSVIEW_LINUX_BUILD="$PWD/build/dev" >/dev/null
  cmake --build --preset mingw
  export WINEPREFIX="$PWD/build/mingw/wine" WINEDEBUG=-all
  isolated bash -c '
    tests/wine/prepare_prefix.sh "$WINEPREFIX" "$PWD/build/mingw/ports" "$PWD/build/mingw" || exit 1
    status=0
    ctest --preset mingw || status=$?
    wineserver -k || true
    exit "$status"'
  exit $?
fi

scripts/setup.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"

isolated ctest --preset "$preset"
