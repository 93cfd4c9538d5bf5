#!/bin/bash
# Installs what the build and the tests need from Debian 12's packages.
# Runs apt-get only when something is missing; through sudo unless root.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ make pkg-config
  libgtest-dev libgmock-dev
  python3
  libcli11-dev srecord binutils
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-svg-dev libgl1-mesa-dev fonts-noto-cjk
  qt6-translations-l10n
  clang libclang-rt-14-dev
  qt6-l10n-tools qt6-tools-dev python3-pytest
  debhelper dh-python fakeroot lintian desktop-file-utils appstream man-db
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  if [ "$(id -u)" -eq 0 ]; then SUDO=(); else SUDO=(sudo); fi
  echo "installing: ${missing[*]}"
  "${SUDO[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
