#!/bin/bash
# Builds one sanitizer preset (asan or tsan) and runs the unit and simulator
# tests under it; asan also the desktop program's, offscreen (Qt itself is
# not instrumented for ThreadSanitizer, which would report its locking).
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-tsan}"
bash scripts/install-deps.sh
bash scripts/build.sh "$preset"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# One test at a time: the sanitizers slow the simulator enough that two
# parallel passes can miss the 50 ms answer window on a 2-core machine.
export QT_QPA_PLATFORM=offscreen
ctest --preset "$preset" -j 1
