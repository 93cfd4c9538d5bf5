#!/bin/bash
# Cross-builds the Windows library and its tests with mingw-w64 (x86_64 and
# i686), checks the DLL's export table, and runs the Windows tests under wine
# with pseudo-terminals standing in for COM ports: one whose far end echoes,
# and the simulated programmer for a DLL host and qmx71.exe.
# Usage: bash scripts/test-windows.sh [win64|win32 ...]   (default: both)
# The 32-bit tests run only where wine can start 32-bit programs; the 32-bit
# build and its export check always run.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build python3 g++ googletest libcli11-dev
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64 wine64 wine)
missing=()
for p in "${packages[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
if ((${#missing[@]} > 0)); then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

presets=("$@")
((${#presets[@]} > 0)) || presets=(win64 win32)

# The Windows programs meet the Linux simulator through a pseudo-terminal; the
# shim gives wine the modem lines Linux refuses on one.
native=build/win-native
cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMX_BUILD_APP=OFF -DQMX_BUILD_TESTS=OFF \
  -DQMX_BUILD_BENCH=OFF
cmake --build "$native" --target qmx71-sim
sim="$PWD/$native/sim/qmx71-sim"
shim="$PWD/$native/pty_modem_shim.so"
cc -shared -fPIC -O2 -Wall -Werror -o "$shim" tests/windows/pty_modem_shim.c -ldl

for preset in "${presets[@]}"; do
  build="build/$preset"
  cmake --preset "$preset" -DQMX_BUILD_TESTS=ON
  # The DLL's link step checks its exports and fails on any difference.
  cmake --build --preset "$preset"
  ctest --test-dir "$build" --output-on-failure -R '^qmx71a_dll_exports$'

  export WINEPREFIX="$PWD/$build/.wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # The C example loads the DLL through its import library and asks for a
  # programmer: exit status 1 with its "not connected" line shows the DLL
  # loads, its imports resolve and its unload returns.
  status=0
  said=$(wine "$build/bin/qmx71a_read_part.exe" 2>&1 </dev/null) || status=$?
  if [ "$status" -ne 1 ] || [[ "$said" != *"not connected"* ]]; then
    if [ "$preset" = win32 ]; then
      echo "test-windows: wine cannot run 32-bit programs here (status $status); $preset tests not run" >&2
      continue
    fi
    echo "test-windows: qmx71a_read_part.exe ended with status $status, expected 1" >&2
    exit 1
  fi
  # The shim here too: without modem lines wine ends every event wait at once,
  # so the waits these tests time would be polls (cli_check.sh covers that).
  python3 tests/windows/com_port.py COM41 --preload "$shim" -- \
    ctest --test-dir "$build" --output-on-failure -R '^qmx_windows_tests$'
  python3 tests/windows/com_port.py COM42 --sim "$sim" --preload "$shim" -- \
    ctest --test-dir "$build" --output-on-failure -R '^qmx_dll_host_'
  python3 tests/windows/com_port.py COM43 --sim "$sim" --preload "$shim" -- \
    bash tests/windows/cli_check.sh "$build/bin/qmx71.exe"
done
