#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the Debian packages from the release preset and the Python wheel,
# installs them and checks each as a user meets it, then removes them again:
# - lmsview (the programs, their manual pages, the shared library) depends on
#   nothing of DDS, and its --ros2 names the package it needs;
# - lmsview-dev: a C program builds and links with pkg-config;
# - lmsview-ros2: lmsview's --ros2 loads it and publishes;
# - python3-lmsview: Debian's python3 imports it with nothing set;
# - the wheel, in a fresh virtual environment, reads scans from lmssim.
# Whatever talks, talks on loopback in a private network namespace.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target lmsview lmssim lmsview_shared lmsview_static _lmsview >/dev/null
ros2=no
if cmake --build --preset release --target help | grep -q '^lmsview_ros2:'; then
  cmake --build --preset release --target lmsview_ros2 >/dev/null
  ros2=yes
fi
rm -f build/release/*.deb
(cd build/release && cpack -G DEB >/dev/null)
deb() { ls build/release/"$1"_*.deb | head -n 1; }
programs=$(deb lmsview)
dev=$(deb lmsview-dev)
python=$(deb python3-lmsview)
for p in build/release/*.deb; do
  echo "$(basename "$p"): $(dpkg-deb -f "$p" Depends)"
done
fail() { echo "package: $*"; exit 1; }
if dpkg-deb -f "$programs" Depends | grep -Eq 'cyclonedds|iceoryx|libssl'; then fail "lmsview depends on DDS"; fi
if ldd build/release/app/lmsview | grep -Eq 'ddsc|iceoryx|libssl|libcrypto'; then fail "lmsview links DDS"; fi

tmp=$(mktemp -d)
installed=()
cleanup() {
  rm -rf "$tmp"
  [ ${#installed[@]} -eq 0 ] || dpkg -r "${installed[@]}" >/dev/null
}
trap cleanup EXIT
in_loopback() { unshare -n bash -c 'ip link set lo up && exec "$@"' _ "$@"; }

# The wheel, built offline, in a fresh virtual environment (Debian's numpy).
rm -rf build/dist
/usr/bin/python3 -m pip wheel --no-build-isolation --no-deps -q -w build/dist .
wheel=$(ls build/dist/lmsview-*.whl)
echo "wheel: $(basename "$wheel"), $(stat -c %s "$wheel") bytes"
/usr/bin/python3 -m venv --system-site-packages "$tmp/venv"
"$tmp/venv/bin/python" -m pip install -q --no-index "$wheel"
in_loopback bash -c '
  exec 3< <(build/release/sim/lmssim --address 127.0.0.62 --max-seconds 30)
  read -r -t 10 ready <&3 || exit 1
  cd / && env -u PYTHONPATH "$1" -c "
import lmsview
assert lmsview.__file__.startswith(\"$2\"), lmsview.__file__
with lmsview.open(\"tcp://127.0.0.62\", interval=0.1) as scanner:
    scans = [scanner.next(timeout=10) for _ in range(3)]
assert [len(s.ranges) for s in scans] == [361] * 3
print(\"wheel: read\", len(scans), \"scans from lmssim\")
"' _ "$tmp/venv/bin/python" "$tmp/venv"
dpkg -i "$programs" "$dev" >/dev/null
installed=(lmsview-dev lmsview)
/usr/bin/lmsview --version
/usr/bin/lmssim --version
test -f /usr/share/man/man1/lmsview.1
test -f /usr/share/man/man1/lmssim.1
# shellcheck disable=SC2046
cc -o "$tmp/nearest_c" examples/nearest.c $(pkg-config --cflags --libs lmsview)
"$tmp/nearest_c" 2>/dev/null && exit 1  # no link named: usage, status 2
test "$(pkg-config --modversion lmsview)" = "$(/usr/bin/lmsview --version | cut -d' ' -f2)"
status=0
/usr/bin/lmsview --ros2 --count 1 IP 127.0.0.62 LMS >/dev/null 2>"$tmp/err" || status=$?
[ "$status" = 2 ] && grep -q "lmsview-ros2" "$tmp/err" || fail "--ros2 without its package: status $status, $(cat "$tmp/err")"

dpkg -i "$python" >/dev/null
installed=(python3-lmsview "${installed[@]}")
(cd / && env -u PYTHONPATH /usr/bin/python3 -c "import lmsview; print('python3-lmsview', lmsview.version())")

# A run against the emulator: one scan, as a table (and on DDS with lmsview-ros2).
scan_once() {
  in_loopback bash -c '
    exec 3< <(/usr/bin/lmssim --address 127.0.0.62 --max-seconds 30)
    read -r -t 10 ready <&3 || exit 1
    exec /usr/bin/lmsview "$@" --count 1 --interval 100 IP 127.0.0.62 LMS </dev/null' _ "$@"
}
if [ "$ros2" = yes ]; then
  dpkg -i "$(deb lmsview-ros2)" >/dev/null
  installed=(lmsview-ros2 "${installed[@]}")
  CYCLONEDDS_URI="file://$PWD/docs/cyclonedds-loopback.xml" scan_once --ros2 >/dev/null || fail "--ros2 with lmsview-ros2 failed"
  echo "lmsview-ros2: --ros2 loads the plug-in and publishes"
fi

echo "package: four packages install and run (lmsview without DDS), and the wheel reads scans"
