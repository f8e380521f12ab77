#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Makes the private Wine prefix the Windows tests run in, with COM7, COM8 and COM21
# to COM30 mapped to paths under PORTS_DIR that the tests point at a
# pseudo-terminal of their own. Leaves one wineserver running for the prefix
# (stop it with: WINEPREFIX=... wineserver -k).
#
# Usage: prepare_prefix.sh PREFIX PORTS_DIR LOG_DIR
set -euo pipefail
prefix=$1 ports=$2 logs=$3
export WINEPREFIX=$prefix WINEDEBUG=-all
mkdir -p "$prefix" "$ports" "$logs"

# wineserver's stderr goes to a file: it writes thousands of lines when a
# pty peer hangs up. Everything Wine starts in the background gets files too,
# or it would hold the caller's pipes open.
wineserver -k 2>/dev/null || true
wineserver -p 2>>"$logs/wineserver.log"
wineboot -u >"$logs/wineboot.log" 2>&1 </dev/null

reg="$logs/ports.reg"
{
  printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
  # High numbers: Wine gives the low ones to the machine's own serial devices.
  for n in 7 8 21 22 23 24 25 26 27 28 29 30; do
    printf '"COM%s"="%s"\r\n' "$n" "$ports/com$n"
  done
} >"$reg"
wine regedit /S "$(winepath -w "$reg")" >>"$logs/wineboot.log" 2>&1 </dev/null

# The mapping is read when the prefix starts.
wineserver -k
wineserver -w 2>/dev/null || true
wineserver -p 2>>"$logs/wineserver.log"
wineboot -u >>"$logs/wineboot.log" 2>&1 </dev/null
for n in 7 8 21 30; do
  [ "$(readlink "$prefix/dosdevices/com$n")" = "$ports/com$n" ] ||
    { echo "prepare_prefix: COM$n is not mapped to $ports/com$n" >&2; exit 1; }
done
