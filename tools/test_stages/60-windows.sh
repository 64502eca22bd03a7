#!/usr/bin/env bash
# The Windows builds: the 32-bit program cross-built with mingw-w64 and its
# whole unit suite run under Wine, then the Windows monitor end to end under
# Wine against scripted servers of a Linux build on 127.0.0.1; the 64-bit
# program is compiled only. Everything lands in build-windows/:
#   win32/  the 32-bit build (bin/status-monitor.exe and the tests)
#   win64/  the 64-bit build
#   host/   the Linux side of the end-to-end tests
#   wine/   a Wine prefix of our own, made fresh on every run
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/stage_lib.sh"

out=build-windows

# A prefix made by 64-bit Wine alone can't start 32-bit programs, and one left
# from another Wine version may not start at all: always begin afresh.
export WINEPREFIX="$PWD/$out/wine"
export WINEDEBUG=-all
export WINEARCH=win64
rm -rf "$WINEPREFIX"
mkdir -p "$out"
echo "+ wineboot --init (a new prefix: the first start takes a while)" >&2
start=$SECONDS
wineboot --init >/dev/null 2>&1
echo "  prefix ready in $((SECONDS - start)) s" >&2

run cmake -S . -B "$out/win32" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWARNINGS_AS_ERRORS=ON \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake
run cmake --build "$out/win32" -j "$jobs"
run ctest --test-dir "$out/win32" -j "$jobs" --output-on-failure --timeout 300

run cmake -S . -B "$out/host" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWARNINGS_AS_ERRORS=ON \
  -DWINDOWS_MONITOR_E2E_DIR="$PWD/$out/win32/bin"
run cmake --build "$out/host" -j "$jobs" --target wine_monitor_log_test
run ctest --test-dir "$out/host" -R '^Wine|^WindowsMonitorLog/' -j "$jobs" --output-on-failure \
  --timeout 300 --no-tests=error

run cmake -S . -B "$out/win64" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWARNINGS_AS_ERRORS=ON \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake -DBUILD_TESTING=OFF
run cmake --build "$out/win64" -j "$jobs"

# Let the prefix's server go, so that nothing of this stage outlives it.
wineserver -k 2>/dev/null || true
echo "windows: 32-bit tests passed, 64-bit build compiled" >&2
