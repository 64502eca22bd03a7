#!/usr/bin/env bash
# The Windows builds, cross-built with mingw-w64 and tested under Wine. The
# 64-bit build's unit suite, its program alone in a folder and the Windows
# end-to-end tests always run under 64-bit Wine. Wine runs 32-bit Windows
# programs with 32-bit Linux code of its own, so the 32-bit build is tested
# only where the kernel runs 32-bit programs; the first line says which mode
# the stage is in:
#   32-bit mode   Wine's 32-bit loader starts: the 32-bit build's whole unit
#                 suite, the program from the zip and the Windows end-to-end
#                 tests run under it too.
#   64-bit mode   it does not (the kernel runs no 32-bit code, or the 32-bit
#                 half of Wine is missing): the 32-bit program and its zip are
#                 built and the zip's contents checked; the first line says
#                 why.
# Everything lands in build-windows/:
#   win32/  the 32-bit build (bin/status-monitor.exe, its tests in 32-bit
#           mode) and the zip for Windows made by cpack
#   win64/  the 64-bit build with its tests
#   host/   the Linux side of the end-to-end tests, for both widths
#   wine64/ wine32/  Wine prefixes of our own, made fresh on every run
set -euo pipefail
# shellcheck source=tools/test_stages/stage_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/stage_lib.sh"

out=build-windows
wine32_loader=/usr/lib/wine/wine
wine64_loader=/usr/lib/wine/wine64
# /usr/bin/wine picks the 32-bit loader whenever it is installed.
wine32=$(command -v wine)
stage_start=$SECONDS

mkdir -p "$out"
export WINEDEBUG=-all

# Lines that Wine writes itself, never the programs under test: dropped from
# the output of Wine's own processes (the prefix's set-up, the warm-up and the
# server with the helper processes they start), never from a test's or the
# monitor's output.
wine_noise=(
  # Wine's client library when its server goes away under a process
  # (server/protocol errors at the end of the session).
  '^wine client error:'
)
drop_wine_noise() {
  local pattern args=()
  for pattern in "${wine_noise[@]}"; do args+=(-e "$pattern"); done
  grep -Ev "${args[@]}" || true
}

# The Wine prefixes whose servers this stage keeps up (ended on every way out).
servers=()
end_wine_servers() {
  local prefix
  local environ pid
  for prefix in "${servers[@]}"; do
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    WINEPREFIX=$prefix wineserver -w 2>/dev/null || true
    # Helper processes of the session (services.exe, winedevice.exe) can
    # outlive their server: end every process that still runs in this
    # stage's prefix, found by its environment.
    for environ in /proc/[0-9]*/environ; do
      pid=${environ#/proc/}
      pid=${pid%/environ}
      [[ $pid != "$$" && $pid != "$BASHPID" ]] || continue
      # (The redirection's own error, for a process gone meanwhile or one
      # not ours to read, is silenced too.)
      if { tr '\0' '\n' <"$environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$prefix"; then
        kill -KILL "$pid" 2>/dev/null || true
      fi
    done
  done
  servers=()
}
trap end_wine_servers EXIT
# Stopped from outside, the stage still undoes what it set up.
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# Wine's 32-bit loader is itself a 32-bit Linux program: if it starts, so do
# 32-bit Windows programs. Without ia32 support the kernel refuses it with
# "Exec format error".
if [[ ! -x $wine32_loader ]]; then
  mode=64
  why="Wine's 32-bit loader $wine32_loader is not installed (package wine32:i386)"
elif ! "$wine32_loader" --version >/dev/null 2>&1; then
  mode=64
  why="the kernel runs no 32-bit programs ($wine32_loader does not start)"
else
  mode=32
fi
if [[ $mode == 32 ]]; then
  echo "windows: 32-bit mode: the 32-bit and the 64-bit builds' tests run" >&2
else
  echo "windows: 64-bit mode: 32-bit programs do not run here: $why" >&2
fi

win32_testing=OFF
[[ $mode == 32 ]] && win32_testing=ON
run cmake -S . -B "$out/win32" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWARNINGS_AS_ERRORS=ON \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake -DBUILD_TESTING=$win32_testing \
  -DWINE_PROGRAM="$wine32"
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
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake -DBUILD_TESTING=ON \
  -DWINE_PROGRAM="$wine64_loader"
run cmake --build "$out/win64" -j "$jobs"

host_e2e=(-DWINDOWS_MONITOR_E2E_DIR_64="$PWD/$out/win64/bin" -DWINE64_PROGRAM="$wine64_loader")
if [[ $mode == 32 ]]; then
  host_e2e+=(-DWINDOWS_MONITOR_E2E_DIR="$PWD/$out/win32/bin" -DWINE_PROGRAM="$wine32")
fi
run cmake -S . -B "$out/host" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWARNINGS_AS_ERRORS=ON \
  "${host_e2e[@]}"
host_targets=(--target wine64_monitor_log_test)
[[ $mode == 32 ]] && host_targets+=(--target wine_monitor_log_test)
run cmake --build "$out/host" -j "$jobs" "${host_targets[@]}"

# A fresh prefix (one left from another Wine version may not start at all)
# whose server stays up, warmed once, for every Wine process of the run:
# each start then skips the server's and the prefix's start-up. The caller
# lists the prefix in servers first, so that its server ends on any way out.
#   start_wine_session PREFIX WINEARCH WINE
start_wine_session() {
  local prefix=$1 arch=$2 wine=$3 start=$SECONDS
  rm -rf "$prefix" "$prefix.log"
  mkdir -p "$prefix"
  echo "+ WINEPREFIX=$prefix WINEARCH=$arch $wine wineboot --init" >&2
  # The server outlives this command: its output (and that of the helper
  # processes it serves) reaches the stage through the filter.
  if ! WINEPREFIX=$prefix WINEARCH=$arch wineserver -p 2> >(drop_wine_noise >&2) ||
    ! WINEPREFIX=$prefix WINEARCH=$arch timeout 300 "$wine" wineboot --init >"$prefix.log" 2>&1 ||
    ! WINEPREFIX=$prefix timeout 120 "$wine" cmd /c exit 0 >>"$prefix.log" 2>&1; then
    echo "windows: Wine could not make its prefix $prefix:" >&2
    drop_wine_noise <"$prefix.log" >&2
    exit 1
  fi
  echo "  prefix ready in $((SECONDS - start)) s" >&2
}

# Under a loaded machine a Wine process now and then hangs after its test
# has passed and printed its summary (seen with 64-bit Wine 8.0): a test that
# times out runs once more; a test that fails is not repeated.
#   run_unit_suite BUILD [CTEST_ARGUMENT...]
run_unit_suite() {
  local build=$1
  shift
  run ctest --test-dir "$out/$build" -j "$jobs" --output-on-failure --timeout 300 \
    --repeat after-timeout:2 "$@"
}

# The program starts alone in its folder: nothing but the system's own
# libraries beside it (a build for port 80 of localhost, so it just logs
# refused connects until it is stopped).
#   check_program_alone PROGRAM WINE
check_program_alone() {
  local program=$1 wine=$2 log pid
  log=$(dirname "$program")/out.log
  "$wine" "$program" >"$log" 2>&1 &
  pid=$!
  for _ in $(seq 300); do
    grep -q "Version: " "$log" 2>/dev/null && break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  if ! grep -q "^Version: " "$log"; then
    echo "windows: $program did not start alone in its folder:" >&2
    cat "$log" >&2
    exit 1
  fi
  echo "windows: $program starts alone in its folder" >&2
}

#   run_end_to_end TEST_NAME_PATTERN
run_end_to_end() {
  run ctest --test-dir "$out/host" -R "$1" -j "$jobs" --output-on-failure --timeout 300 \
    --no-tests=error
}

# 64-bit: a prefix made by wine64 alone.
servers+=("$PWD/$out/wine64")
(
  export WINELOADER=$wine64_loader WINEPREFIX=$PWD/$out/wine64
  start_wine_session "$WINEPREFIX" win64 "$wine64_loader"
  run_unit_suite win64
  rm -rf "$out/alone64"
  mkdir -p "$out/alone64"
  cp "$out/win64/bin/status-monitor.exe" "$out/alone64/"
  check_program_alone "$out/alone64/status-monitor.exe" "$wine64_loader"
  run_end_to_end '^Win64\.'
)
end_wine_servers

if [[ $mode == 32 ]]; then
  servers+=("$PWD/$out/wine32")
  (
    export WINEPREFIX=$PWD/$out/wine32
    start_wine_session "$WINEPREFIX" win32 "$wine32"
    run_unit_suite win32
    check_program_alone "$unpacked/$name/status-monitor.exe" "$wine32"
    run_end_to_end '^Wine|^WindowsMonitorLog/'
  )
  end_wine_servers
  echo "windows: 32-bit mode: 32-bit and 64-bit tests passed" \
    "in $((SECONDS - stage_start)) s" >&2
else
  echo "windows: 64-bit mode: 64-bit tests passed, 32-bit build and zip made" \
    "in $((SECONDS - stage_start)) s ($why)" >&2
fi
