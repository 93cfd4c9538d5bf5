#!/bin/bash
# The completion against the program it completes: its subcommands, every
# option and option value its help prints, the parts of the catalogue, and
# file names where a file is due.
#   test_completion.sh SCRIPT QMX71 CATALOGUE_SOURCE
set -u
script=$1
qmx71=$2
catalogue=$3

# shellcheck source=/dev/null
source "$script" || { echo "cannot source $script"; exit 1; }
function=$(complete -p qmx71 | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
[[ -n $function ]] || { echo "$script registers no function for qmx71"; exit 1; }

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Offers for a command line whose last word is being completed, one a line,
# sorted, in $got. Run in this shell, as bash runs it, so what the script
# keeps between calls is kept here too.
offers() {
  COMP_WORDS=("$qmx71" "$@")
  COMP_CWORD=$#
  COMP_LINE="${COMP_WORDS[*]}"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  "$function" 2>/dev/null
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort)
}

sorted() { tr ' ' '\n' | sed '/^$/d' | sort; }

expect_same() {
  local what=$1 want=$2 got=$3
  [[ -n $want && $want == "$got" ]] ||
    fail "$what: expected [$(echo $want)], got [$(echo $got)]"
}

expect_within() {
  local what=$1 want=$2 got=$3 item
  for item in $want; do
    [[ $'\n'$got$'\n' == *$'\n'"$item"$'\n'* ]] || fail "$what: $item is not offered"
  done
}

help_options() { grep -oE '(^|[[:space:],])--?[A-Za-z][A-Za-z0-9-]*' | sed 's/^[^-]*//' | sort -u; }

help=$("$qmx71" --help) || { echo "$qmx71 --help failed"; exit 1; }
subcommands=$(awk '/^Subcommands:/ { f = 1; next } f && !/^  / { f = 0 } f { print $1 }' <<<"$help" | sort)
[[ -n $subcommands ]] || { echo "no subcommands in $qmx71 --help"; exit 1; }

# Subcommands, and only they, where one is due, also after global options.
offers ""
expect_same "subcommands" "$subcommands" "$got"
offers --port /dev/null -q ""
expect_same "subcommands after --port" "$subcommands" "$got"
offers --org = x8 ""
expect_same "subcommands after --org=" "$subcommands" "$got"

# Every catalogued part, whatever the case typed, where a part is due.
parts=$(grep -oE '\.name = "[^"]+"' "$catalogue" | cut -d'"' -f2 | sort)
[[ -n $parts ]] || { echo "no part names found in $catalogue"; exit 1; }
offers read ""
expect_same "parts for read" "$parts" "$got"
offers --start 16 dump --layout le ""
expect_same "parts for dump after options" "$parts" "$got"
offers --port /dev/null erase 24c
expect_same "parts typed in lower case" "$(grep '^24C' <<<"$parts")" "$got"

# Every option the program's help prints, for each subcommand.
global=$(help_options <<<"$help")
offers -
expect_within "options before a subcommand" "$global" "$got"
for sub in $subcommands; do
  own=$("$qmx71" "$sub" --help | help_options)
  offers "$sub" -
  expect_within "options of $sub" "$global $own" "$got"
  # Options that take one of a fixed set of values offer exactly that set.
  while read -r option values; do
    [[ -n $option ]] || continue
    offers "$sub" "$option" ""
    expect_same "values of $sub $option" "$(tr ',' ' ' <<<"$values" | sorted)" "$got"
  done < <("$qmx71" "$sub" --help | sed -nE 's/^ *(-[-A-Za-z0-9]+) TEXT:\{([^}]*)\}.*/\1 \2/p')
done

# File names where a file is due, spaces and all.
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
touch "$dir/image one.hex" "$dir/image.bin"
offers program 24C02 "$dir/ima"
expect_same "data file" "$(printf '%s\n' "$dir/image one.hex" "$dir/image.bin" | sort)" "$got"
offers read 24C02 -o "$dir/image o"
expect_same "output file" "$dir/image one.hex" "$got"
offers write 24C02 "$dir/image.bin" "$dir/image.b"
[[ -z $(sed '/^$/d' <<<"$got") ]] || fail "a file is offered after the data file"

if ((failures)); then
  echo "$failures failure(s)"
  exit 1
fi
