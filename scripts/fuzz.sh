#!/bin/bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each for the
# given seconds (default 20) over a copy of its checked-in seed corpus, so the
# corpus in the tree never grows. Any crash, sanitizer report, broken
# invariant, time-out or leak fails the script; its input is kept under
# build/fuzz/runs/<target>/ for a regression test.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
bash scripts/install-deps.sh
cmake --preset fuzz
cmake --build --preset fuzz -j "${QMX_JOBS:-2}"

targets=(fuzz_frame_decoder fuzz_sim_dispatch fuzz_intel_hex fuzz_raw_binary fuzz_ini fuzz_library_args)
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
failed=0
for target in "${targets[@]}"; do
  run="build/fuzz/runs/$target"
  rm -rf "$run"
  mkdir -p "$run/corpus" "$run/artifacts"
  cp tests/fuzz/corpus/"$target"/* "$run/corpus/"
  # One process, one job: the machine is shared with other builds.
  if build/fuzz/tests/fuzz/"$target" "$run/corpus" -max_total_time="$seconds" -timeout=30 \
      -print_final_stats=1 -artifact_prefix="$run/artifacts/" >"$run/log" 2>&1 &&
      [ -z "$(ls -A "$run/artifacts")" ]; then
    executions=$(awk '/stat::number_of_executed_units/ {print $2}' "$run/log")
    echo "$target: ${executions:-?} executions, no finding"
  else
    echo "$target: FINDING, log in $run/log, input in $run/artifacts/" >&2
    tail -n 40 "$run/log" >&2
    failed=1
  fi
done
exit "$failed"
