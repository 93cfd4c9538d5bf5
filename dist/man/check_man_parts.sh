#!/bin/sh
# The device-number table in the library's page must say what the catalogue
# says: every part with its size and numbers, as `qmx71 parts` prints them.
#   check_man_parts.sh PAGE QMX71
set -u
page=$1
program=$2

from_tool=$("$program" parts) || { echo "$program parts failed"; exit 1; }
from_tool=$(printf '%s\n' "$from_tool" | awk '/^  / {
  line = $0
  sub(/.*device /, "", line)
  gsub(/Series90/, "90-series", line)
  print $1 ";" $2 ";" line
}')
from_page=$(sed -n '/^\.TS/,/^\.TE/p' "$page" | sed 's/\\-/-/g' | awk -F';' 'NF == 4 && $2 ~ /^[0-9]+$/ {
  print $1 ";" $2 ";" $4
}')
if [ -z "$from_tool" ] || [ "$from_tool" != "$from_page" ]; then
  echo "device table of $page differs from $program parts:"
  printf '%s\n' "$from_tool" >"${TMPDIR:-/tmp}/qmx_parts_tool.$$"
  printf '%s\n' "$from_page" | diff -u "${TMPDIR:-/tmp}/qmx_parts_tool.$$" - | sed 's/^/  /'
  rm -f "${TMPDIR:-/tmp}/qmx_parts_tool.$$"
  exit 1
fi
