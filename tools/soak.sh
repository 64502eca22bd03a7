#!/usr/bin/env bash
# Soak: runs the status monitor through thousands of connect / record /
# disconnect cycles against the demo status server, which misbehaves in
# rotation (close, reset, refuse, split, garbage, NUL bytes), and compares the
# monitor's open descriptors, threads and resident memory at the start (after
# a warm-up round) and at the end. Passes when descriptors and threads are
# exactly equal and resident memory grew by at most 1 MiB.
#
#   tools/soak.sh [CYCLES [MAX_SECONDS [ROUND_SIZE]]]   defaults: 5000, 1800 s, 200
#
# Stops by itself after CYCLES cycles or MAX_SECONDS, whichever comes first.
# BUILD_DIR picks the build directory (default build-soak in the repository).
# Loopback only, on a port that the kernel hands out, so soaks and tests can
# run side by side.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cycles=${1:-5000}
max_seconds=${2:-1800}
# Connections in each quick phase of one rotation round (the others scale).
round_size=${3:-200}
build=${BUILD_DIR:-$repo/build-soak}

# The driver (tools/soak/soak_driver.cpp) points the monitor at the demo
# server by its argument; all three come from the same build.
echo "+ cmake -S $repo -B $build -G Ninja" >&2
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
echo "+ cmake --build $build -j ${JOBS:-2} --target status-monitor demo-status-server soak-driver" >&2
cmake --build "$build" -j "${JOBS:-2}" --target status-monitor demo-status-server soak-driver

command=("$build/bin/soak-driver" --monitor "$build/bin/status-monitor"
  --server "$build/bin/demo-status-server"
  --cycles "$cycles" --max-seconds "$max_seconds" --round-size "$round_size")
echo "+ ${command[*]}" >&2
# The driver gives up by itself; the outer bound only catches a hung driver.
timeout --kill-after=10 $((max_seconds + 120)) "${command[@]}"
