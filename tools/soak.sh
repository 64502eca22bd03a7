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
# SOAK_PORT picks the loopback port (default 47833), BUILD_DIR the build
# directory (default build-soak in the repository). Loopback only.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cycles=${1:-5000}
max_seconds=${2:-1800}
# Connections in each quick phase of one rotation round (the others scale).
round_size=${3:-200}
port=${SOAK_PORT:-47833}
build=${BUILD_DIR:-$repo/build-soak}

# The monitor is built for this port (its host and port are fixed at build
# time); the soak driver (tools/soak/soak_driver.cpp) and the demo server
# come from the same build.
echo "+ cmake -S $repo -B $build -G Ninja -DSTATUS_SERVER_HOST=localhost -DSTATUS_SERVER_PORT=$port" >&2
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
  -DSTATUS_SERVER_HOST=localhost -DSTATUS_SERVER_PORT="$port" >/dev/null
echo "+ cmake --build $build -j ${JOBS:-2} --target status-monitor demo-status-server soak-driver" >&2
cmake --build "$build" -j "${JOBS:-2}" --target status-monitor demo-status-server soak-driver

command=("$build/bin/soak-driver" --monitor "$build/bin/status-monitor"
  --server "$build/bin/demo-status-server" --port "$port"
  --cycles "$cycles" --max-seconds "$max_seconds" --round-size "$round_size")
echo "+ ${command[*]}" >&2
# The driver gives up by itself; the outer bound only catches a hung driver.
timeout --kill-after=10 $((max_seconds + 120)) "${command[@]}"
