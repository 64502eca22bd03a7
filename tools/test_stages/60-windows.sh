#!/usr/bin/env bash
# The Windows builds, cross-built with mingw-w64 and tested under Wine. Wine
# runs 32-bit Windows programs with 32-bit Linux code of its own, so which
# build is tested depends on whether this machine's kernel runs 32-bit Linux
# programs; the stage tries Wine's 32-bit loader and says which mode it is in:
#   32-bit mode  the 32-bit build's whole unit suite, the program from the zip
#                and the Windows end-to-end tests run under Wine (a prefix for
#                both widths); the 64-bit program is compiled only.
#   64-bit mode  (a kernel without 32-bit support, e.g. a VM without ia32
#                emulation) the 64-bit build with its tests: the whole unit
#                suite, the 64-bit program alone in a folder and the Windows
#                end-to-end tests run under 64-bit Wine (a prefix made by
#                wine64 alone); the 32-bit program and its zip are still built
#                and the zip's contents checked.
# Everything lands in build-windows/:
#   win32/  the 32-bit build (bin/status-monitor.exe, the tests in 32-bit
#           mode) and the zip for Windows made by cpack
#   win64/  the 64-bit build (with its tests in 64-bit mode)
#   host/   the Linux side of the end-to-end tests
#   wine/   a Wine prefix of our own, made fresh on every run
set -euo pipefail
# shellcheck source=tools/test_stages/stage_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/stage_lib.sh"

out=build-windows
wine32_loader=/usr/lib/wine/wine
wine64_loader=/usr/lib/wine/wine64

mkdir -p "$out"

# Wine's 32-bit loader is itself a 32-bit Linux program: if it starts, so do
# 32-bit Windows programs. Without ia32 support the kernel refuses it with
# "Exec format error".
if "$wine32_loader" --version >/dev/null 2>&1; then
  mode=32
  wine=$(command -v wine)
else
  mode=64
  # /usr/bin/wine would pick the 32-bit loader just because it is installed.
  wine=$wine64_loader
  export WINELOADER=$wine64_loader
fi
echo "windows: $mode-bit mode (32-bit programs $([[ $mode == 32 ]] || echo "do not ")run here)" >&2
tested=win$mode

win32_testing=ON
win64_testing=OFF
if [[ $mode == 64 ]]; then
  win32_testing=OFF
  win64_testing=ON
fi

run cmake -S . -B "$out/win32" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWARNINGS_AS_ERRORS=ON \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake -DBUILD_TESTING=$win32_testing \
  -DWINE_PROGRAM="$wine"
run cmake --build "$out/win32" -j "$jobs"

# The zip for Windows: the program, a README for Windows and the licence in
# one folder named after the package.
rm -f "$out"/win32/status-monitor-*.zip
(cd "$out/win32" && run cpack -G ZIP)
zips=("$out"/win32/status-monitor-*-win32.zip)
zip=${zips[0]}
name=$(basename "$zip" .zip)
if [[ ! $name =~ ^status-monitor-[0-9]+(\.[0-9]+)*-win32$ ]]; then
  echo "windows: unexpected zip $zip" >&2
  exit 1
fi
listing=$(cmake -E tar tf "$zip" | grep -v '/$' | sort)
expected=$(printf '%s\n' "$name/LICENSE.txt" "$name/README.txt" "$name/status-monitor.exe")
if [[ $listing != "$expected" ]]; then
  echo "windows: $zip holds:" >&2
  echo "$listing" >&2
  exit 1
fi
unpacked=$out/zip-check
rm -rf "$unpacked"
mkdir -p "$unpacked"
(cd "$unpacked" && cmake -E tar xf "../win32/$name.zip")
echo "windows: $zip ($(stat -c %s "$zip") bytes) holds the program, README.txt, LICENSE.txt" >&2

run cmake -S . -B "$out/win64" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWARNINGS_AS_ERRORS=ON \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake -DBUILD_TESTING=$win64_testing \
  -DWINE_PROGRAM="$wine"
run cmake --build "$out/win64" -j "$jobs"

# The program to start alone: the one from the zip, or in 64-bit mode the
# 64-bit program copied alone into a folder of its own.
if [[ $mode == 32 ]]; then
  alone=$unpacked/$name/status-monitor.exe
else
  alone=$out/alone64/status-monitor.exe
  rm -rf "$out/alone64"
  mkdir -p "$out/alone64"
  cp "$out/win64/bin/status-monitor.exe" "$alone"
fi

# A prefix left from another Wine version may not start at all: always begin
# afresh.
export WINEPREFIX="$PWD/$out/wine"
export WINEDEBUG=-all
export WINEARCH=win64
rm -rf "$WINEPREFIX"
echo "+ $wine wineboot --init (a new prefix: the first start takes a while)" >&2
start=$SECONDS
if ! "$wine" wineboot --init >"$out/wineboot.log" 2>&1; then
  echo "windows: Wine could not make its prefix:" >&2
  cat "$out/wineboot.log" >&2
  exit 1
fi
echo "  prefix ready in $((SECONDS - start)) s" >&2

# Under a loaded machine a Wine process now and then hangs after its test
# has passed and printed its summary (seen with 64-bit Wine 8.0): a test that
# times out runs once more; a test that fails is not repeated.
run ctest --test-dir "$out/$tested" -j "$jobs" --output-on-failure --timeout 300 \
  --repeat after-timeout:2

# The program starts alone in its folder: nothing but the system's own
# libraries beside it (a build for port 80 of localhost, so it just logs
# refused connects until it is stopped).
log=$(dirname "$alone")/out.log
timeout -s KILL 60 "$wine" "$alone" >"$log" 2>&1 &
wine_pid=$!
for _ in $(seq 300); do
  grep -q "Version: " "$log" 2>/dev/null && break
  sleep 0.1
done
# Nothing else runs in the prefix now: end all of it.
wineserver -k 2>/dev/null || true
wait "$wine_pid" 2>/dev/null || true
if ! grep -q "^Version: " "$log"; then
  echo "windows: $alone did not start alone in its folder:" >&2
  cat "$log" >&2
  exit 1
fi

run cmake -S . -B "$out/host" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWARNINGS_AS_ERRORS=ON \
  -DWINDOWS_MONITOR_E2E_DIR="$PWD/$out/$tested/bin" -DWINE_PROGRAM="$wine"
run cmake --build "$out/host" -j "$jobs" --target wine_monitor_log_test
run ctest --test-dir "$out/host" -R '^Wine|^WindowsMonitorLog/' -j "$jobs" --output-on-failure \
  --timeout 300 --no-tests=error

# Let the prefix's server go, so that nothing of this stage outlives it.
wineserver -k 2>/dev/null || true
if [[ $mode == 32 ]]; then
  echo "windows: 32-bit mode: 32-bit tests passed, 64-bit build compiled" >&2
else
  echo "windows: 64-bit mode: 64-bit tests passed, 32-bit build and zip made" \
    "(this machine runs no 32-bit programs)" >&2
fi
