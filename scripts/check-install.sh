#!/bin/bash
# Installs the library into a scratch prefix and builds the C example the way
# a customer would: against the installed header and pkg-config file only.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/default}"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
pc="$(dirname "$(find "$prefix" -name qmx71a.pc | head -n1)")"
flags="$(PKG_CONFIG_PATH="$pc" pkg-config --cflags --libs qmx71a)"
libdir="$(PKG_CONFIG_PATH="$pc" pkg-config --variable=libdir qmx71a)"
cc -std=c11 -Wall -Wextra -Wpedantic -Werror library/examples/read_part.c $flags \
  -Wl,-rpath,"$libdir" -o "$prefix/read_part"
# Without a programmer it must fail cleanly, not crash.
set +e
QMX71_PORT=/nonexistent "$prefix/read_part" 1 0 16 >/dev/null 2>&1
rc=$?
set -e
if [ "$rc" -eq 0 ] || [ "$rc" -ge 128 ]; then
  echo "check-install: read_part should fail without a programmer (exit $rc)" >&2
  exit 1
fi
# The installed command-line tool finds the installed library by itself.
"$prefix/bin/qmx71" parts | grep -q "24C64" || { echo "check-install: qmx71 parts failed" >&2; exit 1; }
set +e
QMX71_PORT=/nonexistent QMX71_SYSFS_ROOT=/nonexistent "$prefix/bin/qmx71" blank 24C02 >/dev/null 2>&1
rc=$?
set -e
if [ "$rc" -ne 3 ]; then
  echo "check-install: qmx71 without a programmer should exit 3 (exit $rc)" >&2
  exit 1
fi
echo "check-install: installed library, header and pkg-config file build a C host; qmx71 runs"
