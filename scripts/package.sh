#!/usr/bin/env bash
# Builds the Debian package from the release preset, installs it, checks that
# both programs run from their installed place, and removes it again.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target lmsview lmssim >/dev/null
(cd build/release && cpack -G DEB >/dev/null)
deb=$(ls build/release/lmsview_*.deb | head -n 1)
echo "package: $deb"
dpkg -i "$deb" >/dev/null
trap 'dpkg -r lmsview >/dev/null' EXIT
/usr/bin/lmsview --version
/usr/bin/lmssim --version
test -f /usr/share/man/man1/lmsview.1
test -f /usr/share/man/man1/lmssim.1
echo "package: installs, runs and carries both manual pages"
