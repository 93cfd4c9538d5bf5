#!/bin/sh
# Each page must format without a single warning from man and groff.
#   check_man_render.sh PAGE...
if ! command -v man >/dev/null 2>&1; then
  echo "man is not installed"
  exit 77
fi
status=0
for page in "$@"; do
  if ! errors=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null); then
    echo "$page: man failed"
    status=1
  fi
  if [ -n "$errors" ]; then
    printf '%s:\n%s\n' "$page" "$errors"
    status=1
  fi
done
exit $status
