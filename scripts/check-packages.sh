#!/bin/bash
# Installs the built packages on this machine with apt-get, as a user would,
# runs what they hold against the simulated programmer, and removes them.
# Usage: bash scripts/check-packages.sh [packages-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
dir="$(realpath "${1:-build/packages}")"
if [ "$(id -u)" -eq 0 ]; then SUDO=(); else SUDO=(sudo); fi
packages=(libqmx71a1 libqmx71a-dev qmx71 qmx71-gui python3-qmx71a)
tmp="$(mktemp -d)"
sim=""
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null || true
  DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get purge -y "${packages[@]}" >/dev/null 2>&1 || true
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "check-packages: $*" >&2; exit 1; }

DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y --no-install-recommends "$dir"/*.deb

/usr/bin/qmx71 --help >/dev/null || fail "qmx71 --help"
[ -f /usr/lib/udev/rules.d/60-qmx71.rules ] || fail "udev rule not installed"
[ -f /usr/share/man/man1/qmx71.1.gz ] && [ -f /usr/share/man/man3/qmx71a.3.gz ] || fail "manual pages not installed"

/usr/bin/qmx71-sim --log --link "$tmp/port" --part 24C02 >"$tmp/sim.out" 2>"$tmp/sim.log" &
sim=$!
for _ in $(seq 50); do [ -e "$tmp/port" ] && break; sleep 0.1; done
export QMX71_PORT="$tmp/port" QMX71_SYSFS_ROOT="$tmp/nosys"
/usr/bin/qmx71 info | grep -q "I2C: .*part present" || fail "qmx71 info against qmx71-sim"

# The Python module finds the installed library by itself.
/usr/bin/python3 - <<'PY' || fail "python3-qmx71a against qmx71-sim"
import qmx71a
with qmx71a.Programmer(qmx71a.Family.I2C) as p:
    data = bytes(range(256))
    p.write("24C02", data)
    assert p.read("24C02") == data
PY

# A C host builds against the installed header and pkg-config file.
cc -std=c11 -Wall -Wextra -Werror library/examples/read_part.c $(pkg-config --cflags --libs qmx71a) \
  -o "$tmp/read_part" || fail "C host against libqmx71a-dev"

# The desktop program starts offscreen and connects: the simulator sees it
# ask for the programmer's name.
before="$(grep -c GET_NAME "$tmp/sim.log" || true)"
QT_QPA_PLATFORM=offscreen timeout -s INT 5 /usr/bin/Qmx71aApp --port "$tmp/port" \
  --settings "$tmp/app.ini" >/dev/null 2>&1 || true
after="$(grep -c GET_NAME "$tmp/sim.log" || true)"
[ "$after" -gt "$before" ] || fail "Qmx71aApp did not connect"
echo "check-packages: installed, and qmx71, qmx71-sim, Qmx71aApp, the Python module and a C host work"
