#!/usr/bin/env bash
# The Windows builds: the 32-bit program cross-built with mingw-w64 and its
# whole unit suite run under Wine, then the Windows monitor end to end under
# Wine against scripted servers of a Linux build on 127.0.0.1; the 64-bit
# program is compiled only. Everything lands in build-windows/:
#   win32/  the 32-bit build (bin/status-monitor.exe and the tests) and the
#           zip for Windows made by cpack, whose contents are checked
#   win64/  the 64-bit build
#   host/   the Linux side of the end-to-end tests
#   wine/   a Wine prefix of our own, made fresh on every run
set -euo pipefail
# shellcheck source=tools/test_stages/stage_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/stage_lib.sh"

out=build-windows

mkdir -p "$out"

run cmake -S . -B "$out/win32" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWARNINGS_AS_ERRORS=ON \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake
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

# A prefix made by 64-bit Wine alone can't start 32-bit programs, and one left
# from another Wine version may not start at all: always begin afresh.
export WINEPREFIX="$PWD/$out/wine"
export WINEDEBUG=-all
export WINEARCH=win64
rm -rf "$WINEPREFIX"
echo "+ wineboot --init (a new prefix: the first start takes a while)" >&2
start=$SECONDS
if ! wineboot --init >"$out/wineboot.log" 2>&1; then
  # Wine runs 32-bit programs with 32-bit code of its own, which needs a
  # kernel that runs 32-bit Linux programs.
  echo "windows: Wine could not make its prefix (a kernel without 32-bit support gives" \
    "'Exec format error'):" >&2
  cat "$out/wineboot.log" >&2
  exit 1
fi
echo "  prefix ready in $((SECONDS - start)) s" >&2

run ctest --test-dir "$out/win32" -j "$jobs" --output-on-failure --timeout 300

# The program in the zip starts, alone in its folder: nothing but the
# system's own libraries beside it (a build for port 80 of localhost, so it
# just logs refused connects until it is stopped).
timeout -s KILL 60 wine "$unpacked/$name/status-monitor.exe" >"$unpacked/out.log" 2>&1 &
wine_pid=$!
for _ in $(seq 300); do
  grep -q "Version: " "$unpacked/out.log" 2>/dev/null && break
  sleep 0.1
done
# Nothing else runs in the prefix now: end all of it.
wineserver -k 2>/dev/null || true
wait "$wine_pid" 2>/dev/null || true
if ! grep -q "^Version: " "$unpacked/out.log"; then
  echo "windows: the program from the zip did not start:" >&2
  cat "$unpacked/out.log" >&2
  exit 1
fi
echo "windows: $zip ($(stat -c %s "$zip") bytes) holds the program, README.txt, LICENSE.txt" >&2

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
