#!/bin/bash
# Builds the Debian packages into build/packages/ and checks them with
# lintian (errors fail). A debian/ directory built by dpkg-buildpackage
# rather than CPack: debhelper computes each package's dependencies from its
# binaries, including those on the library built alongside (dh_shlibdeps with
# dh_makeshlibs), builds with Debian's own flags, and dh_python3 places the
# module. Usage: bash scripts/package.sh [--install-check]
#   --install-check  also installs the packages on this machine with apt-get,
#                    runs the tools from them, and removes them again.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

bash scripts/install-deps.sh

work="$root/build/deb"
out="$root/build/packages"
rm -rf "$work" "$out"
mkdir -p "$work/src" "$out"
# The source without builds or history: dpkg-buildpackage works in its tree.
tar -C "$root" --exclude=./build --exclude=./.git --exclude='__pycache__' -cf - . | tar -C "$work/src" -xf -
(cd "$work/src" && DEB_BUILD_OPTIONS="parallel=$(nproc) nocheck" dpkg-buildpackage -b -us -uc)
mv "$work"/*.deb "$out"/
ls -l "$out"

lintian --fail-on error --info "$out"/*.deb

if [ "${1:-}" = "--install-check" ]; then
  bash scripts/check-packages.sh "$out"
fi
