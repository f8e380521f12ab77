#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The packages as a distribution and a Python user take them:
# - the Debian packages (debian/, debhelper) built twice, in two folders,
#   with one SOURCE_DATE_EPOCH: they must be byte-identical;
# - lintian on them: an error fails;
# - each installed and used as a user meets it, then purged: the programs
#   (lmsview needs nothing of DDS, and its --ros2 names the package it
#   needs), a C program built with pkg-config (shared and static) whose
#   dependency dpkg-shlibdeps finds, --ros2 through the plug-in, and the
#   Python module with its metadata, which leaves nothing behind;
# - the sdist, a wheel built from it alone (offline), and that wheel reading
#   scans from lmssim in a virtual environment without the system's site
#   packages (Debian's numpy through a .pth file).
# Whatever talks, talks on loopback in a private network namespace.
set -euo pipefail
cd "$(dirname "$0")/.."
LMSVIEW_WITH_PACKAGING=1 scripts/setup.sh

work=$(mktemp -d)
installed=()
cleanup() {
  [ ${#installed[@]} -eq 0 ] || dpkg -P "${installed[@]}" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "package: $*"
  exit 1
}
in_loopback() { unshare -n bash -c 'ip link set lo up && exec "$@"' _ "$@"; }

# The source as it is checked out (with what is not committed yet).
source_into() {
  mkdir -p "$1/lmsview"
  git ls-files -co --exclude-standard | grep -v '^tests/npm/node_modules/' | tar -cf - -T - | tar -xf - -C "$1/lmsview"
}
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l debian/changelog -S Timestamp)
build_debs() {
  source_into "$1"
  if ! (cd "$1/lmsview" && DEB_BUILD_OPTIONS="parallel=$(nproc)" dpkg-buildpackage -us -uc -b >"$1/build.log" 2>&1); then
    tail -40 "$1/build.log"
    fail "dpkg-buildpackage failed in $1"
  fi
}
build_debs "$work/a"
build_debs "$work/b"
debs=$(cd "$work/a" && ls ./*.deb)
same=0
for d in $debs; do
  cmp -s "$work/a/$d" "$work/b/$d" || fail "$d differs between two builds of one source (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
  same=$((same + 1))
done
echo "package: reproducible: $same packages byte-identical across two builds in two folders"
for d in $debs; do
  echo "$(basename "$d"): $(dpkg-deb -f "$work/a/$d" Depends)"
done

lintian --pedantic -I -E "$work"/a/lmsview_*.changes >"$work/lintian.txt" 2>&1 || true
grep -v 'running with root privileges' "$work/lintian.txt" || true
grep -q '^E:' "$work/lintian.txt" && fail "lintian reports errors"
echo "package: lintian: $(grep -c '^E:' "$work/lintian.txt") errors, $(grep -c '^W:' "$work/lintian.txt") warnings"

deb() { ls "$work"/a/"$1"_*.deb; }
dpkg-deb -f "$(deb lmsview)" Depends | grep -Eq 'cyclonedds|ddsc|iceoryx|libssl' && fail "lmsview depends on DDS"
dpkg -i "$(deb liblmsview2)" "$(deb liblmsview-dev)" "$(deb lmsview)" >/dev/null
installed=(lmsview liblmsview-dev liblmsview2)
/usr/bin/lmsview --version
/usr/bin/lmssim --version
test -f /usr/share/man/man1/lmsview.1.gz
test -f /usr/share/man/man1/lmssim.1.gz
ldd /usr/bin/lmsview | grep -Eq 'ddsc|iceoryx|libssl|libcrypto' && fail "lmsview links DDS"

# A C program, as a third party builds it: shared, then static.
cc -o "$work/nearest_c" examples/nearest.c $(pkg-config --cflags --libs lmsview)
"$work/nearest_c" 2>/dev/null && fail "nearest_c ran without a link"  # usage: status 2
# shellcheck disable=SC2046
cc -o "$work/nearest_static" examples/nearest.c $(pkg-config --cflags lmsview) -Wl,-Bstatic -llmsview \
  -Wl,-Bdynamic $(pkg-config --static --libs lmsview | sed 's/-llmsview//')
ldd "$work/nearest_static" | grep -q liblmsview && fail "the static build links liblmsview.so"
test "$(pkg-config --modversion lmsview)" = "$(/usr/bin/lmsview --version | cut -d' ' -f2)"
mkdir -p "$work/third/debian"
printf 'Source: third\n\nPackage: third\nArchitecture: any\n' >"$work/third/debian/control"
(cd "$work/third" && dpkg-shlibdeps -O "$work/nearest_c" 2>"$work/shlibdeps.err") >"$work/shlibdeps" ||
  fail "dpkg-shlibdeps: $(cat "$work/shlibdeps.err")"
grep -q 'liblmsview2 (>= ' "$work/shlibdeps" || fail "dpkg-shlibdeps found no liblmsview2: $(cat "$work/shlibdeps")"
echo "package: a third party's program: $(grep -o 'liblmsview2 ([^)]*)' "$work/shlibdeps")"

status=0
/usr/bin/lmsview --ros2 --count 1 IP 127.0.0.62 LMS >/dev/null 2>"$work/err" || status=$?
[ "$status" = 2 ] && grep -q "liblmsview-ros2-2" "$work/err" || fail "--ros2 without its package: status $status, $(cat "$work/err")"

# A CMake consumer asking for the ROS 2 component before it is installed is told what to install.
mkdir -p "$work/consumer"
printf 'cmake_minimum_required(VERSION 3.25)\nproject(c CXX)\nfind_package(lmsview 2 REQUIRED COMPONENTS ros2)\n' \
  >"$work/consumer/CMakeLists.txt"
cmake -S "$work/consumer" -B "$work/consumer/build" >"$work/consumer.log" 2>&1 && fail "ros2 found before it is installed"
grep -q "liblmsview-ros2-dev" "$work/consumer.log" || fail "the missing component's message: $(cat "$work/consumer.log")"

scan_once() {
  in_loopback bash -c '
    exec 3< <(/usr/bin/lmssim --address 127.0.0.62 --max-seconds 30)
    read -r -t 10 ready <&3 || exit 1
    exec /usr/bin/lmsview "$@" --count 1 --interval 100 IP 127.0.0.62 LMS </dev/null' _ "$@"
}
scan_once >/dev/null || fail "lmsview read no scan"
dpkg -i "$(deb liblmsview-ros2-2)" "$(deb liblmsview-ros2-dev)" >/dev/null
installed=(liblmsview-ros2-dev liblmsview-ros2-2 "${installed[@]}")
CYCLONEDDS_URI="file://$PWD/docs/cyclonedds-loopback.xml" scan_once --ros2 >/dev/null || fail "--ros2 with liblmsview-ros2-2 failed"
cmake -S "$work/consumer" -B "$work/consumer/build" >"$work/consumer.log" 2>&1 || fail "find_package(lmsview COMPONENTS ros2): $(cat "$work/consumer.log")"
echo "package: liblmsview-ros2-2: --ros2 loads the plug-in and publishes; the component is found"

dpkg -i "$(deb python3-lmsview)" >/dev/null
installed=(python3-lmsview "${installed[@]}")
(cd / && env -u PYTHONPATH /usr/bin/python3 -c "
import importlib.metadata, lmsview
assert importlib.metadata.version('lmsview') == lmsview.__version__, importlib.metadata.version('lmsview')
print('python3-lmsview', lmsview.version())")
dpkg -P python3-lmsview >/dev/null
test ! -e /usr/lib/python3/dist-packages/lmsview || fail "purging python3-lmsview left $(find /usr/lib/python3/dist-packages/lmsview)"
dpkg -P "${installed[@]:1}" >/dev/null
installed=()
echo "package: every package installs, runs and purges"

# The sdist, and a wheel from it alone, offline.
source_into "$work/tree"
(cd "$work/tree/lmsview" && /usr/bin/python3 -m build --sdist --no-isolation -o "$work/dist" >"$work/sdist.log" 2>&1) ||
  { tail -20 "$work/sdist.log"; fail "the sdist did not build"; }
sdist=$(ls "$work"/dist/lmsview-*.tar.gz)
echo "package: sdist $(basename "$sdist"): $(tar -tzf "$sdist" | grep -cv '/$') files"
mkdir -p "$work/from_sdist"
tar -xzf "$sdist" -C "$work/from_sdist"
(cd "$work"/from_sdist/lmsview-* && /usr/bin/python3 -m pip wheel --no-build-isolation --no-deps --no-index -q \
  -w "$work/wheel" . >"$work/wheel.log" 2>&1) || { tail -20 "$work/wheel.log"; fail "no wheel from the sdist"; }
wheel=$(ls "$work"/wheel/lmsview-*.whl)
echo "package: wheel from the sdist: $(basename "$wheel"), $(stat -c %s "$wheel") bytes"
/usr/bin/python3 -m venv "$work/venv"
mkdir -p "$work/numpy"
for d in /usr/lib/python3/dist-packages/numpy /usr/lib/python3/dist-packages/numpy-*-info; do
  ln -s "$d" "$work/numpy/"  # the package and its metadata, so pip sees the requirement met
done
echo "$work/numpy" >"$("$work/venv/bin/python" -c 'import sysconfig; print(sysconfig.get_path("purelib"))')/debian_numpy.pth"
"$work/venv/bin/python" -m pip install -q --no-index "$wheel"
cmake --preset dev >/dev/null
cmake --build --preset dev --target lmssim >/dev/null
in_loopback bash -c '
  exec 3< <(build/dev/sim/lmssim --address 127.0.0.62 --max-seconds 30)
  read -r -t 10 ready <&3 || exit 1
  cd / && env -u PYTHONPATH "$1" -c "
import importlib.metadata, lmsview
assert lmsview.__file__.startswith(\"$2\"), lmsview.__file__
with lmsview.open(\"tcp://127.0.0.62\", interval=0.1) as scanner:
    scans = [scanner.next(timeout=10) for _ in range(3)]
assert [len(s.ranges) for s in scans] == [361] * 3
print(\"package: the wheel (lmsview\", importlib.metadata.version(\"lmsview\") + \") read\", len(scans), \"scans\")
"' _ "$work/venv/bin/python" "$work/venv"

echo "package: reproducible, lintian-clean packages that install, run and purge; a wheel from the sdist that reads scans"
