#!/bin/bash
# Builds the products (library, tools, simulator, desktop program; no tests)
# the ways distributions and users build them, with warnings as errors, so a
# warning one of them adds is found here and fixed rather than silenced.
# Usage: bash scripts/build-matrix.sh [CONFIG...]
#   CONFIG is COMPILER-TYPE: COMPILER gcc or clang; TYPE Release,
#   RelWithDebInfo, Debug, or dpkg (Debian's dpkg-buildflags with hardening).
#   Default: every combination.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

configs=("$@")
if ((${#configs[@]} == 0)); then
  for c in gcc clang; do for t in Release RelWithDebInfo Debug dpkg; do configs+=("$c-$t"); done; done
fi

for config in "${configs[@]}"; do
  compiler="${config%%-*}"
  type="${config#*-}"
  case "$compiler" in
    gcc) cc=gcc cxx=g++ ;;
    clang) cc=clang cxx=clang++ ;;
    *) echo "build-matrix: unknown compiler in $config" >&2; exit 2 ;;
  esac
  args=(-DCMAKE_BUILD_TYPE="$type")
  env=()
  if [ "$type" = dpkg ]; then
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    args=(-DCMAKE_BUILD_TYPE=None)
    env=(CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
         CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
         LDFLAGS="$(dpkg-buildflags --get LDFLAGS)")
  fi
  dir="build/matrix/$config"
  rm -rf "$dir"
  echo "== $config"
  env "${env[@]}" CC="$cc" CXX="$cxx" cmake -S . -B "$dir" -G Ninja "${args[@]}" -DQMX_WERROR=ON \
    -DQMX_BUILD_TESTS=OFF -DQMX_BUILD_BENCH=OFF -DQMX_BUILD_APP=ON >/dev/null
  cmake --build "$dir" -j "$(nproc)"
  echo "== $config: built without warnings"
done
