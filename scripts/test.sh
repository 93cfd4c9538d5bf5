#!/bin/bash
# Installs, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh default
ctest --preset default -j "$(nproc)"
bash scripts/check-install.sh build/default
