#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs what building and testing need, when it is missing (Debian).
#   LMSVIEW_WITH_FUZZ=1  also clang and libFuzzer
#   LMSVIEW_WITH_LINT=1  also clang-format and clang-tidy
#   LMSVIEW_WITH_PACKAGING=1  also debhelper, lintian and Python's build
set -euo pipefail

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v ninja >/dev/null || need+=(ninja-build)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
command -v python3 >/dev/null || need+=(python3)
command -v ip >/dev/null || need+=(iproute2)
command -v unshare >/dev/null || need+=(util-linux)
command -v dpkg-shlibdeps >/dev/null || need+=(dpkg-dev)
command -v strace >/dev/null || need+=(strace)
[ -x /usr/bin/time ] || need+=(time)  # the bench's peak memory of short runs
command -v rsvg-convert >/dev/null || need+=(librsvg2-bin)
command -v pkg-config >/dev/null || need+=(pkg-config)
[ -f /usr/include/zstd.h ] || need+=(libzstd-dev)
# The Python module: built for Debian's interpreter, which has its numpy.
[ -f /usr/lib/cmake/pybind11/pybind11Config.cmake ] || need+=(pybind11-dev)
[ -x /usr/bin/python3-config ] || need+=(python3-dev)
/usr/bin/python3 -c "import numpy" 2>/dev/null || need+=(python3-numpy)
/usr/bin/python3 -c "import pytest" 2>/dev/null || need+=(python3-pytest)
# The wheel: built offline by Debian's setuptools, tried in a virtual environment.
/usr/bin/python3 -c "import setuptools" 2>/dev/null || need+=(python3-setuptools)
/usr/bin/python3 -c "import wheel" 2>/dev/null || need+=(python3-wheel)
/usr/bin/python3 -m pip --version >/dev/null 2>&1 || need+=(python3-pip)
/usr/bin/python3 -c "import ensurepip" 2>/dev/null || need+=(python3-venv)
# --ros2: Cyclone DDS and its IDL compiler.
[ -f /usr/include/dds/dds.h ] || need+=(cyclonedds-dev)
command -v idlc >/dev/null || need+=(cyclonedds-tools)
# --serve: nlohmann-json for what clients send; Chromium for the page's test.
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
# --config: toml++.
[ -f /usr/include/toml++/toml.h ] || need+=(libtomlplusplus-dev)
command -v chromium >/dev/null || need+=(chromium)
command -v node >/dev/null || need+=(nodejs)
command -v npm >/dev/null || need+=(npm)
if [ "${LMSVIEW_WITH_FUZZ:-0}" = 1 ]; then
  command -v clang++ >/dev/null || need+=(clang)
  ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-dev)
fi
if [ "${LMSVIEW_WITH_WINDOWS:-0}" = 1 ]; then
  command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
  command -v wine >/dev/null || need+=(wine64)
fi
if [ "${LMSVIEW_WITH_PACKAGING:-0}" = 1 ]; then
  command -v dh >/dev/null || need+=(debhelper)
  [ -f /usr/share/perl5/Debian/Debhelper/Sequence/python3.pm ] || need+=(dh-python)
  command -v lintian >/dev/null || need+=(lintian)
  /usr/bin/python3 -c "import build" 2>/dev/null || need+=(python3-build)
fi
if [ "${LMSVIEW_WITH_LINT:-0}" = 1 ]; then
  command -v clang-format >/dev/null || need+=(clang-format)
  command -v run-clang-tidy >/dev/null || need+=(clang-tidy)
fi

if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" = 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}"
fi

# The reference readers the tests check our files with, at the versions
# tests/npm/package-lock.json pins.
npm_dir="$(dirname "$0")/../tests/npm"
if [ ! -d "$npm_dir/node_modules" ] || [ "$npm_dir/package-lock.json" -nt "$npm_dir/node_modules" ]; then
  (cd "$npm_dir" && npm ci --no-audit --no-fund --loglevel=error)
fi
