#!/bin/bash
# Installs, builds, and runs a whole programming cycle on the simulated
# programmer: qmx71-sim serves a pseudo-terminal with a 24C64 in its socket,
# and the qmx71 tool finds it through QMX71_PORT, shows the programmer,
# programs the bundled sample HEX file (erase, blank check, write, verify) and
# dumps the start of the part. Where a display is available, the desktop
# program then starts on the same simulated programmer and connects by
# itself; close its window to end the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh default

bin=build/default
link="$(mktemp -u /tmp/qmx71-demo-XXXXXX)"
out="$(mktemp)"
# Real timing: the programmer takes the time a real one does (USB latency,
# bus time, a write cycle per page).
"$bin/sim/qmx71-sim" --model "${QMX71_DEMO_MODEL:-QMX-71C}" --part 24C64 --timing real --link "$link" \
  </dev/null >"$out" &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; rm -f "$out"' EXIT

for _ in $(seq 100); do
  [ -s "$out" ] && [ -e "$link" ] && break
  sleep 0.05
done
echo "simulated programmer on $(head -n1 "$out") (link $link)"
export QMX71_PORT="$link"
set -x
"$bin/cli/qmx71" info
"$bin/cli/qmx71" program 24C64 cli/samples/sample-24c64.hex --page-size 32
"$bin/cli/qmx71" dump 24C64 --length 320
{ set +x; } 2>/dev/null
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "starting Qmx71aApp on the simulated programmer (close the window to end)"
  "$bin/app/Qmx71aApp" --settings "$(mktemp -u /tmp/qmx71-demo-XXXXXX.ini)"
fi
