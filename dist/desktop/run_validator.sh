#!/bin/sh
# Runs a validator on a file; skipped where the validator is not installed.
# Its warnings fail as its errors do.
#   run_validator.sh TOOL ARGUMENT...
tool=$1
shift
if ! command -v "$tool" >/dev/null 2>&1; then
  echo "$tool is not installed"
  exit 77
fi
output=$("$tool" "$@" 2>&1)
status=$?
printf '%s\n' "$output"
[ "$status" -eq 0 ] || exit 1
if printf '%s\n' "$output" | grep -qE '(^|[[:space:]])(warning:|W:|E:)'; then
  exit 1
fi
exit 0
