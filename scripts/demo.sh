#!/bin/bash
# Installs, builds, and runs the main job on the simulated programmer:
# qmx71-sim serves a pseudo-terminal, qmx71-probe finds it through
# QMX71_PORT, connects and shows model, firmware version and supply voltage.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh default

bin=build/default
link="$(mktemp -u /tmp/qmx71-demo-XXXXXX)"
out="$(mktemp)"
"$bin/sim/qmx71-sim" --model "${QMX71_DEMO_MODEL:-QMX-71A}" --link "$link" </dev/null >"$out" &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; rm -f "$out"' EXIT

for _ in $(seq 100); do
  [ -s "$out" ] && [ -e "$link" ] && break
  sleep 0.05
done
echo "simulated programmer on $(head -n1 "$out") (link $link)"
QMX71_PORT="$link" "$bin/cli/qmx71-probe"
