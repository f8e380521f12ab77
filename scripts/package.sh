#!/usr/bin/env bash
# Builds the Debian packages from the release preset (lmsview: the programs,
# their manual pages and the shared library; lmsview-dev: headers, static
# library, CMake package, pkg-config file), installs them, checks that both
# programs run from their installed place and that a C program builds and
# links against the library with pkg-config, and removes them again.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target lmsview lmssim lmsview_shared lmsview_static >/dev/null
# The ROS 2 component where this build has DDS.
if cmake --build --preset release --target help | grep -q '^lmsview_ros2:'; then
  cmake --build --preset release --target lmsview_ros2 >/dev/null
fi
rm -f build/release/lmsview*.deb
(cd build/release && cpack -G DEB >/dev/null)
programs=$(ls build/release/lmsview_*.deb | head -n 1)
dev=$(ls build/release/lmsview-dev_*.deb | head -n 1)
echo "packages: $programs $dev"
dpkg -i "$programs" "$dev" >/dev/null
trap 'dpkg -r lmsview-dev lmsview >/dev/null' EXIT
/usr/bin/lmsview --version
/usr/bin/lmssim --version
test -f /usr/share/man/man1/lmsview.1
test -f /usr/share/man/man1/lmssim.1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"; dpkg -r lmsview-dev lmsview >/dev/null' EXIT
# shellcheck disable=SC2046
cc -o "$tmp/nearest_c" examples/nearest.c $(pkg-config --cflags --libs lmsview)
"$tmp/nearest_c" 2>/dev/null && exit 1  # no link named: usage, status 2
test "$(pkg-config --modversion lmsview)" = "$(/usr/bin/lmsview --version | cut -d' ' -f2)"
echo "package: installs, runs, carries both manual pages, and a C program links against the library"
