#!/bin/bash
# qmx71.exe against the simulated programmer (a 24C64) on $QMX_WIN_TEST_PORT:
# write, verify, read back, a verify that must fail, and one read without the
# modem-line shim (the port's reader then polls instead of waiting for events).
# Usage: cli_check.sh QMX71_EXE   (run by com_port.py --sim)
set -euo pipefail
exe=$(realpath "$1")
port=${QMX_WIN_TEST_PORT:?run through tests/windows/com_port.py}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Relative names: on Windows a leading / may start an option.
cd "$work"
qmx() { wine "$exe" -q --port "$port" "$@"; }

head -c 8192 /dev/urandom >"data.bin"
head -c 8192 /dev/urandom >"other.bin"
qmx --page-size 32 write 24C64 "data.bin"
qmx verify 24C64 "data.bin"
qmx read 24C64 -o "back.bin"
cmp "data.bin" "back.bin"
status=0
qmx verify 24C64 "other.bin" || status=$?
if [ "$status" -ne 1 ]; then
  echo "cli_check: verify against other data ended with $status, expected 1" >&2
  exit 1
fi
# A COM port named in the \\.\ form, and no shim.
env -u LD_PRELOAD wine "$exe" -q --port "\\\\.\\$port" read 24C64 -o "again.bin"
cmp "data.bin" "again.bin"
echo "cli_check: write, verify, read and a failing verify on $port as expected"
