#!/bin/bash
# The packages on a fresh minimal Debian 12: debootstrap makes one in a
# folder, apt-get installs build/packages/*.deb there (with what they depend
# on, from Debian's archive), and check-packages.sh runs inside it. Needs root
# (through sudo otherwise) and Debian's archive.
# Usage: bash scripts/check-fresh-install.sh [root-folder]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -ne 0 ]; then exec sudo bash "$0" "$@"; fi
root="$(realpath -m "${1:-build/fresh-root}")"
export DEBIAN_FRONTEND=noninteractive
command -v debootstrap >/dev/null || apt-get install -y --no-install-recommends debootstrap
[ -x "$root/usr/bin/apt-get" ] || debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian

cleanup() { umount "$root/dev/pts" "$root/proc" 2>/dev/null || true; }
trap cleanup EXIT
mount -t proc proc "$root/proc"
mount --bind /dev/pts "$root/dev/pts"
cp /etc/resolv.conf "$root/etc/resolv.conf"
rm -rf "$root/check" && mkdir -p "$root/check/scripts" "$root/check/library/examples" "$root/check/build/packages"
cp scripts/check-packages.sh "$root/check/scripts/"
cp library/examples/read_part.c "$root/check/library/examples/"
cp build/packages/*.deb "$root/check/build/packages/"
# A host that builds against libqmx71a-dev brings its own compiler.
chroot "$root" sh -c 'apt-get update -qq && apt-get install -y -qq --no-install-recommends gcc libc6-dev pkg-config >/dev/null'
chroot "$root" bash /check/scripts/check-packages.sh /check/build/packages
