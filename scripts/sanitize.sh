#!/bin/bash
# Builds one sanitizer preset (asan or tsan) and runs the unit and simulator tests under it.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-tsan}"
bash scripts/install-deps.sh
bash scripts/build.sh "$preset"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --preset "$preset" -j "$(nproc)"
