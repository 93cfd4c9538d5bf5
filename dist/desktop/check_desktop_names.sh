#!/bin/sh
# The desktop entry, the metainfo and the icon name one another; a file
# renamed on its own breaks the menu entry or the software centre's listing
# without any validator noticing.
#   check_desktop_names.sh DESKTOP_FILE METAINFO_FILE ICON_FILE IMAGES_DIR
set -u
desktop=$1
metainfo=$2
icon=$3
images=$4
status=0
fail() {
  echo "$*"
  status=1
}

key() { sed -n "s/^$1=//p" "$desktop" | head -n 1; }
tag() { sed -n "s:.*<$1[^>]*>\\([^<]*\\)</$1>.*:\\1:p" "$metainfo" | head -n 1; }

id=$(tag id)
icon_name=$(basename "$icon" .svg)
[ -n "$id" ] || fail "$metainfo has no id"
[ "$(basename "$metainfo")" = "$id.metainfo.xml" ] || fail "$metainfo is not named after its id $id"
[ "$(key Icon)" = "$icon_name" ] || fail "Icon=$(key Icon) in $desktop, but the icon is $icon_name"
[ "$(tag icon)" = "$icon_name" ] || fail "<icon> $(tag icon) in $metainfo, but the icon is $icon_name"
[ "$(tag launchable)" = "$(basename "$desktop")" ] || fail "<launchable> $(tag launchable) is not $(basename "$desktop")"
exec_program=$(key Exec | cut -d' ' -f1)
[ "$(tag binary)" = "$exec_program" ] || fail "<binary> $(tag binary) is not Exec=$exec_program"

# Screenshots name the pictures of the documentation.
shots=$(sed -n 's:.*<image[^>]*>[^<]*/\([^/<]*\)</image>.*:\1:p' "$metainfo")
[ -n "$shots" ] || fail "$metainfo has no screenshot"
for shot in $shots; do
  [ -f "$images/$shot" ] || fail "screenshot $shot is not in $images"
done
exit $status
