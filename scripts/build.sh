#!/bin/bash
# Configures and builds one preset (default, asan or tsan).
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
cmake --preset "$preset"
cmake --build --preset "$preset" -j "$(nproc)"
