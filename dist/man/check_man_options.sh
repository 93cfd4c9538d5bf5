#!/bin/sh
# Every option a program's --help prints, and for a program with subcommands
# every option of each subcommand's --help, must appear in its manual page:
# an option added to the code without a word in the page fails here.
#   check_man_options.sh PAGE PROGRAM
set -u
page=$1
program=$2

help_text=$("$program" --help 2>&1) || { echo "$program --help failed"; exit 1; }
# CLI11 lists subcommands under "Subcommands:", two spaces in.
subcommands=$(printf '%s\n' "$help_text" | awk '/^Subcommands:/ { f = 1; next } f && !/^  / { f = 0 } f { print $1 }')

options() {
  grep -oE '(^|[][[:space:],])--?[A-Za-z][A-Za-z0-9-]*' | sed 's/^[^-]*//'
}

all=$(printf '%s\n' "$help_text" | options)
for sub in $subcommands; do
  sub_help=$("$program" "$sub" --help 2>&1) || { echo "$program $sub --help failed"; exit 1; }
  all="$all
$(printf '%s\n' "$sub_help" | options)"
done
all=$(printf '%s\n' "$all" | sort -u)
[ -n "$all" ] || { echo "no options found in $program --help"; exit 1; }

# The page as plain text, enough to find option names in it.
text=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$page")
missing=0
for option in $all; do
  if ! printf '%s\n' "$text" | grep -qE -- "(^|[^A-Za-z0-9-])$option([^A-Za-z0-9-]|\$)"; then
    echo "$page does not mention $option"
    missing=1
  fi
done
exit $missing
